#include "platform/hid_platform.h"

#include <utility>

namespace tensivo::platform {

Handle::Handle(Handle&& other) noexcept
    : platform_(std::exchange(other.platform_, nullptr)), id_(std::exchange(other.id_, 0)) {}

Handle& Handle::operator=(Handle&& other) noexcept {
  if (this != &other) {
    Close();
    platform_ = std::exchange(other.platform_, nullptr);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

Handle::~Handle() { Close(); }

Result Handle::Close() {
  if (!IsOpen()) return kFailure;
  const std::uint32_t id = std::exchange(id_, 0);
  return std::exchange(platform_, nullptr)->DoClose(id);
}

Result HidPlatform::Enumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                              std::vector<InterfaceInfo>& out) {
  out.clear();
  const Result result = DoEnumerate(vendor_id, product_id, out);
  if (result == kFailure) out.clear();
  return result;
}

Handle HidPlatform::Open(const std::string& path, OpenMode mode) {
  const std::uint32_t id = DoOpen(path, mode);
  if (id == 0) {
    const OpenError why = DoLastOpenError();
    last_open_error_ = why == OpenError::kNone ? OpenError::kOther : why;
    return Handle();
  }
  last_open_error_ = OpenError::kNone;
  return Handle(this, id);
}

Result HidPlatform::GetAttributes(const Handle& handle, HidAttributes& out) {
  return Owns(handle) ? DoGetAttributes(handle.id(), out) : kFailure;
}

Result HidPlatform::GetSerialNumberString(const Handle& handle, std::span<std::uint8_t> buffer) {
  return Owns(handle) ? DoGetSerialNumberString(handle.id(), buffer) : kFailure;
}

Result HidPlatform::GetManufacturerString(const Handle& handle, std::span<std::uint8_t> buffer) {
  return Owns(handle) ? DoGetManufacturerString(handle.id(), buffer) : kFailure;
}

Result HidPlatform::GetProductString(const Handle& handle, std::span<std::uint8_t> buffer) {
  return Owns(handle) ? DoGetProductString(handle.id(), buffer) : kFailure;
}

Result HidPlatform::GetCaps(const Handle& handle, HidCaps& out) {
  return Owns(handle) ? DoGetCaps(handle.id(), out) : kFailure;
}

Result HidPlatform::GetFeature(const Handle& handle, std::span<std::uint8_t> report) {
  return Owns(handle) ? DoGetFeature(handle.id(), report) : kFailure;
}

Result HidPlatform::SetFeature(const Handle& handle, std::span<const std::uint8_t> report) {
  return Owns(handle) ? DoSetFeature(handle.id(), report) : kFailure;
}

Result HidPlatform::ReadInput(const Handle& handle, const ReadOverlapped& overlapped,
                              std::span<std::uint8_t> buffer, std::uint32_t& count) {
  count = 0;
  if (!Owns(handle)) return kFailure;
  const Result result = DoReadInput(handle.id(), overlapped, buffer, count);
  if (result == kFailure || count > buffer.size()) count = 0;
  return count == 0 ? kFailure : result;
}

EventId HidPlatform::CreateReadEvent() { return DoCreateReadEvent(); }

}  // namespace tensivo::platform
