// A device of our kind made real inside the kernel's HID stack through uhid:
// the kernel sees a USB HID device, lists it through hidraw and hidapi, and
// every request the host makes lands in the same DeviceModel the simulated
// backend runs.
//
// The device answers as it would behind the kernel's USB HID driver, not as
// uhid passes things through: it drops the report-id byte that uhid leaves in
// front of SET_REPORT data, puts a 0 in front of GET_REPORT replies, and
// streams input reports only while some reader has the device open.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/device_model.h"

namespace tensivo::virtual_device {

inline constexpr std::uint16_t kVendorId = 0xE31A;
inline constexpr std::uint16_t kProductId = 0x5C07;
inline constexpr std::size_t kInputDataBytes = 16;    // the report, without an id byte
inline constexpr std::size_t kFeatureDataBytes = 18;  // the report, without an id byte

// Vendor-defined page, no report ids: one input report and one feature report.
inline constexpr std::array<std::uint8_t, 27> kReportDescriptor = {
    0x06, 0x00, 0xFF,         // Usage Page (0xFF00)
    0x09, 0x01,               // Usage (1)
    0xA1, 0x01,               // Collection (Application)
    0x15, 0x00,               //   Logical Minimum (0)
    0x26, 0xFF, 0x00,         //   Logical Maximum (255)
    0x75, 0x08,               //   Report Size (8)
    0x95, kInputDataBytes,    //   Report Count
    0x09, 0x02,               //   Usage (2)
    0x81, 0x02,               //   Input (Data, Variable, Absolute)
    0x95, kFeatureDataBytes,  //   Report Count
    0x09, 0x03,               //   Usage (3)
    0xB1, 0x02,               //   Feature (Data, Variable, Absolute)
    0xC0,                     // End Collection
};

struct DeviceSpec {
  std::string serial = "TV-0001";
  std::string name = "Tensivo Load Cell Interface";
  std::uint16_t vendor_id = kVendorId;
  std::uint16_t product_id = kProductId;
  std::uint16_t version = 0x0101;
  std::uint8_t input_mask = 0;
  int reports_per_second = 1000;  // 0: no input reports at all
};

// Why a serial cannot be given to the kernel, or nothing when it can: 1 to 63
// printable ASCII characters without blanks (the host reads serials back as
// 8-bit text, and uhid keeps 63 bytes).
std::optional<std::string> SerialProblem(std::string_view serial);

// One input report as it was handed to the kernel.
struct SentInput {
  std::uint64_t sequence;  // counts from 0 over the life of the object
  std::array<std::uint8_t, kInputDataBytes> data;
};

// What the kernel asked of the device, counted over the life of the object.
struct DeviceActivity {
  int creates = 0;
  int starts = 0;
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
};

class UhidDevice {
 public:
  // Opens `uhid_path`. On failure returns null and sets `error_number`.
  static std::unique_ptr<UhidDevice> Open(DeviceSpec profile, int& error_number,
                                          const std::string& uhid_path = "/dev/uhid");
  ~UhidDevice();  // unplugs and releases /dev/uhid
  UhidDevice(const UhidDevice&) = delete;
  UhidDevice& operator=(const UhidDevice&) = delete;

  const DeviceSpec& profile() const { return spec_; }
  // HID_PHYS of this device: unique per object, so its hidraw node can be told
  // apart from others with the same ids and serial.
  const std::string& phys() const { return phys_; }

  // Creates the device in the kernel; 0 or an errno value. The device shows
  // up asynchronously: wait with WaitForNode().
  int Plug();
  // Destroys it in the kernel, as pulling the cable would; 0 or an errno value.
  // The model keeps its registers for the next Plug().
  int Unplug();
  bool plugged() const;

  // The device's hidraw node once a driver has bound it, e.g. "/dev/hidraw2".
  std::optional<std::string> HidrawNode() const;
  std::optional<std::string> WaitForNode(int timeout_ms) const;
  // True once the kernel started the device (a driver bound it).
  bool WaitForStart(int timeout_ms) const;

  // Runs `fn` on the model with the device's lock held.
  void WithModel(const std::function<void(sim::DeviceModel&)>& fn);
  DeviceActivity activity() const;

  // The newest input reports sent, oldest first (a few seconds' worth).
  std::vector<SentInput> SentInputs() const;
  std::uint64_t inputs_sent() const;
  // Sending stops and resumes without unplugging, for an idle input queue.
  void SetStreaming(bool on);
  // The next n GET_REPORT requests are answered with this errno value.
  void FailNextGets(int n, int error_number);

 private:
  UhidDevice(DeviceSpec profile, int uhid_fd, int wake_fd, int timer_fd);
  void Loop();
  void HandleEvent();
  void SendInputs(std::uint64_t ticks);
  void UpdateTimer();  // with mutex_ held
  int WriteEvent(const void* event);

  const DeviceSpec spec_;
  std::string phys_;
  const int uhid_fd_;
  const int wake_fd_;
  const int timer_fd_;

  mutable std::mutex mutex_;
  mutable std::condition_variable started_;
  sim::DeviceModel model_;
  DeviceActivity activity_;
  bool plugged_ = false;
  bool streaming_ = true;
  bool quit_ = false;
  int failing_gets_ = 0;
  int failing_errno_ = 0;
  std::uint64_t sequence_ = 0;
  std::deque<SentInput> sent_;

  std::thread thread_;
};

}  // namespace tensivo::virtual_device
