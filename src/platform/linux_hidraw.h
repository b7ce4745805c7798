// The real backend on Linux: HID interfaces as hidraw nodes, listed from the
// kernel's hidraw class, named and identified through libudev, used through
// hidraw's own calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hid_platform.h"
#include "platform/report_window.h"
#include "platform/unique_fd.h"

// libudev's context, declared here so that users of this header need not
// include libudev.
struct udev;

namespace tensivo::platform {

namespace detail {

struct HidIds {
  std::uint16_t bus = 0;
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
};

// A HID device's HID_ID ("0003:0000E31A:00005C07": bus, vendor, product in
// hex); nullopt when it is not well formed.
std::optional<HidIds> ParseHidId(std::string_view hid_id);

// A HID device's name in sysfs, "0003:E31A:5C07.000B": bus, vendor and
// product in hex, then the kernel's number for the device, which grows with
// every HID device it adds, on any bus (this one is the eleventh).
struct HidSysname {
  HidIds ids;
  std::uint32_t instance = 0;
};
std::optional<HidSysname> ParseHidSysname(std::string_view name);

// The HID device's name within the sysfs path of one of its hidraw nodes, or
// the link to it in the hidraw class (".../0003:E31A:5C07.000B/hidraw/hidraw2"),
// so that a listing can tell the ids of every node without reading more.
std::optional<HidSysname> HidOfHidrawPath(std::string_view syspath);

using platform::UniqueFd;

using platform::ReportWindow;

}  // namespace detail

class LinuxHidraw final : public HidPlatform {
 public:
  LinuxHidraw();
  ~LinuxHidraw() override;
  LinuxHidraw(const LinuxHidraw&) = delete;
  LinuxHidraw& operator=(const LinuxHidraw&) = delete;

 protected:
  Result DoEnumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                     std::vector<InterfaceInfo>& out) override;
  std::uint32_t DoOpen(const std::string& path, OpenMode mode) override;
  OpenError DoLastOpenError() const override;
  Result DoClose(std::uint32_t id) override;
  Result DoGetAttributes(std::uint32_t id, HidAttributes& out) override;
  Result DoGetSerialNumberString(std::uint32_t id, std::span<std::uint8_t> buffer) override;
  Result DoGetManufacturerString(std::uint32_t id, std::span<std::uint8_t> buffer) override;
  Result DoGetProductString(std::uint32_t id, std::span<std::uint8_t> buffer) override;
  Result DoGetCaps(std::uint32_t id, HidCaps& out) override;
  Result DoGetFeature(std::uint32_t id, std::span<std::uint8_t> report) override;
  Result DoSetFeature(std::uint32_t id, std::span<const std::uint8_t> report) override;
  Result DoReadInput(std::uint32_t id, const ReadOverlapped& overlapped,
                     std::span<std::uint8_t> buffer, std::uint32_t& count) override;
  EventId DoCreateReadEvent() override;

 private:
  struct Device {
    detail::UniqueFd fd;
    OpenMode mode = OpenMode::kPlain;
    // From the report descriptor, read once when first needed.
    std::optional<HidCaps> caps;
    bool uses_report_ids = false;
    // From udev, read once when first needed; a string the device does not
    // have is none, and asking for it fails.
    struct Identity {
      HidAttributes attributes;
      std::optional<std::string> serial, manufacturer, product;  // UTF-8
    };
    std::optional<Identity> identity;
  };

  enum class StringKind { kSerialNumber, kManufacturer, kProduct };

  Device* Find(std::uint32_t id);
  bool LoadCaps(Device& device);
  bool LoadIdentity(Device& device);
  Result GetString(std::uint32_t id, StringKind kind, std::span<std::uint8_t> buffer);

  udev* udev_ = nullptr;
  std::map<std::uint32_t, Device> devices_;
  std::vector<std::uint8_t> scratch_;
  std::uint32_t next_id_ = 1;
  EventId next_event_ = 1;
  OpenError open_error_ = OpenError::kNone;
};

}  // namespace tensivo::platform
