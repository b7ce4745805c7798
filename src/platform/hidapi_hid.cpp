#include "platform/hidapi_hid.h"

#include <fcntl.h>
#include <hidapi.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>

#include "platform/report_descriptor.h"

namespace tensivo::platform {

namespace {

static_assert(sizeof(wchar_t) == 4, "hidapi strings are taken as UTF-32 code points");

// The largest report the hidraw driver hands out on older kernels; a larger
// input length from the descriptor widens the scratch buffer.
constexpr std::size_t kScratchBytes = 4096;

// Bounds one read call so that a device flooding reports cannot stall the UI.
constexpr int kMaxReadsPerCall = 512;

// The kernel's limit on report descriptors.
constexpr std::size_t kMaxDescriptorBytes = 4096;

// A HID device's uevent holds a few short lines.
constexpr std::size_t kMaxUeventBytes = 4096;

// hid_init and hid_exit act on library-wide state, so only the last backend
// alive may finalise it.
std::mutex g_library_mutex;
int g_library_users = 0;

std::vector<std::uint8_t> ReadFileUpTo(const std::string& path, std::size_t limit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::vector<std::uint8_t> data(limit);
  std::size_t got = 0;
  while (got < data.size()) {
    const std::span<std::uint8_t> rest = std::span(data).subspan(got);
    const ssize_t n = ::read(fd, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      got = 0;
      break;
    }
    if (n == 0) break;
    got += std::min(static_cast<std::size_t>(n), rest.size());
  }
  ::close(fd);
  data.resize(got);
  return data;
}

std::string ReadText(const std::string& path, std::size_t limit) {
  const std::vector<std::uint8_t> data = ReadFileUpTo(path, limit);
  return std::string(data.begin(), data.end());
}

// A sysfs attribute's one line of text; nothing when the file is missing.
std::optional<std::string> ReadAttribute(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return std::nullopt;
  std::string text = ReadText(path.string(), kMaxUeventBytes);
  if (const std::size_t eol = text.find('\n'); eol != std::string::npos) text.resize(eol);
  return text;
}

// hidapi 0.13.1 writes its error into the device it has just freed when a
// path opens but is no hidraw node (hid_close, then the error for the failed
// HIDIOCGRDESCSIZE), so such paths must never reach hid_open_path. This asks
// the same question first, without stalling on a FIFO or adopting a tty.
bool IsHidrawNode(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  int descriptor_size = 0;
  const bool hidraw = ::ioctl(fd, HIDIOCGRDESCSIZE, &descriptor_size) >= 0;
  ::close(fd);
  return hidraw;
}

std::vector<std::uint8_t> ReadDescriptor(hid_device* dev, const std::string& path) {
#if HID_API_VERSION >= HID_API_MAKE_VERSION(0, 14, 0)
  (void)path;
  std::vector<std::uint8_t> data(HID_API_MAX_REPORT_DESCRIPTOR_SIZE);
  const int n = hid_get_report_descriptor(dev, data.data(), data.size());
  if (n <= 0) return {};
  data.resize(std::min(static_cast<std::size_t>(n), data.size()));
  return data;
#else
  // 0.13 has no descriptor call on Linux; hidraw exposes it in sysfs.
  (void)dev;
  const std::optional<std::string> sysfs = detail::SysfsDescriptorPath(path);
  if (!sysfs) return {};
  return ReadFileUpTo(*sysfs, kMaxDescriptorBytes);
#endif
}

}  // namespace

namespace detail {

std::size_t WideToUtf16Le(std::wstring_view text, std::span<std::uint8_t> buffer) {
  std::size_t used = 0;
  const auto put = [&](std::uint32_t unit) {
    buffer[used] = static_cast<std::uint8_t>(unit & 0xFF);
    buffer[used + 1] = static_cast<std::uint8_t>((unit >> 8) & 0xFF);
    used += 2;
  };
  for (const wchar_t wide : text) {
    std::uint32_t code_point = static_cast<std::uint32_t>(wide);
    if (code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) {
      code_point = 0xFFFD;
    }
    const std::size_t needed = code_point > 0xFFFF ? 4 : 2;
    if (buffer.size() - used < needed) break;
    if (code_point > 0xFFFF) {
      const std::uint32_t offset = code_point - 0x10000;
      put(0xD800 + (offset >> 10));
      put(0xDC00 + (offset & 0x3FF));
    } else {
      put(code_point);
    }
  }
  if (buffer.size() - used >= 2) put(0);
  return used;
}

std::optional<std::string> SysfsDescriptorPath(std::string_view device_path) {
  constexpr std::string_view kPrefix = "/dev/hidraw";
  if (!device_path.starts_with(kPrefix)) return std::nullopt;
  const std::string_view number = device_path.substr(kPrefix.size());
  if (number.empty() || number.size() > 10) return std::nullopt;
  if (!std::ranges::all_of(number, [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  return "/sys/class/hidraw/hidraw" + std::string(number) + "/device/report_descriptor";
}

std::optional<std::string_view> UeventValue(std::string_view uevent, std::string_view key) {
  while (!uevent.empty()) {
    const std::size_t eol = uevent.find('\n');
    const std::string_view line = uevent.substr(0, eol);
    if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=') {
      return line.substr(key.size() + 1);
    }
    if (eol == std::string_view::npos) break;
    uevent.remove_prefix(eol + 1);
  }
  return std::nullopt;
}

std::optional<HidIds> ParseHidId(std::string_view uevent) {
  const std::optional<std::string_view> id = UeventValue(uevent, "HID_ID");
  if (!id) return std::nullopt;
  // BUS:VENDOR:PRODUCT in hex, e.g. 0003:0000E31A:00005C07.
  std::uint32_t fields[3] = {};
  std::size_t from = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t end = i < 2 ? id->find(':', from) : id->size();
    if (end == std::string_view::npos || end == from) return std::nullopt;
    const char* const first = id->data() + from;
    const char* const last = id->data() + end;
    const auto [stop, error] = std::from_chars(first, last, fields[i], 16);
    if (error != std::errc() || stop != last || fields[i] > 0xFFFF) return std::nullopt;
    from = end + 1;
  }
  return HidIds{static_cast<std::uint16_t>(fields[0]), static_cast<std::uint16_t>(fields[1]),
                static_cast<std::uint16_t>(fields[2])};
}

std::wstring Utf8ToWide(std::string_view text) {
  std::wstring out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    std::uint32_t code_point = 0;
    if (lead < 0x80) {
      length = 1, code_point = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, code_point = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, code_point = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, code_point = lead & 0x07u;
    }
    bool valid = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      code_point = (code_point << 6) | (next & 0x3F);
    }
    constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    valid = valid && code_point >= kSmallest[length] && code_point <= 0x10FFFF &&
            (code_point < 0xD800 || code_point > 0xDFFF);
    out.push_back(valid ? static_cast<wchar_t>(code_point) : L'\uFFFD');
    i += valid ? length : 1;
  }
  return out;
}

bool ReportWindow::Append(std::span<const std::uint8_t> data, bool add_zero_id) {
  const std::size_t length = data.size() + (add_zero_id ? 1 : 0);
  if (length == 0 || length > buffer_.size()) return false;
  std::size_t drop = 0;
  while (used_ - drop + length > buffer_.size()) {
    drop += lengths_.front();
    lengths_.pop_front();
  }
  if (drop > 0) {
    const std::span<std::uint8_t> kept = buffer_.subspan(drop, used_ - drop);
    std::memmove(buffer_.data(), kept.data(), kept.size());
    used_ = kept.size();
  }
  std::span<std::uint8_t> slot = buffer_.subspan(used_, length);
  if (add_zero_id) {
    slot[0] = 0;
    slot = slot.subspan(1);
  }
  std::ranges::copy(data, slot.begin());
  used_ += length;
  lengths_.push_back(length);
  return true;
}

}  // namespace detail

HidapiHid::HidapiHid() {
  const std::lock_guard lock(g_library_mutex);
  // hid_init cannot fail on hidraw 0.13, and every hid_enumerate and
  // hid_open_path would initialise the library again anyway.
  hid_init();
  ++g_library_users;
}

HidapiHid::~HidapiHid() {
  for (auto& [id, device] : devices_) hid_close(device.dev);
  devices_.clear();
  const std::lock_guard lock(g_library_mutex);
  if (--g_library_users == 0) hid_exit();
}

HidapiHid::Device* HidapiHid::Find(std::uint32_t id) {
  const auto it = devices_.find(id);
  return it == devices_.end() ? nullptr : &it->second;
}

// hidapi 0.13.1's hid_enumerate crashes (strlen of a null uevent) when a HID
// device goes away while it reads it, as happens when anything is unplugged
// during a search. The hidraw nodes are listed from sysfs here instead, in
// the order udev gives: by sysfs path, so devices of one kind in plug order.
Result HidapiHid::DoEnumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                              std::vector<InterfaceInfo>& out) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::directory_iterator nodes("/sys/class/hidraw", error);
  // Without the hidraw class nothing can be present.
  if (error) return error == std::errc::no_such_file_or_directory ? kSuccess : kFailure;

  std::vector<std::pair<std::string, InterfaceInfo>> found;  // by sysfs path
  for (; nodes != fs::directory_iterator(); nodes.increment(error)) {
    if (error) return kFailure;
    const fs::path& node = nodes->path();
    // A node that vanishes meanwhile has no uevent or no canonical path left.
    const std::optional<detail::HidIds> ids =
        detail::ParseHidId(ReadText((node / "device" / "uevent").string(), kMaxUeventBytes));
    if (!ids) continue;
    if (vendor_id != 0 && ids->vendor_id != vendor_id) continue;
    if (product_id != 0 && ids->product_id != product_id) continue;
    std::error_code gone;
    const fs::path sysfs = fs::canonical(node, gone);
    if (gone) continue;
    found.emplace_back(sysfs.string(), InterfaceInfo{.path = "/dev/" + node.filename().string(),
                                                     .vendor_id = ids->vendor_id,
                                                     .product_id = ids->product_id});
  }
  std::ranges::sort(found, {}, &std::pair<std::string, InterfaceInfo>::first);
  for (auto& [sysfs, info] : found) out.push_back(std::move(info));
  return kSuccess;
}

std::uint32_t HidapiHid::DoOpen(const std::string& path, OpenMode mode) {
  // Ids are never reused; once they run out no more opens succeed.
  if (next_id_ == 0) return 0;
  // hidapi 0.13.1 (hidraw) opens the node with O_RDWR | O_CLOEXEC, so handles
  // do not leak into child processes without any help from here.
  if (!IsHidrawNode(path)) return 0;
  hid_device* const dev = hid_open_path(path.c_str());
  if (dev == nullptr) return 0;
  if (mode == OpenMode::kOverlapped && hid_set_nonblocking(dev, 1) != 0) {
    hid_close(dev);
    return 0;
  }
  const std::uint32_t id = next_id_++;
  Device& device = devices_[id];
  device.dev = dev;
  device.path = path;
  device.mode = mode;
  return id;
}

Result HidapiHid::DoClose(std::uint32_t id) {
  const auto it = devices_.find(id);
  if (it == devices_.end()) return kFailure;
  hid_close(it->second.dev);
  devices_.erase(it);
  return kSuccess;
}

// hidapi 0.13.1 reads a device's identity on first use through the same code
// that crashes when the device has just gone away, so it is read here from
// sysfs, as hidapi would: ids and serial from the HID device, maker, product
// and release from its USB device; a device without one (uhid, Bluetooth)
// has no maker, its HID name as the product and release 0.
bool HidapiHid::LoadIdentity(Device& device) {
  namespace fs = std::filesystem;
  if (device.identity) return true;
  const std::optional<std::string> descriptor = detail::SysfsDescriptorPath(device.path);
  if (!descriptor) return false;
  const fs::path hid_device = fs::path(*descriptor).parent_path();
  // The handle keeps the node's number reserved, so this is still our device
  // or nothing at all.
  const std::string uevent = ReadText((hid_device / "uevent").string(), kMaxUeventBytes);
  const std::optional<detail::HidIds> ids = detail::ParseHidId(uevent);
  if (!ids) return false;

  Device::Identity identity;
  identity.attributes.VendorID = ids->vendor_id;
  identity.attributes.ProductID = ids->product_id;
  if (const auto uniq = detail::UeventValue(uevent, "HID_UNIQ")) identity.serial = std::string(*uniq);

  constexpr std::uint16_t kBusUsb = 3;
  std::error_code error;
  fs::path usb_device;
  if (ids->bus == kBusUsb) {
    for (fs::path at = fs::canonical(hid_device, error); !error && at.has_relative_path();
         at = at.parent_path()) {
      if (fs::exists(at / "idVendor", error) && fs::exists(at / "bcdDevice", error)) {
        usb_device = at;
        break;
      }
    }
  }
  if (usb_device.empty()) {
    identity.manufacturer = std::string();
    if (const auto name = detail::UeventValue(uevent, "HID_NAME")) identity.product = std::string(*name);
  } else {
    identity.manufacturer = ReadAttribute(usb_device / "manufacturer");
    identity.product = ReadAttribute(usb_device / "product");
    const std::string release = ReadAttribute(usb_device / "bcdDevice").value_or("");
    std::uint16_t bcd = 0;
    std::from_chars(release.data(), release.data() + release.size(), bcd, 16);
    identity.attributes.VersionNumber = bcd;
  }
  device.identity = std::move(identity);
  return true;
}

Result HidapiHid::DoGetAttributes(std::uint32_t id, HidAttributes& out) {
  Device* const device = Find(id);
  if (device == nullptr || !LoadIdentity(*device)) return kFailure;
  out = device->identity->attributes;
  return kSuccess;
}

Result HidapiHid::GetString(std::uint32_t id, StringKind kind, std::span<std::uint8_t> buffer) {
  Device* const device = Find(id);
  if (device == nullptr || !LoadIdentity(*device)) return kFailure;
  const Device::Identity& identity = *device->identity;
  const std::optional<std::string>& text = kind == StringKind::kSerialNumber   ? identity.serial
                                           : kind == StringKind::kManufacturer ? identity.manufacturer
                                                                               : identity.product;
  if (!text) return kFailure;
  detail::WideToUtf16Le(detail::Utf8ToWide(*text), buffer);
  return kSuccess;
}

Result HidapiHid::DoGetSerialNumberString(std::uint32_t id, std::span<std::uint8_t> buffer) {
  return GetString(id, StringKind::kSerialNumber, buffer);
}

Result HidapiHid::DoGetManufacturerString(std::uint32_t id, std::span<std::uint8_t> buffer) {
  return GetString(id, StringKind::kManufacturer, buffer);
}

Result HidapiHid::DoGetProductString(std::uint32_t id, std::span<std::uint8_t> buffer) {
  return GetString(id, StringKind::kProduct, buffer);
}

bool HidapiHid::LoadCaps(Device& device) {
  if (device.caps) return true;
  const std::vector<std::uint8_t> descriptor = ReadDescriptor(device.dev, device.path);
  if (descriptor.empty()) return false;
  const std::optional<DescriptorSummary> summary = ParseReportDescriptor(descriptor);
  if (!summary) return false;
  device.caps = InterfaceCaps(*summary);
  device.uses_report_ids = summary->uses_report_ids;
  return true;
}

Result HidapiHid::DoGetCaps(std::uint32_t id, HidCaps& out) {
  Device* const device = Find(id);
  if (device == nullptr || !LoadCaps(*device)) return kFailure;
  out = *device->caps;
  return kSuccess;
}

Result HidapiHid::DoGetFeature(std::uint32_t id, std::span<std::uint8_t> report) {
  Device* const device = Find(id);
  if (device == nullptr || report.empty()) return kFailure;
  const int n = hid_get_feature_report(device->dev, report.data(), report.size());
  if (n < 0) return kFailure;
  const std::size_t got = std::min(static_cast<std::size_t>(n), report.size());
  std::ranges::fill(report.subspan(got), std::uint8_t{0});
  return kSuccess;
}

Result HidapiHid::DoSetFeature(std::uint32_t id, std::span<const std::uint8_t> report) {
  Device* const device = Find(id);
  if (device == nullptr || report.empty()) return kFailure;
  return hid_send_feature_report(device->dev, report.data(), report.size()) < 0 ? kFailure
                                                                                : kSuccess;
}

Result HidapiHid::DoReadInput(std::uint32_t id, const ReadOverlapped& /*overlapped*/,
                              std::span<std::uint8_t> buffer, std::uint32_t& count) {
  count = 0;
  Device* const device = Find(id);
  // Without the descriptor there is no telling whether reports need an id byte.
  if (device == nullptr || !LoadCaps(*device)) return kFailure;

  const std::size_t scratch_size =
      std::max<std::size_t>(kScratchBytes, device->caps->InputReportByteLength);
  if (scratch_.size() < scratch_size) scratch_.resize(scratch_size);
  const std::span<std::uint8_t> scratch(scratch_);

  detail::ReportWindow window(buffer);
  for (int i = 0; i < kMaxReadsPerCall; ++i) {
    // A zero timeout polls even on a handle opened plain, where hid_read would block.
    const int n = hid_read_timeout(device->dev, scratch.data(), scratch.size(), 0);
    // A device that errors mid-drain is gone; what was drained is of no use.
    if (n < 0) return kFailure;
    if (n == 0) break;
    window.Append(scratch.first(std::min(static_cast<std::size_t>(n), scratch.size())),
                  !device->uses_report_ids);
  }
  if (window.reports() == 0) return kFailure;
  count = static_cast<std::uint32_t>(window.bytes());
  return kSuccess;
}

EventId HidapiHid::DoCreateReadEvent() {
  // No OS event exists on this backend; the token only has to be non-zero.
  const EventId event = next_event_++;
  if (next_event_ == 0) next_event_ = 1;
  return event;
}

}  // namespace tensivo::platform
