#include "sim/device_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tensivo::sim {

namespace {

// Slow waves with different periods and phases, so that every bar moves on
// its own and a stuck decoder shows at once.
struct Wave {
  double period_s;
  double phase;
};
constexpr Wave kWaves[] = {{3.1, 0.0}, {4.3, 1.0}, {5.9, 2.0}, {7.0, 0.5},
                           {2.3, 2.5}, {9.7, 4.0}, {3.7, 1.5}, {6.1, 3.0}};
// A channel without its own wave would divide by a zero period.
static_assert(std::size(kWaves) == device::kChannelCount, "one wave per channel");

void PutValue(std::span<std::uint8_t> data, std::size_t at, std::uint16_t value) {
  if (at < data.size()) data[at] = static_cast<std::uint8_t>(value & 0xFF);
  if (at + 1 < data.size()) data[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

DeviceModel::DeviceModel() : replies_{FeatureReply::ConfigBlock(0), FeatureReply::InputMask()} {
  std::copy(device::kFactoryValues.begin(), device::kFactoryValues.end(), registers_.begin());
}

void DeviceModel::SetReplies(std::vector<FeatureReply> replies) {
  replies_ = std::move(replies);
  next_reply_ = 0;
}

void DeviceModel::NextFeatureReply(std::span<std::uint8_t> data) {
  std::fill(data.begin(), data.end(), std::uint8_t{0});
  if (replies_.empty() || data.empty()) return;
  const FeatureReply& reply = replies_[next_reply_];
  next_reply_ = (next_reply_ + 1) % replies_.size();

  switch (reply.kind) {
    case FeatureReply::Kind::kConfigBlock: {
      data[0] = device::kConfigBlockTag;
      if (data.size() > 1) data[1] = reply.start;
      for (std::size_t i = 0; i < device::kConfigBlockRegisters && 2 + i < data.size(); ++i) {
        data[2 + i] = registers_[(reply.start + i) % registers_.size()];
      }
      break;
    }
    case FeatureReply::Kind::kInputMask:
      data[0] = device::kInputMaskTag;
      if (data.size() > 1) data[1] = input_mask_;
      break;
    case FeatureReply::Kind::kRaw:
      std::copy_n(reply.raw.begin(), std::min(reply.raw.size(), data.size()), data.begin());
      break;
  }
}

bool DeviceModel::ApplyFeatureWrite(std::span<const std::uint8_t> data) {
  if (data.size() < 3 || data[0] != device::kWriteRegisterCommand) return false;
  registers_[data[1]] = data[2];
  return true;
}

InputValueSet DeviceModel::InputValues(double t) const {
  InputValueSet values{};
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double angle = 2.0 * std::numbers::pi * t / kWaves[i].period_s + kWaves[i].phase;
    values[i] = static_cast<std::uint16_t>(std::lround(32767.5 + 32767.5 * std::sin(angle)));
  }
  return values;
}

void DeviceModel::InputReport(double t, std::span<std::uint8_t> data) const {
  EncodeInputReport(InputValues(t), input_mask_, data);
}

void DeviceModel::EncodeInputReport(const InputValueSet& values, std::uint8_t mask,
                                    std::span<std::uint8_t> data) {
  std::fill(data.begin(), data.end(), std::uint8_t{0});
  const auto offsets = device::ValueOffsets(mask);
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (offsets[i]) PutValue(data, *offsets[i], values[i]);
  }
}

}  // namespace tensivo::sim
