// The commands of tensivo-cli, one row each, and every argument they take:
// the parser, the help, the refusals that name the commands, and the test
// that holds the bash completion and the man page to them all read these.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace tensivo::cli {

// Every option and argument a command can take, in the order their values
// are checked.
enum class Arg { kSerial, kCell, kPosition, kGain, kRate, kCount, kFile, kJson, kYes, kForce };
inline constexpr std::size_t kArgCount = static_cast<std::size_t>(Arg::kForce) + 1;

struct Argument {
  Arg arg;
  const char* names;  // as the parser takes them: "--yes,-y"; a positional's has no dash
  const char* type;   // the value's name in help; none for a flag
  std::string help;
  // Reads the value given on the line into the options; returns why it is no
  // value of this argument. None for a flag.
  std::optional<std::string> (*read)(const std::string& text, Options& options) = nullptr;
  bool Options::*flag = nullptr;  // where a flag lands
  // Given instead of this one, never beside it; one of the two is needed.
  std::optional<Arg> instead = std::nullopt;
};

const Argument& ArgumentOf(Arg arg);

// An argument as one command takes it.
struct ArgUse {
  Arg arg;
  bool required = false;
  const char* help = nullptr;  // none: the argument's own
};

struct Command {
  const char* name;
  std::string help;
  std::vector<ArgUse> args;  // as its help lists them, after --simulate
  int (*run)(platform::HidPlatform& hid, const Options& options, Console& console);
  bool writes = false;  // writes to the device
};

std::span<const Command> Commands();

// A command's own options by their long names ("--serial"), in table order.
std::vector<std::string> OptionNames(const Command& command);

}  // namespace tensivo::cli
