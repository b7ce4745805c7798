// What the bash completion asks the program for, as literal lines it reads
// with mapfile: never words for the shell to split, expand or evaluate.
//
//   tensivo-cli [--simulate] __complete serials
//
// Not a command of the table: no user types it, and its help and the man
// page leave it out. Later topics (the commands, each command's options) are
// further words after __complete.
#pragma once

#include <span>
#include <string>

#include "cli/cli.h"
#include "platform/hid_platform.h"

namespace tensivo::cli {

inline constexpr const char* kCompleteCommand = "__complete";

// Prints the words of `topic`, one per line. A serial holding a control
// character (a line feed among them) is left out: no line carries it whole,
// and no one types it. Throws Failure(kUsage) for a topic it does not know.
int PrintCompletionWords(platform::HidPlatform& hid, const std::string& topic, Console& console);

}  // namespace tensivo::cli
