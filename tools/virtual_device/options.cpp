#include "virtual_device/options.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <set>

namespace tensivo::virtual_device {

namespace {

constexpr std::string_view kDefaultSerial = "TV-0001";
constexpr int kMaxRate = 10000;

template <typename T>
std::optional<T> ParseNumber(std::string_view text, int base, T max) {
  T value{};
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || error != std::errc() || stop != end || value < T{} || value > max) {
    return std::nullopt;
  }
  return value;
}

ParsedOptions Fail(std::string message) { return {std::nullopt, std::move(message)}; }

// A value as the user can read it back: control characters as \xNN.
std::string Shown(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7F) {
      out.push_back(c);
      continue;
    }
    constexpr char kHex[] = "0123456789ABCDEF";
    out += {'\\', 'x', kHex[u >> 4], kHex[u & 0xF]};
  }
  return out;
}

// Sets what an option with a value says; the message when the value is bad.
std::optional<std::string> ApplyValue(std::string_view name, std::string_view value,
                                      DeviceTraits& common, Options& options) {
  const std::string shown = "'" + std::string(name) + " " + Shown(value) + "'";
  if (name == "--name" || name == "--maker") {
    if (const auto problem = NameProblem(value)) return shown + ": " + *problem;
    (name == "--name" ? common.product : common.manufacturer) = std::string(value);
  } else if (name == "--version") {
    const auto version =
        value.size() <= 4 ? ParseNumber<std::uint16_t>(value, 16, 0xFFFF) : std::nullopt;
    if (!version) return shown + ": the version is 1 to 4 hex digits, e.g. 0101";
    common.version = *version;
  } else if (name == "--mask") {
    const auto mask = value.size() <= 2 ? ParseNumber<std::uint8_t>(value, 16, 0xFF) : std::nullopt;
    if (!mask) return shown + ": the mask is 1 or 2 hex digits, e.g. 28";
    common.input_mask = *mask;
  } else if (name == "--rate") {
    const auto rate = ParseNumber<int>(value, 10, kMaxRate);
    if (!rate) return shown + ": the rate is 0 to 10000 reports per second";
    common.reports_per_second = *rate;
  } else if (name == "--plug-cycle") {
    const auto comma = value.find(',');
    const auto period = ParseNumber<int>(value.substr(0, comma), 10, 3'600'000);
    const auto absent = comma == std::string_view::npos
                            ? std::nullopt
                            : ParseNumber<int>(value.substr(comma + 1), 10, 3'600'000);
    if (!period || !absent || *absent <= 0 || *absent >= *period) {
      return shown + ": expected PERIOD,ABSENT in milliseconds with 0 < ABSENT < PERIOD";
    }
    options.plug_cycle =
        PlugCycle{std::chrono::milliseconds(*period), std::chrono::milliseconds(*absent)};
  }
  return std::nullopt;
}

// One device per serial, each with the shared settings; a bad or repeated
// serial fails them all.
ParsedOptions WithDevices(Options options, const DeviceTraits& common,
                          std::vector<std::string> serials) {
  if (serials.empty()) serials.emplace_back(kDefaultSerial);
  std::set<std::string> seen;
  for (const std::string& serial : serials) {
    if (const auto problem = SerialProblem(serial)) {
      return Fail("malformed serial '" + serial + "': " + *problem);
    }
    if (!seen.insert(serial).second) return Fail("serial '" + serial + "' is given twice");
    DeviceTraits traits = common;
    traits.serial = serial;
    options.devices.push_back(std::move(traits));
  }
  return {std::move(options), {}};
}

}  // namespace

ParsedOptions ParseOptions(const std::vector<std::string_view>& args) {
  Options options;
  DeviceTraits common;
  std::vector<std::string> serials;
  bool only_serials = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (only_serials || !arg.starts_with("-") || arg == "-") {
      serials.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      only_serials = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      options.help = true;
      continue;
    }
    std::string_view name = arg;
    std::optional<std::string_view> value;
    if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    if (name == "--uhid") {
      options.transport = Transport::kUhid;
      // The path may follow as the next argument; a serial never starts with '/'
      // there without a '--' before it.
      if (!value && i + 1 < args.size() && args[i + 1].starts_with("/")) value = args[++i];
      if (value) {
        if (value->empty()) return Fail("'--uhid=': the path is empty");
        options.uhid_path = std::string(*value);
      }
      continue;
    }
    constexpr std::string_view kWithValue[] = {"--name", "--maker", "--version",
                                               "--mask", "--rate",  "--plug-cycle"};
    if (std::find(std::begin(kWithValue), std::end(kWithValue), name) == std::end(kWithValue)) {
      return Fail("unknown option '" + std::string(arg) + "'");
    }
    if (!value) {
      if (i + 1 == args.size()) return Fail("option '" + std::string(name) + "' needs a value");
      value = args[++i];
    }
    if (auto problem = ApplyValue(name, *value, common, options)) return Fail(std::move(*problem));
  }
  return WithDevices(std::move(options), common, std::move(serials));
}

std::string HelpText(std::string_view program) {
  std::string text = "Usage: " + std::string(program) + " [OPTION]... [SERIAL]...\n";
  text += R"(Plugs a virtual Tensivo load cell interface into this machine for each SERIAL,
TV-0001 when none is given, and keeps them plugged in until it is stopped:
Ctrl-C, SIGTERM or "quit" on standard input. Then it unplugs them.

By default each is a whole USB device on the kernel's virtual USB host
controller (vhci-hcd, through USB/IP): the kernel's USB HID driver takes it as
it takes the hardware, with its maker, product, serial and release number.
This needs the vhci-hcd module (sudo modprobe vhci-hcd) and root. With --uhid
each is a HID device made through uhid instead, which has no USB parent: the
utility shows no maker, version 0 and cannot configure it.

Either way the devices act as the hardware does: vendor E31A, product 5C07,
factory register values, the configuration block and input-mask replies to
feature reads, register writes applied, and input reports with moving values
while a program has the device open. Programs that open the devices need
access to their /dev/hidrawN.

Options:
  --maker TEXT        maker (manufacturer) string (default "Tensivo")
  --name TEXT         product string (default "Load Cell Interface"); names
                      have 1 to 126 bytes and no control characters
  --version HEX       release number, 1 to 4 hex digits (default 0101)
  --mask HEX          input mask, bits 3 to 7 mark inputs 4 to 8 as not fitted
                      (default 00)
  --rate N            input reports per second, 0 for none (default 1000)
  --plug-cycle P,A    unplug the last device for the last A ms of every P ms
  --uhid[=PATH]       plug HID devices through uhid instead of USB devices;
                      PATH is the uhid device (default /dev/uhid), and may
                      also follow as the next argument when it starts with /
  -h, --help          show this text and exit

A SERIAL has 1 to 63 printable ASCII characters without blanks; each device
needs its own.

Commands on standard input, one a line:
  unplug N            unplug device N (numbered from 1 in the order given)
  replug N            plug it in again; it keeps its registers
  status              list the devices with their hidraw nodes
  quit                unplug the devices and exit

Exit status: 0 after a clean stop, 1 when the devices cannot be made, 2 for a
bad command line.
)";
  return text;
}

std::string UhidOpenError(const std::string& path, int error_number) {
  if (error_number == kNotUhid) {
    return path + " is not the uhid device: --uhid takes the uhid character device " +
           "(misc 10:239, " + kUhidPath + ")";
  }
  const std::string head = "cannot open " + path + ": " + std::strerror(error_number);
  switch (error_number) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return head + "\nThe uhid module is not loaded: load it with 'sudo modprobe uhid'.";
    case EACCES:
    case EPERM:
      return head + "\nCreating devices needs root or write access to " + path +
             ": run it with sudo.";
    default:
      return head;
  }
}

std::string UsbPlugError(const std::string& serial, int error_number) {
  const std::string head = "cannot plug in " + serial + " as a USB device: ";
  switch (error_number) {
    case ENOENT:
      return head + "the virtual USB host controller is not there.\n" +
             "Load it with 'sudo modprobe vhci-hcd', or plug uhid devices with --uhid.";
    case EACCES:
    case EPERM:
      return head + "attaching to " + kVhciPath + " needs root: run it with sudo.";
    case kNoFreePort:
      return head + "every port of the virtual USB host controllers is taken.\n" +
             "Unplug virtual USB devices (another tensivo-virtual-device, usbip) or plug fewer.";
    default:
      return head + std::strerror(error_number);
  }
}

}  // namespace tensivo::virtual_device
