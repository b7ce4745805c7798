// The uhid transport: a HID device without a USB parent, which the kernel lists
// with no maker and release 0. It answers as the device would behind the
// kernel's USB HID driver, not as uhid passes things through: it drops the
// report-id byte that uhid leaves in front of SET_REPORT data and puts a 0 in
// front of GET_REPORT replies.
#pragma once

#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/unique_fd.h"
#include "virtual_device/virtual_device.h"

struct uhid_event;

namespace tensivo::virtual_device {

inline constexpr const char* kUhidPath = "/dev/uhid";

// The errno value Open() gives for a path that opens but is not the uhid
// character device.
inline constexpr int kNotUhid = ENOTTY;

class UhidDevice final : public VirtualDevice {
 public:
  // Opens `uhid_path`, which must be the uhid character device. On failure
  // returns null and sets `error_number` (kNotUhid for any other file).
  static std::unique_ptr<UhidDevice> Open(DeviceTraits traits, int& error_number,
                                          const std::string& uhid_path = kUhidPath);
  ~UhidDevice() override;  // unplugs and releases the uhid device

  // HID_PHYS of this device: unique per object, so its hidraw node can be told
  // apart from others with the same ids and serial.
  const std::string& phys() const { return phys_; }

  int Plug() override;
  int Unplug() override;
  std::optional<std::string> HidrawNode() const override;

 private:
  UhidDevice(DeviceTraits traits, platform::UniqueFd uhid_fd, LoopFds fds);
  void Loop() override;
  // False when the uhid descriptor has nothing more to give.
  bool HandleEvent();
  // The device's answers to the kernel's report requests, with mutex_ held.
  void ReplyToGetReport(const uhid_event& event);
  void ReplyToSetReport(const uhid_event& event);
  void SendInputs(std::uint64_t ticks);
  void StreamingChanged() override;  // with mutex_ held
  int WriteEvent(const void* event);

  std::string phys_;
  const platform::UniqueFd uhid_fd_;
};

}  // namespace tensivo::virtual_device
