// The HID operations the utility relies on, behind one interface so that the
// rest of the program never knows which operating system or backend it runs on.
//
// Every operation returns a Result: non-zero for success, 0 for failure. The
// callers store each result in one shared field and test only a few, so the
// convention is kept even where a bool would read better.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tensivo::platform {

using Result = std::int32_t;

inline constexpr Result kFailure = 0;
inline constexpr Result kSuccess = 1;

// What a listing knows of an interface's serial number without opening it.
enum class ListedSerial : std::uint8_t {
  kUnknown,  // the backend cannot tell: open the interface and ask
  kNone,     // the interface has none, so asking would fail
  kKnown,    // in InterfaceInfo::serial
};

// One present HID interface, as enumeration reports it without opening it.
struct InterfaceInfo {
  std::string path;
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  ListedSerial serial_listed = ListedSerial::kUnknown;
  // UTF-16 code units, as the serial number query would hand them out.
  std::u16string serial = {};
};

enum class OpenMode {
  kPlain,       // synchronous: attributes, strings, capabilities, feature reports
  kOverlapped,  // input reads that never block
};

// Why an open failed, for the person who has to mend it; the program itself
// treats every failed open alike.
enum class OpenError {
  kNone,              // the open succeeded
  kPermissionDenied,  // the node is there, but not for this user
  kBusy,              // another program holds it exclusively
  kGone,              // no such node (any more): unplugged meanwhile
  kOther,
};

// The identifiers and release number of an opened interface.
struct HidAttributes {
  std::uint16_t VendorID = 0;
  std::uint16_t ProductID = 0;
  std::uint16_t VersionNumber = 0;
};

// Report lengths of an interface. Both byte lengths count the report-id byte,
// also for devices that use no report ids; 0 means no report of that type.
struct HidCaps {
  std::uint16_t Usage = 0;
  std::uint16_t UsagePage = 0;
  std::uint16_t InputReportByteLength = 0;
  std::uint16_t OutputReportByteLength = 0;
  std::uint16_t FeatureReportByteLength = 0;
};

// Token of the event that an overlapped read is bound to; 0 = not created.
using EventId = std::uint32_t;

struct ReadOverlapped {
  std::uint32_t Offset = 0;
  std::uint32_t OffsetHigh = 0;
  EventId hEvent = 0;
};

class HidPlatform;

// An open interface. Move-only, closed at most once: after Close() (or a failed
// open) it is simply not open, and every operation on it fails without
// reaching the backend.
class Handle {
 public:
  Handle() = default;
  Handle(Handle&& other) noexcept;
  Handle& operator=(Handle&& other) noexcept;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle();

  bool IsOpen() const { return id_ != 0; }

  // Closes an open handle and returns the backend's result. A handle that is
  // not open is left alone and gives kFailure, like closing a null handle.
  Result Close();

  std::uint32_t id() const { return id_; }

 private:
  friend class HidPlatform;
  Handle(HidPlatform* platform, std::uint32_t id) : platform_(platform), id_(id) {}

  HidPlatform* platform_ = nullptr;
  std::uint32_t id_ = 0;
};

class HidPlatform {
 public:
  virtual ~HidPlatform() = default;

  // Present HID interfaces; a vendor or product id of 0 matches any. Fails
  // (and leaves `out` empty) when the set of interfaces cannot be obtained.
  Result Enumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                   std::vector<InterfaceInfo>& out);

  // A handle that is not open when the path cannot be opened.
  Handle Open(const std::string& path, OpenMode mode);

  // Why the latest Open on this platform failed; kNone when it succeeded.
  OpenError LastOpenError() const { return last_open_error_; }

  Result GetAttributes(const Handle& handle, HidAttributes& out);

  // The strings come as UTF-16LE code units filling at most `buffer.size()`
  // bytes, zero-terminated when there is room. Turning them into text is the
  // caller's business.
  Result GetSerialNumberString(const Handle& handle, std::span<std::uint8_t> buffer);
  Result GetManufacturerString(const Handle& handle, std::span<std::uint8_t> buffer);
  Result GetProductString(const Handle& handle, std::span<std::uint8_t> buffer);

  Result GetCaps(const Handle& handle, HidCaps& out);

  // Feature reports of the full length, byte 0 the report id.
  Result GetFeature(const Handle& handle, std::span<std::uint8_t> report);
  Result SetFeature(const Handle& handle, std::span<const std::uint8_t> report);

  // Never blocks. When input reports are queued: non-zero, and `count` bytes of
  // whole reports back to back, each with its report-id byte, newest last.
  // Otherwise 0 with count 0.
  Result ReadInput(const Handle& handle, const ReadOverlapped& overlapped,
                   std::span<std::uint8_t> buffer, std::uint32_t& count);

  // The event an overlapped read is bound to; 0 on failure.
  EventId CreateReadEvent();

 protected:
  // Backends see only ids of handles they opened and that are still open.
  virtual Result DoEnumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                             std::vector<InterfaceInfo>& out) = 0;
  virtual std::uint32_t DoOpen(const std::string& path, OpenMode mode) = 0;  // 0 on failure
  // Asked only right after DoOpen returned 0: why it did.
  virtual OpenError DoLastOpenError() const = 0;
  virtual Result DoClose(std::uint32_t id) = 0;
  virtual Result DoGetAttributes(std::uint32_t id, HidAttributes& out) = 0;
  virtual Result DoGetSerialNumberString(std::uint32_t id, std::span<std::uint8_t> buffer) = 0;
  virtual Result DoGetManufacturerString(std::uint32_t id, std::span<std::uint8_t> buffer) = 0;
  virtual Result DoGetProductString(std::uint32_t id, std::span<std::uint8_t> buffer) = 0;
  virtual Result DoGetCaps(std::uint32_t id, HidCaps& out) = 0;
  virtual Result DoGetFeature(std::uint32_t id, std::span<std::uint8_t> report) = 0;
  virtual Result DoSetFeature(std::uint32_t id, std::span<const std::uint8_t> report) = 0;
  virtual Result DoReadInput(std::uint32_t id, const ReadOverlapped& overlapped,
                             std::span<std::uint8_t> buffer, std::uint32_t& count) = 0;
  virtual EventId DoCreateReadEvent() = 0;

 private:
  friend class Handle;
  bool Owns(const Handle& handle) const { return handle.IsOpen() && handle.platform_ == this; }

  OpenError last_open_error_ = OpenError::kNone;
};

}  // namespace tensivo::platform
