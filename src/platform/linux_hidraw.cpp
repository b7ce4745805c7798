#include "platform/linux_hidraw.h"

#include <dirent.h>
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <tuple>
#include <utility>

#include "platform/device_string.h"
#include "platform/real_hid.h"
#include "platform/report_descriptor.h"

namespace tensivo::platform {

namespace {

OpenError OpenErrorOf(int error_number) {
  switch (error_number) {
    case EACCES:
    case EPERM:
      return OpenError::kPermissionDenied;
    case EBUSY:
      return OpenError::kBusy;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return OpenError::kGone;
    default:
      return OpenError::kOther;
  }
}

// The largest report the hidraw driver hands out on older kernels; a larger
// input length from the descriptor widens the scratch buffer.
constexpr std::size_t kScratchBytes = 4096;

// Bounds one read call so that a device flooding reports cannot stall the UI.
constexpr int kMaxReadsPerCall = 512;

// The length field of hidraw's variable-size ioctls has 14 bits.
constexpr std::size_t kMaxIoctlBytes = _IOC_SIZEMASK;

constexpr std::uint16_t kBusUsb = 3;

constexpr const char* kHidrawClass = "/sys/class/hidraw";

struct UdevDeviceUnref {
  void operator()(udev_device* device) const { udev_device_unref(device); }
};
struct ClosingDir {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using UdevDevice = std::unique_ptr<udev_device, UdevDeviceUnref>;

std::optional<std::string> Text(const char* value) {
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

// The HID device a hidraw node belongs to; owned by `hidraw`.
udev_device* HidParent(udev_device* hidraw) {
  return udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
}

std::optional<detail::HidIds> IdsOf(udev_device* hid) {
  const char* const id = hid == nullptr ? nullptr : udev_device_get_property_value(hid, "HID_ID");
  return id == nullptr ? std::nullopt : detail::ParseHidId(id);
}

std::optional<std::string> SerialOf(udev_device* hid) {
  return hid == nullptr ? std::nullopt : Text(udev_device_get_property_value(hid, "HID_UNIQ"));
}

}  // namespace

namespace detail {

std::optional<HidIds> ParseHidId(std::string_view hid_id) {
  // BUS:VENDOR:PRODUCT in hex, e.g. 0003:0000E31A:00005C07.
  std::uint32_t fields[3] = {};
  std::size_t from = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t end = i < 2 ? hid_id.find(':', from) : hid_id.size();
    if (end == std::string_view::npos || end == from) return std::nullopt;
    const char* const first = hid_id.data() + from;
    const char* const last = hid_id.data() + end;
    const auto [stop, error] = std::from_chars(first, last, fields[i], 16);
    if (error != std::errc() || stop != last || fields[i] > 0xFFFF) return std::nullopt;
    from = end + 1;
  }
  return HidIds{static_cast<std::uint16_t>(fields[0]), static_cast<std::uint16_t>(fields[1]),
                static_cast<std::uint16_t>(fields[2])};
}

std::optional<HidSysname> ParseHidSysname(std::string_view name) {
  // Fixed width, as the kernel prints it: %04X:%04X:%04X.%04X (the number may
  // outgrow its four digits).
  if (name.size() < 19 || name[4] != ':' || name[9] != ':' || name[14] != '.') return std::nullopt;
  std::uint16_t fields[3] = {};
  for (int i = 0; i < 3; ++i) {
    const char* const first = name.data() + 5 * i;
    const auto [stop, error] = std::from_chars(first, first + 4, fields[i], 16);
    if (error != std::errc() || stop != first + 4) return std::nullopt;
  }
  const char* const number = name.data() + 15;
  const char* const end = name.data() + name.size();
  std::uint32_t instance = 0;
  const auto [stop, error] = std::from_chars(number, end, instance, 16);
  if (error != std::errc() || stop != end) return std::nullopt;
  return HidSysname{{fields[0], fields[1], fields[2]}, instance};
}

std::optional<HidSysname> HidOfHidrawPath(std::string_view syspath) {
  const std::size_t node = syspath.rfind('/');
  if (node == std::string_view::npos) return std::nullopt;
  const std::string_view up = syspath.substr(0, node);
  constexpr std::string_view kClassDir = "/hidraw";
  if (!up.ends_with(kClassDir)) return std::nullopt;
  const std::string_view hid_path = up.substr(0, up.size() - kClassDir.size());
  return ParseHidSysname(hid_path.substr(hid_path.rfind('/') + 1));
}

}  // namespace detail

LinuxHidraw::LinuxHidraw() : udev_(udev_new()) {}

LinuxHidraw::~LinuxHidraw() {
  devices_.clear();
  if (udev_ != nullptr) udev_unref(udev_);
}

LinuxHidraw::Device* LinuxHidraw::Find(std::uint32_t id) {
  const auto it = devices_.find(id);
  return it == devices_.end() ? nullptr : &it->second;
}

// Listed in the order the kernel added the HID devices, on every bus: a
// replugged device comes after those that stayed, so the window opens the one
// plugged in last.
//
// The window lists on every tick while it searches. libudev's own scan costs
// some 70 system calls per node (11 ms for 68 nodes on a desktop), so the
// nodes come from the kernel's hidraw class directory instead: each entry's
// link names its HID device, whose name holds the ids, which costs one call
// per node. udev is asked only about the nodes of the device searched for.
Result LinuxHidraw::DoEnumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                                std::vector<InterfaceInfo>& out) {
  if (udev_ == nullptr) return kFailure;
  const std::unique_ptr<DIR, ClosingDir> nodes(::opendir(kHidrawClass));
  // Without the hidraw class nothing can be present.
  if (!nodes) return errno == ENOENT ? kSuccess : kFailure;
  struct Found {
    std::uint32_t instance;
    std::string name;
    InterfaceInfo info;
  };
  std::vector<Found> found;
  std::array<char, 4096> link{};
  for (errno = 0; const dirent* entry = ::readdir(nodes.get()); errno = 0) {
    const std::string_view name = entry->d_name;
    if (name.starts_with('.')) continue;
    // A node that vanishes meanwhile has no link, device or node name left.
    const ssize_t n = ::readlinkat(::dirfd(nodes.get()), entry->d_name, link.data(), link.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) continue;
    const std::optional<detail::HidSysname> hid =
        detail::HidOfHidrawPath(std::string_view(link.data(), static_cast<std::size_t>(n)));
    if (!hid) continue;
    if (vendor_id != 0 && hid->ids.vendor_id != vendor_id) continue;
    if (product_id != 0 && hid->ids.product_id != product_id) continue;
    const UdevDevice hidraw(udev_device_new_from_subsystem_sysname(udev_, "hidraw", entry->d_name));
    const char* const node = hidraw ? udev_device_get_devnode(hidraw.get()) : nullptr;
    if (node == nullptr) continue;
    InterfaceInfo info{
        .path = node, .vendor_id = hid->ids.vendor_id, .product_id = hid->ids.product_id};
    // What an open's serial query would read, read without opening: the first
    // open of a USB HID node waits for the device to settle, and a search
    // would pay that for every device attached. A node this user may not
    // open is left unknown, so that the open still tells why, and a search
    // lists no more than it did when it opened every node.
    if (::faccessat(AT_FDCWD, node, R_OK | W_OK, AT_EACCESS) == 0) {
      const std::optional<std::string> serial = SerialOf(HidParent(hidraw.get()));
      info.serial_listed = serial ? ListedSerial::kKnown : ListedSerial::kNone;
      if (serial) info.serial = Utf8ToUtf16(*serial);
    }
    found.push_back({hid->instance, std::string(name), std::move(info)});
  }
  if (errno != 0) return kFailure;
  std::ranges::sort(found, [](const Found& a, const Found& b) {
    return std::tie(a.instance, a.name) < std::tie(b.instance, b.name);
  });
  for (Found& f : found) out.push_back(std::move(f.info));
  return kSuccess;
}

std::uint32_t LinuxHidraw::DoOpen(const std::string& path, OpenMode mode) {
  open_error_ = OpenError::kOther;
  // Ids are never reused; once they run out no more opens succeed.
  if (next_id_ == 0) return 0;
  // Non-blocking in both modes: reads poll, and a path that turns out to be a
  // FIFO or a terminal can neither stall the open nor become ours.
  detail::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.valid()) {
    open_error_ = OpenErrorOf(errno);
    return 0;
  }
  hidraw_devinfo info{};
  // No hidraw node (ENOTTY), or one unplugged since the open (ENODEV).
  if (::ioctl(fd.get(), HIDIOCGRAWINFO, &info) < 0) {
    open_error_ = OpenErrorOf(errno);
    return 0;
  }
  open_error_ = OpenError::kNone;
  const std::uint32_t id = next_id_++;
  Device& device = devices_[id];
  device.fd = std::move(fd);
  device.mode = mode;
  return id;
}

OpenError LinuxHidraw::DoLastOpenError() const { return open_error_; }

Result LinuxHidraw::DoClose(std::uint32_t id) {
  return devices_.erase(id) == 1 ? kSuccess : kFailure;
}

// Ids and serial from the HID device, maker, product and release from its USB
// device; a device without one (uhid, Bluetooth) has no maker, its HID name as
// the product and release 0. The open descriptor keeps the node's number
// reserved, so what udev finds under it is still our device or nothing.
bool LinuxHidraw::LoadIdentity(Device& device) {
  if (device.identity) return true;
  if (udev_ == nullptr) return false;
  struct stat node {};
  if (::fstat(device.fd.get(), &node) != 0 || !S_ISCHR(node.st_mode)) return false;
  const UdevDevice hidraw(udev_device_new_from_devnum(udev_, 'c', node.st_rdev));
  if (!hidraw) return false;
  udev_device* const hid = HidParent(hidraw.get());
  const std::optional<detail::HidIds> ids = IdsOf(hid);
  if (!ids) return false;

  Device::Identity identity;
  identity.attributes.VendorID = ids->vendor_id;
  identity.attributes.ProductID = ids->product_id;
  identity.serial = SerialOf(hid);
  udev_device* const usb =
      ids->bus == kBusUsb ? udev_device_get_parent_with_subsystem_devtype(hid, "usb", "usb_device")
                          : nullptr;
  if (usb == nullptr) {
    identity.manufacturer = std::string();
    identity.product = Text(udev_device_get_property_value(hid, "HID_NAME"));
  } else {
    identity.manufacturer = Text(udev_device_get_sysattr_value(usb, "manufacturer"));
    identity.product = Text(udev_device_get_sysattr_value(usb, "product"));
    const std::string release = Text(udev_device_get_sysattr_value(usb, "bcdDevice")).value_or("");
    std::uint16_t bcd = 0;
    std::from_chars(release.data(), release.data() + release.size(), bcd, 16);
    identity.attributes.VersionNumber = bcd;
  }
  device.identity = std::move(identity);
  return true;
}

Result LinuxHidraw::DoGetAttributes(std::uint32_t id, HidAttributes& out) {
  Device* const device = Find(id);
  if (device == nullptr || !LoadIdentity(*device)) return kFailure;
  out = device->identity->attributes;
  return kSuccess;
}

Result LinuxHidraw::GetString(std::uint32_t id, StringKind kind, std::span<std::uint8_t> buffer) {
  Device* const device = Find(id);
  if (device == nullptr || !LoadIdentity(*device)) return kFailure;
  const Device::Identity& identity = *device->identity;
  const std::optional<std::string>& text = kind == StringKind::kSerialNumber ? identity.serial
                                           : kind == StringKind::kManufacturer
                                               ? identity.manufacturer
                                               : identity.product;
  if (!text) return kFailure;
  PutDeviceString(Utf8ToUtf16(*text), buffer);
  return kSuccess;
}

Result LinuxHidraw::DoGetSerialNumberString(std::uint32_t id, std::span<std::uint8_t> buffer) {
  return GetString(id, StringKind::kSerialNumber, buffer);
}

Result LinuxHidraw::DoGetManufacturerString(std::uint32_t id, std::span<std::uint8_t> buffer) {
  return GetString(id, StringKind::kManufacturer, buffer);
}

Result LinuxHidraw::DoGetProductString(std::uint32_t id, std::span<std::uint8_t> buffer) {
  return GetString(id, StringKind::kProduct, buffer);
}

bool LinuxHidraw::LoadCaps(Device& device) {
  if (device.caps) return true;
  int size = 0;
  if (::ioctl(device.fd.get(), HIDIOCGRDESCSIZE, &size) < 0 || size <= 0) return false;
  auto descriptor = std::make_unique<hidraw_report_descriptor>();
  descriptor->size =
      std::min<std::uint32_t>(static_cast<std::uint32_t>(size), HID_MAX_DESCRIPTOR_SIZE);
  if (::ioctl(device.fd.get(), HIDIOCGRDESC, descriptor.get()) < 0) return false;
  const std::optional<DescriptorSummary> summary =
      ParseReportDescriptor(std::span(descriptor->value).first(descriptor->size));
  if (!summary) return false;
  device.caps = InterfaceCaps(*summary);
  device.uses_report_ids = summary->uses_report_ids;
  return true;
}

Result LinuxHidraw::DoGetCaps(std::uint32_t id, HidCaps& out) {
  Device* const device = Find(id);
  if (device == nullptr || !LoadCaps(*device)) return kFailure;
  out = *device->caps;
  return kSuccess;
}

Result LinuxHidraw::DoGetFeature(std::uint32_t id, std::span<std::uint8_t> report) {
  Device* const device = Find(id);
  if (device == nullptr || report.empty() || report.size() > kMaxIoctlBytes) return kFailure;
  const int n = ::ioctl(device->fd.get(), HIDIOCGFEATURE(report.size()), report.data());
  if (n < 0) return kFailure;
  // The device's own length may be shorter than asked; never pad with old bytes.
  const std::size_t got = std::min(static_cast<std::size_t>(n), report.size());
  std::ranges::fill(report.subspan(got), std::uint8_t{0});
  return kSuccess;
}

Result LinuxHidraw::DoSetFeature(std::uint32_t id, std::span<const std::uint8_t> report) {
  Device* const device = Find(id);
  if (device == nullptr || report.empty() || report.size() > kMaxIoctlBytes) return kFailure;
  // The count is what the device took; a report it took only part of did not land.
  const int n = ::ioctl(device->fd.get(), HIDIOCSFEATURE(report.size()), report.data());
  return n >= 0 && static_cast<std::size_t>(n) == report.size() ? kSuccess : kFailure;
}

Result LinuxHidraw::DoReadInput(std::uint32_t id, const ReadOverlapped& /*overlapped*/,
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
    // hidraw hands out one whole report per read.
    const ssize_t n = ::read(device->fd.get(), scratch.data(), scratch.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    // A device that errors mid-drain (EIO, ENODEV: unplugged) is gone; what
    // was drained is of no use.
    if (n < 0) return kFailure;
    if (n == 0) break;
    window.Append(scratch.first(std::min(static_cast<std::size_t>(n), scratch.size())),
                  !device->uses_report_ids);
  }
  if (window.reports() == 0) return kFailure;
  count = static_cast<std::uint32_t>(window.bytes());
  return kSuccess;
}

EventId LinuxHidraw::DoCreateReadEvent() {
  // No OS event exists on this backend; the token only has to be non-zero.
  const EventId event = next_event_++;
  if (next_event_ == 0) next_event_ = 1;
  return event;
}

std::unique_ptr<HidPlatform> MakeRealHid() { return std::make_unique<LinuxHidraw>(); }

}  // namespace tensivo::platform
