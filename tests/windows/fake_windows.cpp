#include "fake_windows.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>

namespace tensivo::windows_testing {

namespace {

FakeWindows* g_system = nullptr;

constexpr std::uint16_t kInputLength = 17;
constexpr std::uint16_t kFeatureLength = 19;
constexpr std::uintptr_t kPreparsedBase = 0x700000;

}  // namespace

FakeWindows::FakeWindows() { g_system = this; }
FakeWindows::~FakeWindows() { g_system = nullptr; }

platform::WindowsHidCalls FakeWindows::Calls() {
  platform::WindowsHidCalls calls;
  calls.HidD_GetHidGuid = [](LPGUID guid) { g_system->HidGuid(guid); };
  calls.SetupDiGetClassDevsA = [](const GUID* guid, PCSTR, HWND, DWORD flags) {
    return g_system->ClassDevs(guid, flags);
  };
  calls.SetupDiEnumDeviceInterfaces = [](HDEVINFO set, PSP_DEVINFO_DATA, const GUID* guid,
                                         DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    return g_system->EnumInterfaces(set, guid, index, data);
  };
  calls.SetupDiGetDeviceInterfaceDetailA = [](HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                              PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                              PDWORD required, PSP_DEVINFO_DATA) {
    return g_system->InterfaceDetail(set, data, detail, size, required);
  };
  calls.SetupDiDestroyDeviceInfoList = [](HDEVINFO set) { return g_system->DestroyList(set); };
  calls.CreateFileA = [](LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                         DWORD flags, HANDLE) { return g_system->Open(path, access, flags); };
  calls.CloseHandle = [](HANDLE handle) { return g_system->Close(handle); };
  calls.HidD_GetAttributes = [](HANDLE handle, PHIDD_ATTRIBUTES attributes) {
    return g_system->Attributes(handle, attributes);
  };
  calls.HidD_GetSerialNumberString = [](HANDLE handle, PVOID buffer, ULONG size) {
    return g_system->String(handle, &Device::serial, buffer, size);
  };
  calls.HidD_GetManufacturerString = [](HANDLE handle, PVOID buffer, ULONG size) {
    return g_system->String(handle, &Device::manufacturer, buffer, size);
  };
  calls.HidD_GetProductString = [](HANDLE handle, PVOID buffer, ULONG size) {
    return g_system->String(handle, &Device::product, buffer, size);
  };
  calls.HidD_GetPreparsedData = [](HANDLE handle, PHIDP_PREPARSED_DATA* data) {
    return g_system->Preparsed(handle, data);
  };
  calls.HidP_GetCaps = [](PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps) {
    return g_system->Caps(data, caps);
  };
  calls.HidD_FreePreparsedData = [](PHIDP_PREPARSED_DATA data) {
    return g_system->FreePreparsed(data);
  };
  calls.HidD_GetFeature = [](HANDLE handle, PVOID buffer, ULONG size) {
    return g_system->GetFeature(handle, buffer, size);
  };
  calls.HidD_SetFeature = [](HANDLE handle, PVOID buffer, ULONG size) {
    return g_system->SetFeature(handle, buffer, size);
  };
  calls.CreateEventA = [](LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) { return g_system->Event(); };
  calls.ReadFile = [](HANDLE handle, LPVOID buffer, DWORD size, LPDWORD, LPOVERLAPPED overlapped) {
    return g_system->Read(handle, buffer, size, overlapped);
  };
  calls.GetOverlappedResult = [](HANDLE handle, LPOVERLAPPED overlapped, LPDWORD bytes, BOOL wait) {
    return g_system->Result(handle, overlapped, bytes, wait);
  };
  calls.CancelIo = [](HANDLE handle) { return g_system->Cancel(handle); };
  return calls;
}

int FakeWindows::AddOurs(std::u16string serial) {
  Device device;
  device.serial = std::move(serial);
  device.model.set_input_mask(0x08);
  device.path = "\\\\?\\hid#vid_e31a&pid_5c07#" + std::to_string(devices_.size()) +
                "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  devices_.push_back(std::move(device));
  return static_cast<int>(devices_.size()) - 1;
}

int FakeWindows::AddForeign(bool ids_in_path) {
  Device device;
  device.vendor_id = 0x845E;
  device.product_id = 0x0002;
  device.serial = u"0000";
  device.path = ids_in_path
                    ? "\\\\?\\HID#VID_845E&PID_0002#0&0000&0&0#{4d1e55b2}"
                    : "\\\\?\\hid#{00001812-0000-1000-8000-00805f9b34fb}_dev_vid&02845e_pid&"
                      "0002_rev&0001#" +
                          std::to_string(devices_.size()) + "#{4d1e55b2}";
  devices_.push_back(std::move(device));
  return static_cast<int>(devices_.size()) - 1;
}

void FakeWindows::Detach(int index) { device(index).attached = false; }

void FakeWindows::Attach(int index) {
  Device& d = device(index);
  if (d.attached) return;
  d.attached = true;
  ++d.generation;  // handles to the old plug-in stay dead
  d.input.clear();
}

void FakeWindows::Push(int index, const Bytes& report) {
  device(index).input.push_back(report);
  for (auto& [value, handle] : handles_) {
    if (handle.device == index && handle.pending && !handle.cancelled) Complete(handle, 0);
  }
}

int FakeWindows::open_handles() const { return static_cast<int>(handles_.size()); }

bool FakeWindows::Begin() {
  ++calls_;
  if (unplug_at_ == calls_) Detach(unplug_index_);
  if (fail_at_ != calls_) return false;
  SetLastError(ERROR_GEN_FAILURE);
  return true;
}

FakeWindows::Handle* FakeWindows::Live(HANDLE handle, bool io) {
  const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == handles_.end() || it->second.device < 0) {
    ++misuse_;
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const Device& d = device(it->second.device);
  if (io && (d.vendor_id != 0xE31A || it->second.access == 0)) ++foreign_io_;
  if (!d.attached || d.generation != it->second.generation) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return nullptr;
  }
  return &it->second;
}

void FakeWindows::Complete(Handle& handle, DWORD error) {
  Device& d = device(handle.device);
  handle.pending = false;
  handle.error = error;
  handle.read->InternalHigh = 0;
  if (error == 0 && !d.input.empty()) {
    // The system writes the report into the reader's memory, whenever it comes.
    const Bytes report = d.input.front();
    d.input.pop_front();
    const std::size_t n = std::min<std::size_t>(report.size(), handle.read_size);
    std::memcpy(handle.read_into, report.data(), n);
    handle.read->InternalHigh = n;
  }
}

void FakeWindows::HidGuid(LPGUID guid) {
  Begin();  // returns nothing, so it cannot fail
  *guid = GUID{0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
}

HDEVINFO FakeWindows::ClassDevs(const GUID*, DWORD flags) {
  if (Begin()) return INVALID_HANDLE_VALUE;
  if (flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) ++misuse_;
  std::vector<int> present;
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    if (devices_[i].attached) present.push_back(static_cast<int>(i));
  }
  const std::uintptr_t set = next_handle_ += 4;
  sets_[set] = present;
  return reinterpret_cast<HDEVINFO>(set);
}

BOOL FakeWindows::EnumInterfaces(HDEVINFO set, const GUID*, DWORD index,
                                 PSP_DEVICE_INTERFACE_DATA data) {
  if (Begin()) return FALSE;
  const auto it = sets_.find(reinterpret_cast<std::uintptr_t>(set));
  if (it == sets_.end() || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    ++misuse_;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (index >= it->second.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  data->Reserved = static_cast<ULONG_PTR>(it->second[index]);
  return TRUE;
}

BOOL FakeWindows::InterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                  PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                  PDWORD required) {
  if (Begin()) return FALSE;
  if (!sets_.contains(reinterpret_cast<std::uintptr_t>(set))) ++misuse_;
  const std::string& path = device(static_cast<int>(data->Reserved)).path;
  const DWORD need =
      static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
  if (required != nullptr) *required = need;
  if (detail == nullptr || size < need) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
  return TRUE;
}

BOOL FakeWindows::DestroyList(HDEVINFO set) {
  Begin();  // frees memory: as good as never fails
  if (sets_.erase(reinterpret_cast<std::uintptr_t>(set)) == 0) ++misuse_;
  return TRUE;
}

HANDLE FakeWindows::Open(LPCSTR path, DWORD access, DWORD flags) {
  if (Begin()) return INVALID_HANDLE_VALUE;
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    const Device& d = devices_[i];
    if (d.path != path) continue;
    if (!d.attached) break;
    if (d.vendor_id != 0xE31A && access != 0) ++foreign_io_;
    const std::uintptr_t handle = next_handle_ += 4;
    handles_[handle] = Handle{.device = static_cast<int>(i),
                              .generation = d.generation,
                              .access = access,
                              .overlapped = (flags & FILE_FLAG_OVERLAPPED) != 0};
    return reinterpret_cast<HANDLE>(handle);
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return INVALID_HANDLE_VALUE;
}

BOOL FakeWindows::Close(HANDLE handle) {
  // A close that reports a failure still closes: only wrong handles fail.
  const bool fail = Begin();
  const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == handles_.end()) {
    ++misuse_;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (it->second.pending) ++closed_while_reading_;
  handles_.erase(it);
  return fail ? FALSE : TRUE;
}

BOOLEAN FakeWindows::Attributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
  if (Begin()) return FALSE;
  const Handle* h = Live(handle, false);
  if (h == nullptr || attributes->Size != sizeof(HIDD_ATTRIBUTES)) return FALSE;
  const Device& d = device(h->device);
  attributes->VendorID = d.vendor_id;
  attributes->ProductID = d.product_id;
  attributes->VersionNumber = d.version;
  return TRUE;
}

BOOLEAN FakeWindows::String(HANDLE handle, const std::u16string Device::*which, PVOID buffer,
                            ULONG size) {
  if (Begin()) return FALSE;
  const Handle* h = Live(handle, true);
  if (h == nullptr) return FALSE;
  const std::u16string& text = device(h->device).*which;
  const auto out = std::span(static_cast<std::uint8_t*>(buffer), size);
  std::size_t at = 0;
  for (std::size_t i = 0; i <= text.size() && at + 2 <= out.size(); ++i, at += 2) {
    const char16_t unit = i < text.size() ? text[i] : u'\0';
    out[at] = static_cast<std::uint8_t>(unit & 0xFF);
    out[at + 1] = static_cast<std::uint8_t>(unit >> 8);
  }
  return TRUE;
}

BOOLEAN FakeWindows::Preparsed(HANDLE handle, PHIDP_PREPARSED_DATA* data) {
  if (Begin()) return FALSE;
  const Handle* h = Live(handle, false);
  if (h == nullptr) return FALSE;
  ++preparsed_held_;
  *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(kPreparsedBase +
                                                 static_cast<std::uintptr_t>(h->device));
  return TRUE;
}

NTSTATUS FakeWindows::Caps(PHIDP_PREPARSED_DATA, PHIDP_CAPS caps) {
  if (Begin()) return HIDP_STATUS_INVALID_PREPARSED_DATA;
  *caps = HIDP_CAPS{};
  caps->UsagePage = 0xFF00;
  caps->Usage = 1;
  caps->InputReportByteLength = kInputLength;
  caps->FeatureReportByteLength = kFeatureLength;
  return HIDP_STATUS_SUCCESS;
}

BOOLEAN FakeWindows::FreePreparsed(PHIDP_PREPARSED_DATA data) {
  Begin();  // frees memory: as good as never fails
  if (reinterpret_cast<std::uintptr_t>(data) < kPreparsedBase || preparsed_held_ == 0) ++misuse_;
  --preparsed_held_;
  return TRUE;
}

BOOLEAN FakeWindows::GetFeature(HANDLE handle, PVOID buffer, ULONG size) {
  if (Begin()) return FALSE;
  Handle* h = Live(handle, true);
  if (h == nullptr || size != kFeatureLength) return FALSE;
  const auto report = std::span(static_cast<std::uint8_t*>(buffer), size);
  device(h->device).model.NextFeatureReply(report.subspan(1));
  return TRUE;
}

BOOLEAN FakeWindows::SetFeature(HANDLE handle, PVOID buffer, ULONG size) {
  if (Begin()) return FALSE;
  Handle* h = Live(handle, true);
  if (h == nullptr || size != kFeatureLength) return FALSE;
  const auto report = std::span(static_cast<const std::uint8_t*>(buffer), size);
  writes_.push_back(Write{h->device, Bytes(report.begin(), report.end())});
  device(h->device).model.ApplyFeatureWrite(report.subspan(1));
  return TRUE;
}

HANDLE FakeWindows::Event() {
  if (Begin()) return nullptr;
  const std::uintptr_t handle = next_handle_ += 4;
  handles_[handle] = Handle{.device = -1, .generation = 0, .access = 0, .overlapped = false};
  return reinterpret_cast<HANDLE>(handle);
}

BOOL FakeWindows::Read(HANDLE handle, LPVOID buffer, DWORD size, LPOVERLAPPED overlapped) {
  if (Begin()) return FALSE;
  Handle* h = Live(handle, true);
  if (h == nullptr) return FALSE;
  // A read on a plain handle would block; a second one would share memory.
  if (!h->overlapped || overlapped == nullptr || h->pending) {
    ++misuse_;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  h->read = overlapped;
  h->read_into = static_cast<std::uint8_t*>(buffer);
  h->read_size = size;
  h->pending = true;
  h->cancelled = false;
  if (!device(h->device).input.empty()) {
    Complete(*h, 0);
    return TRUE;
  }
  SetLastError(ERROR_IO_PENDING);
  return FALSE;
}

BOOL FakeWindows::Result(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD bytes, BOOL wait) {
  // An injected failure is a read that ended in an error: it is over.
  const bool fail = Begin();
  const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == handles_.end() || it->second.read != overlapped) {
    ++misuse_;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Handle& h = it->second;
  const Device& d = device(h.device);
  if (h.pending) {
    if (fail) {
      Complete(h, ERROR_GEN_FAILURE);
    } else if (h.cancelled) {
      Complete(h, ERROR_OPERATION_ABORTED);
    } else if (!d.attached || d.generation != h.generation) {
      Complete(h, ERROR_DEVICE_NOT_CONNECTED);
    } else if (wait) {
      ++blocked_waits_;  // nothing would ever come: the host hangs here
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    } else {
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
  }
  *bytes = static_cast<DWORD>(overlapped->InternalHigh);
  if (h.error != 0 || fail) {
    SetLastError(fail ? ERROR_GEN_FAILURE : h.error);
    return FALSE;
  }
  return TRUE;
}

BOOL FakeWindows::Cancel(HANDLE handle) {
  Begin();  // fails only for a handle that is not one, as the system's does
  const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == handles_.end()) {
    ++misuse_;
    return FALSE;
  }
  if (it->second.pending) it->second.cancelled = true;
  return TRUE;
}

}  // namespace tensivo::windows_testing
