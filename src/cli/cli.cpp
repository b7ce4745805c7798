#include "cli/cli.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <map>
#include <thread>

#include "cli/command_table.h"
#include "cli/completion_words.h"
#include "cli/connection.h"
#include "cli/help_text.h"
#include "cli/text.h"
#include "sim/demo_world.h"

namespace tensivo::cli {

namespace {

constexpr const char* kDescription =
    "The Tensivo load-cell interface from a terminal and from scripts: lists the attached "
    "devices, shows and writes their gains, restores factory settings, shows the inputs "
    "live, and saves and loads gains as profiles.";

constexpr const char* kSimulateHelp =
    "use the demo's simulated devices (as tensivo-config-demo shows them) instead of the "
    "attached ones";

std::atomic<int> g_interrupted{0};

void OnInterrupt(int signal) { g_interrupted = signal; }

std::atomic<bool> g_redraw{false};

void OnRedraw(int) { g_redraw = true; }

// "the commands are list, info, ... and load", as the table has them.
std::string CommandList() {
  std::vector<const char*> names;
  for (const Command& command : Commands()) names.push_back(command.name);
  return "the commands are " + Listed(names, "and");
}

// Where a user finds what `command` takes.
std::string HelpOf(const std::string& command) {
  return "(tensivo-cli " + (command.empty() ? "" : command + " ") + "--help)";
}

Failure Usage(const std::string& what, const std::string& command) {
  return Failure(kUsage, what + " " + HelpOf(command));
}

// How a refusal calls an argument: "a gain", "--position".
std::string Called(const CLI::Option& option) {
  return option.get_positional() ? "a " + option.get_name() : option.get_name();
}

// A word the parser takes for an option: "-5" and "-" are values.
bool LooksLikeOption(std::string_view word) {
  return word.size() > 1 && word[0] == '-' && !(word[1] >= '0' && word[1] <= '9') &&
         word[1] != '.';
}

// The table's name of an option word: "--serial=A" is --serial, "-y" is --yes;
// empty for a word that names none.
std::string OptionNamed(std::string_view word) {
  word = word.substr(0, word.find('='));
  for (std::size_t arg = 0; arg < kArgCount; ++arg) {
    const std::string_view names = ArgumentOf(static_cast<Arg>(arg)).names;
    if (!names.starts_with("-")) continue;
    for (std::size_t at = 0; at != std::string_view::npos;) {
      const std::size_t comma = names.find(',', at);
      if (names.substr(at, comma - at) == word) return std::string(names.substr(0, names.find(',')));
      at = comma == std::string_view::npos ? comma : comma + 1;
    }
  }
  return {};
}

bool TakesValue(const std::string& option) {
  for (std::size_t arg = 0; arg < kArgCount; ++arg) {
    const Argument& argument = ArgumentOf(static_cast<Arg>(arg));
    if (!argument.flag && argument.names == option) return true;
  }
  return false;
}

// The flags every command line takes, outside the command table.
bool IsGlobalFlag(std::string_view word) {
  return word == "--simulate" || word == "--help" || word == "-h" || word == "--version";
}

bool IsCommand(std::string_view word) {
  return std::ranges::any_of(Commands(), [&](const Command& c) { return c.name == word; });
}

// A line as the parser is to read it: a command's options given before the
// command moved after it, as --simulate may be given on either side.
struct Ordered {
  std::vector<std::string> args;
  std::string command;  // the word where the command stands, known or not
};

// Reads the words before the parser does, for what it would misread or
// misname: where the command stands, an option given twice, and an option
// taken for another's value (--serial --json).
Ordered Order(std::span<const std::string> args) {
  Ordered line;
  line.args.push_back(args.empty() ? std::string() : args.front());
  std::size_t at = 0;  // where the command stands in line.args
  std::map<std::string, int> given;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--") {
      line.args.insert(line.args.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
      break;
    }
    line.args.push_back(args[i]);
    if (!LooksLikeOption(args[i])) {
      if (at == 0) at = line.args.size() - 1;
      continue;
    }
    const std::string option = OptionNamed(args[i]);
    const std::string command = at == 0 ? std::string() : line.args[at];
    // The parser reads --json=no and --simulate=0 as "off" and --yes=on as
    // "on": a flag given any value is refused, so that none is misread.
    if (const auto equals = args[i].find('='); equals != std::string::npos) {
      const std::string name = args[i].substr(0, equals);
      if (option.empty() ? IsGlobalFlag(name) : !TakesValue(option)) {
        throw Usage(name + " takes no value", IsCommand(command) ? command : "");
      }
    }
    if (option.empty() || !TakesValue(option)) continue;
    if (++given[option] == 2) {
      throw Usage(option + " is given twice; give it once", IsCommand(command) ? command : "");
    }
    if (const auto equals = args[i].find('='); equals != std::string::npos) {
      // As two words, so that the parser takes an empty value, or one that
      // starts with '-', as the value it is.
      line.args.back() = option;
      line.args.push_back(args[i].substr(equals + 1));
      continue;
    }
    if (i + 1 == args.size()) continue;
    if (LooksLikeOption(args[i + 1])) {
      throw Usage(option + " needs a value, and " + Quoted(args[i + 1]) +
                      " is an option; a value that starts with '-' is written " + option + "=" +
                      Printable(args[i + 1]),
                  IsCommand(command) ? command : "");
    }
    line.args.push_back(args[++i]);  // its value, whatever it looks like
  }
  if (at != 0) {
    line.command = line.args[at];
    // The command first, then what was given before it, in its order.
    std::rotate(line.args.begin() + 1, line.args.begin() + static_cast<std::ptrdiff_t>(at),
                line.args.begin() + static_cast<std::ptrdiff_t>(at) + 1);
  }
  return line;
}

// The parser, built from the command table, and what it reads into.
class CommandLine {
 public:
  CommandLine() : app_(kDescription, "tensivo-cli") {
    app_.set_version_flag("--version", "tensivo-cli " TENSIVO_VERSION);
    app_.require_subcommand(1);
    app_.fallthrough();
    app_.add_flag("--simulate", simulate_, kSimulateHelp);
    for (const Command& command : Commands()) Add(command);
  }

  // The command the line names, its values read and checked; none once
  // help or the version is printed.
  const Command* Parse(std::span<const std::string> given, Console& console) {
    const Ordered line = Order(given);
    if (!line.command.empty() && !IsCommand(line.command)) {
      throw Usage("unknown command " + Quoted(line.command) + "; " + CommandList(), "");
    }
    const std::span<const std::string> args = line.args;
    const std::string& named = line.command;
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    try {
      app_.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::CallForHelp&) {
      // Shows the help of the command it was asked on.
      const int width = console.columns ? console.columns() : 0;
      console.out << WrapHelp(app_.help(), width > 0 ? static_cast<std::size_t>(width)
                                                     : kHelpColumns);
      return nullptr;
    } catch (const CLI::CallForVersion&) {
      console.out << "tensivo-cli " TENSIVO_VERSION "\n";
      return nullptr;
    } catch (const CLI::ParseError& e) {
      throw Usage(Refusal(e, args, named), named);
    }
    const auto chosen = std::ranges::find(commands_, app_.get_subcommands().front());
    const auto index = static_cast<std::size_t>(chosen - commands_.begin());
    Read(Commands()[index], given_[index]);
    return &Commands()[index];
  }

  bool simulate() const { return simulate_; }
  const Options& options() const { return options_; }

 private:
  using Given = std::array<CLI::Option*, kArgCount>;

  void Add(const Command& command) {
    CLI::App* sub = app_.add_subcommand(command.name, command.help);
    // Listed in each command's help as well, where it applies.
    sub->add_flag("--simulate", simulate_, kSimulateHelp);
    Given& given = given_.emplace_back();
    for (const ArgUse& use : command.args) {
      const Argument& argument = ArgumentOf(use.arg);
      const std::string help = use.help ? use.help : argument.help;
      CLI::Option*& option = given[static_cast<std::size_t>(use.arg)];
      if (argument.flag) {
        option = sub->add_flag(argument.names, options_.*argument.flag, help);
      } else {
        option = sub->add_option(argument.names, texts_[static_cast<std::size_t>(use.arg)], help)
                     ->required(use.required)
                     ->type_name(argument.type);
      }
    }
    for (const ArgUse& use : command.args) {
      const auto instead = ArgumentOf(use.arg).instead;
      if (instead && given[static_cast<std::size_t>(*instead)]) {
        given[static_cast<std::size_t>(use.arg)]->excludes(
            given[static_cast<std::size_t>(*instead)]);
      }
    }
    commands_.push_back(sub);
  }

  // Each value given, in the order of Arg, so that the first refusal of a
  // line is always the same one.
  void Read(const Command& command, const Given& given) {
    for (std::size_t arg = 0; arg < kArgCount; ++arg) {
      const Argument& argument = ArgumentOf(static_cast<Arg>(arg));
      if (!given[arg] || given[arg]->count() == 0 || !argument.read) continue;
      if (const auto refusal = argument.read(texts_[arg], options_)) {
        throw Usage(*refusal, command.name);
      }
    }
    for (std::size_t arg = 0; arg < kArgCount; ++arg) {
      const auto instead = ArgumentOf(static_cast<Arg>(arg)).instead;
      const CLI::Option* other = instead ? given[static_cast<std::size_t>(*instead)] : nullptr;
      if (!given[arg] || !other) continue;
      if (given[arg]->count() == 0 && other->count() == 0) {
        throw Usage(
            std::string(command.name) + " needs " + Called(*given[arg]) + " or " + Called(*other),
            command.name);
      }
    }
  }

  // Why the line could not be parsed, in our words: the parser's own
  // wording changes with its version.
  std::string Refusal(const CLI::ParseError& error, std::span<const std::string> args,
                      const std::string& command) {
    if (command.empty()) {
      // Options of a command without one are not unknown: the command is missing.
      for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] != "--simulate" && LooksLikeOption(args[i]) && OptionNamed(args[i]).empty()) {
          return "unknown option " + Quoted(args[i]) + "; " + CommandList();
        }
      }
      return "no command given; " + CommandList();
    }
    CLI::App* sub = app_.get_subcommand(command);
    if (dynamic_cast<const CLI::ExcludesError*>(&error)) {
      for (const CLI::Option* option : sub->get_options()) {
        if (!option->get_excludes().empty()) {
          return command + " takes " + Called(*option) + " or " +
                 Called(**option->get_excludes().begin()) + ", not both";
        }
      }
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
      std::vector<std::string> extra = app_.remaining(true);
      if (extra.empty()) extra = sub->remaining(true);
      const std::string first = extra.empty() ? std::string("?") : extra.front();
      return command + (first.starts_with("-") ? " has no option " : " takes no argument ") +
             Quoted(first);
    }
    return OptionRefusal(error, args, *sub, command);
  }

  // A refusal that names the option at fault.
  static std::string OptionRefusal(const CLI::ParseError& error, std::span<const std::string> args,
                                   CLI::App& sub, const std::string& command) {
    // An option that takes a value and was given none: the last word, or one
    // followed by another option.
    for (std::size_t i = 1; i < args.size(); ++i) {
      const CLI::Option* option = sub.get_option_no_throw(args[i]);
      if (option && option->get_items_expected_min() != 0 &&
          (i + 1 == args.size() || args[i + 1].starts_with("-"))) {
        return args[i] + " needs a value";
      }
    }
    // A flag given a value: --json=yes.
    for (std::size_t i = 1; i < args.size(); ++i) {
      const std::string flag = args[i].substr(0, args[i].find('='));
      const CLI::Option* option = sub.get_option_no_throw(flag);
      if (flag.size() < args[i].size() && option && option->get_items_expected_min() == 0) {
        return flag + " takes no value";
      }
    }
    if (dynamic_cast<const CLI::RequiredError*>(&error)) {
      for (const CLI::Option* option : sub.get_options()) {
        if (option->get_required() && option->count() == 0) {
          return command + " needs " + option->get_description();
        }
      }
    }
    return "the arguments of " + command + " cannot be read";
  }

  CLI::App app_;
  bool simulate_ = false;
  Options options_;
  std::array<std::string, kArgCount> texts_;  // values as given, before they are read
  std::vector<CLI::App*> commands_;           // in table order
  std::vector<Given> given_;                  // each command's arguments, by Arg
};

int RunCommand(std::span<const std::string> args, Console& console) {
  std::vector<std::string> words;
  std::ranges::copy_if(args, std::back_inserter(words),
                       [](const std::string& w) { return w != "--simulate"; });
  if (words.size() == 3 && words[1] == kCompleteCommand) {
    const bool simulate = words.size() < args.size();
    return PrintCompletionWords(simulate ? console.simulated_hid() : console.real_hid(), words[2],
                                console);
  }
  CommandLine line;
  const Command* command = line.Parse(args, console);
  if (!command) return kOk;
  platform::HidPlatform& hid = line.simulate() ? console.simulated_hid() : console.real_hid();
  const int code = command->run(hid, line.options(), console);
  // The next run's simulated devices hold the factory's gains again, which
  // would read as a write that did not hold.
  if (code == kOk && command->writes && line.simulate()) {
    console.err << "tensivo-cli: written to a simulated device, which starts afresh on every "
                   "run: the next command will not see it\n";
  }
  return code;
}

}  // namespace

void StopIfInterrupted(const Console& console) {
  const int signal = console.interrupted ? console.interrupted->load() : 0;
  if (signal == 0) return;
  const char* ended = signal == SIGTERM  ? "terminated"
                      : signal == SIGHUP ? "the terminal hung up"
                                         : "interrupted";
  throw Failure(kSignalled + signal, std::string(ended) + "; nothing written");
}

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
  const char* term = std::getenv("TERM");
  console.out_is_terminal = isatty(STDOUT_FILENO) == 1 && term && *term &&
                            std::string_view(term) != "dumb";
  if (argc > 0 && argv[0] != nullptr) console.program = argv[0];
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
  console.wait_readable = [](int fd) {
    pollfd polled = {fd, POLLIN, 0};
    // The interrupt is looked at between short waits too: a signal that lands
    // just before poll() would otherwise not wake it.
    while (!g_interrupted) {
      if (poll(&polled, 1, 100) > 0) return true;
    }
    return false;
  };
  console.interrupted = &g_interrupted;
  console.columns = [] {
    winsize size = {};
    return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? int{size.ws_col} : 0;
  };
  console.redraw = &g_redraw;

  // Without SA_RESTART, so that no system call sleeps on through the signal.
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM}) sigaction(signal, &action, nullptr);
  // A hangup (a dropped ssh session) would otherwise end a load between two of
  // its register writes; under nohup it stays ignored.
  struct sigaction hangup = {};
  if (sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler != SIG_IGN) {
    sigaction(SIGHUP, &action, nullptr);
  }
  action.sa_handler = OnRedraw;
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGWINCH, SIGCONT}) sigaction(signal, &action, nullptr);

  const std::vector<std::string> args(argv, argv + argc);
  return Run(args, console);
}

}  // namespace tensivo::cli
