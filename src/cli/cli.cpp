#include "cli/cli.h"

#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <thread>

#include "cli/commands.h"
#include "cli/session.h"
#include "sim/demo_world.h"

namespace tensivo::cli {

namespace {

constexpr const char* kDescription =
    "The Tensivo load-cell interface from a terminal and from scripts: lists the attached "
    "devices, shows and writes their gains, restores factory settings, shows the inputs "
    "live, and saves and loads gains as profiles.";

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) { g_interrupted = true; }

}  // namespace

int Run(std::span<const std::string> args, Console& console) {
  Options o;
  bool simulate = false;
  std::string serial;
  std::string cell;
  std::string gain;
  int position = 0;
  long count = 0;

  CLI::App app(kDescription, "tensivo-cli");
  app.set_version_flag("--version", "tensivo-cli " TENSIVO_VERSION);
  app.require_subcommand(1);
  app.fallthrough();
  app.add_flag("--simulate", simulate,
               "use the demo's simulated devices (as tensivo-config-demo shows them) instead of "
               "the attached ones");

  const auto add_serial = [&](CLI::App* command) {
    return command->add_option("--serial", serial,
                               "the device with this serial number; without it, the last one "
                               "listed, which the window opens");
  };
  const auto add_json = [&](CLI::App* command, const char* what) {
    command->add_flag("--json", o.json, what);
  };
  const auto add_cell = [&](CLI::App* command, bool required) {
    return command->add_option("cell", cell, "load cell: LC1, LC2 or LC3")
        ->required(required)
        ->transform([](std::string value) {
          std::transform(value.begin(), value.end(), value.begin(), ::toupper);
          return value;
        })
        ->check(CLI::IsMember({"LC1", "LC2", "LC3"}));
  };

  CLI::App* list = app.add_subcommand(
      "list",
      "every attached device: serial, node, maker, product, version, whether it can be "
      "configured and opened, and what to do when it cannot");
  add_json(list, "print JSON");

  CLI::App* info =
      app.add_subcommand("info", "a device's details, its three gains and which inputs it has");
  add_serial(info);
  add_json(info, "print JSON");

  CLI::App* get_gain = app.add_subcommand("get-gain", "the gains stored in a device");
  add_cell(get_gain, false);
  add_serial(get_gain);
  add_json(get_gain, "print JSON");

  CLI::App* set_gain = app.add_subcommand(
      "set-gain", "writes one load cell's gain as the window does, then reads it back");
  add_cell(set_gain, true);
  CLI::Option* gain_option = set_gain->add_option(
      "gain", gain, "the gain as the window's list writes it, 1 to 1022: 500, 8.0312");
  CLI::Option* position_option =
      set_gain->add_option("--position", position, "the gain by its list position instead")
          ->check(CLI::Range(0, 2559));
  gain_option->excludes(position_option);
  add_serial(set_gain);

  CLI::App* factory = app.add_subcommand(
      "factory",
      "restores the factory settings as the window's button does (every gain 500), "
      "then reads them back");
  factory->add_flag("--yes,-y", o.yes, "do not ask; needed when not at a terminal");
  add_serial(factory);

  CLI::App* monitor =
      app.add_subcommand("monitor", "the eight inputs live, raw 0..65535 and percent; Ctrl-C ends");
  monitor->add_option("--rate", o.rate, "reads per second (default 20)")
      ->check(CLI::Range(0.1, 100.0));
  monitor->add_option("--count", count, "end after this many readings")
      ->check(CLI::Range(1L, 1000000000L));
  add_serial(monitor);
  add_json(monitor, "one JSON object per reading");

  CLI::App* save = app.add_subcommand("save", "writes a device's three gains to a profile file");
  save->add_option("file", o.file, "the profile file")->required();
  add_serial(save);

  CLI::App* load = app.add_subcommand(
      "load", "checks a profile file whole, writes its gains, and reads them back");
  load->add_option("file", o.file, "the profile file")->required();
  load->add_flag("--force", o.force, "load a profile saved from another device");
  add_serial(load);

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
    std::string what = e.what();
    if (app.get_subcommands().empty() && !app.remaining().empty() &&
        !app.remaining().front().starts_with("-")) {
      what = "unknown command '" + app.remaining().front() +
             "'; the commands are list, info, get-gain, set-gain, factory, monitor, save and load";
    }
    std::replace(what.begin(), what.end(), '\n', ' ');
    console.err << "tensivo-cli: " << what << " (tensivo-cli --help lists what it takes)\n";
    return kUsage;
  }

  CLI::App* command = app.get_subcommands().front();
  if (const CLI::Option* given = command->get_option_no_throw("--serial");
      given && given->count() > 0) {
    o.serial = serial;
  }
  if (!cell.empty()) o.cell = cell[2] - '1';
  if (command == set_gain) {
    if (position_option->count() > 0) o.position = position;
    if (gain_option->count() > 0) o.gain = gain;
    if (!o.position && !o.gain) {
      console.err
          << "tensivo-cli: set-gain needs a gain or --position (tensivo-cli set-gain --help)\n";
      return kUsage;
    }
  }
  if (command == monitor && command->count("--count") > 0) o.count = count;

  try {
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
  } catch (const Failure& failure) {
    console.err << "tensivo-cli: " << failure.what() << '\n';
    return failure.code();
  }
}

int Main(int argc, char** argv,
         const std::function<std::unique_ptr<platform::HidPlatform>()>& make_real) {
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
  const int code = Run(args, console);
  std::cout.flush();
  return code;
}

}  // namespace tensivo::cli
