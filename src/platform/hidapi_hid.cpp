#include "platform/hidapi_hid.h"

#include <fcntl.h>
#include <hidapi.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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

// hid_init and hid_exit act on library-wide state, so only the last backend
// alive may finalise it.
std::mutex g_library_mutex;
int g_library_users = 0;

#if HID_API_VERSION < HID_API_MAKE_VERSION(0, 14, 0)
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
#endif

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

Result HidapiHid::DoEnumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                              std::vector<InterfaceInfo>& out) {
  hid_device_info* const list = hid_enumerate(vendor_id, product_id);
  if (list == nullptr) {
    // NULL also means none present (0.13.1 then says "No HID devices ... found"); else an error.
    const wchar_t* const why = hid_error(nullptr);
    const std::wstring_view message = why == nullptr ? std::wstring_view() : why;
    const bool nothing_present =
        message.empty() || message == L"Success" || message.starts_with(L"No HID devices");
    return nothing_present ? kSuccess : kFailure;
  }
  for (const hid_device_info* info = list; info != nullptr; info = info->next) {
    out.push_back(InterfaceInfo{
        .path = info->path == nullptr ? std::string() : std::string(info->path),
        .vendor_id = info->vendor_id,
        .product_id = info->product_id,
    });
  }
  hid_free_enumeration(list);
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

Result HidapiHid::DoGetAttributes(std::uint32_t id, HidAttributes& out) {
  Device* const device = Find(id);
  if (device == nullptr) return kFailure;
  const hid_device_info* const info = hid_get_device_info(device->dev);
  if (info == nullptr) return kFailure;
  out.VendorID = info->vendor_id;
  out.ProductID = info->product_id;
  out.VersionNumber = info->release_number;
  return kSuccess;
}

Result HidapiHid::GetString(std::uint32_t id, StringKind kind, std::span<std::uint8_t> buffer) {
  Device* const device = Find(id);
  if (device == nullptr) return kFailure;
  // No character yields less than one whole code unit, so this many characters
  // can fill the buffer; the extra one is room for hidapi's terminator.
  std::vector<wchar_t> text(buffer.size() / 2 + 1, L'\0');
  int result = -1;
  switch (kind) {
    case StringKind::kSerialNumber:
      result = hid_get_serial_number_string(device->dev, text.data(), text.size());
      break;
    case StringKind::kManufacturer:
      result = hid_get_manufacturer_string(device->dev, text.data(), text.size());
      break;
    case StringKind::kProduct:
      result = hid_get_product_string(device->dev, text.data(), text.size());
      break;
  }
  if (result != 0) return kFailure;
  const auto end = std::ranges::find(text, L'\0');
  detail::WideToUtf16Le(std::wstring_view(text.begin(), end), buffer);
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
