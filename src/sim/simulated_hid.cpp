#include "sim/simulated_hid.h"

#include <algorithm>

#include "platform/device_string.h"

namespace tensivo::sim {

using platform::kFailure;
using platform::kSuccess;
using platform::PutDeviceString;

namespace {

// hidraw keeps 63 reports per reader and drops what arrives while they wait,
// so a reader that pauses sees old reports once.
constexpr std::size_t kQueueCapacity = 63;

constexpr std::string_view kPathPrefix = "sim:hid/";

}  // namespace

// --- the world ---

SimulatedHid::DeviceId SimulatedHid::AddDevice(SimulatedDeviceTraits traits, bool attached) {
  Device device;
  device.traits = std::move(traits);
  device.attached = attached;
  device.plug_order = next_plug_order_++;
  devices_.push_back(std::move(device));
  return static_cast<DeviceId>(devices_.size() - 1);
}

SimulatedHid::DeviceId SimulatedHid::AddForeign(std::uint16_t vendor_id, std::uint16_t product_id) {
  SimulatedDeviceTraits traits;
  traits.serial = u"FOREIGN";
  traits.manufacturer = u"Other maker";
  traits.product = u"Keyboard";
  traits.vendor_id = vendor_id;
  traits.product_id = product_id;
  traits.input_length = 9;
  traits.feature_length = 0;
  return AddDevice(std::move(traits));
}

void SimulatedHid::Attach(DeviceId device) {
  Device& d = devices_.at(device);
  if (d.attached) return;
  d.attached = true;
  ++d.generation;
  d.plug_order = next_plug_order_++;
  d.model.RestartReplies();
}

void SimulatedHid::Detach(DeviceId device) { devices_.at(device).attached = false; }

bool SimulatedHid::IsAttached(DeviceId device) const { return devices_.at(device).attached; }

SimulatedDeviceTraits& SimulatedHid::traits(DeviceId device) { return devices_.at(device).traits; }

DeviceModel& SimulatedHid::model(DeviceId device) { return devices_.at(device).model; }

std::string SimulatedHid::PathOf(DeviceId device) const {
  return std::string(kPathPrefix) + std::to_string(device) + "." +
         std::to_string(devices_.at(device).generation);
}

void SimulatedHid::PushInput(DeviceId device, std::span<const std::uint8_t> report) {
  const Device& d = devices_.at(device);
  if (!d.attached) return;
  for (auto& [id, handle] : handles_) {
    if (handle.device != device || handle.generation != d.generation ||
        handle.mode != OpenMode::kOverlapped) {
      continue;
    }
    if (handle.queue.size() < kQueueCapacity)
      handle.queue.emplace_back(report.begin(), report.end());
  }
}

bool SimulatedHid::HasReader(DeviceId device) const {
  const Device& d = devices_.at(device);
  return std::any_of(handles_.begin(), handles_.end(), [&](const auto& entry) {
    const OpenHandle& handle = entry.second;
    return handle.device == device && handle.generation == d.generation &&
           handle.mode == OpenMode::kOverlapped;
  });
}

void SimulatedHid::PushModelInput(DeviceId device, double t) {
  const Device& d = devices_.at(device);
  std::vector<std::uint8_t> report(std::max<std::size_t>(d.traits.input_length, 1), 0);
  d.model.InputReport(t, std::span(report).subspan(1));
  PushInput(device, report);
}

// --- time ---

void SimulatedHid::StreamInputs(DeviceId device, bool on) { devices_.at(device).streaming = on; }

void SimulatedHid::SetPlugCycle(DeviceId device, std::chrono::milliseconds period,
                                std::chrono::milliseconds absent_from,
                                std::chrono::milliseconds absent_until) {
  devices_.at(device).cycle = PlugCycle{period, absent_from, absent_until};
}

void SimulatedHid::AdvanceTime(std::chrono::microseconds by) { RunClock(now_ + by); }

void SimulatedHid::FollowWallClock() {
  wall_start_ = std::chrono::steady_clock::now() - now_;
  keep_logs_ = false;
  ClearLogs();
}

void SimulatedHid::SyncClock() {
  if (!wall_start_) return;
  RunClock(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 *wall_start_));
}

void SimulatedHid::RunClock(std::chrono::microseconds to) {
  if (to <= now_) return;
  const auto from = now_;
  now_ = to;
  for (DeviceId id = 0; id < static_cast<DeviceId>(devices_.size()); ++id) {
    Device& d = devices_[id];
    if (d.cycle) {
      const auto phase = d.cycle->period.count() > 0 ? now_ % d.cycle->period : now_;
      const bool present = phase < d.cycle->absent_from || phase >= d.cycle->absent_until;
      if (present && !d.attached) Attach(id);
      if (!present && d.attached) Detach(id);
    }
    if (!d.streaming || !d.attached || d.traits.reports_per_second <= 0) continue;
    const std::chrono::microseconds step(1'000'000 / d.traits.reports_per_second);
    d.next_report = std::max(d.next_report, from);
    if (d.next_report > now_) continue;
    const auto due = (now_ - d.next_report) / step + 1;
    // Reports nobody reads, and those past a full queue, are dropped on
    // arrival, so they are not made.
    const auto made = HasReader(id) ? std::min<long long>(due, kQueueCapacity) : 0;
    for (long long i = 0; i < made; ++i) {
      PushModelInput(id, std::chrono::duration<double>(d.next_report + step * i).count());
    }
    d.next_report += step * due;
  }
}

// --- faults ---

void SimulatedHid::FailAlways(Op op, DeviceId device) {
  devices_.at(device).failing_ops.push_back(op);
}

void SimulatedHid::FailCall(std::uint64_t call_number) { failing_calls_.push_back(call_number); }

void SimulatedHid::FailFromCall(std::uint64_t call_number) { fail_from_ = call_number; }

void SimulatedHid::UnplugAtCall(DeviceId device, std::uint64_t call_number) {
  unplug_at_.emplace_back(device, call_number);
}

void SimulatedHid::ReplugAtCall(DeviceId device, std::uint64_t call_number) {
  replug_at_.emplace_back(device, call_number);
}

void SimulatedHid::RefuseOpens(DeviceId device, OpenError reason) {
  devices_.at(device).refused_opens = reason;
}

void SimulatedHid::ClearFaults() {
  for (Device& d : devices_) {
    d.failing_ops.clear();
    d.refused_opens = OpenError::kNone;
  }
  failing_calls_.clear();
  fail_from_.reset();
  unplug_at_.clear();
  replug_at_.clear();
}

// --- what the host did ---

void SimulatedHid::ClearLogs() {
  call_log_.clear();
  write_log_.clear();
}

SimulatedHid::Counters SimulatedHid::counters(DeviceId device) const {
  return devices_.at(device).counters;
}

int SimulatedHid::open_handles(DeviceId device) const {
  return static_cast<int>(std::count_if(handles_.begin(), handles_.end(), [&](const auto& entry) {
    return entry.second.device == device;
  }));
}

// --- the operations ---

bool SimulatedHid::BeginCall(Op op, std::optional<DeviceId> device) {
  SyncClock();
  const std::uint64_t number = ++calls_made_;
  for (const auto& [target, at] : unplug_at_) {
    if (at == number) Detach(target);
  }
  for (const auto& [target, at] : replug_at_) {
    if (at == number && !IsAttached(target)) Attach(target);
  }
  bool fail =
      std::find(failing_calls_.begin(), failing_calls_.end(), number) != failing_calls_.end() ||
      (fail_from_ && number >= *fail_from_);
  if (device) {
    const auto& ops = devices_.at(*device).failing_ops;
    fail = fail || std::find(ops.begin(), ops.end(), op) != ops.end();
  }
  return fail;
}

Result SimulatedHid::Finish(Op op, std::optional<DeviceId> device, Result result) {
  if (keep_logs_) call_log_.push_back({op, device, result});
  return result;
}

SimulatedHid::Device* SimulatedHid::LiveDevice(std::uint32_t id, Op op,
                                               std::optional<DeviceId>& device_for_log) {
  const auto it = handles_.find(id);
  if (it == handles_.end()) {
    ++misuse_;
    BeginCall(op, std::nullopt);
    return nullptr;
  }
  device_for_log = it->second.device;
  const bool fail = BeginCall(op, device_for_log);
  Device& d = devices_.at(it->second.device);
  if (fail || !d.attached || d.generation != it->second.generation) return nullptr;
  return &d;
}

Result SimulatedHid::DoEnumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                                 std::vector<InterfaceInfo>& out) {
  if (BeginCall(Op::kEnumerate, std::nullopt)) return Finish(Op::kEnumerate, {}, kFailure);
  // Listed in plug order, as the kernel's nodes are: a replugged device comes
  // after those that stayed.
  std::vector<DeviceId> order(devices_.size());
  for (DeviceId id = 0; id < static_cast<DeviceId>(devices_.size()); ++id) order[id] = id;
  std::sort(order.begin(), order.end(), [&](DeviceId x, DeviceId y) {
    return devices_[x].plug_order < devices_[y].plug_order;
  });
  for (const DeviceId id : order) {
    const Device& d = devices_[id];
    if (!d.attached) continue;
    if (vendor_id != 0 && d.traits.vendor_id != vendor_id) continue;
    if (product_id != 0 && d.traits.product_id != product_id) continue;
    InterfaceInfo info{
        .path = PathOf(id), .vendor_id = d.traits.vendor_id, .product_id = d.traits.product_id};
    if (list_serials_ && d.refused_opens != OpenError::kPermissionDenied) {
      info.serial_listed = platform::ListedSerial::kKnown;
      info.serial = d.traits.serial;
    }
    out.push_back(std::move(info));
  }
  return Finish(Op::kEnumerate, {}, kSuccess);
}

std::uint32_t SimulatedHid::DoOpen(const std::string& path, OpenMode mode) {
  std::optional<DeviceId> target;
  for (DeviceId id = 0; id < static_cast<DeviceId>(devices_.size()); ++id) {
    if (PathOf(id) == path) target = id;
  }
  const bool fail = BeginCall(Op::kOpen, target);
  open_error_ = !target || !devices_[*target].attached ? OpenError::kGone
                : fail                                 ? OpenError::kOther
                                                       : devices_[*target].refused_opens;
  if (open_error_ != OpenError::kNone) {
    Finish(Op::kOpen, target, kFailure);
    return 0;
  }
  Device& d = devices_[*target];
  ++d.counters.opens;
  const std::uint32_t id = next_id_++;
  handles_.emplace(id, OpenHandle{*target, d.generation, mode, {}});
  Finish(Op::kOpen, target, kSuccess);
  return id;
}

Result SimulatedHid::DoClose(std::uint32_t id) {
  const auto it = handles_.find(id);
  if (it == handles_.end()) {
    ++misuse_;
    BeginCall(Op::kClose, std::nullopt);
    return Finish(Op::kClose, {}, kFailure);
  }
  const DeviceId device = it->second.device;
  // A close always releases the handle, even when the call is made to fail.
  const bool fail = BeginCall(Op::kClose, device);
  handles_.erase(it);
  ++devices_.at(device).counters.closes;
  return Finish(Op::kClose, device, fail ? kFailure : kSuccess);
}

Result SimulatedHid::DoGetAttributes(std::uint32_t id, HidAttributes& out) {
  std::optional<DeviceId> device;
  const Device* d = LiveDevice(id, Op::kGetAttributes, device);
  if (!d) return Finish(Op::kGetAttributes, device, kFailure);
  out.VendorID = d->traits.vendor_id;
  out.ProductID = d->traits.product_id;
  out.VersionNumber = d->traits.version;
  return Finish(Op::kGetAttributes, device, kSuccess);
}

Result SimulatedHid::GetString(std::uint32_t id, Op op,
                               const std::u16string SimulatedDeviceTraits::*field,
                               std::span<std::uint8_t> buffer) {
  std::optional<DeviceId> device;
  const Device* d = LiveDevice(id, op, device);
  if (!d) return Finish(op, device, kFailure);
  PutDeviceString(d->traits.*field, buffer);
  return Finish(op, device, kSuccess);
}

Result SimulatedHid::DoGetSerialNumberString(std::uint32_t id, std::span<std::uint8_t> buffer) {
  return GetString(id, Op::kGetSerial, &SimulatedDeviceTraits::serial, buffer);
}

Result SimulatedHid::DoGetManufacturerString(std::uint32_t id, std::span<std::uint8_t> buffer) {
  return GetString(id, Op::kGetManufacturer, &SimulatedDeviceTraits::manufacturer, buffer);
}

Result SimulatedHid::DoGetProductString(std::uint32_t id, std::span<std::uint8_t> buffer) {
  return GetString(id, Op::kGetProduct, &SimulatedDeviceTraits::product, buffer);
}

Result SimulatedHid::DoGetCaps(std::uint32_t id, HidCaps& out) {
  std::optional<DeviceId> device;
  const Device* d = LiveDevice(id, Op::kGetCaps, device);
  if (!d) return Finish(Op::kGetCaps, device, kFailure);
  out = HidCaps{};
  out.Usage = 0x0001;
  out.UsagePage = 0xFF00;
  out.InputReportByteLength = d->traits.input_length;
  out.FeatureReportByteLength = d->traits.feature_length;
  return Finish(Op::kGetCaps, device, kSuccess);
}

Result SimulatedHid::DoGetFeature(std::uint32_t id, std::span<std::uint8_t> report) {
  std::optional<DeviceId> device;
  Device* d = LiveDevice(id, Op::kGetFeature, device);
  // Our device numbers no reports: behind the USB HID driver a request for
  // any other id than 0 reaches it as such, and it stalls.
  if (!d || report.empty() || d->traits.feature_length == 0 || report[0] != 0) {
    return Finish(Op::kGetFeature, device, kFailure);
  }
  // The reply carries the device's own length; the caller's byte 0 stays.
  std::vector<std::uint8_t> data(d->traits.feature_length - 1u, 0);
  d->model.NextFeatureReply(data);
  auto tail = report.subspan(1);
  std::fill(tail.begin(), tail.end(), std::uint8_t{0});
  std::copy_n(data.begin(), std::min(data.size(), tail.size()), tail.begin());
  return Finish(Op::kGetFeature, device, kSuccess);
}

Result SimulatedHid::DoSetFeature(std::uint32_t id, std::span<const std::uint8_t> report) {
  std::optional<DeviceId> device;
  Device* d = LiveDevice(id, Op::kSetFeature, device);
  if (!d || report.empty() || d->traits.feature_length == 0 || report[0] != 0) {
    return Finish(Op::kSetFeature, device, kFailure);
  }
  if (keep_logs_) write_log_.push_back({*device, {report.begin(), report.end()}});
  d->model.ApplyFeatureWrite(report.subspan(1));
  return Finish(Op::kSetFeature, device, kSuccess);
}

Result SimulatedHid::DoReadInput(std::uint32_t id, const ReadOverlapped& overlapped,
                                 std::span<std::uint8_t> buffer, std::uint32_t& count) {
  count = 0;
  std::optional<DeviceId> device;
  const Device* d = LiveDevice(id, Op::kReadInput, device);
  if (!d) {
    if (const auto it = handles_.find(id); it != handles_.end()) it->second.queue.clear();
    return Finish(Op::kReadInput, device, kFailure);
  }
  auto& handle = handles_.at(id);
  if (overlapped.hEvent == 0 || handle.mode != OpenMode::kOverlapped) {
    return Finish(Op::kReadInput, device, kFailure);
  }
  // The newest whole reports that fit, oldest first; the rest are dropped,
  // as a reader that drains its queue would.
  std::size_t bytes = 0;
  auto first = handle.queue.end();
  while (first != handle.queue.begin() && bytes + std::prev(first)->size() <= buffer.size()) {
    --first;
    bytes += first->size();
  }
  for (auto it = first; it != handle.queue.end(); ++it) {
    std::copy(it->begin(), it->end(), buffer.begin() + count);
    count += static_cast<std::uint32_t>(it->size());
  }
  handle.queue.clear();
  return Finish(Op::kReadInput, device, count > 0 ? kSuccess : kFailure);
}

EventId SimulatedHid::DoCreateReadEvent() {
  if (BeginCall(Op::kCreateEvent, std::nullopt)) {
    Finish(Op::kCreateEvent, {}, kFailure);
    return 0;
  }
  ++events_created_;
  Finish(Op::kCreateEvent, {}, kSuccess);
  return static_cast<EventId>(events_created_);
}

}  // namespace tensivo::sim
