// The eight inputs live, read the way the window's monitor reads them: one
// read per tick and the newest whole report shown. Unlike the window, a tick
// without a new report is no loss: a slow device is waited for, and only a
// device that is no longer listed is dropped until one is back.
#include <signal.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>

#include "cli/commands.h"
#include "cli/connection.h"
#include "cli/text.h"
#include "device/discovery.h"
#include "device/input_report.h"

namespace tensivo::cli {

namespace {

using Clock = std::chrono::steady_clock;
using Values = std::array<std::optional<std::uint16_t>, device::kBarCount>;

// The window searches every 100 ms once it has lost its device; a quiet device
// is looked for in the list no more often.
constexpr std::chrono::milliseconds kSearchPeriod{100};

// A device that stays listed and sends nothing this long is given up on: our
// devices stream on their own, so it will not start.
constexpr std::chrono::seconds kSilenceLimit{5};

// A serial in the table's header is cut to this many columns, so that the
// header keeps to one line of a terminal and each redraw lands on the last.
constexpr std::size_t kHeaderSerialColumns = 60;

// Tenths of a percent of full scale, so that text needs no floating point.
int PercentTenths(std::uint16_t value) {
  return static_cast<int>(std::lround(value * 1000.0 / device::kFullScaleValue));
}
double Percent(std::uint16_t value) { return PercentTenths(value) / 10.0; }

// Appends a whole number; the plain line is printed up to 100 times a second.
void Append(std::string& line, unsigned number) {
  char digits[12];
  const auto end = std::to_chars(std::begin(digits), std::end(digits), number).ptr;
  line.append(digits, end);
}

// The serial as shown, cut between characters to fit the table's header.
std::string HeaderSerial(const std::string& serial) {
  const std::string whole = Shown(serial);
  if (Columns(whole) <= kHeaderSerialColumns) return whole;
  std::string cut;
  for (const char c : serial) {
    const std::string next = Shown(std::string_view(&c, 1));
    if (Columns(cut) + Columns(next) > kHeaderSerialColumns - 3) break;
    cut += next;
  }
  return cut + "...";
}

// The line cut to leave the terminal's last column free, so that no
// terminal wraps it and the table keeps its height; 0 columns: unknown.
std::string Fit(const std::string& line, int columns) {
  if (columns <= 0 || Columns(line) < static_cast<std::size_t>(columns)) return line;
  std::size_t kept = 0;
  std::size_t end = 0;
  for (; end < line.size(); ++end) {
    if ((static_cast<std::uint8_t>(line[end]) & 0xC0) == 0x80) continue;
    if (kept == static_cast<std::size_t>(columns - 1)) break;
    ++kept;
  }
  return line.substr(0, end);
}

class Printer {
 public:
  Printer(Console& console, bool json) : console_(console), json_(json) {}

  void Show(const std::string& serial, const Values& values) {
    if (json_) {
      nlohmann::ordered_json line = {{"serial", Utf8FromDevice(serial)}};
      for (std::size_t i = 0; i < values.size(); ++i) {
        line[device::kChannels[i].json_key] =
            values[i]
                ? nlohmann::ordered_json{{"raw", *values[i]}, {"percent", Percent(*values[i])}}
                : nullptr;
      }
      console_.out << JsonText(line) << '\n' << std::flush;
    } else if (console_.out_is_terminal) {
      Table(serial, values);
    } else {
      line_ = Shown(serial);
      for (std::size_t i = 0; i < values.size(); ++i) {
        ((line_ += ' ') += device::kChannels[i].json_key) += '=';
        if (!values[i]) {
          line_ += '-';
          continue;
        }
        Append(line_, *values[i]);
        line_ += " (";
        const int tenths = PercentTenths(*values[i]);
        Append(line_, static_cast<unsigned>(tenths / 10));
        (line_ += '.') += static_cast<char>('0' + tenths % 10);
        line_ += "%)";
      }
      line_ += '\n';
      console_.out.write(line_.data(), static_cast<std::streamsize>(line_.size())).flush();
    }
  }

  // A note on stderr; a table on the terminal starts afresh below it.
  void Note(const std::string& text) {
    console_.err << "tensivo-cli: " << text << '\n' << std::flush;
    drawn_ = false;
  }

 private:
  static constexpr int kTableLines = 2 + device::kBarCount;

  void Table(const std::string& serial, const Values& values) {
    const bool moved = console_.redraw && console_.redraw->exchange(false);
    if (!drawn_ || moved) columns_ = console_.columns ? console_.columns() : 0;
    std::string text;
    // A terminal that was resized or stopped under the table may have moved
    // or reflowed it: start from a clear screen. Otherwise go back over the
    // table drawn last time.
    if (drawn_ && moved) {
      text += "\x1b[H\x1b[2J";
    } else if (drawn_) {
      text += "\x1b[" + std::to_string(kTableLines) + "A";
    }
    const auto add = [&](const std::string& line) {
      text += "\x1b[2K" + Fit(line, columns_) + "\n";
    };
    add(HeaderSerial(serial) + "  (Ctrl-C ends)");
    char line[64];
    std::snprintf(line, sizeof line, "%-8s %7s %8s", "input", "raw", "percent");
    add(line);
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (values[i]) {
        std::snprintf(line, sizeof line, "%-8s %7u %7.1f%%", device::kChannels[i].name,
                      unsigned{*values[i]}, Percent(*values[i]));
      } else {
        std::snprintf(line, sizeof line, "%-8s %7s %8s", device::kChannels[i].name, "-", "-");
      }
      add(line);
    }
    console_.out << text << std::flush;
    drawn_ = true;
  }

  Console& console_;
  bool json_;
  bool drawn_ = false;
  int columns_ = 0;
  std::string line_;
};

}  // namespace

// Throws Failure(kDeviceFailed) for a device whose input reports cannot be
// read at all: a length that could not be learnt, or longer than one read.
void RequireReadable(Connection& connection) {
  const std::uint16_t length = connection.state().DeviceCaps.InputReportByteLength;
  if (length == 0) {
    throw Failure(kDeviceFailed, "device " + Shown(connection.serial()) +
                                     ": the length of its input reports could not be read; "
                                     "unplug it and plug it in again");
  }
  if (length > device::kReadRequestBytes) {
    throw Failure(kDeviceFailed,
                  "device " + Shown(connection.serial()) + ": its input reports are " +
                      std::to_string(length) + " bytes long, more than a read takes (" +
                      std::to_string(device::kReadRequestBytes) + "); it cannot be monitored");
  }
}

// Whether the device open in `state` is still listed where it was opened.
bool StillListed(platform::HidPlatform& hid, const device::WindowState& state) {
  std::vector<platform::InterfaceInfo> interfaces;
  if (hid.Enumerate(device::kVendorId, device::kProductId, interfaces) == 0) return false;
  return std::ranges::any_of(interfaces, [&](const platform::InterfaceInfo& info) {
    return info.path == state.DevicePathName;
  });
}

// Opens the device asked for after it was lost, and says which one it shows.
bool Reopen(platform::HidPlatform& hid, const Options& options, Printer& printer,
            std::optional<Connection>& connection, std::string& last_serial) {
  try {
    connection.emplace(hid, options.serial);
  } catch (const Failure&) {
    return false;
  }
  device::ReadDetails(hid, connection->state());
  RequireReadable(*connection);
  printer.Note(connection->serial() == last_serial
                   ? "device " + Shown(last_serial) + " is back"
                   : "now showing device " + Shown(connection->serial()));
  last_serial = connection->serial();
  return true;
}

// The newest values among the reports one read takes, if it took any.
std::optional<Values> ReadNewest(platform::HidPlatform& hid, device::WindowState& state) {
  std::array<std::uint8_t, device::kReadBufferBytes> buffer{};
  std::uint32_t count = 0;
  state.LastResult = hid.ReadInput(state.ReadHandle, state.ReadOverlapped,
                                   std::span(buffer).first(device::kReadRequestBytes), count);
  if (count == 0) return std::nullopt;
  return device::NewestReportValues(buffer, count, state.DeviceCaps.InputReportByteLength,
                                    state.InputMask);
}

int Monitor(platform::HidPlatform& hid, const Options& options, Console& console) {
  const auto interrupted = [&] { return console.interrupted && console.interrupted->load(); };
  const auto now = [&] { return console.now ? console.now() : Clock::now(); };
  const auto period = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(1.0 / options.rate));
  Printer printer(console, options.json);

  std::optional<Connection> connection;
  connection.emplace(hid, options.serial, console.program);
  // As after every open in the window: strings and read-back, for the mask.
  device::ReadDetails(hid, connection->state());
  RequireReadable(*connection);
  std::string last_serial = connection->serial();

  long shown = 0;
  Clock::time_point next = now();
  // When the device was last found listed; a quiet device is checked anew
  // once a search period has passed on the monitor's own schedule.
  Clock::time_point listed = next;
  // When the device shown last sent a report, or was opened.
  Clock::time_point heard = next;
  // Output that cannot be written ends the run; Run says so.
  while (!interrupted() && console.out) {
    next += connection ? period : std::max<Clock::duration>(period, kSearchPeriod);
    next = std::max(next, now());
    console.wait_until(next);
    if (interrupted()) break;

    if (!connection) {
      if (Reopen(hid, options, printer, connection, last_serial)) listed = heard = next;
      continue;
    }

    device::WindowState& state = connection->state();
    if (const auto values = ReadNewest(hid, state)) {
      printer.Show(connection->serial(), *values);
      listed = heard = next;
      if (options.count && ++shown >= *options.count) break;
      continue;
    }
    // Nothing new: a slow device, or one that is gone.
    if (next - listed < kSearchPeriod) continue;
    if (StillListed(hid, state)) {
      listed = next;
      if (next - heard >= kSilenceLimit) {
        throw Failure(kDeviceFailed, "device " + Shown(connection->serial()) +
                                         " is attached but sent no input report for " +
                                         std::to_string(kSilenceLimit.count()) + " seconds");
      }
      continue;
    }
    connection.reset();
    printer.Note("device " + Shown(last_serial) + " lost; waiting for " +
                 (options.serial ? "it" : "a device"));
  }
  // Ctrl-C is how a monitor is ended; SIGTERM is someone else ending it.
  if (console.interrupted && *console.interrupted != SIGINT) StopIfInterrupted(console);
  return kOk;
}

}  // namespace tensivo::cli
