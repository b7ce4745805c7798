// The bash completion and the man page hold the command table's commands and
// options, no more and no fewer: a command or option added on one side only
// fails here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "cli/command_table.h"
#include "cli/connection.h"

namespace tensivo::cli {
namespace {

using Words = std::set<std::string>;

const std::string kPackaging = TENSIVO_PACKAGING_DIR;

// What bash offers for the last of `words`, as it would after "tensivo-cli".
Words Completed(const std::vector<std::string>& words) {
  const std::string script_path = "/tmp/cli_docs_test_" + std::to_string(getpid()) + ".sh";
  {
    std::ofstream script(script_path);
    script << "source '" << kPackaging << "/tensivo-cli.bash-completion'\n"
           << "COMP_WORDS=(tensivo-cli";
    for (const std::string& word : words) script << " '" << word << "'";
    script << ")\nCOMP_CWORD=" << words.size() << "\n_tensivo_cli\n"
           << "printf '%s\\n' \"${COMPREPLY[@]}\"\n";
  }
  Words offered;
  FILE* bash = popen(("bash " + script_path).c_str(), "r");
  if (!bash) ADD_FAILURE() << "bash did not start";
  char line[256];
  while (bash && std::fgets(line, sizeof line, bash)) {
    std::string word(line);
    if (!word.empty() && word.back() == '\n') word.pop_back();
    if (!word.empty()) offered.insert(word);
  }
  if (bash) {
    EXPECT_EQ(pclose(bash), 0);
  }
  std::remove(script_path.c_str());
  return offered;
}

Words TableCommands() {
  Words names;
  for (const Command& command : Commands()) names.insert(command.name);
  return names;
}

Words TableOptions(const Command& command) {
  const std::vector<std::string> names = OptionNames(command);
  return Words(names.begin(), names.end());
}

TEST(CliDocs, BashCompletesTheTablesCommandsAndEachCommandsOptions) {
  EXPECT_EQ(Completed({""}), TableCommands());
  EXPECT_EQ(Completed({"-"}), (Words{"--help", "--simulate", "--version"}));
  for (const Command& command : Commands()) {
    SCOPED_TRACE(command.name);
    Words options = TableOptions(command);
    options.insert({"--help", "--simulate"});
    EXPECT_EQ(Completed({command.name, "-"}), options);
    // A load cell where the command takes one first.
    if (!command.args.empty() && command.args.front().arg == Arg::kCell) {
      EXPECT_EQ(Completed({command.name, ""}), Words(std::begin(kCellNames), std::end(kCellNames)));
    }
  }
}

// Each command's entry under COMMANDS: its name first in bold, then the options
// of its synopsis lines.
std::map<std::string, Words> ManPageCommands(const std::string& page) {
  std::map<std::string, Words> commands;
  std::istringstream lines(page);
  std::string line;
  bool in_commands = false;
  bool synopsis_next = false;
  std::string command;
  const std::regex name(R"(^\\fB([a-z-]+)\\fR)");
  const std::regex option(R"(\\fB((\\-)+[a-z][a-z\\-]*)\\fR)");
  while (std::getline(lines, line)) {
    if (line.starts_with(".SH")) in_commands = line == ".SH COMMANDS";
    if (!in_commands) continue;
    if (line == ".TP" || line == ".TQ") {
      synopsis_next = true;
      continue;
    }
    std::smatch match;
    if (!synopsis_next || !std::regex_search(line, match, name)) continue;
    synopsis_next = false;
    Words& options = commands[match[1]];
    for (auto it = std::sregex_iterator(line.begin(), line.end(), option);
         it != std::sregex_iterator(); ++it) {
      options.insert(std::regex_replace((*it)[1].str(), std::regex(R"(\\-)"), "-"));
    }
  }
  return commands;
}

TEST(CliDocs, ManPageListsTheTablesCommandsWithTheirOptions) {
  std::ifstream file(kPackaging + "/man/tensivo-cli.1");
  ASSERT_TRUE(file) << kPackaging;
  std::stringstream page;
  page << file.rdbuf();
  const std::map<std::string, Words> listed = ManPageCommands(page.str());

  Words names;
  for (const auto& [name, options] : listed) names.insert(name);
  EXPECT_EQ(names, TableCommands());
  for (const Command& command : Commands()) {
    SCOPED_TRACE(command.name);
    const auto entry = listed.find(command.name);
    if (entry != listed.end()) {
      EXPECT_EQ(entry->second, TableOptions(command));
    }
  }
  // What every command takes is told once, under OPTIONS.
  const std::size_t options_section = page.str().find("\n.SH OPTIONS\n");
  ASSERT_NE(options_section, std::string::npos);
  for (const char* option : {".B \\-\\-simulate\n", ".BR \\-\\-help \", \" \\-\\-version\n"}) {
    EXPECT_NE(page.str().find(option, options_section), std::string::npos) << option;
  }
}

}  // namespace
}  // namespace tensivo::cli
