// A stand-in for setupapi, hid.dll and kernel32's file calls beneath the
// Windows backend: devices of our kind (each running the device model) and
// a foreign one, handles, overlapped reads that complete now or later, and
// any call failing or the device unplugged at any call. It records what a
// host must never do: use a handle it does not hold, close one twice, close
// one while a read may still write into its memory, or read or write a
// device that is not ours.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/windows_hid.h"
#include "sim/device_model.h"

namespace tensivo::windows_testing {

using Bytes = std::vector<std::uint8_t>;

class FakeWindows {
 public:
  struct Device {
    std::string path;
    std::uint16_t vendor_id = 0xE31A;
    std::uint16_t product_id = 0x5C07;
    std::u16string serial;
    std::u16string manufacturer = u"Tensivo";
    std::u16string product = u"Load Cell Interface";
    std::uint16_t version = 0x0101;
    sim::DeviceModel model;
    bool attached = true;
    int generation = 0;
    std::deque<Bytes> input;  // reports queued for the next reads
  };

  FakeWindows();  // becomes the system the calls below reach
  ~FakeWindows();
  FakeWindows(const FakeWindows&) = delete;
  FakeWindows& operator=(const FakeWindows&) = delete;

  // The calls to hand the backend.
  static platform::WindowsHidCalls Calls();

  int AddOurs(std::u16string serial);
  // Another maker's device; with `ids_in_path` false its path names no ids,
  // as Bluetooth LE paths do.
  int AddForeign(bool ids_in_path);
  Device& device(int index) { return devices_.at(static_cast<std::size_t>(index)); }
  void Detach(int index);
  void Attach(int index);
  // One report for every read from now on, completing a pending one.
  void Push(int index, const Bytes& report);

  // --- faults: numbered calls, counted from the first ---
  void FailCall(std::uint64_t number) { fail_at_ = number; }
  void UnplugAtCall(int index, std::uint64_t number) {
    unplug_index_ = index;
    unplug_at_ = number;
  }
  void ClearFaults() { fail_at_ = unplug_at_ = 0; }

  // --- what the host did ---
  std::uint64_t calls() const { return calls_; }
  int open_handles() const;
  int misuse() const { return misuse_; }
  int closed_while_reading() const { return closed_while_reading_; }
  int foreign_io() const { return foreign_io_; }
  int blocked_waits() const { return blocked_waits_; }
  int preparsed_held() const { return preparsed_held_; }
  struct Write {
    int device;
    Bytes bytes;
  };
  const std::vector<Write>& writes() const { return writes_; }
  void ClearWrites() { writes_.clear(); }

  // The calls themselves.
  void HidGuid(LPGUID guid);
  HDEVINFO ClassDevs(const GUID* guid, DWORD flags);
  BOOL EnumInterfaces(HDEVINFO set, const GUID* guid, DWORD index, PSP_DEVICE_INTERFACE_DATA data);
  BOOL InterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                       PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD required);
  BOOL DestroyList(HDEVINFO set);
  HANDLE Open(LPCSTR path, DWORD access, DWORD flags);
  BOOL Close(HANDLE handle);
  BOOLEAN Attributes(HANDLE handle, PHIDD_ATTRIBUTES attributes);
  BOOLEAN String(HANDLE handle, const std::u16string Device::*which, PVOID buffer, ULONG size);
  BOOLEAN Preparsed(HANDLE handle, PHIDP_PREPARSED_DATA* data);
  NTSTATUS Caps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps);
  BOOLEAN FreePreparsed(PHIDP_PREPARSED_DATA data);
  BOOLEAN GetFeature(HANDLE handle, PVOID buffer, ULONG size);
  BOOLEAN SetFeature(HANDLE handle, PVOID buffer, ULONG size);
  HANDLE Event();
  BOOL Read(HANDLE handle, LPVOID buffer, DWORD size, LPOVERLAPPED overlapped);
  BOOL Result(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD bytes, BOOL wait);
  BOOL Cancel(HANDLE handle);

 private:
  struct Handle {
    int device;  // -1 for an event
    int generation;
    DWORD access;
    bool overlapped;
    // The last read: while pending, the system may still write into its memory.
    LPOVERLAPPED read = nullptr;
    std::uint8_t* read_into = nullptr;
    DWORD read_size = 0;
    bool pending = false;
    bool cancelled = false;
    DWORD error = 0;  // how the last read ended
  };

  // Counts the call and applies the faults due; true when it must fail.
  bool Begin();
  // The open handle to a present device, or null (counted as misuse when the
  // handle was never ours).
  Handle* Live(HANDLE handle, bool io);
  // Ends a pending read: with the next report, or with `error`.
  void Complete(Handle& handle, DWORD error);

  std::vector<Device> devices_;
  std::map<std::uintptr_t, Handle> handles_;
  std::uintptr_t next_handle_ = 0x1000;
  std::map<std::uintptr_t, std::vector<int>> sets_;  // the devices present when it was made
  std::uint64_t calls_ = 0, fail_at_ = 0, unplug_at_ = 0;
  int unplug_index_ = 0;
  int misuse_ = 0, closed_while_reading_ = 0, foreign_io_ = 0, blocked_waits_ = 0;
  int preparsed_held_ = 0;
  std::vector<Write> writes_;
};

}  // namespace tensivo::windows_testing
