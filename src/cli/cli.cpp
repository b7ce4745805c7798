#include "cli/cli.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <iostream>
#include <thread>

#include "cli/commands.h"
#include "cli/session.h"
#include "cli/text.h"
#include "device/protocol.h"
#include "sim/demo_world.h"

namespace tensivo::cli {

namespace {

constexpr const char* kDescription =
    "The Tensivo load-cell interface from a terminal and from scripts: lists the attached "
    "devices, shows and writes their gains, restores factory settings, shows the inputs "
    "live, and saves and loads gains as profiles.";

constexpr const char* kCommands =
    "the commands are list, info, get-gain, set-gain, factory, monitor, save and load";

// The ranges the options take, written once for their checks and messages.
constexpr int kLeastPosition = 0;
constexpr int kMostPosition = device::kGainCount - 1;
constexpr double kLeastRate = 0.1;
constexpr double kMostRate = 100;
constexpr long kLeastCount = 1;
constexpr long kMostCount = 1000000000;

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) { g_interrupted = true; }

// A number as a person writes it: 0.1, 100, 2559.
std::string Written(double value) {
  char text[32];
  const auto end =
      std::to_chars(std::begin(text), std::end(text), value, std::chars_format::fixed).ptr;
  return std::string(text, end);
}

// Decimal digits only, so that 010 is ten and 0x9FF no number at all.
std::optional<long> Whole(std::string_view text, long least, long most) {
  if (text.empty() || !std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < least || value > most) return std::nullopt;
  return value;
}

// A plain decimal such as 0.5 or 20; no exponent, hex, NaN or infinity.
std::optional<double> Decimal(std::string_view text, double least, double most) {
  if (text.empty() ||
      !std::ranges::all_of(text, [](char c) { return (c >= '0' && c <= '9') || c == '.'; })) {
    return std::nullopt;
  }
  double value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  if (value < least || value > most) return std::nullopt;
  return value;
}

std::string Quoted(std::string_view text) { return "'" + Printable(text) + "'"; }

// Where a user finds what `command` takes.
std::string HelpOf(const std::string& command) {
  return "(tensivo-cli " + (command.empty() ? "" : command + " ") + "--help)";
}

Failure Usage(const std::string& what, const std::string& command) {
  return Failure(kUsage, what + " " + HelpOf(command));
}

// The command named on the line, if any: the first word that names one.
std::string CommandNamed(std::span<const std::string> args,
                         const std::vector<CLI::App*>& commands) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i].starts_with("-")) continue;
    for (const CLI::App* command : commands) {
      if (command->get_name() == args[i]) return args[i];
    }
  }
  return {};
}

// Why the line could not be parsed, in our words: the parser's own wording
// changes with its version.
std::string ParseRefusal(const CLI::ParseError& error, std::span<const std::string> args,
                         CLI::App& app, const std::string& command) {
  if (command.empty()) {
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (!args[i].starts_with("-")) return "unknown command " + Quoted(args[i]) + "; " + kCommands;
    }
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i] != "--simulate") return "unknown option " + Quoted(args[i]) + "; " + kCommands;
    }
    return std::string("no command given; ") + kCommands;
  }
  CLI::App* sub = app.get_subcommand(command);
  if (dynamic_cast<const CLI::ExcludesError*>(&error)) {
    return command + " takes a gain or --position, not both";
  }
  if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
    std::vector<std::string> extra = app.remaining(true);
    if (extra.empty()) extra = sub->remaining(true);
    const std::string first = extra.empty() ? std::string("?") : extra.front();
    return command + (first.starts_with("-") ? " has no option " : " takes no argument ") +
           Quoted(first);
  }
  // An option that takes a value and was given none: the last word, or one
  // followed by another option.
  for (std::size_t i = 1; i < args.size(); ++i) {
    const CLI::Option* option = sub->get_option_no_throw(args[i]);
    if (option && option->get_items_expected_min() != 0 &&
        (i + 1 == args.size() || args[i + 1].starts_with("-"))) {
      return args[i] + " needs a value";
    }
  }
  // A flag given a value: --json=yes.
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string flag = args[i].substr(0, args[i].find('='));
    const CLI::Option* option = sub->get_option_no_throw(flag);
    if (flag.size() < args[i].size() && option && option->get_items_expected_min() == 0) {
      return flag + " takes no value";
    }
  }
  if (dynamic_cast<const CLI::RequiredError*>(&error)) {
    for (const CLI::Option* option : sub->get_options()) {
      if (option->get_required() && option->count() == 0) {
        return command + " needs " + option->get_description();
      }
    }
  }
  return "the arguments of " + command + " cannot be read";
}

}  // namespace

namespace {

int RunCommand(std::span<const std::string> args, Console& console) {
  Options o;
  bool simulate = false;
  std::string serial;
  std::string cell;
  std::string gain;
  std::string position;
  std::string rate;
  std::string count;

  CLI::App app(kDescription, "tensivo-cli");
  app.set_version_flag("--version", "tensivo-cli " TENSIVO_VERSION);
  app.require_subcommand(1);
  app.fallthrough();
  constexpr const char* kSimulateHelp =
      "use the demo's simulated devices (as tensivo-config-demo shows them) instead of the "
      "attached ones";
  app.add_flag("--simulate", simulate, kSimulateHelp);

  const auto add_command = [&](const char* name, const char* what) {
    CLI::App* command = app.add_subcommand(name, what);
    // Listed in each command's help as well, where it applies.
    command->add_flag("--simulate", simulate, kSimulateHelp);
    return command;
  };
  const auto add_serial = [&](CLI::App* command) {
    return command
        ->add_option("--serial", serial,
                     "the device with this serial number; without it, the one the window opens: "
                     "the last one listed (of two with the same serial, the first of them)")
        ->type_name("SERIAL");
  };
  const auto add_json = [&](CLI::App* command, const char* what) {
    command->add_flag("--json", o.json, what);
  };
  const auto add_cell = [&](CLI::App* command, bool required) {
    return command->add_option("cell", cell, "a load cell: LC1, LC2 or LC3")
        ->required(required)
        ->type_name("CELL");
  };

  CLI::App* list =
      add_command("list",
                  "every attached device: serial, node, maker, product, version, whether it can be "
                  "configured and opened, and what to do when it cannot");
  add_json(list, "print JSON");

  CLI::App* info =
      add_command("info", "a device's details, its three gains and which inputs it has");
  add_serial(info);
  add_json(info, "print JSON");

  CLI::App* get_gain = add_command("get-gain", "the gains stored in a device");
  add_cell(get_gain, false);
  add_serial(get_gain);
  add_json(get_gain, "print JSON");

  CLI::App* set_gain =
      add_command("set-gain", "writes one load cell's gain as the window does, then reads it back");
  add_cell(set_gain, true);
  CLI::Option* gain_option =
      set_gain
          ->add_option("gain", gain,
                       "the gain as the window's list writes it, 1 to 1022: 500, 8.0312")
          ->type_name("GAIN");
  CLI::Option* position_option =
      set_gain
          ->add_option("--position", position, "the gain by its list position instead, 0 to 2559")
          ->type_name("POSITION");
  gain_option->excludes(position_option);
  add_serial(set_gain);

  CLI::App* factory =
      add_command("factory",
                  "restores the factory settings as the window's button does (every gain 500), "
                  "then reads them back");
  factory->add_flag("--yes,-y", o.yes, "do not ask; needed when not at a terminal");
  add_serial(factory);

  CLI::App* monitor =
      add_command("monitor", "the eight inputs live, raw 0..65535 and percent; Ctrl-C ends");
  monitor->add_option("--rate", rate, "reads per second, 0.1 to 100 (default 20)")->type_name("HZ");
  monitor->add_option("--count", count, "end after this many readings, 1 to 1000000000")
      ->type_name("N");
  add_serial(monitor);
  add_json(monitor, "one JSON object per reading");

  CLI::App* save = add_command("save", "writes a device's three gains to a profile file");
  save->add_option("file", o.file, "a profile file")->required()->type_name("FILE");
  add_serial(save);

  CLI::App* load =
      add_command("load", "checks a profile file whole, writes its gains, and reads them back");
  load->add_option("file", o.file, "a profile file")->required()->type_name("FILE");
  load->add_flag("--force", o.force, "load a profile saved from another device");
  add_serial(load);

  const std::string named =
      CommandNamed(args, {list, info, get_gain, set_gain, factory, monitor, save, load});
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::CallForHelp&) {
    // Shows the help of the command it was asked on.
    console.out << app.help();
    return kOk;
  } catch (const CLI::CallForVersion&) {
    console.out << "tensivo-cli " TENSIVO_VERSION "\n";
    return kOk;
  } catch (const CLI::ParseError& e) {
    throw Usage(ParseRefusal(e, args, app, named), named);
  }

  CLI::App* command = app.get_subcommands().front();
  const std::string name = command->get_name();
  if (const CLI::Option* given = command->get_option_no_throw("--serial");
      given && given->count() > 0) {
    // Serials are matched as the window matches them: as 8-bit text.
    o.serial = DeviceFromUtf8(serial);
    if (!o.serial) {
      throw Usage("--serial " + Quoted(serial) +
                      " holds a character no device serial can hold (they are 8-bit text, "
                      "Latin-1)",
                  name);
    }
  }
  if (!cell.empty()) {
    std::string upper = cell;
    std::ranges::transform(upper, upper.begin(), [](unsigned char c) { return std::toupper(c); });
    const auto it = std::ranges::find(kCellNames, upper);
    if (it == std::end(kCellNames)) {
      throw Usage(Quoted(cell) + " is no load cell; give LC1, LC2 or LC3", name);
    }
    o.cell = static_cast<int>(it - std::begin(kCellNames));
  }
  if (command == set_gain) {
    if (position_option->count() > 0) {
      const auto p = Whole(position, kLeastPosition, kMostPosition);
      if (!p) {
        throw Usage("--position " + Quoted(position) +
                        " is no list position; give a whole number from " +
                        Written(kLeastPosition) + " to " + Written(kMostPosition),
                    name);
      }
      o.position = static_cast<int>(*p);
    }
    if (gain_option->count() > 0) o.gain = gain;
    if (!o.position && !o.gain) throw Usage("set-gain needs a gain or --position", name);
  }
  if (command == monitor) {
    if (monitor->count("--rate") > 0) {
      const auto r = Decimal(rate, kLeastRate, kMostRate);
      if (!r) {
        throw Usage("--rate " + Quoted(rate) + " is no rate; give reads per second from " +
                        Written(kLeastRate) + " to " + Written(kMostRate) + ", such as 20 or 0.5",
                    name);
      }
      o.rate = *r;
    }
    if (monitor->count("--count") > 0) {
      o.count = Whole(count, kLeastCount, kMostCount);
      if (!o.count) {
        throw Usage("--count " + Quoted(count) +
                        " is no count of readings; give a whole number from " +
                        Written(kLeastCount) + " to " + Written(kMostCount),
                    name);
      }
    }
  }

  // A bad value is refused before any device is touched.
  if (command == set_gain) RequestedPosition(o);
  platform::HidPlatform& hid = simulate ? console.simulated_hid() : console.real_hid();
  if (command == list) return List(hid, o, console);
  if (command == info) return Info(hid, o, console);
  if (command == get_gain) return GetGain(hid, o, console);
  if (command == set_gain) return SetGain(hid, o, console);
  if (command == factory) return Factory(hid, o, console);
  if (command == monitor) return Monitor(hid, o, console);
  if (command == save) return Save(hid, o, console);
  return Load(hid, o, console);
}

}  // namespace

int Run(std::span<const std::string> args, Console& console) {
  int code = kOk;
  try {
    code = RunCommand(args, console);
  } catch (const Failure& failure) {
    console.err << "tensivo-cli: " << Printable(failure.what()) << '\n';
    code = failure.code();
  } catch (const std::exception& e) {
    // Nothing is written to the device after this: the command has ended.
    console.err << "tensivo-cli: internal error: " << Printable(e.what()) << '\n';
    code = kInternal;
  } catch (...) {
    console.err << "tensivo-cli: internal error\n";
    code = kInternal;
  }
  console.out.flush();
  console.err.flush();
  if (!console.out || !console.err) {
    if (console.err) {
      console.err << "tensivo-cli: the output could not be written (standard output is full or "
                     "closed)\n"
                  << std::flush;
    }
    return kOutputFailed;
  }
  return code;
}

int Main(int argc, char** argv,
         const std::function<std::unique_ptr<platform::HidPlatform>()>& make_real) {
  // A closed standard stream would hand its number to the next file opened,
  // a profile among them; /dev/full keeps the place and fails every write.
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) == -1) {
      const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
      if (full >= 0 && full != fd) {
        dup2(full, fd);
        close(full);
      }
    }
  }
  std::unique_ptr<platform::HidPlatform> real;
  std::unique_ptr<platform::HidPlatform> simulated;
  // Only iostreams write to the standard streams, so they need not go through stdio.
  std::ios::sync_with_stdio(false);
  Console console(std::cout, std::cerr, std::cin);
  console.out_is_terminal = isatty(STDOUT_FILENO) == 1;
  console.in_is_terminal = isatty(STDIN_FILENO) == 1;
  console.real_hid = [&]() -> platform::HidPlatform& {
    if (!real) real = make_real();
    return *real;
  };
  console.simulated_hid = [&]() -> platform::HidPlatform& {
    if (!simulated) simulated = sim::MakeDemoWorld();
    return *simulated;
  };
  // Short naps, so that Ctrl-C ends a monitor within a moment at any rate.
  console.wait_until = [](std::chrono::steady_clock::time_point until) {
    constexpr auto kNap = std::chrono::milliseconds(50);
    for (auto now = std::chrono::steady_clock::now(); now < until && !g_interrupted;
         now = std::chrono::steady_clock::now()) {
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(until - now, kNap));
    }
  };
  console.interrupted = &g_interrupted;

  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);

  const std::vector<std::string> args(argv, argv + argc);
  return Run(args, console);
}

}  // namespace tensivo::cli
