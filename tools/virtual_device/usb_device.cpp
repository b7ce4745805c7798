#include "virtual_device/usb_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/device_string.h"

namespace tensivo::virtual_device {

namespace {

using Clock = std::chrono::steady_clock;

// --- USB/IP (the kernel's usbip protocol): 48-byte headers, big-endian ---
constexpr std::size_t kHeaderBytes = 48;
constexpr std::uint32_t kCmdSubmit = 1;
constexpr std::uint32_t kCmdUnlink = 2;
constexpr std::uint32_t kRetSubmit = 3;
constexpr std::uint32_t kRetUnlink = 4;
constexpr std::uint32_t kDirIn = 1;
// USB_SPEED_FULL: the speed picks the root hub, full speed lands on the USB
// 2.0 one. Ports 0..14 of every 30 are that hub's.
constexpr int kFullSpeed = 2;
constexpr int kPortsPerController = 30;
constexpr int kHighSpeedPorts = 15;
// The kernel hands out no more than this in one transfer to a HID device.
constexpr std::uint32_t kMaxTransferBytes = 4096;

// --- the device (USB 2.0 §9.6, HID 1.11 §6.2) ---
constexpr std::uint8_t kInterruptEndpoint = 1;
constexpr std::array<std::uint8_t, 9> kHidDescriptor = {
    9,    0x21, 0x11,
    0x01,  // HID 1.11
    0,     // no country
    1,    0x22, static_cast<std::uint8_t>(kReportDescriptor.size()),
    0};
constexpr std::array<std::uint8_t, 34> kConfiguration = {
    // configuration 1: one interface, bus powered, 100 mA
    9, 2, 34, 0, 1, 1, 0, 0x80, 50,
    // interface 0: HID class, no boot protocol, one endpoint
    9, 4, 0, 0, 1, 3, 0, 0, 0,
    // the HID descriptor
    kHidDescriptor[0], kHidDescriptor[1], kHidDescriptor[2], kHidDescriptor[3], kHidDescriptor[4],
    kHidDescriptor[5], kHidDescriptor[6], kHidDescriptor[7], kHidDescriptor[8],
    // endpoint 1 IN, interrupt, 64 bytes, every 1 ms
    7, 5, 0x80 | kInterruptEndpoint, 3, 64, 0, 1};
constexpr std::array<std::uint8_t, 4> kLanguages = {4, 3, 0x09, 0x04};  // US English

// A slow wake-up must not turn into a burst longer than this.
constexpr auto kMaxLag = std::chrono::milliseconds(10);

// The USB HID driver resubmits its interrupt transfer as soon as one is
// answered; one that does not come back within this was not resubmitted,
// because the last reader closed the device meanwhile (the kernel then has
// nothing left to cancel, and says nothing).
constexpr auto kResubmitGrace = std::chrono::milliseconds(100);

// Attaching chooses a port and claims it; two devices of this process must
// not choose the same one.
std::mutex g_attach_mutex;
// The kernel echoes a device id in every header and does nothing else with it.
std::atomic<std::uint32_t> g_devids{0x00010002};

std::uint32_t Get32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
         std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

void Put32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value) {
  bytes[at] = static_cast<std::uint8_t>(value >> 24);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 16);
  bytes[at + 2] = static_cast<std::uint8_t>(value >> 8);
  bytes[at + 3] = static_cast<std::uint8_t>(value);
}

bool ReadFull(int fd, std::span<std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::read(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

bool WriteFull(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

// RET_SUBMIT: the status, the bytes transferred (for OUT what the device
// took, and nothing follows) and the IN data. The kernel matches the reply by
// its seqnum alone.
bool SendRetSubmit(int sock, std::uint32_t seqnum, int error, std::uint32_t actual,
                   std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> pdu(kHeaderBytes, 0);
  Put32(pdu, 0, kRetSubmit);
  Put32(pdu, 4, seqnum);
  Put32(pdu, 20, static_cast<std::uint32_t>(-error));
  Put32(pdu, 24, actual);
  pdu.insert(pdu.end(), data.begin(), data.end());
  return WriteFull(sock, pdu);
}

int WriteAttribute(const std::string& file, const std::string& text) {
  const platform::UniqueFd fd(
      ::open((std::string(kVhciPath) + "/" + file).c_str(), O_WRONLY | O_CLOEXEC));
  if (!fd.valid()) return errno;
  const ssize_t n = ::write(fd.get(), text.data(), text.size());
  return n < 0 ? errno : 0;
}

// Free full-speed ports of every virtual host controller, lowest first: the
// status files list "hs  PORT 004 ..." for a free port of a USB 2.0 root hub.
std::vector<int> FreePorts() {
  std::vector<int> ports;
  for (int controller = 0;; ++controller) {
    const std::string name = controller == 0 ? "status" : "status." + std::to_string(controller);
    std::ifstream status(std::string(kVhciPath) + "/" + name);
    if (!status) break;
    std::string line;
    while (std::getline(status, line)) {
      std::istringstream fields(line);
      std::string hub;
      int port = -1;
      int state = -1;
      constexpr int kFree = 4;  // VDEV_ST_NULL
      if (fields >> hub >> port >> state && hub == "hs" && state == kFree) ports.push_back(port);
    }
  }
  return ports;
}

// Whether the USB core holds a device on this port: "usbB/B-R" below the
// port's controller, R counted from 1.
bool UsbDevicePresent(int port) {
  namespace fs = std::filesystem;
  const fs::path controller = fs::path(kVhciPath).parent_path() /
                              ("vhci_hcd." + std::to_string(port / kPortsPerController));
  const std::string root_port = "-" + std::to_string(port % kHighSpeedPorts + 1);
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(controller, error)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("usb")) continue;
    if (fs::exists(entry.path() / (name.substr(3) + root_port), error)) return true;
  }
  return false;
}

std::vector<std::uint8_t> StringDescriptor(std::string_view utf8) {
  // A descriptor's length is one byte: at most 126 UTF-16 units fit.
  std::array<std::uint8_t, 252> units{};
  const std::u16string text = platform::Utf8ToUtf16(utf8);
  const std::size_t bytes =
      platform::PutDeviceString(std::u16string_view(text).substr(0, 126), units);
  // PutDeviceString adds a zero unit when there is room; a descriptor has none.
  const std::size_t length = std::min(bytes, text.size() * 2);
  std::vector<std::uint8_t> descriptor(2 + length);
  descriptor[0] = static_cast<std::uint8_t>(descriptor.size());
  descriptor[1] = 3;  // STRING
  std::copy_n(units.begin(), length, descriptor.begin() + 2);
  return descriptor;
}

}  // namespace

std::unique_ptr<UsbDevice> UsbDevice::Make(DeviceTraits traits, int& error_number) {
  error_number = 0;
  auto fds = MakeLoopFds(error_number);
  if (!fds) return nullptr;
  return std::unique_ptr<UsbDevice>(new UsbDevice(std::move(traits), std::move(*fds)));
}

UsbDevice::UsbDevice(DeviceTraits traits, LoopFds fds)
    : VirtualDevice(std::move(traits), std::move(fds)) {
  StartThread();
}

UsbDevice::~UsbDevice() {
  Unplug();
  StopThread();
}

int UsbDevice::Plug() {
  {
    const std::lock_guard lock(mutex_);
    if (plugged_) return EALREADY;
  }
  std::error_code missing;
  if (!std::filesystem::exists(kVhciPath, missing)) return ENOENT;

  const std::lock_guard attach(g_attach_mutex);
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return errno;
  platform::UniqueFd ours(pair[0]);
  platform::UniqueFd kernels(pair[1]);
  const std::uint32_t devid = g_devids.fetch_add(1);
  int error = kNoFreePort;
  int port = -1;
  // Another process may take a port between the look and the attach: the
  // kernel then says EBUSY, and the next free one is tried.
  for (const int candidate : FreePorts()) {
    error = WriteAttribute("attach", std::to_string(candidate) + " " +
                                         std::to_string(kernels.get()) + " " +
                                         std::to_string(devid) + " " + std::to_string(kFullSpeed));
    if (error == EBUSY) continue;
    if (error == 0) port = candidate;
    break;
  }
  // The kernel holds its own reference to its end.
  kernels.reset();
  if (error != 0) return error;

  const std::lock_guard lock(mutex_);
  sock_ = std::move(ours);
  port_ = port;
  phys_ = "usb-vhci_hcd." + std::to_string(port / kPortsPerController) + "-" +
          std::to_string(port % kHighSpeedPorts + 1) + "/input0";
  configuration_ = 0;
  pending_.clear();
  plugged_ = true;
  ++activity_.plugs;
  // A fresh power-up: the reply sequence starts over, the registers are kept.
  model_.RestartReplies();
  const std::uint64_t one = 1;
  (void)!::write(wake_fd_.get(), &one, sizeof one);
  return 0;
}

int UsbDevice::Unplug() {
  // No device of this process attaches to the port until it is free again.
  const std::lock_guard attach(g_attach_mutex);
  int port = -1;
  {
    const std::lock_guard lock(mutex_);
    if (!plugged_) return 0;
    port = port_;
  }
  // Detaching lets the kernel disconnect the device and then close its end;
  // should the port be gone already, closing ours does the same.
  const int error = WriteAttribute("detach", std::to_string(port));
  {
    std::unique_lock lock(mutex_);
    if (error != 0 && sock_.valid()) ::shutdown(sock_.get(), SHUT_RDWR);
    if (!disconnected_.wait_for(lock, std::chrono::seconds(3), [this] { return !sock_.valid(); })) {
      ::shutdown(sock_.get(), SHUT_RDWR);
      disconnected_.wait_for(lock, std::chrono::seconds(3), [this] { return !sock_.valid(); });
    }
  }
  // The USB core takes the device away a moment later, its interfaces and
  // their hidraw nodes first. (The HID device's uevent, which names the port,
  // goes before its hidraw node does, so the node cannot be watched by it.)
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  while (UsbDevicePresent(port) && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const std::lock_guard lock(mutex_);
  plugged_ = false;
  port_ = -1;
  return 0;
}

std::optional<std::string> UsbDevice::HidrawNode() const {
  namespace fs = std::filesystem;
  std::string phys;
  {
    const std::lock_guard lock(mutex_);
    if (port_ < 0) return std::nullopt;
    phys = phys_;
  }
  const std::string wanted = "\nHID_PHYS=" + phys + "\n";
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/sys/class/hidraw", error)) {
    std::ifstream in(entry.path() / "device" / "uevent", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (("\n" + text.str()).find(wanted) == std::string::npos) continue;
    const std::string node = "/dev/" + entry.path().filename().string();
    if (fs::exists(node, error)) return node;
  }
  return std::nullopt;
}

void UsbDevice::Disconnected() {
  const std::lock_guard lock(mutex_);
  sock_.reset();
  pending_.clear();
  configuration_ = 0;
  activity_.started = false;
  activity_.open = false;
  ArmTimer();
  disconnected_.notify_all();
}

void UsbDevice::Loop() {
  for (;;) {
    int sock = -1;
    {
      const std::lock_guard lock(mutex_);
      if (quitting()) return;
      sock = sock_.get();
    }
    pollfd fds[3] = {{wake_fd_.get(), POLLIN, 0}, {sock, POLLIN, 0}, {timer_fd_.get(), POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents & POLLIN) {
      ReadCounter(wake_fd_);
      continue;  // the connection may have changed
    }
    if ((fds[1].revents & (POLLIN | POLLERR | POLLHUP)) && !ServePdu(sock)) {
      Disconnected();
      continue;
    }
    if (fds[2].revents & POLLIN) {
      ReadCounter(timer_fd_);
      const std::lock_guard lock(mutex_);
      if (sock_.get() == sock && sock >= 0 && !ServeInterrupts(sock)) ::shutdown(sock, SHUT_RDWR);
    }
  }
}

bool UsbDevice::ServePdu(int sock) {
  std::array<std::uint8_t, kHeaderBytes> header{};
  if (!ReadFull(sock, header)) return false;
  const std::uint32_t command = Get32(header, 0);
  const std::uint32_t seqnum = Get32(header, 4);
  const std::uint32_t direction = Get32(header, 12);
  const std::uint32_t endpoint = Get32(header, 16);

  if (command == kCmdUnlink) {
    // The kernel cancels the interrupt URB when the last reader closes the
    // device. One still held here is dropped; one already answered is
    // reported as such (status 0).
    const std::uint32_t target = Get32(header, 20);
    const std::lock_guard lock(mutex_);
    const auto it = std::ranges::find(pending_, target, &PendingUrb::seqnum);
    const bool held = it != pending_.end();
    if (held) pending_.erase(it);
    if (activity_.open && pending_.empty()) {
      activity_.open = false;
      ++activity_.closes;
    }
    ArmTimer();
    std::array<std::uint8_t, kHeaderBytes> reply{};
    Put32(reply, 0, kRetUnlink);
    Put32(reply, 4, seqnum);
    Put32(reply, 20, static_cast<std::uint32_t>(held ? -ECONNRESET : 0));
    return WriteFull(sock, reply);
  }
  if (command != kCmdSubmit) return false;

  const std::uint32_t length = Get32(header, 24);
  if (length > kMaxTransferBytes) return false;
  std::vector<std::uint8_t> out;
  if (direction != kDirIn && length > 0) {
    out.resize(length);
    if (!ReadFull(sock, out)) return false;
  }

  const std::lock_guard lock(mutex_);
  if (endpoint == 0) {
    std::vector<std::uint8_t> in;
    const int error = Control(std::span(header).subspan<40, 8>(), out, in);
    if (direction == kDirIn && in.size() > length) in.resize(length);
    // For OUT the kernel passes on what the device took as the caller's count.
    const std::size_t actual = error != 0 ? 0 : direction == kDirIn ? in.size() : out.size();
    return SendRetSubmit(sock, seqnum, error, static_cast<std::uint32_t>(actual),
                         direction == kDirIn && error == 0 ? std::span<const std::uint8_t>(in)
                                                           : std::span<const std::uint8_t>());
  }
  if (endpoint == kInterruptEndpoint && direction == kDirIn) {
    // The USB HID driver polls only while some reader has the device open.
    RefreshActivity();
    if (!activity_.open) {
      activity_.open = true;
      ++activity_.opens;
      next_due_ = Clock::now();
    }
    pending_.push_back({seqnum, length});
    return ServeInterrupts(sock);
  }
  return SendRetSubmit(sock, seqnum, EPIPE, 0, {});
}

bool UsbDevice::ServeInterrupts(int sock) {
  const auto now = Clock::now();
  if (Streaming()) {
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(1'000'000'000L / traits_.reports_per_second));
    // Slots stay on a fixed grid, so that after a late wake-up the next URBs
    // are answered at once and the rate holds, within kMaxLag.
    while (!pending_.empty() && now >= next_due_) {
      const PendingUrb urb = pending_.front();
      pending_.pop_front();
      const SentInput& input = NextInput();
      last_answer_ = now;
      const auto data =
          std::span(input.data).first(std::min<std::size_t>(urb.length, kInputDataBytes));
      if (!SendRetSubmit(sock, urb.seqnum, 0, static_cast<std::uint32_t>(data.size()), data)) {
        return false;
      }
      next_due_ = std::max(next_due_ + period, now - kMaxLag);
    }
  }
  ArmTimer();
  return true;
}

void UsbDevice::ArmTimer() {
  itimerspec timing{};
  if (!pending_.empty() && Streaming()) {
    // Absolute on CLOCK_MONOTONIC, which steady_clock reads; never 0, which disarms.
    const auto due = std::max(next_due_, Clock::now()).time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(due);
    timing.it_value.tv_sec = seconds.count();
    timing.it_value.tv_nsec = std::max<long>(
        1, std::chrono::duration_cast<std::chrono::nanoseconds>(due - seconds).count());
  }
  ::timerfd_settime(timer_fd_.get(), TFD_TIMER_ABSTIME, &timing, nullptr);
}

void UsbDevice::StreamingChanged() { ArmTimer(); }

void UsbDevice::RefreshActivity() const {
  if (activity_.open && pending_.empty() && Clock::now() - last_answer_ > kResubmitGrace) {
    activity_.open = false;
    ++activity_.closes;
  }
}

namespace {

constexpr std::uint8_t kToDevice = 0;
constexpr std::uint8_t kToInterface = 1;

int Answer(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& in) {
  in.assign(bytes.begin(), bytes.end());
  return 0;
}

}  // namespace

int UsbDevice::Control(std::span<const std::uint8_t, 8> setup, std::span<const std::uint8_t> out,
                       std::vector<std::uint8_t>& in) {
  const std::uint8_t request_type = setup[0];
  const std::uint8_t recipient = request_type & 0x1F;
  const std::uint8_t kind = request_type & 0x60;
  constexpr std::uint8_t kStandard = 0x00;
  constexpr std::uint8_t kClass = 0x20;
  if (kind == kStandard) return StandardRequest(setup, in);
  if (kind != kClass || recipient != kToInterface) return EPIPE;
  return ClassRequest(setup, out, in);
}

int UsbDevice::StandardRequest(std::span<const std::uint8_t, 8> setup,
                               std::vector<std::uint8_t>& in) {
  const std::uint8_t request = setup[1];
  const std::uint16_t value = static_cast<std::uint16_t>(setup[2] | setup[3] << 8);
  switch (request) {
    case 0x00:  // GET_STATUS: bus powered, no remote wake-up, not halted
      return Answer(std::array<std::uint8_t, 2>{0, 0}, in);
    case 0x01:  // CLEAR_FEATURE
    case 0x03:  // SET_FEATURE
    case 0x05:  // SET_ADDRESS (vhci answers it itself)
      return 0;
    case 0x06:  // GET_DESCRIPTOR
      return Descriptor(setup[0] & 0x1F, value, in);
    case 0x08:  // GET_CONFIGURATION
      return Answer(std::array<std::uint8_t, 1>{configuration_}, in);
    case 0x09:  // SET_CONFIGURATION
      if (value > 1) return EPIPE;
      if (value == 1 && configuration_ == 0) {
        ++activity_.starts;
        activity_.started = true;
      } else if (value == 0 && configuration_ == 1) {
        ++activity_.stops;
        activity_.started = false;
      }
      configuration_ = static_cast<std::uint8_t>(value);
      return 0;
    case 0x0A:  // GET_INTERFACE
      return Answer(std::array<std::uint8_t, 1>{0}, in);
    case 0x0B:  // SET_INTERFACE: only the one alternate setting
      return value == 0 ? 0 : EPIPE;
    default:
      return EPIPE;
  }
}

int UsbDevice::Descriptor(std::uint8_t recipient, std::uint16_t value,
                          std::vector<std::uint8_t>& in) const {
  const std::uint8_t type = value >> 8;
  const std::uint8_t index = value & 0xFF;
  if (recipient == kToInterface) {
    if (type == 0x22) return Answer(kReportDescriptor, in);
    if (type == 0x21) return Answer(kHidDescriptor, in);
    return EPIPE;
  }
  if (recipient != kToDevice) return EPIPE;
  if (type == 1) {
    const std::array<std::uint8_t, 18> device = {18,
                                                 1,
                                                 0x00,
                                                 0x02,  // USB 2.0
                                                 0,
                                                 0,
                                                 0,   // class per interface
                                                 64,  // ep0 packet size
                                                 static_cast<std::uint8_t>(traits_.vendor_id),
                                                 static_cast<std::uint8_t>(traits_.vendor_id >> 8),
                                                 static_cast<std::uint8_t>(traits_.product_id),
                                                 static_cast<std::uint8_t>(traits_.product_id >> 8),
                                                 static_cast<std::uint8_t>(traits_.version),
                                                 static_cast<std::uint8_t>(traits_.version >> 8),
                                                 1,
                                                 2,
                                                 3,   // maker, product, serial strings
                                                 1};  // one configuration
    return Answer(device, in);
  }
  if (type == 2) return Answer(kConfiguration, in);
  if (type == 3) {
    if (index == 0) return Answer(kLanguages, in);
    if (index == 1) return Answer(StringDescriptor(traits_.manufacturer), in);
    if (index == 2) return Answer(StringDescriptor(traits_.product), in);
    if (index == 3) return Answer(StringDescriptor(traits_.serial), in);
  }
  // A full-speed device has no device qualifier (USB 2.0 §9.6.2): stall.
  return EPIPE;
}

int UsbDevice::ClassRequest(std::span<const std::uint8_t, 8> setup,
                            std::span<const std::uint8_t> out, std::vector<std::uint8_t>& in) {
  const std::uint8_t request = setup[1];
  const std::uint16_t value = static_cast<std::uint16_t>(setup[2] | setup[3] << 8);
  // HID 1.11 §7.2: the report type in the high byte of wValue, its id in the low.
  const auto type = static_cast<ReportType>(value >> 8);
  const std::uint8_t id = value & 0xFF;
  switch (request) {
    case 0x01: {  // GET_REPORT
      activity_.report_requests.push_back({{}, {}});
      std::ranges::copy(setup, activity_.report_requests.back().setup.begin());
      return AnswerGetReport(type, id, in);
    }
    case 0x09: {  // SET_REPORT: the data stage holds the report without its id byte
      activity_.report_requests.push_back({{}, {out.begin(), out.end()}});
      std::ranges::copy(setup, activity_.report_requests.back().setup.begin());
      return AnswerSetReport(type, id, out);
    }
    case 0x02:  // GET_IDLE
    case 0x03:  // GET_PROTOCOL (report protocol)
      return Answer(std::array<std::uint8_t, 1>{static_cast<std::uint8_t>(request == 0x03)}, in);
    case 0x0A:  // SET_IDLE
    case 0x0B:  // SET_PROTOCOL
      return 0;
    default:
      return EPIPE;
  }
}

}  // namespace tensivo::virtual_device
