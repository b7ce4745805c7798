#include "cli/profile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <vector>

#include "cli/careful_file.h"
#include "cli/cli.h"
#include "cli/connection.h"
#include "cli/gain_value.h"
#include "cli/text.h"
#include "device/protocol.h"

namespace tensivo::cli {

namespace {

using json = nlohmann::ordered_json;

// A profile is a few hundred bytes; anything this size is something else.
constexpr std::streamsize kMaxProfileBytes = 64 * 1024;

[[noreturn]] void Bad(const std::string& what) {
  throw Failure(kFileFailed, "not a usable profile: " + what + "; nothing written");
}

std::string Text(const json& object, const char* key, bool required) {
  const auto it = object.find(key);
  if (it == object.end()) {
    if (required) Bad(std::string("it has no \"") + key + "\"");
    return {};
  }
  if (!it->is_string()) Bad(std::string("\"") + key + "\" is no text");
  std::string text = it->get<std::string>();
  // A NUL would end the text early wherever it is shown or compared.
  if (text.find('\0') != std::string::npos) Bad(std::string("\"") + key + "\" holds a NUL");
  return text;
}

// A device text that may not have been readable: null then, or "" in
// profiles saved before null was written for it.
std::optional<std::string> DeviceText(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return std::nullopt;
  return Text(object, key, true);
}

int Position(const json& gains, const char* cell) {
  const auto it = gains.find(cell);
  if (it == gains.end() || !it->is_object()) Bad(std::string("it has no gain for ") + cell);
  const auto position = it->find("position");
  const auto gain = it->find("gain");
  if (position == it->end() || !position->is_number_integer()) {
    Bad(std::string(cell) + " has no whole-number \"position\"");
  }
  // Read as the type the parser chose, so that 2^63 and above stay positive.
  const bool inside = position->is_number_unsigned()
                          ? position->get<std::uint64_t>() < device::kGainCount
                          : position->get<std::int64_t>() >= 0 &&
                                position->get<std::int64_t>() < device::kGainCount;
  if (!inside) {
    Bad(std::string(cell) + " position " + position->dump() + " is outside 0.." +
        std::to_string(device::kLastGainPosition));
  }
  const auto p = position->get<std::int64_t>();
  if (gain == it->end() || !gain->is_number()) Bad(std::string(cell) + " has no \"gain\"");
  const int checked = static_cast<int>(p);
  if (gain->get<double>() != GainAt(checked)) {
    Bad(std::string(cell) + " gain " + gain->dump() + " is not the gain of position " +
        std::to_string(checked) + " (" + json(GainAt(checked)).dump() + ")");
  }
  return checked;
}

std::string Why() { return std::strerror(errno); }

}  // namespace

std::string ProfileText(const Profile& profile) {
  json gains = json::object();
  for (std::size_t cell = 0; cell < profile.positions.size(); ++cell) {
    gains[device::kChannels[cell].json_key] = {{"position", profile.positions[cell]},
                                               {"gain", GainAt(profile.positions[cell])}};
  }
  const auto text_or_null = [](const std::optional<std::string>& text) {
    return text ? json(*text) : json(nullptr);
  };
  const json document = {{"profile", kProfileFormat},
                         {"serial", profile.serial},
                         {"maker", text_or_null(profile.maker)},
                         {"product", text_or_null(profile.product)},
                         {"version", profile.version},
                         {"gains", gains}};
  return JsonText(document, 2) + "\n";
}

Profile ParseProfile(std::string_view text) {
  json document;
  // The keys met so far in each object being read, to refuse a key given twice:
  // the parser would keep the last one silently.
  std::vector<std::set<std::string>> keys;
  const json::parser_callback_t refuse_twice = [&](int, json::parse_event_t event, json& parsed) {
    if (event == json::parse_event_t::object_start) {
      keys.emplace_back();
    } else if (event == json::parse_event_t::object_end && !keys.empty()) {
      keys.pop_back();
    } else if (event == json::parse_event_t::key && !keys.empty() &&
               !keys.back().insert(parsed.get<std::string>()).second) {
      Bad("the key " + parsed.dump() + " is given twice in one object");
    }
    return true;
  };
  // The parser takes a NUL for the end of its input, and would not see what follows.
  if (const auto nul = text.find('\0'); nul != std::string_view::npos) {
    Bad("it holds a NUL byte at offset " + std::to_string(nul) + ", which no JSON text holds");
  }
  try {
    document = json::parse(text, refuse_twice);
  } catch (const json::parse_error& e) {
    // "[json.exception.parse_error.101] parse error at line 3, ..." without the tag.
    std::string what = e.what();
    if (const auto tag_end = what.find("] "); tag_end != std::string::npos)
      what.erase(0, tag_end + 2);
    Bad(what);
  } catch (const json::out_of_range& e) {
    // 406: "number overflow parsing '1e400'"; the number is what the user needs.
    const std::string what = e.what();
    const auto open = what.find('\'');
    const auto close = what.rfind('\'');
    Bad("the number " +
        (open < close ? what.substr(open + 1, close - open - 1) : std::string("in it")) +
        " is too large for any value");
  } catch (const json::exception& e) {
    Bad(e.what());
  }
  if (!document.is_object()) Bad("it is no JSON object");
  const auto format = document.find("profile");
  if (format == document.end() || *format != kProfileFormat) {
    Bad("\"profile\" is not " + std::to_string(kProfileFormat));
  }
  Profile profile;
  profile.serial = Text(document, "serial", true);
  if (!DeviceFromUtf8(profile.serial)) {
    Bad("\"serial\" holds a character no device serial can hold (they are 8-bit text, "
        "Latin-1)");
  }
  profile.maker = DeviceText(document, "maker");
  profile.product = DeviceText(document, "product");
  profile.version = Text(document, "version", false);
  const auto gains = document.find("gains");
  if (gains == document.end() || !gains->is_object()) Bad("it has no \"gains\"");
  for (const auto& [cell, value] : gains->items()) {
    const auto keyed = [&name = cell](const device::Channel& c) { return name == c.json_key; };
    if (!std::ranges::any_of(device::LoadCells(), keyed))
      Bad("\"gains\" names no load cell " + cell);
  }
  for (std::size_t cell = 0; cell < profile.positions.size(); ++cell) {
    profile.positions[cell] = Position(*gains, device::kChannels[cell].json_key);
  }
  return profile;
}

std::string ReadProfileFile(const std::string& path, const Console& console) {
  // Plain POSIX reads: a signal ends a wait in open() (a FIFO without a
  // writer) or before a read, where an iostream would retry it forever.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const std::string why = Why();
    StopIfInterrupted(console);
    throw Failure(kFileFailed, "cannot read " + path + ": " + why);
  }
  const std::unique_ptr<const int, void (*)(const int*)> closer(
      &fd, [](const int* open_fd) { close(*open_fd); });
  std::string text;
  char chunk[4096];
  for (;;) {
    // A terminal or a pipe is read only once it has something.
    if (console.wait_readable) console.wait_readable(fd);
    StopIfInterrupted(console);
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      throw Failure(kFileFailed, "cannot read " + path + ": " + Why());
    }
    text.append(chunk, static_cast<std::size_t>(got));
    if (text.size() > static_cast<std::size_t>(kMaxProfileBytes)) {
      Bad(path + " is far too large for one");
    }
  }
  return text;
}

void WriteProfileFile(const std::string& path, const std::string& text) {
  WriteFileCarefully(path, text);
}

}  // namespace tensivo::cli
