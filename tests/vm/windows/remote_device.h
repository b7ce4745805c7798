// What the Windows tests in the VM share: devices of our kind plugged into the
// guest's kernel as USB devices by tensivo-vm-device-server, which the tests
// reach over a loopback socket, and waiting for wine without fixed sleeps.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "device/protocol.h"

namespace tensivo::vm::windows {

// From a plug, an unplug or a replug in the kernel to wine's hid.dll seeing it:
// udevd, winebus and wine's plug-and-play under emulation.
inline constexpr int kWineSeesItMs = 20000;

using Registers = std::array<std::uint8_t, 17>;

// What wine 8's HID bus reports for a hidraw device, whatever its USB parent
// says: a maker of its own, and the kernel's HID name (maker and product
// joined by a blank) as the product. Windows reads the USB string
// descriptors ("Tensivo", "Load Cell Interface") instead.
inline constexpr std::string_view kWineMaker = "hidraw";
inline constexpr std::string_view kWineProduct = "Tensivo Load Cell Interface";

// A USB device with its own serial, plugged in for the life of the object.
// Every request that fails adds a test failure saying why.
class RemoteDevice {
 public:
  // Nothing (and a test failure) when the server or the kernel refuses.
  static std::optional<RemoteDevice> Plug(std::string serial);
  ~RemoteDevice();
  RemoteDevice(RemoteDevice&& other) noexcept;
  RemoteDevice& operator=(RemoteDevice&&) = delete;
  RemoteDevice(const RemoteDevice&) = delete;
  RemoteDevice& operator=(const RemoteDevice&) = delete;

  const std::string& serial() const { return serial_; }

  bool Unplug();
  bool Replug();
  // Registers 0..16 of the device's model.
  std::optional<Registers> ReadRegisters();
  // The three registers of a load cell's gain, as if the device had kept
  // them from an earlier session.
  bool StoreGain(device::LoadCell cell, int position);
  // Feature reports the device has received since it was made.
  std::optional<int> FeatureSets();

 private:
  explicit RemoteDevice(std::string serial) : serial_(std::move(serial)) {}
  std::optional<std::string> Request(const std::string& verb, const std::string& args = {});

  std::string serial_;
};

// The registers with a load cell's gain put at this list position.
Registers WithGain(Registers registers, device::LoadCell cell, int position);

// Polls `done` until it holds or the time is up; the milliseconds it took, or
// nothing.
std::optional<int> WaitUntil(const std::function<bool()>& done, int timeout_ms);

}  // namespace tensivo::vm::windows
