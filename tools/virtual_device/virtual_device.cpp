#include "virtual_device/virtual_device.h"

#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace tensivo::virtual_device {

namespace {

// Enough history to find any report a reader can still hold: hidraw queues 63
// per reader, the host reads at most 1000 bytes at a time.
constexpr std::size_t kSentHistory = 4096;

}  // namespace

std::string HidName(const DeviceTraits& traits) {
  return traits.manufacturer + " " + traits.product;
}

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

std::optional<std::string> NameProblem(std::string_view name) {
  if (name.empty() || name.size() > 126) return "a name has 1 to 126 bytes";
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    // The kernel hands names out line by line (uevent, sysfs): a newline or
    // any other control character would forge or break those lines.
    if (u < 0x20 || u == 0x7F) return "a name may hold no control characters";
  }
  return std::nullopt;
}

std::optional<VirtualDevice::LoopFds> VirtualDevice::MakeLoopFds(int& error_number) {
  LoopFds fds{platform::UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
              platform::UniqueFd(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK))};
  if (!fds.wake.valid() || !fds.timer.valid()) {
    error_number = errno;
    return std::nullopt;
  }
  return fds;
}

std::uint64_t VirtualDevice::ReadCounter(const platform::UniqueFd& fd) {
  std::uint64_t count = 0;
  return ::read(fd.get(), &count, sizeof count) == sizeof count ? count : 0;
}

VirtualDevice::VirtualDevice(DeviceTraits traits, LoopFds fds)
    : traits_(std::move(traits)), wake_fd_(std::move(fds.wake)), timer_fd_(std::move(fds.timer)) {
  model_.set_input_mask(traits_.input_mask);
}

VirtualDevice::~VirtualDevice() = default;

void VirtualDevice::StartThread() {
  thread_ = std::thread([this] { Loop(); });
}

void VirtualDevice::StopThread() {
  {
    const std::lock_guard lock(mutex_);
    quit_ = true;
  }
  const std::uint64_t one = 1;
  (void)!::write(wake_fd_.get(), &one, sizeof one);
  if (thread_.joinable()) thread_.join();
}

bool VirtualDevice::plugged() const {
  const std::lock_guard lock(mutex_);
  return plugged_;
}

std::optional<std::string> VirtualDevice::WaitForNode(int timeout_ms,
                                                      const std::function<bool()>& stop) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (auto node = HidrawNode()) return node;
    if (std::chrono::steady_clock::now() >= deadline || (stop && stop())) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void VirtualDevice::WithModel(const std::function<void(sim::DeviceModel&)>& fn) {
  const std::lock_guard lock(mutex_);
  fn(model_);
}

DeviceActivity VirtualDevice::activity() const {
  const std::lock_guard lock(mutex_);
  RefreshActivity();
  return activity_;
}

std::vector<SentInput> VirtualDevice::SentInputs() const {
  const std::lock_guard lock(mutex_);
  return {sent_.begin(), sent_.end()};
}

std::uint64_t VirtualDevice::inputs_sent() const {
  const std::lock_guard lock(mutex_);
  return sequence_;
}

void VirtualDevice::SetStreaming(bool on) {
  const std::lock_guard lock(mutex_);
  streaming_ = on;
  StreamingChanged();
}

void VirtualDevice::FailNextGets(int n, int error_number) {
  const std::lock_guard lock(mutex_);
  failing_gets_ = n;
  failing_errno_ = error_number;
}

bool VirtualDevice::Streaming() const {
  return plugged_ && activity_.open && streaming_ && traits_.reports_per_second > 0;
}

int VirtualDevice::AnswerGetReport(ReportType type, std::uint8_t id,
                                   std::vector<std::uint8_t>& report) {
  report.clear();
  if (failing_gets_ > 0) {
    --failing_gets_;
    return failing_errno_;
  }
  // No numbered reports and no output report: a real device stalls.
  if (id != 0) return EPIPE;
  if (type == ReportType::kFeature) {
    ++activity_.feature_gets;
    report.resize(kFeatureDataBytes);
    model_.NextFeatureReply(report);
    return 0;
  }
  if (type == ReportType::kInput) {
    ++activity_.input_gets;
    report.resize(kInputDataBytes);
    model_.InputReport(static_cast<double>(sequence_) / std::max(traits_.reports_per_second, 1),
                       report);
    return 0;
  }
  return EPIPE;
}

int VirtualDevice::AnswerSetReport(ReportType type, std::uint8_t id,
                                   std::span<const std::uint8_t> report) {
  if (id != 0 || type != ReportType::kFeature || report.empty()) return EPIPE;
  activity_.feature_sets.emplace_back(report.begin(), report.end());
  model_.ApplyFeatureWrite(report);
  return 0;
}

const SentInput& VirtualDevice::NextInput() {
  SentInput input{sequence_, {}};
  // Model time runs with the reports, so a report's content follows from its
  // place in the stream alone.
  model_.InputReport(static_cast<double>(sequence_) / std::max(traits_.reports_per_second, 1),
                     input.data);
  ++sequence_;
  sent_.push_back(input);
  if (sent_.size() > kSentHistory) sent_.pop_front();
  return sent_.back();
}

}  // namespace tensivo::virtual_device
