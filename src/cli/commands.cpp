#include "cli/commands.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <istream>
#include <nlohmann/json.hpp>
#include <ostream>

#include "cli/connection.h"
#include "cli/gain_value.h"
#include "cli/profile.h"
#include "cli/text.h"
#include "device/device_text.h"
#include "device/protocol.h"

namespace tensivo::cli {

namespace {

using device::LoadCell;
using json = nlohmann::ordered_json;

// "LC1, LC2 and LC3"
std::string CellsText() { return Listed(kCellNames, "and"); }

// "LC1 500, LC2 8, LC3 1022"
std::string GainsText(const Profile& profile) {
  std::string text;
  for (std::size_t c = 0; c < kCellNames.size(); ++c) {
    text += std::string(c == 0 ? "" : ", ") + kCellNames[c] + ' ' +
            device::GainText(profile.positions[c]);
  }
  return text;
}

// Every load cell, in channel order.
std::vector<std::size_t> AllCells() {
  std::vector<std::size_t> cells(device::kLoadCellCount);
  for (std::size_t c = 0; c < cells.size(); ++c) cells[c] = c;
  return cells;
}

// The window shows the version after a blank, as a label's padding.
std::string Version(std::uint16_t version) { return device::VersionText(version).substr(1); }

json GainJson(const std::optional<int>& position) {
  if (!position) return nullptr;
  return {
      {"text", device::GainText(*position)}, {"gain", GainAt(*position)}, {"position", *position}};
}

std::string GainLine(const std::optional<int>& position) {
  if (!position) return "none: its registers name no entry of the list";
  return device::GainText(*position) + " (exact " + device::ExactGainText(*position) +
         ", list position " + std::to_string(*position) + ")";
}

// Device text for JSON: exact, in UTF-8; none when it could not be read.
json DeviceJson(const std::optional<std::string>& text) {
  return text ? json(Utf8FromDevice(*text)) : json(nullptr);
}

// Prints rows of printable text as columns two blanks apart; the last column
// is not padded.
void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Columns(row[i]));
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - Columns(row[i]) + 2, ' ');
    }
    out << line << '\n';
  }
}

// The registers of the load cells after `cell`, which a stopped load never sent.
std::vector<std::uint8_t> RegistersAfter(std::size_t cell) {
  std::vector<std::uint8_t> regs;
  for (std::size_t c = cell + 1; c < device::kLoadCellRegisters.size(); ++c) {
    const auto& r = device::kLoadCellRegisters[c];
    regs.insert(regs.end(), {r.amplifier, r.shift, r.fine});
  }
  return regs;
}

void RequireHolds(const Connection& connection, const device::StoredGains& gains, std::size_t cell,
                  int position) {
  if (gains.positions[cell] == position) return;
  const std::string held = gains.positions[cell]
                               ? device::GainText(*gains.positions[cell]) + " (position " +
                                     std::to_string(*gains.positions[cell]) + ")"
                               : "no list entry";
  throw Failure(kDeviceFailed, "device " + Shown(connection.serial()) + " holds " + held + " for " +
                                   std::string(kCellNames[cell]) + " after " +
                                   device::GainText(position) + " (position " +
                                   std::to_string(position) + ") was written");
}

// Each register the factory writes, held to what the read-back after them
// found; a register the read-back did not reach is not held either.
void RequireFactoryHeld(const Connection& connection, const device::StoredGains& read_back) {
  std::vector<std::string> wrong, held, written, unread;
  for (std::size_t reg = 0; reg < device::kFactoryValues.size(); ++reg) {
    if (!read_back.registers_read.test(reg)) {
      unread.push_back(std::to_string(reg));
    } else if (read_back.registers[reg] != device::kFactoryValues[reg]) {
      wrong.push_back(std::to_string(reg));
      held.push_back(std::to_string(read_back.registers[reg]));
      written.push_back(std::to_string(device::kFactoryValues[reg]));
    }
  }
  if (wrong.empty() && unread.empty()) return;
  const auto plural = [](const std::vector<std::string>& regs) { return regs.size() > 1; };
  std::string message =
      "device " + Shown(connection.serial()) + " did not keep the factory settings";
  if (!wrong.empty()) {
    message += std::string(": register") + (plural(wrong) ? "s " : " ") + Commas(wrong) +
               (plural(wrong) ? " hold " : " holds ") + Commas(held) + " where " +
               Commas(written) + (plural(wrong) ? " were" : " was") + " written";
  }
  if (!unread.empty()) {
    message += std::string(wrong.empty() ? ": register" : "; register") +
               (plural(unread) ? "s " : " ") + Commas(unread) +
               (plural(unread) ? " were" : " was") + " not in its read-back";
  }
  throw Failure(kDeviceFailed, message);
}

void PrintListJson(std::ostream& out, const std::vector<Surveyed>& found,
                   const std::optional<std::string>& default_serial) {
  json devices = json::array();
  for (const Surveyed& s : found) {
    const auto& d = s.details;
    // The same keys for every device, null where a value could not be read,
    // so that a script need not test for a key.
    const bool opened = !s.problem;
    json entry = {{"serial", DeviceJson(s.serial)}, {"node", DeviceJson(s.path)}};
    entry["maker"] = opened ? DeviceJson(d.manufacturer) : json(nullptr);
    entry["product"] = opened ? DeviceJson(d.product) : json(nullptr);
    entry["version"] = opened && d.manufacturer ? json(Version(d.version)) : json(nullptr);
    entry["version_number"] = opened ? json(d.version) : json(nullptr);
    entry["configurable"] = opened ? json(!ConfigureRefusal(d)) : json(nullptr);
    entry["openable"] = opened;
    entry["problem"] = s.problem ? json(s.problem->reason) : json(nullptr);
    entry["fix"] = s.problem ? json(s.problem->fix) : json(nullptr);
    devices.push_back(entry);
  }
  out << JsonText({{"devices", devices}, {"default", DeviceJson(default_serial)}}, 2) << '\n';
}

void PrintListTable(std::ostream& out, const std::vector<Surveyed>& found,
                    const std::optional<std::string>& default_serial) {
  std::vector<std::vector<std::string>> rows = {
      {"SERIAL", "NODE", "MAKER", "PRODUCT", "VERSION", "CONFIGURABLE", "OPENS"}};
  for (const Surveyed& s : found) {
    const auto& d = s.details;
    if (s.problem) {
      rows.push_back({s.serial ? Named(*s.serial) : "?", Shown(s.path), "-", "-", "-", "-",
                      "no: " + s.problem->reason});
      continue;
    }
    // The window shows the version only beside a maker string it could read.
    rows.push_back({Named(*s.serial), Shown(s.path), d.manufacturer ? Shown(*d.manufacturer) : "?",
                    d.product ? Shown(*d.product) : "?", d.manufacturer ? Version(d.version) : "?",
                    ConfigureRefusal(d) ? "no" : "yes", "yes"});
  }
  PrintTable(out, rows);
  for (const Surveyed& s : found) {
    if (!s.problem) continue;
    out << Shown(s.path) << ": " << s.problem->reason << ". Fix: " << s.problem->fix << '\n';
  }
  for (const Surveyed& s : found) {
    if (const auto refusal = s.problem ? std::nullopt : ConfigureRefusal(s.details)) {
      out << Named(*s.serial) << " cannot be configured: " << *refusal << '\n';
    }
  }
  if (default_serial) {
    out << "Commands use " << Named(*default_serial)
        << " (the device the window opens) unless --serial names another.\n";
  }
}

}  // namespace

int List(platform::HidPlatform& hid, const Options& options, Console& console) {
  const std::vector<Surveyed> found = Survey(hid);
  // The window opens the last device whose serial it could read.
  const auto usable = [](const Surveyed& s) { return !s.problem; };
  const auto chosen = std::find_if(found.rbegin(), found.rend(), usable);
  const std::optional<std::string> default_serial =
      chosen == found.rend() ? std::nullopt : chosen->serial;

  if (options.json) {
    PrintListJson(console.out, found, default_serial);
  } else if (!found.empty()) {
    PrintListTable(console.out, found, default_serial);
  }
  if (found.empty()) {
    console.err << "tensivo-cli: no device attached; " << WithoutHardware(console.program) << '\n';
    return kNoDevice;
  }
  if (!default_serial) {
    console.err << "tensivo-cli: no attached device can be opened\n";
    return kCannotOpen;
  }
  return kOk;
}

int Info(platform::HidPlatform& hid, const Options& options, Console& console) {
  Connection connection(hid, options.serial, console.program);
  const device::DeviceDetails details = device::ReadDetails(hid, connection.state());
  const auto refusal = ConfigureRefusal(details);
  // Shown all the same: only its gains are out of reach.
  const bool gainless = !device::GainsFit(details.feature_length);
  if (!details.gains.read) connection.RequireStillThere();
  if (!details.gains.read && !gainless) {
    throw Failure(kDeviceFailed, "device " + Shown(connection.serial()) +
                                     " did not answer the read-back of its registers" +
                                     (refusal ? " (" + *refusal + ")" : std::string()));
  }
  const std::uint8_t mask = connection.state().InputMask;
  std::vector<std::string> present, absent;
  for (const device::Channel& channel : device::kChannels) {
    (device::Present(channel, mask) ? present : absent).push_back(channel.name);
  }

  if (options.json) {
    json gains = json::object();
    for (const std::size_t c : AllCells()) {
      gains[device::kChannels[c].json_key] =
          gainless ? json(nullptr) : GainJson(details.gains.positions[c]);
    }
    console.out << JsonText({{"serial", DeviceJson(connection.serial())},
                             {"node", DeviceJson(connection.state().DevicePathName)},
                             {"maker", DeviceJson(details.manufacturer)},
                             {"product", DeviceJson(details.product)},
                             {"version", details.manufacturer ? json(Version(details.version))
                                                              : json(nullptr)},
                             {"version_number", details.version},
                             {"configurable", !refusal},
                             {"gains", gains},
                             {"input_mask", mask},
                             {"inputs_present", present},
                             {"inputs_absent", absent}},
                            2)
                << '\n';
    return kOk;
  }
  auto joined = [](const std::vector<std::string>& names) {
    std::string text;
    for (const auto& n : names) text += (text.empty() ? "" : ", ") + n;
    return text.empty() ? std::string("none") : text;
  };
  char mask_text[8];
  std::snprintf(mask_text, sizeof mask_text, "0x%02X", mask);
  std::vector<std::vector<std::string>> rows = {
      {"serial", Shown(connection.serial())},
      {"node", Shown(connection.state().DevicePathName)},
      {"maker", details.manufacturer ? Shown(*details.manufacturer) : "(cannot be read)"},
      {"product", details.product ? Shown(*details.product) : "(cannot be read)"},
      {"version", details.manufacturer ? Version(details.version) : "(not shown without a maker)"},
      {"configurable", refusal ? "no: " + *refusal : "yes"},
  };
  for (const std::size_t c : AllCells()) {
    rows.push_back({std::string(kCellNames[c]) + " gain",
                    gainless ? "(cannot be read: its feature reports are too short)"
                             : GainLine(details.gains.positions[c])});
  }
  rows.push_back({"input mask", mask_text});
  rows.push_back({"inputs", joined(present)});
  rows.push_back({"absent", joined(absent)});
  PrintTable(console.out, rows);
  return kOk;
}

int GetGain(platform::HidPlatform& hid, const Options& options, Console& console) {
  Connection connection(hid, options.serial, console.program);
  const device::StoredGains gains = connection.ReadBackGains();
  std::vector<std::size_t> cells = AllCells();
  if (options.cell) cells = {static_cast<std::size_t>(*options.cell)};
  if (options.json) {
    json out = json::object();
    for (const std::size_t c : cells)
      out[device::kChannels[c].json_key] = GainJson(gains.positions[c]);
    console.out << JsonText({{"serial", DeviceJson(connection.serial())}, {"gains", out}}, 2)
                << '\n';
  } else {
    for (const std::size_t c : cells) {
      console.out << kCellNames[c] << " gain " << GainLine(gains.positions[c]) << '\n';
    }
  }
  return kOk;
}

int RequestedPosition(const Options& options) {
  if (options.position) return *options.position;
  const auto position = FindGainPosition(*options.gain);
  if (!position) throw Failure(kUsage, NoGainMessage(*options.gain));
  return *position;
}

int SetGain(platform::HidPlatform& hid, const Options& options, Console& console) {
  const int position = RequestedPosition(options);
  const auto cell = static_cast<std::size_t>(*options.cell);
  Connection connection(hid, options.serial, console.program);
  connection.RequireConfigurable();
  StopIfInterrupted(console);
  connection.RequireWritten(
      device::WriteGain(hid, connection.state(), static_cast<LoadCell>(cell), position));
  RequireHolds(connection, connection.ReadBackGains(), cell, position);
  console.out << Shown(connection.serial()) << ' ' << kCellNames[cell] << " gain "
              << device::GainText(position) << " (list position " << position << ")\n";
  return kOk;
}

int Factory(platform::HidPlatform& hid, const Options& options, Console& console) {
  if (!options.yes && !console.in_is_terminal) {
    throw Failure(kRefused,
                  "factory rewrites every gain; confirm it with --yes when not at a terminal");
  }
  Connection connection(hid, options.serial, console.program);
  connection.RequireConfigurable();
  if (!options.yes) {
    console.err << "Restore the factory settings of " << Shown(connection.serial())
                << " (every gain back to 500)? [y/N] " << std::flush;
    std::string answer;
    if (console.wait_readable) console.wait_readable(STDIN_FILENO);
    if (console.interrupted && *console.interrupted) console.err << '\n';
    StopIfInterrupted(console);
    std::getline(console.in, answer);
    StopIfInterrupted(console);
    if (answer != "y" && answer != "Y" && answer != "yes") {
      throw Failure(kRefused, "not confirmed; nothing written");
    }
  }
  StopIfInterrupted(console);
  connection.RequireWritten(device::WriteFactoryDefaults(hid, connection.state()));
  // The window reads the whole device back after these writes.
  const device::DeviceDetails details = device::ReadDetails(hid, connection.state());
  if (!details.gains.read) {
    connection.RequireStillThere();
    throw Failure(kDeviceFailed, "device " + Shown(connection.serial()) +
                                     " did not answer the read-back after the factory writes");
  }
  for (const std::size_t c : AllCells()) {
    RequireHolds(connection, details.gains, c, device::kFactoryGainPosition);
  }
  RequireFactoryHeld(connection, details.gains);
  console.out << Shown(connection.serial()) << " factory settings restored: " << CellsText()
              << " gain " << device::GainText(device::kFactoryGainPosition) << '\n';
  return kOk;
}

int Save(platform::HidPlatform& hid, const Options& options, Console& console) {
  Connection connection(hid, options.serial, console.program);
  connection.RequireGainsFit();
  const device::DeviceDetails details = device::ReadDetails(hid, connection.state());
  if (!details.gains.read) {
    connection.RequireStillThere();
    throw Failure(kDeviceFailed, "device " + Shown(connection.serial()) +
                                     " did not answer the read-back; nothing saved");
  }
  Profile profile;
  profile.serial = Utf8FromDevice(connection.serial());
  if (details.manufacturer) profile.maker = Utf8FromDevice(*details.manufacturer);
  if (details.product) profile.product = Utf8FromDevice(*details.product);
  profile.version = Version(details.version);
  for (const std::size_t c : AllCells()) {
    if (!details.gains.positions[c]) {
      throw Failure(kDeviceFailed,
                    std::string(kCellNames[c]) +
                        " holds registers that name no gain of the list; nothing saved");
    }
    profile.positions[c] = *details.gains.positions[c];
  }
  if (options.file == kStandardStream) {
    // The profile alone, so that it can be piped.
    console.out << ProfileText(profile);
    return kOk;
  }
  WriteProfileFile(options.file, ProfileText(profile));
  console.out << "saved " << Shown(connection.serial()) << " to " << Printable(options.file) << ": "
              << GainsText(profile) << '\n';
  return kOk;
}

int Load(platform::HidPlatform& hid, const Options& options, Console& console) {
  const Profile profile = ParseProfile(ReadProfileFile(options.file, console));
  Connection connection(hid, options.serial, console.program);
  connection.RequireConfigurable();
  // Matched as the window matches serials: as 8-bit text.
  if (DeviceFromUtf8(profile.serial) != connection.serial() && !options.force) {
    throw Failure(kRefused, "the profile is for device " + Printable(profile.serial) + ", not " +
                                Shown(connection.serial()) + "; --force loads it all the same");
  }
  StopIfInterrupted(console);
  device::WriteResults written;
  for (const std::size_t c : AllCells()) {
    const auto results =
        device::WriteGain(hid, connection.state(), static_cast<LoadCell>(c), profile.positions[c]);
    written.insert(written.end(), results.begin(), results.end());
    // A device that stopped taking writes gets no more of them.
    connection.RequireWritten(written, RegistersAfter(c));
  }
  const device::StoredGains gains = connection.ReadBackGains();
  for (const std::size_t c : AllCells()) RequireHolds(connection, gains, c, profile.positions[c]);
  console.out << "loaded " << Printable(options.file) << " into " << Shown(connection.serial())
              << ": " << GainsText(profile) << '\n';
  return kOk;
}

}  // namespace tensivo::cli
