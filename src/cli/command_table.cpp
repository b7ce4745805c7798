#include "cli/command_table.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <stdexcept>

#include "cli/connection.h"
#include "cli/gain_value.h"
#include "cli/number_text.h"
#include "cli/text.h"
#include "device/device_text.h"
#include "device/input_report.h"
#include "device/protocol.h"

namespace tensivo::cli {

namespace {

// The ranges the options take, written once for their checks, messages and help.
constexpr int kLeastPosition = 0;
constexpr int kMostPosition = device::kGainCount - 1;
constexpr double kLeastRate = 0.1;
constexpr double kMostRate = 100;
constexpr long kLeastCount = 1;
constexpr long kMostCount = 1000000000;

// A number as a person writes it: 0.1, 100, 2559.
std::string Written(double value) {
  char text[32];
  const auto end =
      std::to_chars(std::begin(text), std::end(text), value, std::chars_format::fixed).ptr;
  return std::string(text, end);
}

std::string Range(double least, double most) { return Written(least) + " to " + Written(most); }

// Every number goes through PlainDecimal, so that 010 is ten, 20.0 is twenty
// and 0x9FF, 1e3 and +5 are no numbers at all.
std::optional<long> Whole(std::string_view text, long least, long most) {
  const auto plain = PlainDecimal(text);
  if (!plain || plain->find('.') != std::string::npos) return std::nullopt;
  long value = 0;
  const auto [end, error] = std::from_chars(plain->data(), plain->data() + plain->size(), value);
  if (error != std::errc() || end != plain->data() + plain->size()) return std::nullopt;
  if (value < least || value > most) return std::nullopt;
  return value;
}

std::optional<double> Decimal(std::string_view text, double least, double most) {
  const auto plain = PlainDecimal(text);
  if (!plain) return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(plain->data(), plain->data() + plain->size(), value,
                                            std::chars_format::fixed);
  if (error != std::errc() || end != plain->data() + plain->size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  if (value < least || value > most) return std::nullopt;
  return value;
}

using Refusal = std::optional<std::string>;

std::string CellChoice() { return Listed(kCellNames, "or"); }

Refusal ReadSerial(const std::string& text, Options& options) {
  // Serials are matched as the window matches them: as 8-bit text.
  options.serial = DeviceFromUtf8(text);
  if (options.serial) return std::nullopt;
  return "--serial " + Quoted(text) +
         " holds a character no device serial can hold (they are 8-bit text, Latin-1)";
}

Refusal ReadCell(const std::string& text, Options& options) {
  std::string upper = text;
  std::ranges::transform(upper, upper.begin(), [](unsigned char c) { return std::toupper(c); });
  const auto it = std::ranges::find(kCellNames, upper);
  if (it == std::end(kCellNames)) return Quoted(text) + " is no load cell; give " + CellChoice();
  options.cell = static_cast<int>(it - std::begin(kCellNames));
  return std::nullopt;
}

Refusal ReadPosition(const std::string& text, Options& options) {
  const auto position = Whole(text, kLeastPosition, kMostPosition);
  if (!position) {
    return "--position " + Quoted(text) + " is no list position; give a whole number from " +
           Range(kLeastPosition, kMostPosition);
  }
  options.position = static_cast<int>(*position);
  return std::nullopt;
}

// A gain that is no list entry is refused with the entries nearest to it,
// before any device is touched.
Refusal ReadGain(const std::string& text, Options& options) {
  options.gain = text;
  if (FindGainPosition(text)) return std::nullopt;
  return NoGainMessage(text);
}

Refusal ReadRate(const std::string& text, Options& options) {
  const auto rate = Decimal(text, kLeastRate, kMostRate);
  if (!rate) {
    return "--rate " + Quoted(text) + " is no rate; give reads per second from " +
           Range(kLeastRate, kMostRate) + ", such as 20 or 0.5";
  }
  options.rate = *rate;
  return std::nullopt;
}

Refusal ReadCount(const std::string& text, Options& options) {
  options.count = Whole(text, kLeastCount, kMostCount);
  if (options.count) return std::nullopt;
  return "--count " + Quoted(text) + " is no count of readings; give a whole number from " +
         Range(kLeastCount, kMostCount);
}

Refusal ReadFile(const std::string& text, Options& options) {
  options.file = text;
  return std::nullopt;
}

}  // namespace

const Argument& ArgumentOf(Arg arg) {
  static const Argument arguments[] = {
      {Arg::kSerial, "--serial", "SERIAL",
       "the device with this serial number; without it, the one the window opens: the last one "
       "listed (of two with the same serial, the first of them)",
       ReadSerial},
      {Arg::kCell, "cell", "CELL", "a load cell: " + CellChoice(), ReadCell},
      {Arg::kPosition, "--position", "POSITION",
       "the gain by its list position instead, " + Range(kLeastPosition, kMostPosition),
       ReadPosition},
      {Arg::kGain, "gain", "GAIN",
       "the gain as the window's list writes it, " + device::GainText(kLeastPosition) + " to " +
           device::GainText(kMostPosition) + ": 500, 8.0312",
       ReadGain, nullptr, Arg::kPosition},
      {Arg::kRate, "--rate", "HZ",
       "reads per second, " + Range(kLeastRate, kMostRate) + " (default " +
           Written(Options().rate) + ")",
       ReadRate},
      {Arg::kCount, "--count", "N",
       "end after this many readings, " + Range(kLeastCount, kMostCount), ReadCount},
      {Arg::kFile, "file", "FILE", "a profile file", ReadFile},
      {Arg::kJson, "--json", nullptr, "print JSON", nullptr, &Options::json},
      {Arg::kYes, "--yes,-y", nullptr, "do not ask; needed when not at a terminal", nullptr,
       &Options::yes},
      {Arg::kForce, "--force", nullptr, "load a profile saved from another device", nullptr,
       &Options::force},
  };
  static_assert(std::size(arguments) == kArgCount);
  const Argument& argument = arguments[static_cast<std::size_t>(arg)];
  if (argument.arg != arg) throw std::logic_error("the arguments are not in Arg's order");
  return argument;
}

std::span<const Command> Commands() {
  static const Command commands[] = {
      {"list",
       "every attached device: serial, node, maker, product, version, whether it can be "
       "configured and opened, and what to do when it cannot",
       {{Arg::kJson}},
       List},
      {"info",
       "a device's details, its three gains and which inputs it has",
       {{Arg::kSerial}, {Arg::kJson}},
       Info},
      {"get-gain",
       "the gains stored in a device",
       {{Arg::kCell}, {Arg::kSerial}, {Arg::kJson}},
       GetGain},
      {"set-gain",
       "writes one load cell's gain as the window does, then reads it back",
       {{Arg::kCell, true}, {Arg::kGain}, {Arg::kPosition}, {Arg::kSerial}},
       SetGain,
       true},
      {"factory",
       "restores the factory settings as the window's button does (every gain 500), then reads "
       "them back",
       {{Arg::kYes}, {Arg::kSerial}},
       Factory,
       true},
      {"monitor",
       "the eight inputs live, raw 0.." + Written(device::kFullScaleValue) +
           " and percent; Ctrl-C ends",
       {{Arg::kRate},
        {Arg::kCount},
        {Arg::kSerial},
        {Arg::kJson, false, "one JSON object per reading"}},
       Monitor},
      {"save",
       "writes a device's three gains to a profile file",
       {{Arg::kFile, true}, {Arg::kSerial}},
       Save},
      {"load",
       "checks a profile file whole, writes its gains, and reads them back",
       {{Arg::kFile, true}, {Arg::kForce}, {Arg::kSerial}},
       Load,
       true},
  };
  return commands;
}

std::vector<std::string> OptionNames(const Command& command) {
  std::vector<std::string> names;
  for (const ArgUse& use : command.args) {
    const std::string_view all = ArgumentOf(use.arg).names;
    if (all.starts_with("--")) names.emplace_back(all.substr(0, all.find(',')));
  }
  return names;
}

}  // namespace tensivo::cli
