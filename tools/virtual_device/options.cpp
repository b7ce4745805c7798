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

}  // namespace

ParsedOptions ParseOptions(const std::vector<std::string_view>& args) {
  Options options;
  DeviceSpec common;
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
    constexpr std::string_view kWithValue[] = {"--name", "--version", "--mask",
                                               "--rate", "--plug-cycle", "--uhid"};
    if (std::find(std::begin(kWithValue), std::end(kWithValue), name) == std::end(kWithValue)) {
      return Fail("unknown option '" + std::string(arg) + "'");
    }
    if (!value) {
      if (i + 1 == args.size()) return Fail("option '" + std::string(name) + "' needs a value");
      value = args[++i];
    }
    const std::string shown = "'" + std::string(name) + " " + std::string(*value) + "'";
    if (name == "--name") {
      if (value->empty() || value->size() > 127) return Fail(shown + ": a name has 1 to 127 bytes");
      common.name = std::string(*value);
    } else if (name == "--version") {
      const auto version = value->size() <= 4 ? ParseNumber<std::uint16_t>(*value, 16, 0xFFFF)
                                              : std::nullopt;
      if (!version) return Fail(shown + ": the version is 1 to 4 hex digits, e.g. 0101");
      common.version = *version;
    } else if (name == "--mask") {
      const auto mask = value->size() <= 2 ? ParseNumber<std::uint8_t>(*value, 16, 0xFF)
                                           : std::nullopt;
      if (!mask) return Fail(shown + ": the mask is 1 or 2 hex digits, e.g. 28");
      common.input_mask = *mask;
    } else if (name == "--rate") {
      const auto rate = ParseNumber<int>(*value, 10, kMaxRate);
      if (!rate) return Fail(shown + ": the rate is 0 to 10000 reports per second");
      common.reports_per_second = *rate;
    } else if (name == "--plug-cycle") {
      const auto comma = value->find(',');
      const auto period = ParseNumber<int>(value->substr(0, comma), 10, 3'600'000);
      const auto absent = comma == std::string_view::npos
                              ? std::nullopt
                              : ParseNumber<int>(value->substr(comma + 1), 10, 3'600'000);
      if (!period || !absent || *absent <= 0 || *absent >= *period) {
        return Fail(shown + ": expected PERIOD,ABSENT in milliseconds with 0 < ABSENT < PERIOD");
      }
      options.plug_cycle = PlugCycle{std::chrono::milliseconds(*period),
                                     std::chrono::milliseconds(*absent)};
    } else if (name == "--uhid") {
      if (value->empty()) return Fail(shown + ": the path is empty");
      options.uhid_path = std::string(*value);
    }
  }

  if (serials.empty()) serials.emplace_back(kDefaultSerial);
  std::set<std::string> seen;
  for (const std::string& serial : serials) {
    if (const auto problem = SerialProblem(serial)) {
      return Fail("malformed serial '" + serial + "': " + *problem);
    }
    if (!seen.insert(serial).second) return Fail("serial '" + serial + "' is given twice");
    DeviceSpec profile = common;
    profile.serial = serial;
    options.devices.push_back(std::move(profile));
  }
  return {std::move(options), {}};
}

std::string HelpText(std::string_view program) {
  std::string text = "Usage: " + std::string(program) + " [OPTION]... [SERIAL]...\n";
  text += R"(Creates a virtual Tensivo load cell interface in the kernel's HID stack (through
uhid) for each SERIAL, TV-0001 when none is given, and keeps them plugged in
until it is stopped: Ctrl-C, SIGTERM or "quit" on standard input. Then it
destroys them. The devices act as the hardware does behind the USB HID driver:
bus USB, vendor E31A, product 5C07, factory register values, the configuration
block and input-mask replies to feature reads, register writes applied, and
input reports with moving values while a program has the device open.

Needs the uhid module (sudo modprobe uhid) and root or write access to
/dev/uhid. Programs that open the devices need access to their /dev/hidrawN.

Options:
  --name TEXT         device name; hidapi shows it as the product string
                      (default "Tensivo Load Cell Interface")
  --version HEX       release number, 1 to 4 hex digits (default 0101); hidapi
                      shows 0 for every virtual device
  --mask HEX          input mask, bits 3 to 7 mark inputs 4 to 8 as not fitted
                      (default 00)
  --rate N            input reports per second, 0 for none (default 1000)
  --plug-cycle P,A    unplug the last device for the last A ms of every P ms
  --uhid PATH         the uhid device node (default /dev/uhid)
  -h, --help          show this text and exit

A SERIAL has 1 to 63 printable ASCII characters without blanks; each device
needs its own.

Commands on standard input, one a line:
  unplug N            unplug device N (numbered from 1 in the order given)
  replug N            plug it in again; it keeps its registers
  status              list the devices with their hidraw nodes
  quit                destroy the devices and exit

Exit status: 0 after a clean stop, 1 when the devices cannot be made, 2 for a
bad command line.
)";
  return text;
}

std::string UhidOpenError(const std::string& path, int error_number) {
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

}  // namespace tensivo::virtual_device
