// A device of our kind made real inside the running kernel, so that the
// utility finds it through hidraw as it finds the hardware. Two transports lead
// there: a whole USB device through USB/IP and vhci-hcd (UsbDevice), which
// the kernel's USB HID driver binds exactly as it binds the hardware, and a
// HID device through uhid (UhidDevice), which has no USB parent.
//
// Whatever the transport, every request lands in the same DeviceModel that the
// simulated backend runs, and the device streams input reports only while
// some reader has it open.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "device/wire.h"
#include "platform/unique_fd.h"
#include "sim/device_model.h"

namespace tensivo::virtual_device {

using device::kProductId;
using device::kVendorId;
// The reports as the descriptor below declares them, without an id byte.
inline constexpr std::size_t kInputDataBytes = device::kInputReportBytes;
inline constexpr std::size_t kFeatureDataBytes = device::kFeatureReportBytes;

// Vendor-defined page, no report ids: one input report and one feature report.
inline constexpr std::array<std::uint8_t, 27> kReportDescriptor = {
    0x06, 0x00,
    0xFF,        // Usage Page (0xFF00)
    0x09, 0x01,  // Usage (1)
    0xA1, 0x01,  // Collection (Application)
    0x15, 0x00,  //   Logical Minimum (0)
    0x26, 0xFF,
    0x00,                     //   Logical Maximum (255)
    0x75, 0x08,               //   Report Size (8)
    0x95, kInputDataBytes,    //   Report Count
    0x09, 0x02,               //   Usage (2)
    0x81, 0x02,               //   Input (Data, Variable, Absolute)
    0x95, kFeatureDataBytes,  //   Report Count
    0x09, 0x03,               //   Usage (3)
    0xB1, 0x02,               //   Feature (Data, Variable, Absolute)
    0xC0,                     // End Collection
};

struct DeviceTraits {
  std::string serial = "TV-0001";
  std::string manufacturer = "Tensivo";
  std::string product = "Load Cell Interface";
  std::uint16_t vendor_id = kVendorId;
  std::uint16_t product_id = kProductId;
  std::uint16_t version = 0x0101;
  std::uint8_t input_mask = 0;
  int reports_per_second = 1000;  // 0: no input reports at all
};

// The name the kernel's USB HID driver gives such a device: maker and product
// joined by a blank.
std::string HidName(const DeviceTraits& traits);

// Why a serial cannot be given to the kernel, or nothing when it can: 1 to 63
// printable ASCII characters without blanks (the host reads serials back as
// 8-bit text, and the kernel keeps 63 bytes).
std::optional<std::string> SerialProblem(std::string_view serial);

// Why a maker or product name cannot be given, or nothing when it can: 1 to
// 126 bytes of UTF-8 text without control characters (a USB string
// descriptor holds 126 code units).
std::optional<std::string> NameProblem(std::string_view name);

// One input report as it was handed to the kernel.
struct SentInput {
  std::uint64_t sequence;  // counts from 0 over the life of the object
  std::array<std::uint8_t, kInputDataBytes> data;
};

// A HID class request as it came over the USB control pipe: the 8 setup
// bytes and, for SET_REPORT, the data stage.
struct ControlRequest {
  std::array<std::uint8_t, 8> setup;
  std::vector<std::uint8_t> data;
};

// What the kernel asked of the device, counted over the life of the object.
struct DeviceActivity {
  int plugs = 0;
  int starts = 0;  // a driver took the device (USB: SET_CONFIGURATION)
  int stops = 0;
  int opens = 0;   // the first reader opened the device (hidraw counts readers)
  int closes = 0;  // the last reader closed it
  bool started = false;
  bool open = false;
  int feature_gets = 0;
  int input_gets = 0;
  // Feature reports the host wrote, as the device received them: without the
  // report-id byte.
  std::vector<std::vector<std::uint8_t>> feature_sets;
  // USB only: GET_REPORT and SET_REPORT in the order they came.
  std::vector<ControlRequest> report_requests;
};

class VirtualDevice {
 public:
  virtual ~VirtualDevice();
  VirtualDevice(const VirtualDevice&) = delete;
  VirtualDevice& operator=(const VirtualDevice&) = delete;

  const DeviceTraits& traits() const { return traits_; }

  // Plugs the device into the kernel; 0 or an errno value. It shows up
  // asynchronously: wait with WaitForNode().
  virtual int Plug() = 0;
  // Takes it out, as pulling the cable would, and returns once the kernel has
  // let go of it; 0 or an errno value. The model keeps its registers for the
  // next Plug().
  virtual int Unplug() = 0;
  bool plugged() const;

  // The device's hidraw node once a driver has bound it, e.g. "/dev/hidraw2".
  virtual std::optional<std::string> HidrawNode() const = 0;
  // Polls for the node until it is there, the time is up, or `stop` says so.
  std::optional<std::string> WaitForNode(int timeout_ms,
                                         const std::function<bool()>& stop = {}) const;

  // Runs `fn` on the model with the device's lock held.
  void WithModel(const std::function<void(sim::DeviceModel&)>& fn);
  DeviceActivity activity() const;

  // The newest input reports sent, oldest first (a few seconds' worth).
  std::vector<SentInput> SentInputs() const;
  std::uint64_t inputs_sent() const;
  // Sending stops and resumes without unplugging, for an idle input queue.
  void SetStreaming(bool on);
  // The next n GET_REPORT requests are refused with this errno value.
  void FailNextGets(int n, int error_number);

 protected:
  enum class ReportType { kInput = 1, kOutput = 2, kFeature = 3 };

  // The device thread's wake and timer descriptors.
  struct LoopFds {
    platform::UniqueFd wake;
    platform::UniqueFd timer;
  };
  // Both, or nothing with `error_number` set.
  static std::optional<LoopFds> MakeLoopFds(int& error_number);
  // Takes the count an eventfd or timerfd holds; 0 when it held none.
  static std::uint64_t ReadCounter(const platform::UniqueFd& fd);
  VirtualDevice(DeviceTraits traits, LoopFds fds);

  // The device's own thread runs Loop(), started once a derived device has
  // built its members. A derived destructor stops it before they go.
  virtual void Loop() = 0;
  void StartThread();
  void StopThread();
  // Whether StopThread() asked the loop to end; with mutex_ held.
  bool quitting() const { return quit_; }

  // The device's side of the HID class requests, with mutex_ held. Reports
  // are data bytes only: the report-id byte is the transport's business.
  // Returns 0 and the report, or the errno value of a stall.
  int AnswerGetReport(ReportType type, std::uint8_t id, std::vector<std::uint8_t>& report);
  int AnswerSetReport(ReportType type, std::uint8_t id, std::span<const std::uint8_t> report);
  // The next report of the input stream, recorded as sent; with mutex_ held.
  const SentInput& NextInput();
  // Whether input reports may flow now, with mutex_ held.
  bool Streaming() const;
  // Told, with mutex_ held, when Streaming() may have changed.
  virtual void StreamingChanged() {}
  // Brings activity_ up to date before it is read, with mutex_ held.
  virtual void RefreshActivity() const {}

  const DeviceTraits traits_;
  mutable std::mutex mutex_;
  sim::DeviceModel model_;
  // Reading it may settle what the kernel left unsaid (RefreshActivity).
  mutable DeviceActivity activity_;
  bool plugged_ = false;
  const platform::UniqueFd wake_fd_;   // written to wake the loop
  const platform::UniqueFd timer_fd_;  // paces the input stream

 private:
  bool quit_ = false;
  std::thread thread_;
  bool streaming_ = true;
  int failing_gets_ = 0;
  int failing_errno_ = 0;
  std::uint64_t sequence_ = 0;
  std::deque<SentInput> sent_;
};

}  // namespace tensivo::virtual_device
