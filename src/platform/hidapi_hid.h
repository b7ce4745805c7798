// The real backend: HID interfaces through hidapi (hidraw on Linux).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hid_platform.h"

// hidapi's opaque device, declared here so that users of this header need not
// include hidapi.
struct hid_device_;

namespace tensivo::platform {

namespace detail {

// Writes `text` as UTF-16LE code units into `buffer`: as many whole units as
// fit, a surrogate pair only when both halves fit, then a zero unit when there
// is room. Returns the number of bytes written. Values that are no Unicode
// scalar value become U+FFFD.
std::size_t WideToUtf16Le(std::wstring_view text, std::span<std::uint8_t> buffer);

// "/dev/hidrawN" -> "/sys/class/hidraw/hidrawN/device/report_descriptor";
// nullopt for any other path.
std::optional<std::string> SysfsDescriptorPath(std::string_view device_path);

// The value of `key` in a sysfs uevent text ("KEY=value" lines).
std::optional<std::string_view> UeventValue(std::string_view uevent, std::string_view key);

struct HidIds {
  std::uint16_t bus = 0;
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
};

// The ids in a HID device's uevent ("HID_ID=0003:0000E31A:00005C07"); nullopt
// when it has no well-formed HID_ID line.
std::optional<HidIds> ParseHidId(std::string_view uevent);

// UTF-8 as the kernel hands out device strings, one wide character per code
// point; bytes that are no valid UTF-8 become U+FFFD.
std::wstring Utf8ToWide(std::string_view text);

// Lays input reports back to back at the front of `buffer`, oldest first, and
// keeps only the newest whole reports that fit: appending a report that does
// not fit drops the oldest ones until it does. A report longer than the whole
// buffer is never placed and leaves what is there alone.
class ReportWindow {
 public:
  explicit ReportWindow(std::span<std::uint8_t> buffer) : buffer_(buffer) {}

  // `data` as read from the device; `add_zero_id` puts the 0 report id in
  // front that the device did not send. False when the report was not placed.
  bool Append(std::span<const std::uint8_t> data, bool add_zero_id);

  std::size_t bytes() const { return used_; }
  std::size_t reports() const { return lengths_.size(); }

 private:
  std::span<std::uint8_t> buffer_;
  std::deque<std::size_t> lengths_;
  std::size_t used_ = 0;
};

}  // namespace detail

class HidapiHid final : public HidPlatform {
 public:
  HidapiHid();
  ~HidapiHid() override;
  HidapiHid(const HidapiHid&) = delete;
  HidapiHid& operator=(const HidapiHid&) = delete;

 protected:
  Result DoEnumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                     std::vector<InterfaceInfo>& out) override;
  std::uint32_t DoOpen(const std::string& path, OpenMode mode) override;
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
    hid_device_* dev = nullptr;
    std::string path;
    OpenMode mode = OpenMode::kPlain;
    // From the report descriptor, read once when first needed.
    std::optional<HidCaps> caps;
    bool uses_report_ids = false;
    // From sysfs, read once when first needed; a string the device does not
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

  std::map<std::uint32_t, Device> devices_;
  std::vector<std::uint8_t> scratch_;
  std::uint32_t next_id_ = 1;
  EventId next_event_ = 1;
};

}  // namespace tensivo::platform
