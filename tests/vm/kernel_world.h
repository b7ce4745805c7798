// What the tests inside the VM share: virtual devices plugged into the
// running kernel, as USB devices (the transport the hardware takes) or through
// uhid (a device without a USB parent), and ways to wait for the kernel
// without fixed sleeps.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "virtual_device/options.h"
#include "virtual_device/virtual_device.h"

namespace tensivo::vm {

using virtual_device::DeviceTraits;
using virtual_device::Transport;
using virtual_device::VirtualDevice;
using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint16_t kForeignVendor = 0x046D;
inline constexpr std::uint16_t kForeignProduct = 0xC31C;
inline constexpr int kNodeTimeoutMs = 8000;
// Under emulation a 1 kHz interrupt stream costs a whole host core; the VM's
// devices stream every 10 ms unless a test needs the full rate.
inline constexpr int kStreamRate = 100;

struct Plugged {
  std::unique_ptr<VirtualDevice> device;
  std::string node;  // its /dev/hidrawN
};

// A device of our kind (or any kind, by traits) plugged in and bound by the
// kernel's drivers. Fails the test and returns nothing when the kernel does
// not make it.
std::optional<Plugged> PlugIn(DeviceTraits traits, Transport transport = Transport::kUsb);
DeviceTraits OurDevice(std::string serial);
DeviceTraits ForeignDevice(std::string serial);

// Unplugs and plugs in again; the new node, or nothing (test failed).
std::optional<std::string> Replug(VirtualDevice& device);

// Polls `done` until it holds or the time is up.
// Polls `done` until it holds or the time is up; `between` runs between
// polls (a short sleep unless the caller has events to run instead).
bool WaitUntil(const std::function<bool()>& done, int timeout_ms,
               const std::function<void()>& between = {});
void SleepMs(int ms);

// Waits until the kernel has `kept` open and none of `others`: it tells each
// device when its first reader comes and its last one goes.
bool OnlyOpen(const VirtualDevice& kept, std::initializer_list<const VirtualDevice*> others,
              int timeout_ms = 2000);

// The model time (seconds) of the report with this place in the device's
// stream.
double StreamTime(const VirtualDevice& device, std::uint64_t sequence);

// The place in the device's stream of the report whose 16 data bytes these
// are, looking back from the newest sent.
std::optional<std::uint64_t> SequenceOf(const VirtualDevice& device,
                                        std::span<const std::uint8_t> data);

// A read split into reports of `length` bytes; nothing when it does not split
// evenly.
std::optional<std::vector<Bytes>> SplitReports(std::span<const std::uint8_t> read,
                                               std::size_t length);

}  // namespace tensivo::vm
