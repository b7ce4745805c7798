// An in-memory HID world for tests and the demo: devices of our kind and
// foreign ones that come and go at any moment, scripted replies and input
// reports, failures injected into any call, and a record of everything the
// host did to them.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "device/wire.h"
#include "platform/hid_platform.h"
#include "sim/device_model.h"

namespace tensivo::sim {

using platform::EventId;
using platform::HidAttributes;
using platform::HidCaps;
using platform::HidPlatform;
using platform::InterfaceInfo;
using platform::OpenError;
using platform::OpenMode;
using platform::ReadOverlapped;
using platform::Result;

struct SimulatedDeviceTraits {
  std::u16string serial = u"SIM-0001";
  std::u16string manufacturer = u"Tensivo";
  std::u16string product = u"Load Cell Interface";
  std::uint16_t vendor_id = device::kVendorId;
  std::uint16_t product_id = device::kProductId;
  std::uint16_t version = 0x0101;
  // As the host's capabilities count them, with the report-id byte.
  std::uint16_t input_length = device::kInputReportBytes + device::kReportIdBytes;
  std::uint16_t feature_length = device::kFeatureReportBytes + device::kReportIdBytes;
  // Input reports the device sends per second while it streams on its own.
  int reports_per_second = 1000;
};

class SimulatedHid final : public HidPlatform {
 public:
  using DeviceId = int;

  enum class Op {
    kEnumerate,
    kOpen,
    kClose,
    kGetAttributes,
    kGetSerial,
    kGetManufacturer,
    kGetProduct,
    kGetCaps,
    kGetFeature,
    kSetFeature,
    kReadInput,
    kCreateEvent,
  };

  struct Call {
    Op op;
    std::optional<DeviceId> device;  // none for enumeration and events
    Result result;
  };

  struct WrittenReport {
    DeviceId device;
    std::vector<std::uint8_t> bytes;  // as the host passed them, id byte first
  };

  struct Counters {
    int opens = 0;
    int closes = 0;
  };

  SimulatedHid() = default;
  ~SimulatedHid() override = default;

  // --- the world ---
  DeviceId AddDevice(SimulatedDeviceTraits traits, bool attached = true);
  // Another maker's HID interface: enumerated, and never to be opened by us.
  DeviceId AddForeign(std::uint16_t vendor_id, std::uint16_t product_id);
  void Attach(DeviceId device);
  // Unplugs: the device leaves enumeration, and every call on a handle opened
  // to it fails from now on except the close.
  void Detach(DeviceId device);
  bool IsAttached(DeviceId device) const;
  // Enumeration tells the serial numbers, as udev does on Linux, except of
  // devices whose opens are refused for permission; off, the host opens an
  // interface to ask, as on Windows.
  void ListSerials(bool on) { list_serials_ = on; }
  SimulatedDeviceTraits& traits(DeviceId device);
  DeviceModel& model(DeviceId device);

  // Queues one input report (id byte first) on every handle open for input
  // to the device, as the kernel does for each reader.
  void PushInput(DeviceId device, std::span<const std::uint8_t> report);
  // Queues the model's own report for time t.
  void PushModelInput(DeviceId device, double t);

  // --- time, for the demo: devices stream model reports and follow their
  // plug cycles as the clock moves on ---
  void StreamInputs(DeviceId device, bool on);
  // Within every `period`, the device is unplugged from `absent_from` until
  // `absent_until` and plugged in for the rest.
  void SetPlugCycle(DeviceId device, std::chrono::milliseconds period,
                    std::chrono::milliseconds absent_from, std::chrono::milliseconds absent_until);
  void AdvanceTime(std::chrono::microseconds by);
  // Moves the clock to the wall clock before every call. Such a world runs
  // for hours with nobody reading its logs, so from now on it keeps none and
  // its memory stays flat.
  void FollowWallClock();

  // --- faults ---
  void FailAlways(Op op, DeviceId device);       // this operation on this device always fails
  void FailCall(std::uint64_t call_number);      // only the call with this number fails
  void FailFromCall(std::uint64_t call_number);  // it and every later call fail
  void UnplugAtCall(DeviceId device, std::uint64_t call_number);  // detached just before it
  void ReplugAtCall(DeviceId device, std::uint64_t call_number);  // attached just before it
  // Every open of this device fails for this reason (kNone: opens work again),
  // as a missing udev rule or another program holding it would make them.
  void RefuseOpens(DeviceId device, OpenError reason);
  void ClearFaults();

  // --- what the host did ---
  std::uint64_t calls_made() const { return calls_made_; }
  const std::vector<Call>& call_log() const { return call_log_; }
  const std::vector<WrittenReport>& write_log() const { return write_log_; }
  void ClearLogs();
  Counters counters(DeviceId device) const;
  int open_handles() const { return static_cast<int>(handles_.size()); }
  int open_handles(DeviceId device) const;
  int events_created() const { return events_created_; }
  // Calls on ids this backend never issued or already closed. Always 0 when
  // the host keeps its handles right.
  int misuse() const { return misuse_; }
  std::string PathOf(DeviceId device) const;

 protected:
  Result DoEnumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                     std::vector<InterfaceInfo>& out) override;
  std::uint32_t DoOpen(const std::string& path, OpenMode mode) override;
  OpenError DoLastOpenError() const override { return open_error_; }
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
  struct PlugCycle {
    std::chrono::microseconds period;
    std::chrono::microseconds absent_from;
    std::chrono::microseconds absent_until;
  };

  struct Device {
    SimulatedDeviceTraits traits;
    DeviceModel model;
    bool attached = true;
    int generation = 0;  // bumped on every attach, so old handles stay dead
    std::uint64_t plug_order = 0;
    bool streaming = false;
    std::optional<PlugCycle> cycle;
    std::chrono::microseconds next_report{0};
    std::vector<Op> failing_ops;
    OpenError refused_opens = OpenError::kNone;
    Counters counters;
  };

  struct OpenHandle {
    DeviceId device;
    int generation;
    OpenMode mode;
    std::deque<std::vector<std::uint8_t>> queue;
  };

  // Counts the call, applies scheduled faults and returns whether it must
  // fail.
  bool BeginCall(Op op, std::optional<DeviceId> device);
  Result Finish(Op op, std::optional<DeviceId> device, Result result);
  // The live device behind an open handle, or null when it was unplugged.
  Device* LiveDevice(std::uint32_t id, Op op, std::optional<DeviceId>& device_for_log);
  Result GetString(std::uint32_t id, Op op, const std::u16string SimulatedDeviceTraits::*field,
                   std::span<std::uint8_t> buffer);
  // Whether a handle open for input would receive the device's reports.
  bool HasReader(DeviceId device) const;
  void SyncClock();
  void RunClock(std::chrono::microseconds to);

  std::vector<Device> devices_;
  std::map<std::uint32_t, OpenHandle> handles_;
  std::uint32_t next_id_ = 1;
  std::uint64_t next_plug_order_ = 0;
  int events_created_ = 0;
  int misuse_ = 0;
  OpenError open_error_ = OpenError::kNone;

  std::uint64_t calls_made_ = 0;
  bool keep_logs_ = true;
  bool list_serials_ = false;
  std::vector<Call> call_log_;
  std::vector<WrittenReport> write_log_;
  std::vector<std::uint64_t> failing_calls_;
  std::optional<std::uint64_t> fail_from_;
  std::vector<std::pair<DeviceId, std::uint64_t>> unplug_at_;
  std::vector<std::pair<DeviceId, std::uint64_t>> replug_at_;

  std::chrono::microseconds now_{0};
  std::optional<std::chrono::steady_clock::time_point> wall_start_;
};

}  // namespace tensivo::sim
