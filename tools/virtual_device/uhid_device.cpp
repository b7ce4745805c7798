#include "virtual_device/uhid_device.h"

#include <fcntl.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tensivo::virtual_device {

namespace {

// Enough history to find any report a reader can still hold: hidraw queues 63
// per reader, the host reads at most 1000 bytes at a time.
constexpr std::size_t kSentHistory = 4096;

// A late timer must not make the device flood the kernel to catch up.
constexpr std::uint64_t kMaxReportsPerTick = 64;

std::atomic<int> g_devices_made{0};

template <std::size_t N>
void CopyText(std::string_view text, std::uint8_t (&field)[N]) {
  const std::size_t n = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), n);
  field[n] = 0;
}

std::string ReadSmallFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::optional<std::string> SerialProblem(std::string_view serial) {
  if (serial.empty()) return "a serial must not be empty";
  if (serial.size() > 63) return "a serial has at most 63 characters";
  for (const char c : serial) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F) {
      return "a serial may only hold printable ASCII characters without blanks";
    }
  }
  return std::nullopt;
}

std::unique_ptr<UhidDevice> UhidDevice::Open(DeviceSpec profile, int& error_number,
                                             const std::string& uhid_path) {
  error_number = 0;
  const int uhid = ::open(uhid_path.c_str(), O_RDWR | O_CLOEXEC);
  if (uhid < 0) {
    error_number = errno;
    return nullptr;
  }
  const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  const int timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  if (wake < 0 || timer < 0) {
    error_number = errno;
    for (const int fd : {uhid, wake, timer}) {
      if (fd >= 0) ::close(fd);
    }
    return nullptr;
  }
  return std::unique_ptr<UhidDevice>(new UhidDevice(std::move(profile), uhid, wake, timer));
}

UhidDevice::UhidDevice(DeviceSpec profile, int uhid_fd, int wake_fd, int timer_fd)
    : spec_(std::move(profile)),
      phys_("tensivo-vd-" + std::to_string(::getpid()) + "-" +
            std::to_string(g_devices_made.fetch_add(1)) + "/input0"),
      uhid_fd_(uhid_fd),
      wake_fd_(wake_fd),
      timer_fd_(timer_fd) {
  model_.set_input_mask(spec_.input_mask);
  thread_ = std::thread([this] { Loop(); });
}

UhidDevice::~UhidDevice() {
  Unplug();
  {
    const std::lock_guard lock(mutex_);
    quit_ = true;
  }
  const std::uint64_t one = 1;
  (void)!::write(wake_fd_, &one, sizeof one);
  thread_.join();
  ::close(timer_fd_);
  ::close(wake_fd_);
  ::close(uhid_fd_);
}

int UhidDevice::WriteEvent(const void* event) {
  const ssize_t n = ::write(uhid_fd_, event, sizeof(uhid_event));
  if (n < 0) return errno;
  return n == static_cast<ssize_t>(sizeof(uhid_event)) ? 0 : EIO;
}

int UhidDevice::Plug() {
  const std::lock_guard lock(mutex_);
  if (plugged_) return EALREADY;
  auto event = std::make_unique<uhid_event>();
  event->type = UHID_CREATE2;
  uhid_create2_req& create = event->u.create2;
  CopyText(spec_.name, create.name);
  CopyText(phys_, create.phys);
  CopyText(spec_.serial, create.uniq);
  create.rd_size = kReportDescriptor.size();
  std::ranges::copy(kReportDescriptor, create.rd_data);
  create.bus = BUS_USB;
  create.vendor = spec_.vendor_id;
  create.product = spec_.product_id;
  create.version = spec_.version;
  create.country = 0;
  // A fresh power-up: the reply sequence starts over, the registers are kept.
  model_.RestartReplies();
  const int error = WriteEvent(event.get());
  if (error == 0) {
    plugged_ = true;
    ++activity_.creates;
  }
  return error;
}

int UhidDevice::Unplug() {
  const std::lock_guard lock(mutex_);
  if (!plugged_) return 0;
  uhid_event event{};
  event.type = UHID_DESTROY;
  const int error = WriteEvent(&event);
  plugged_ = false;
  activity_.started = false;
  activity_.open = false;
  UpdateTimer();
  return error;
}

bool UhidDevice::plugged() const {
  const std::lock_guard lock(mutex_);
  return plugged_;
}

std::optional<std::string> UhidDevice::HidrawNode() const {
  namespace fs = std::filesystem;
  const std::string wanted = "\nHID_PHYS=" + phys_ + "\n";
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/sys/class/hidraw", error)) {
    const std::string uevent = "\n" + ReadSmallFile(entry.path() / "device" / "uevent");
    if (uevent.find(wanted) == std::string::npos) continue;
    const std::string node = "/dev/" + entry.path().filename().string();
    if (fs::exists(node, error)) return node;
  }
  return std::nullopt;
}

std::optional<std::string> UhidDevice::WaitForNode(int timeout_ms) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (auto node = HidrawNode()) return node;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool UhidDevice::WaitForStart(int timeout_ms) const {
  std::unique_lock lock(mutex_);
  return started_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [this] { return activity_.started; });
}

void UhidDevice::WithModel(const std::function<void(sim::DeviceModel&)>& fn) {
  const std::lock_guard lock(mutex_);
  fn(model_);
}

DeviceActivity UhidDevice::activity() const {
  const std::lock_guard lock(mutex_);
  return activity_;
}

std::vector<SentInput> UhidDevice::SentInputs() const {
  const std::lock_guard lock(mutex_);
  return {sent_.begin(), sent_.end()};
}

std::uint64_t UhidDevice::inputs_sent() const {
  const std::lock_guard lock(mutex_);
  return sequence_;
}

void UhidDevice::SetStreaming(bool on) {
  const std::lock_guard lock(mutex_);
  streaming_ = on;
  UpdateTimer();
}

void UhidDevice::FailNextGets(int n, int error_number) {
  const std::lock_guard lock(mutex_);
  failing_gets_ = n;
  failing_errno_ = error_number;
}

void UhidDevice::UpdateTimer() {
  const bool on = plugged_ && activity_.started && activity_.open && streaming_ &&
                  spec_.reports_per_second > 0;
  itimerspec profile{};
  if (on) {
    const long period_ns = 1'000'000'000L / spec_.reports_per_second;
    profile.it_interval.tv_sec = period_ns / 1'000'000'000L;
    profile.it_interval.tv_nsec = period_ns % 1'000'000'000L;
    profile.it_value = profile.it_interval;
  }
  ::timerfd_settime(timer_fd_, 0, &profile, nullptr);
}

void UhidDevice::SendInputs(std::uint64_t ticks) {
  const std::lock_guard lock(mutex_);
  if (!plugged_ || !activity_.started || !activity_.open || !streaming_) return;
  auto event = std::make_unique<uhid_event>();
  for (std::uint64_t i = 0; i < std::min(ticks, kMaxReportsPerTick); ++i) {
    SentInput input{sequence_, {}};
    // Model time runs with the reports, so a report's content follows from
    // its place in the stream alone.
    model_.InputReport(static_cast<double>(sequence_) / spec_.reports_per_second, input.data);
    *event = {};
    event->type = UHID_INPUT2;
    event->u.input2.size = kInputDataBytes;
    std::ranges::copy(input.data, event->u.input2.data);
    if (WriteEvent(event.get()) != 0) return;
    ++sequence_;
    sent_.push_back(input);
    if (sent_.size() > kSentHistory) sent_.pop_front();
  }
}

void UhidDevice::HandleEvent() {
  auto event = std::make_unique<uhid_event>();
  const ssize_t n = ::read(uhid_fd_, event.get(), sizeof(uhid_event));
  if (n <= 0) return;
  auto reply = std::make_unique<uhid_event>();

  const std::lock_guard lock(mutex_);
  switch (event->type) {
    case UHID_START:
      ++activity_.starts;
      activity_.started = true;
      started_.notify_all();
      break;
    case UHID_STOP:
      ++activity_.stops;
      activity_.started = false;
      break;
    case UHID_OPEN:
      ++activity_.opens;
      activity_.open = true;
      break;
    case UHID_CLOSE:
      ++activity_.closes;
      activity_.open = false;
      break;
    case UHID_GET_REPORT: {
      const uhid_get_report_req& request = event->u.get_report;
      uhid_get_report_reply_req& answer = reply->u.get_report_reply;
      reply->type = UHID_GET_REPORT_REPLY;
      answer.id = request.id;
      // The kernel's USB HID driver keeps the caller's report-id byte and puts
      // the device's bytes after it; uhid hands the reply over as it is, so
      // the 0 goes in front here.
      const std::span<std::uint8_t> data(answer.data);
      if (failing_gets_ > 0) {
        --failing_gets_;
        answer.err = static_cast<std::uint16_t>(failing_errno_);
      } else if (request.rnum != 0) {
        answer.err = EPIPE;  // no numbered reports: a real device stalls
      } else if (request.rtype == UHID_FEATURE_REPORT) {
        ++activity_.feature_gets;
        data[0] = 0;
        model_.NextFeatureReply(data.subspan(1, kFeatureDataBytes));
        answer.size = 1 + kFeatureDataBytes;
      } else if (request.rtype == UHID_INPUT_REPORT) {
        ++activity_.input_gets;
        data[0] = 0;
        model_.InputReport(static_cast<double>(sequence_) / std::max(spec_.reports_per_second, 1),
                           data.subspan(1, kInputDataBytes));
        answer.size = 1 + kInputDataBytes;
      } else {
        answer.err = EPIPE;
      }
      WriteEvent(reply.get());
      break;
    }
    case UHID_SET_REPORT: {
      const uhid_set_report_req& request = event->u.set_report;
      reply->type = UHID_SET_REPORT_REPLY;
      reply->u.set_report_reply.id = request.id;
      const std::span<const std::uint8_t> data =
          std::span(request.data).first(std::min<std::size_t>(request.size, UHID_DATA_MAX));
      if (request.rnum != 0 || request.rtype != UHID_FEATURE_REPORT || data.empty()) {
        reply->u.set_report_reply.err = EPIPE;
      } else {
        // What reaches a real device behind the USB HID driver: the data
        // without the report-id byte.
        const std::span<const std::uint8_t> body = data.subspan(1);
        activity_.feature_sets.emplace_back(body.begin(), body.end());
        model_.ApplyFeatureWrite(body);
      }
      WriteEvent(reply.get());
      break;
    }
    default:
      break;
  }
  UpdateTimer();
}

void UhidDevice::Loop() {
  for (;;) {
    pollfd fds[3] = {{wake_fd_, POLLIN, 0}, {uhid_fd_, POLLIN, 0}, {timer_fd_, POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents & POLLIN) {
      std::uint64_t value = 0;
      (void)!::read(wake_fd_, &value, sizeof value);
      const std::lock_guard lock(mutex_);
      if (quit_) return;
    }
    if (fds[1].revents & POLLIN) HandleEvent();
    if (fds[2].revents & POLLIN) {
      std::uint64_t ticks = 0;
      if (::read(timer_fd_, &ticks, sizeof ticks) == sizeof ticks) SendInputs(ticks);
    }
  }
}

}  // namespace tensivo::virtual_device
