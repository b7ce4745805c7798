// The real backend on Windows: HID interfaces through setupapi, hid.dll and
// kernel32's overlapped file reads.
#pragma once

#include <windows.h>
// These build on windows.h.
#include <setupapi.h>
// mingw's HID headers declare C functions without saying so.
extern "C" {
#include <hidsdi.h>
}

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/hid_platform.h"

namespace tensivo::platform {

// Every system call the backend makes, each with the system's own
// signature. Tests stand in for the system through it; the program takes
// the defaults.
struct WindowsHidCalls {
  decltype(&::HidD_GetHidGuid) HidD_GetHidGuid = &::HidD_GetHidGuid;
  decltype(&::SetupDiGetClassDevsA) SetupDiGetClassDevsA = &::SetupDiGetClassDevsA;
  decltype(&::SetupDiEnumDeviceInterfaces) SetupDiEnumDeviceInterfaces =
      &::SetupDiEnumDeviceInterfaces;
  decltype(&::SetupDiGetDeviceInterfaceDetailA) SetupDiGetDeviceInterfaceDetailA =
      &::SetupDiGetDeviceInterfaceDetailA;
  decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList =
      &::SetupDiDestroyDeviceInfoList;
  decltype(&::CreateFileA) CreateFileA = &::CreateFileA;
  decltype(&::CloseHandle) CloseHandle = &::CloseHandle;
  decltype(&::HidD_GetAttributes) HidD_GetAttributes = &::HidD_GetAttributes;
  decltype(&::HidD_GetSerialNumberString) HidD_GetSerialNumberString =
      &::HidD_GetSerialNumberString;
  decltype(&::HidD_GetManufacturerString) HidD_GetManufacturerString =
      &::HidD_GetManufacturerString;
  decltype(&::HidD_GetProductString) HidD_GetProductString = &::HidD_GetProductString;
  decltype(&::HidD_GetPreparsedData) HidD_GetPreparsedData = &::HidD_GetPreparsedData;
  decltype(&::HidP_GetCaps) HidP_GetCaps = &::HidP_GetCaps;
  decltype(&::HidD_FreePreparsedData) HidD_FreePreparsedData = &::HidD_FreePreparsedData;
  decltype(&::HidD_GetFeature) HidD_GetFeature = &::HidD_GetFeature;
  decltype(&::HidD_SetFeature) HidD_SetFeature = &::HidD_SetFeature;
  decltype(&::CreateEventA) CreateEventA = &::CreateEventA;
  decltype(&::ReadFile) ReadFile = &::ReadFile;
  decltype(&::GetOverlappedResult) GetOverlappedResult = &::GetOverlappedResult;
  decltype(&::CancelIo) CancelIo = &::CancelIo;
};

namespace detail {

struct UsbIds {
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
};

// Why CreateFileA failed, from its last error.
OpenError OpenErrorFrom(DWORD error);

// The "vid_XXXX&pid_XXXX" of an interface path, in any case; none when the
// path has no such part (Bluetooth LE paths, for one).
std::optional<UsbIds> IdsFromPath(std::string_view path);

}  // namespace detail

class WindowsHid final : public HidPlatform {
 public:
  explicit WindowsHid(const WindowsHidCalls& calls = {});
  ~WindowsHid() override;
  WindowsHid(const WindowsHid&) = delete;
  WindowsHid& operator=(const WindowsHid&) = delete;

 protected:
  Result DoEnumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                     std::vector<InterfaceInfo>& out) override;
  std::uint32_t DoOpen(const std::string& path, OpenMode mode) override;
  OpenError DoLastOpenError() const override { return last_open_error_; }
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
  // An overlapped read and the memory the system writes its report into;
  // both stay where they are until the read has completed or been cancelled.
  struct InputRead {
    OVERLAPPED overlapped{};
    std::vector<std::uint8_t> report;
    bool pending = false;
  };
  struct Device {
    HANDLE handle = INVALID_HANDLE_VALUE;
    OpenMode mode = OpenMode::kPlain;
    std::unique_ptr<InputRead> read;
  };

  Device* Find(std::uint32_t id);
  // The three string queries differ only in which hid.dll call they make.
  Result GetString(std::uint32_t id, std::span<std::uint8_t> buffer,
                   decltype(&::HidD_GetProductString) query);
  std::optional<std::string> InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& entry);
  std::optional<detail::UsbIds> QueryIds(const std::string& path);
  void CancelRead(Device& device);

  WindowsHidCalls calls_;
  std::map<std::uint32_t, Device> devices_;
  std::map<EventId, HANDLE> events_;
  std::uint32_t next_id_ = 1;
  EventId next_event_ = 1;
  OpenError last_open_error_ = OpenError::kNone;
};

}  // namespace tensivo::platform
