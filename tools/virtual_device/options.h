// The command line of tensivo-virtual-device.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "virtual_device/uhid_device.h"
#include "virtual_device/usb_device.h"

namespace tensivo::virtual_device {

struct PlugCycle {
  std::chrono::milliseconds period{0};
  std::chrono::milliseconds absent{0};  // at the end of every period
};

// How the devices reach the kernel.
enum class Transport {
  kUsb,   // whole USB devices through USB/IP and vhci-hcd
  kUhid,  // HID devices without a USB parent, through uhid
};

struct Options {
  std::vector<DeviceTraits> devices;  // one per serial, in the order given
  Transport transport = Transport::kUsb;
  std::string uhid_path = kUhidPath;
  std::optional<PlugCycle> plug_cycle;
  bool help = false;
};

// Either options or the one message that says what is wrong with the command
// line.
struct ParsedOptions {
  std::optional<Options> options;
  std::string error;
};

ParsedOptions ParseOptions(const std::vector<std::string_view>& args);

std::string HelpText(std::string_view program);

// The message for a failed open of the uhid node, saying what the user can do.
std::string UhidOpenError(const std::string& path, int error_number);

// The message for a USB device the kernel would not take, saying what the
// user can do.
std::string UsbPlugError(const std::string& serial, int error_number);

}  // namespace tensivo::virtual_device
