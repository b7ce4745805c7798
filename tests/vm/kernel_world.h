// What the tests inside the VM share: virtual devices plugged into the
// running kernel, and ways to wait for the kernel without fixed sleeps.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "virtual_device/uhid_device.h"

namespace tensivo::vm {

using virtual_device::DeviceSpec;
using virtual_device::UhidDevice;
using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint16_t kForeignVendor = 0x046D;
inline constexpr std::uint16_t kForeignProduct = 0xC31C;
inline constexpr int kNodeTimeoutMs = 5000;

struct Plugged {
  std::unique_ptr<UhidDevice> device;
  std::string node;  // its /dev/hidrawN
};

// A device of our kind (or any kind, by profile) plugged in and bound by the
// kernel's generic driver. Fails the test and returns nothing when the kernel
// does not make it.
std::optional<Plugged> PlugIn(DeviceSpec profile);
DeviceSpec OurDevice(std::string serial);
DeviceSpec ForeignDevice(std::string serial);

// Unplugs and plugs in again; the new node, or nothing (test failed).
std::optional<std::string> Replug(UhidDevice& device);

// Polls `done` until it holds or the time is up.
bool WaitUntil(const std::function<bool()>& done, int timeout_ms);
void SleepMs(int ms);

// The place in the device's stream of the report whose 16 data bytes these
// are, looking back from the newest sent.
std::optional<std::uint64_t> SequenceOf(const UhidDevice& device, std::span<const std::uint8_t> data);

// A read split into reports of `length` bytes; nothing when it does not split
// evenly.
std::optional<std::vector<Bytes>> SplitReports(std::span<const std::uint8_t> read, std::size_t length);

}  // namespace tensivo::vm
