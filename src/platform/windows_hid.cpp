#include "platform/windows_hid.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <string>

#include "platform/real_hid.h"
#include "platform/report_window.h"

namespace tensivo::platform {

namespace {

// Bounds one read call so that a device flooding reports cannot stall the
// UI; the same bound as on Linux.
constexpr int kMaxReadsPerCall = 512;

// No entry path comes near this; a larger size reported is a fault.
constexpr DWORD kMaxDetailBytes = 64 * 1024;

// Handles and events of this backend are not inherited by child processes,
// as on Linux.
SECURITY_ATTRIBUTES NotInherited() {
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof(security);
  security.lpSecurityDescriptor = nullptr;
  security.bInheritHandle = FALSE;
  return security;
}

std::optional<std::uint16_t> Hex4(std::string_view text) {
  if (text.size() < 4) return std::nullopt;
  std::uint16_t value = 0;
  for (const char c : text.substr(0, 4)) {
    const int lower = std::tolower(static_cast<unsigned char>(c));
    int digit = 0;
    if (lower >= '0' && lower <= '9') {
      digit = lower - '0';
    } else if (lower >= 'a' && lower <= 'f') {
      digit = lower - 'a' + 10;
    } else {
      return std::nullopt;
    }
    value = static_cast<std::uint16_t>(value * 16 + digit);
  }
  return value;
}

}  // namespace

namespace detail {

OpenError OpenErrorFrom(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return OpenError::kPermissionDenied;
    case ERROR_SHARING_VIOLATION:
      return OpenError::kBusy;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
      return OpenError::kGone;
    default:
      return OpenError::kOther;
  }
}

std::optional<UsbIds> IdsFromPath(std::string_view path) {
  std::string lower(path);
  std::ranges::transform(lower, lower.begin(),
                         [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::string_view text(lower);
  for (std::size_t at = text.find("vid_"); at != std::string_view::npos;
       at = text.find("vid_", at + 1)) {
    const std::string_view rest = text.substr(at + 4);
    const auto vendor = Hex4(rest);
    if (!vendor || rest.substr(4, 5) != "&pid_") continue;
    if (const auto product = Hex4(rest.substr(9))) return UsbIds{*vendor, *product};
  }
  return std::nullopt;
}

}  // namespace detail

WindowsHid::WindowsHid(const WindowsHidCalls& calls) : calls_(calls) {}

WindowsHid::~WindowsHid() {
  for (auto& [id, device] : devices_) {
    CancelRead(device);
    calls_.CloseHandle(device.handle);
  }
  for (const auto& [token, event] : events_) calls_.CloseHandle(event);
}

WindowsHid::Device* WindowsHid::Find(std::uint32_t id) {
  const auto it = devices_.find(id);
  return it == devices_.end() ? nullptr : &it->second;
}

std::optional<std::string> WindowsHid::InterfacePath(HDEVINFO set,
                                                     SP_DEVICE_INTERFACE_DATA& entry) {
  // The first query only tells the size; it fails by design.
  DWORD required = 0;
  calls_.SetupDiGetDeviceInterfaceDetailA(set, &entry, nullptr, 0, &required, nullptr);
  if (required <= offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) ||
      required > kMaxDetailBytes) {
    return std::nullopt;
  }
  // One byte more than asked for, all zero, so the path always ends inside.
  std::vector<DWORD> storage((required + 1 + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
  // The record's fixed part as this build lays it out: 8 bytes on x64, 5 on
  // x86. setupapi refuses any other value.
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!calls_.SetupDiGetDeviceInterfaceDetailA(set, &entry, detail, required, nullptr, nullptr)) {
    return std::nullopt;
  }
  const std::size_t room = required + 1 - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  return std::string(detail->DevicePath, strnlen(detail->DevicePath, room));
}

std::optional<detail::UsbIds> WindowsHid::QueryIds(const std::string& path) {
  // Access 0 asks the device nothing and reads or writes nothing: enough for
  // its attributes, and no disturbance to a device that is not ours.
  SECURITY_ATTRIBUTES security = NotInherited();
  HANDLE query = calls_.CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                                    OPEN_EXISTING, 0, nullptr);
  if (query == INVALID_HANDLE_VALUE || query == nullptr) return std::nullopt;
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof(attributes);
  const bool read = calls_.HidD_GetAttributes(query, &attributes) != FALSE;
  calls_.CloseHandle(query);
  if (!read) return std::nullopt;
  return detail::UsbIds{attributes.VendorID, attributes.ProductID};
}

Result WindowsHid::DoEnumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                               std::vector<InterfaceInfo>& out) {
  GUID hid_class{};
  calls_.HidD_GetHidGuid(&hid_class);
  HDEVINFO set = calls_.SetupDiGetClassDevsA(&hid_class, nullptr, nullptr,
                                             DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return kFailure;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA entry{};
    entry.cbSize = sizeof(entry);  // 32 on x64, 28 on x86
    if (!calls_.SetupDiEnumDeviceInterfaces(set, nullptr, &hid_class, index, &entry)) break;
    std::optional<std::string> path = InterfacePath(set, entry);
    if (!path) continue;
    std::optional<detail::UsbIds> ids = detail::IdsFromPath(*path);
    if (!ids) ids = QueryIds(*path);
    if (!ids) continue;
    if (vendor_id != 0 && ids->vendor_id != vendor_id) continue;
    if (product_id != 0 && ids->product_id != product_id) continue;
    out.push_back(InterfaceInfo{
        .path = std::move(*path), .vendor_id = ids->vendor_id, .product_id = ids->product_id});
  }
  calls_.SetupDiDestroyDeviceInfoList(set);
  return kSuccess;
}

std::uint32_t WindowsHid::DoOpen(const std::string& path, OpenMode mode) {
  // Ids are never reused; once they run out no more opens succeed.
  if (next_id_ == 0) {
    last_open_error_ = OpenError::kOther;
    return 0;
  }
  SECURITY_ATTRIBUTES security = NotInherited();
  HANDLE handle = calls_.CreateFileA(
      path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
      OPEN_EXISTING, mode == OpenMode::kOverlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
    last_open_error_ = detail::OpenErrorFrom(GetLastError());
    return 0;
  }
  last_open_error_ = OpenError::kNone;
  const std::uint32_t id = next_id_++;
  devices_[id] = Device{.handle = handle, .mode = mode, .read = nullptr};
  return id;
}

// A read the system may still write into is cancelled and waited for before
// its memory or its handle goes: closing a handle at once, as the readers
// of old did, left the report to land in a freed buffer.
void WindowsHid::CancelRead(Device& device) {
  if (!device.read || !device.read->pending) return;
  calls_.CancelIo(device.handle);
  DWORD bytes = 0;
  calls_.GetOverlappedResult(device.handle, &device.read->overlapped, &bytes, TRUE);
  device.read->pending = false;
}

Result WindowsHid::DoClose(std::uint32_t id) {
  const auto it = devices_.find(id);
  if (it == devices_.end()) return kFailure;
  CancelRead(it->second);
  const Result result = calls_.CloseHandle(it->second.handle) ? kSuccess : kFailure;
  devices_.erase(it);
  return result;
}

Result WindowsHid::DoGetAttributes(std::uint32_t id, HidAttributes& out) {
  Device* const device = Find(id);
  if (device == nullptr) return kFailure;
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof(attributes);
  if (!calls_.HidD_GetAttributes(device->handle, &attributes)) return kFailure;
  out = HidAttributes{attributes.VendorID, attributes.ProductID, attributes.VersionNumber};
  return kSuccess;
}

Result WindowsHid::GetString(std::uint32_t id, std::span<std::uint8_t> buffer,
                             decltype(&::HidD_GetProductString) query) {
  Device* const device = Find(id);
  if (device == nullptr || buffer.empty()) return kFailure;
  return query(device->handle, buffer.data(), static_cast<ULONG>(buffer.size())) ? kSuccess
                                                                                 : kFailure;
}

Result WindowsHid::DoGetSerialNumberString(std::uint32_t id, std::span<std::uint8_t> buffer) {
  return GetString(id, buffer, calls_.HidD_GetSerialNumberString);
}

Result WindowsHid::DoGetManufacturerString(std::uint32_t id, std::span<std::uint8_t> buffer) {
  return GetString(id, buffer, calls_.HidD_GetManufacturerString);
}

Result WindowsHid::DoGetProductString(std::uint32_t id, std::span<std::uint8_t> buffer) {
  return GetString(id, buffer, calls_.HidD_GetProductString);
}

Result WindowsHid::DoGetCaps(std::uint32_t id, HidCaps& out) {
  Device* const device = Find(id);
  if (device == nullptr) return kFailure;
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!calls_.HidD_GetPreparsedData(device->handle, &preparsed)) return kFailure;
  HIDP_CAPS caps{};
  const NTSTATUS status = calls_.HidP_GetCaps(preparsed, &caps);
  calls_.HidD_FreePreparsedData(preparsed);
  if (status != HIDP_STATUS_SUCCESS) return kFailure;
  out = HidCaps{caps.Usage, caps.UsagePage, caps.InputReportByteLength, caps.OutputReportByteLength,
                caps.FeatureReportByteLength};
  return kSuccess;
}

Result WindowsHid::DoGetFeature(std::uint32_t id, std::span<std::uint8_t> report) {
  Device* const device = Find(id);
  if (device == nullptr || report.empty()) return kFailure;
  return calls_.HidD_GetFeature(device->handle, report.data(), static_cast<ULONG>(report.size()))
             ? kSuccess
             : kFailure;
}

Result WindowsHid::DoSetFeature(std::uint32_t id, std::span<const std::uint8_t> report) {
  Device* const device = Find(id);
  if (device == nullptr || report.empty()) return kFailure;
  // The call takes the report as writable memory; it gets a copy.
  std::vector<std::uint8_t> copy(report.begin(), report.end());
  return calls_.HidD_SetFeature(device->handle, copy.data(), static_cast<ULONG>(copy.size()))
             ? kSuccess
             : kFailure;
}

// Each read on Windows completes with one report. Reads go on while they
// complete at once; the first that does not is left pending and collected by
// a later call, so a report that arrives meanwhile is not lost.
Result WindowsHid::DoReadInput(std::uint32_t id, const ReadOverlapped& overlapped,
                               std::span<std::uint8_t> buffer, std::uint32_t& count) {
  count = 0;
  Device* const device = Find(id);
  // A plain handle would block until a report came.
  if (device == nullptr || device->mode != OpenMode::kOverlapped || buffer.empty()) {
    return kFailure;
  }
  if (!device->read) device->read = std::make_unique<InputRead>();
  InputRead& read = *device->read;
  const auto event = events_.find(overlapped.hEvent);

  ReportWindow window(buffer);
  for (int i = 0; i < kMaxReadsPerCall; ++i) {
    if (!read.pending) {
      read.report.assign(buffer.size(), 0);
      read.overlapped = OVERLAPPED{};
      read.overlapped.Offset = overlapped.Offset;
      read.overlapped.OffsetHigh = overlapped.OffsetHigh;
      read.overlapped.hEvent = event != events_.end() ? event->second : nullptr;
      if (!calls_.ReadFile(device->handle, read.report.data(),
                           static_cast<DWORD>(read.report.size()), nullptr, &read.overlapped) &&
          GetLastError() != ERROR_IO_PENDING) {
        return kFailure;  // the device is gone; what was drained is of no use
      }
      read.pending = true;
    }
    DWORD bytes = 0;
    if (!calls_.GetOverlappedResult(device->handle, &read.overlapped, &bytes, FALSE)) {
      if (GetLastError() == ERROR_IO_INCOMPLETE) break;
      read.pending = false;
      return kFailure;
    }
    read.pending = false;
    window.Append(std::span(read.report).first(std::min<std::size_t>(bytes, read.report.size())));
  }
  if (window.reports() == 0) return kFailure;
  count = static_cast<std::uint32_t>(window.bytes());
  return kSuccess;
}

EventId WindowsHid::DoCreateReadEvent() {
  if (next_event_ == 0) return 0;
  SECURITY_ATTRIBUTES security = NotInherited();
  // Manual reset and signalled, as every read expects it: each read resets it.
  HANDLE event = calls_.CreateEventA(&security, TRUE, TRUE, nullptr);
  if (event == nullptr) return 0;
  const EventId token = next_event_++;
  events_[token] = event;
  return token;
}

std::unique_ptr<HidPlatform> MakeRealHid() { return std::make_unique<WindowsHid>(); }

}  // namespace tensivo::platform
