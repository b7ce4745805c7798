#include "virtual_device/uhid_device.h"

#include <fcntl.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

// A late timer must not make the device flood the kernel to catch up.
constexpr std::uint64_t kMaxReportsPerTick = 64;

// The misc device numbers of uhid (linux/miscdevice.h: UHID_MINOR).
constexpr unsigned kMiscMajor = 10;
constexpr unsigned kUhidMinor = 239;

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

std::unique_ptr<UhidDevice> UhidDevice::Open(DeviceTraits traits, int& error_number,
                                             const std::string& uhid_path) {
  error_number = 0;
  // Opened before it is looked at, so that what is checked is what is used;
  // neither a FIFO nor a terminal can stall the open or become ours.
  platform::UniqueFd uhid(::open(uhid_path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!uhid.valid()) {
    error_number = errno;
    return nullptr;
  }
  // Anything else (a regular file, /dev/null, /dev/zero) would take the
  // device's events without a word, or hand back endless nothing.
  struct stat node {};
  if (::fstat(uhid.get(), &node) != 0 || !S_ISCHR(node.st_mode) ||
      node.st_rdev != makedev(kMiscMajor, kUhidMinor)) {
    error_number = kNotUhid;
    return nullptr;
  }
  auto fds = MakeLoopFds(error_number);
  if (!fds) return nullptr;
  return std::unique_ptr<UhidDevice>(
      new UhidDevice(std::move(traits), std::move(uhid), std::move(*fds)));
}

UhidDevice::UhidDevice(DeviceTraits traits, platform::UniqueFd uhid_fd, LoopFds fds)
    : VirtualDevice(std::move(traits), std::move(fds)),
      phys_("tensivo-vd-" + std::to_string(::getpid()) + "-" +
            std::to_string(g_devices_made.fetch_add(1)) + "/input0"),
      uhid_fd_(std::move(uhid_fd)) {
  StartThread();
}

UhidDevice::~UhidDevice() {
  Unplug();
  StopThread();
}

int UhidDevice::WriteEvent(const void* event) {
  const ssize_t n = ::write(uhid_fd_.get(), event, sizeof(uhid_event));
  if (n < 0) return errno;
  return n == static_cast<ssize_t>(sizeof(uhid_event)) ? 0 : EIO;
}

int UhidDevice::Plug() {
  const std::lock_guard lock(mutex_);
  if (plugged_) return EALREADY;
  auto event = std::make_unique<uhid_event>();
  event->type = UHID_CREATE2;
  uhid_create2_req& create = event->u.create2;
  CopyText(HidName(traits_), create.name);
  CopyText(phys_, create.phys);
  CopyText(traits_.serial, create.uniq);
  create.rd_size = kReportDescriptor.size();
  std::ranges::copy(kReportDescriptor, create.rd_data);
  create.bus = BUS_USB;
  create.vendor = traits_.vendor_id;
  create.product = traits_.product_id;
  create.version = traits_.version;
  create.country = 0;
  // A fresh power-up: the reply sequence starts over, the registers are kept.
  model_.RestartReplies();
  const int error = WriteEvent(event.get());
  if (error == 0) {
    plugged_ = true;
    ++activity_.plugs;
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
  StreamingChanged();
  return error;
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

void UhidDevice::StreamingChanged() {
  itimerspec timing{};
  if (Streaming()) {
    const long period_ns = 1'000'000'000L / traits_.reports_per_second;
    timing.it_interval.tv_sec = period_ns / 1'000'000'000L;
    timing.it_interval.tv_nsec = period_ns % 1'000'000'000L;
    timing.it_value = timing.it_interval;
  }
  ::timerfd_settime(timer_fd_.get(), 0, &timing, nullptr);
}

void UhidDevice::SendInputs(std::uint64_t ticks) {
  const std::lock_guard lock(mutex_);
  if (!Streaming()) return;
  auto event = std::make_unique<uhid_event>();
  for (std::uint64_t i = 0; i < std::min(ticks, kMaxReportsPerTick); ++i) {
    const SentInput& input = NextInput();
    *event = {};
    event->type = UHID_INPUT2;
    event->u.input2.size = kInputDataBytes;
    std::ranges::copy(input.data, event->u.input2.data);
    if (WriteEvent(event.get()) != 0) return;
  }
}

void UhidDevice::ReplyToGetReport(const uhid_event& event) {
  const uhid_get_report_req& request = event.u.get_report;
  auto reply = std::make_unique<uhid_event>();
  uhid_get_report_reply_req& answer = reply->u.get_report_reply;
  reply->type = UHID_GET_REPORT_REPLY;
  answer.id = request.id;
  std::vector<std::uint8_t> report;
  const int error = AnswerGetReport(request.rtype == UHID_FEATURE_REPORT ? ReportType::kFeature
                                    : request.rtype == UHID_INPUT_REPORT ? ReportType::kInput
                                                                         : ReportType::kOutput,
                                    request.rnum, report);
  if (error != 0) {
    answer.err = static_cast<std::uint16_t>(error);
  } else {
    // The kernel's USB HID driver keeps the caller's report-id byte and puts
    // the device's bytes after it; uhid hands the reply over as it is, so the
    // 0 goes in front here.
    answer.data[0] = 0;
    std::ranges::copy(report, answer.data + 1);
    answer.size = static_cast<std::uint16_t>(1 + report.size());
  }
  WriteEvent(reply.get());
}

void UhidDevice::ReplyToSetReport(const uhid_event& event) {
  const uhid_set_report_req& request = event.u.set_report;
  auto reply = std::make_unique<uhid_event>();
  reply->type = UHID_SET_REPORT_REPLY;
  reply->u.set_report_reply.id = request.id;
  const std::span<const std::uint8_t> data =
      std::span(request.data).first(std::min<std::size_t>(request.size, UHID_DATA_MAX));
  // What reaches a real device behind the USB HID driver: the data without
  // the report-id byte.
  const int error =
      data.empty() ? EPIPE
                   : AnswerSetReport(request.rtype == UHID_FEATURE_REPORT ? ReportType::kFeature
                                                                          : ReportType::kOutput,
                                     request.rnum, data.subspan(1));
  reply->u.set_report_reply.err = static_cast<std::uint16_t>(error);
  WriteEvent(reply.get());
}

bool UhidDevice::HandleEvent() {
  auto event = std::make_unique<uhid_event>();
  const ssize_t n = ::read(uhid_fd_.get(), event.get(), sizeof(uhid_event));
  if (n < 0) return errno == EINTR || errno == EAGAIN;
  if (n == 0) return false;

  const std::lock_guard lock(mutex_);
  switch (event->type) {
    case UHID_GET_REPORT:
      ReplyToGetReport(*event);
      break;
    case UHID_SET_REPORT:
      ReplyToSetReport(*event);
      break;
    case UHID_START:
      ++activity_.starts;
      activity_.started = true;
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
    default:
      break;
  }
  StreamingChanged();
  return true;
}

void UhidDevice::Loop() {
  bool readable = true;
  for (;;) {
    pollfd fds[3] = {{wake_fd_.get(), POLLIN, 0},
                     {readable ? uhid_fd_.get() : -1, POLLIN, 0},
                     {timer_fd_.get(), POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents & POLLIN) {
      ReadCounter(wake_fd_);
      const std::lock_guard lock(mutex_);
      if (quitting()) return;
    }
    // A descriptor that fails or ends would wake this loop for ever.
    if (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) readable = HandleEvent();
    if (fds[2].revents & POLLIN) {
      if (const std::uint64_t ticks = ReadCounter(timer_fd_)) SendInputs(ticks);
    }
  }
}

}  // namespace tensivo::virtual_device
