// tensivo-cli driven in-process on simulated devices: what each command
// prints, its exit code, and every report it wrote.
#include "cli/cli.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <tuple>

#include "cli/connection.h"
#include "cli/help_text.h"
#include "device/protocol.h"
#include "sim/demo_world.h"
#include "sim/simulated_hid.h"

namespace tensivo::cli {
namespace {

using platform::OpenError;
using sim::SimulatedHid;
using Bytes = std::vector<std::uint8_t>;
using json = nlohmann::json;

Bytes Padded(std::initializer_list<std::uint8_t> head) {
  Bytes bytes(head);
  bytes.resize(19, 0);
  return bytes;
}

void SetGain(SimulatedHid& hid, SimulatedHid::DeviceId id, int cell, int position) {
  const auto& target = device::kLoadCellRegisters[static_cast<std::size_t>(cell)];
  const auto values = device::EncodeGain(position);
  auto& regs = hid.model(id).registers();
  regs[target.amplifier] = values.amplifier;
  regs[target.shift] = values.shift;
  regs[target.fine] = values.fine;
}

long Lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

std::optional<int> GainOf(SimulatedHid& hid, SimulatedHid::DeviceId id, int cell) {
  const auto& target = device::kLoadCellRegisters[static_cast<std::size_t>(cell)];
  const auto& regs = hid.model(id).registers();
  return device::DecodeGainPosition(regs[target.amplifier], regs[target.shift], regs[target.fine]);
}

// Public, so that a table's world builders can reach it.
class Cli : public ::testing::Test {
 public:
  ~Cli() override { std::remove(file_.c_str()); }

  SimulatedHid::DeviceId Add(std::u16string serial, std::uint16_t version = 0x0101) {
    sim::SimulatedDeviceTraits traits;
    traits.serial = std::move(serial);
    traits.version = version;
    return hid_.AddDevice(traits);
  }

  // Runs one command line; "{file}" in it stands for the test's scratch file.
  int Run(std::vector<std::string> args, const std::string& input = "") {
    out_.str("");
    err_.str("");
    std::istringstream in(input);
    Console console(out_, err_, in);
    console.in_is_terminal = terminal_;
    console.out_is_terminal = out_is_terminal_;
    console.real_hid = [this]() -> platform::HidPlatform& { return hid_; };
    console.simulated_hid = [this]() -> platform::HidPlatform& {
      if (!demo_) demo_ = sim::MakeDemoWorld();
      return *demo_;
    };
    // A fake clock jumps to each wake-up, where the real one would sleep.
    console.wait_until = [this](std::chrono::steady_clock::time_point until) {
      clock_ = std::max(clock_, until);
      if (on_wait_) on_wait_();
    };
    if (fake_clock_) console.now = [this] { return clock_; };
    console.wait_readable = wait_readable_;
    console.columns = columns_;
    console.redraw = &redraw_;
    console.interrupted = interrupted_;
    for (std::string& arg : args) {
      if (arg == "{file}") arg = file_;
    }
    args.insert(args.begin(), "tensivo-cli");
    return cli::Run(args, console);
  }

  void WriteFile(const std::string& text) { std::ofstream(file_) << text; }

  std::vector<Bytes> Written() const {
    std::vector<Bytes> reports;
    for (const auto& w : hid_.write_log()) reports.push_back(w.bytes);
    return reports;
  }

  SimulatedHid hid_;
  std::unique_ptr<SimulatedHid> demo_;
  std::ostringstream out_, err_;
  bool terminal_ = false;
  bool out_is_terminal_ = false;
  std::function<void()> on_wait_;
  std::function<bool(int)> wait_readable_;
  bool fake_clock_ = false;
  std::chrono::steady_clock::time_point clock_;
  std::function<int()> columns_;
  std::atomic<bool> redraw_{false};
  const std::atomic<int>* interrupted_ = nullptr;
  std::string file_ = "/tmp/cli_test_profile_" + std::to_string(getpid()) + ".json";
};

TEST_F(Cli, ListTellsWhichDevicesCanBeUsedAndWhyNot) {
  struct Case {
    const char* world;
    std::function<void(Cli&)> build;
    int exit;
    std::size_t listed;
    std::vector<std::string> out;  // in this order
    std::string err;
  };
  const Case cases[] = {
      {"none",
       [](Cli& t) { t.hid_.AddForeign(0x046D, 0xC31C); },
       kNoDevice,
       0,
       {},
       "no device attached; to try without hardware: tensivo-cli --simulate list, or "
       "tensivo-config-demo"},
      {"one", [](Cli& t) { t.Add(u"A1"); }, kOk, 1, {"A1", "Commands use A1"}, ""},
      {"three, the last too old to configure",
       [](Cli& t) {
         t.Add(u"A"), t.Add(u"B");
         t.hid_.AddForeign(0x046D, 0xC31C);
         t.Add(u"C", 0x0100);
       },
       kOk,
       3,
       {"\nA ", "\nB ", "\nC ", "C cannot be configured: its firmware version 1.0",
        "Commands use C"},
       ""},
      {"one unopenable",
       [](Cli& t) { t.hid_.RefuseOpens(t.Add(u"A1"), OpenError::kPermissionDenied); },
       kCannotOpen,
       1,
       {"no: permission denied", "/usr/lib/udev/rules.d/70-tensivo-config.rules",
        "sudo adduser $USER tensivo", "udevadm trigger --subsystem-match=hidraw --action=change"},
       "no attached device can be opened"},
      {"feature reports too short for a write",
       [](Cli& t) {
         sim::SimulatedDeviceTraits traits;
         traits.serial = u"A1";
         traits.feature_length = 3;
         t.hid_.AddDevice(traits);
       },
       kOk,
       1,
       {"A1", "  no  ", "A1 cannot be configured: its feature reports are 3 bytes long"},
       ""},
      {"one busy beside one usable",
       [](Cli& t) {
         t.Add(u"A1");
         t.hid_.RefuseOpens(t.Add(u"B2"), OpenError::kBusy);
       },
       kOk,
       2,
       {"A1", "no: busy", "another program holds it", "Commands use A1"},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.world);
    hid_ = SimulatedHid();
    c.build(*this);
    EXPECT_EQ(Run({"list"}), c.exit);
    std::size_t at = 0;
    for (const std::string& part : c.out) {
      const std::size_t found = out_.str().find(part, at);
      EXPECT_NE(found, std::string::npos) << part << " in\n" << out_.str();
      at = found == std::string::npos ? at : found;
    }
    if (c.out.empty()) {
      EXPECT_EQ(out_.str(), "");
    }
    EXPECT_NE(err_.str().find(c.err), std::string::npos) << err_.str();
    EXPECT_TRUE(hid_.write_log().empty());
    EXPECT_EQ(hid_.open_handles(), 0);

    EXPECT_EQ(Run({"list", "--json"}), c.exit);
    EXPECT_EQ(json::parse(out_.str())["devices"].size(), c.listed);
  }
}

TEST_F(Cli, ListJsonCarriesTheReasonAndTheDefaultDevice) {
  Add(u"A1");
  hid_.RefuseOpens(Add(u"B2"), OpenError::kGone);
  ASSERT_EQ(Run({"list", "--json"}), kOk);
  const json listed = json::parse(out_.str());
  EXPECT_EQ(listed["default"], "A1");
  EXPECT_EQ(listed["devices"][0]["configurable"], true);
  EXPECT_EQ(listed["devices"][0]["version"], "1.1");
  EXPECT_EQ(listed["devices"][1]["openable"], false);
  EXPECT_EQ(listed["devices"][1]["problem"], "gone");
}

TEST_F(Cli, SetGainSendsTheWindowsThreeReportsAndTheDeviceHoldsThem) {
  struct Case {
    std::vector<std::string> args;
    int cell;
    int position;
    std::vector<Bytes> reports;
  };
  const Case cases[] = {
      {{"set-gain", "LC2", "500"},
       1,
       2292,
       {Padded({0, 1, 2, 15}), Padded({0, 1, 3, 1}), Padded({0, 1, 7, 244})}},
      {{"set-gain", "lc1", "--position", "300"},
       0,
       300,
       {Padded({0, 1, 0, 8}), Padded({0, 1, 1, 1}), Padded({0, 1, 6, 44})}},
      {{"set-gain", "LC1", "--position", "0300"},
       0,
       300,
       {Padded({0, 1, 0, 8}), Padded({0, 1, 1, 1}), Padded({0, 1, 6, 44})}},
      {{"set-gain", "LC3", "8.03125"},
       2,
       769,
       {Padded({0, 1, 4, 11}), Padded({0, 1, 5, 0}), Padded({0, 1, 8, 1})}},
      {{"set-gain", "LC1", "1022", "--serial", "A"},
       0,
       2559,
       {Padded({0, 1, 0, 15}), Padded({0, 1, 1, 2}), Padded({0, 1, 6, 255})}},
  };
  const auto a = Add(u"A");
  const auto b = Add(u"B");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args[2]);
    SetGain(hid_, a, c.cell, 0);
    SetGain(hid_, b, c.cell, 0);
    hid_.ClearLogs();
    EXPECT_EQ(Run(c.args), kOk) << err_.str();
    EXPECT_EQ(Written(), c.reports);
    const bool to_a = c.args.back() == "A";
    EXPECT_EQ(GainOf(hid_, to_a ? a : b, c.cell), c.position);
    EXPECT_EQ(GainOf(hid_, to_a ? b : a, c.cell), 0);
    for (const auto& w : hid_.write_log()) EXPECT_EQ(w.device, to_a ? a : b);
    EXPECT_EQ(hid_.open_handles(), 0);
  }
}

TEST_F(Cli, BadRequestsAreRefusedWithOneLineAndNothingWritten) {
  struct Case {
    std::vector<std::string> args;
    int exit;
    std::string err;
    std::string file = "";
    std::uint16_t version = 0x0101;
    bool terminal = false;
    std::string input = "";
    std::uint16_t feature_length = 19;
  };
  const std::string good = R"({"profile":1,"serial":"A1","gains":{
      "LC1":{"position":769,"gain":8.03125},"LC2":{"position":2292,"gain":500},
      "LC3":{"position":2048,"gain":256}}})";
  std::string other = good;
  other.replace(other.find("A1"), 2, "Z9");
  std::string outside = good;
  outside.replace(outside.find("2048"), 4, "2600");
  std::string mismatched = good;
  mismatched.replace(mismatched.find("500"), 3, "499");

  const Case cases[] = {
      {{"set-gain", "LC1", "7.9"},
       kUsage,
       "nearest are 7.8906 (position 761) and 7.9062 (position 762)"},
      {{"set-gain", "LC1", "2000"}, kUsage, "the largest is 1022 (position 2559)"},
      {{"set-gain", "LC1", "fast"}, kUsage, "'fast' is no gain"},
      {{"set-gain", "LC1", "--position", "2560"},
       kUsage,
       "--position '2560' is no list position; give a whole number from 0 to 2559 "
       "(tensivo-cli set-gain --help)"},
      {{"set-gain", "LC1", "--position", "0x9FF"}, kUsage, "--position '0x9FF' is no list"},
      {{"set-gain", "LC1", "--position", "-1"}, kUsage, "--position '-1' is no list"},
      {{"set-gain", "LC1", "--position", "1e3"}, kUsage, "--position '1e3' is no list"},
      {{"set-gain", "LC1", "500", "--position", "3"},
       kUsage,
       "set-gain takes a gain or --position, not both"},
      {{"set-gain", "LC4", "500"},
       kUsage,
       "'LC4' is no load cell; give LC1, LC2 or LC3 (tensivo-cli set-gain --help)"},
      {{"monitor", "--rate", "nan"},
       kUsage,
       "--rate 'nan' is no rate; give reads per second from 0.1 to 100, such as 20 or 0.5 "
       "(tensivo-cli monitor --help)"},
      {{"monitor", "--rate", "inf"}, kUsage, "--rate 'inf' is no rate"},
      {{"monitor", "--rate", "0.05"}, kUsage, "--rate '0.05' is no rate"},
      {{"monitor", "--rate", "1e1"}, kUsage, "--rate '1e1' is no rate"},
      {{"monitor", "--count", "0"},
       kUsage,
       "--count '0' is no count of readings; give a whole number from 1 to 1000000000"},
      {{"monitor", "--count", "0x10"}, kUsage, "--count '0x10' is no count"},
      {{"info", "--serial"}, kUsage, "--serial needs a value (tensivo-cli info --help)"},
      {{"info", "--serial", "\u03A9"},
       kUsage,
       "--serial '\u03A9' holds a character no device serial can hold"},
      {{"save"}, kUsage, "save needs a profile file (tensivo-cli save --help)"},
      {{"set-gain", "LC1"}, kUsage, "needs a gain or --position"},
      {{"set-gain", "", "500"}, kUsage, "'' is no load cell; give LC1, LC2 or LC3"},
      {{"get-gain", ""}, kUsage, "'' is no load cell; give LC1, LC2 or LC3"},
      {{"set-gain", "LC1", "500", "--serial", "NOPE"},
       kNoDevice,
       "no device with serial NOPE (attached: A1)"},
      {{"set-gain", "LC1", "500"}, kRefused, "its firmware version 1.0", "", 0x0100},
      {{"factory"}, kRefused, "--yes"},
      {{"factory"}, kRefused, "not confirmed", "", 0x0101, true, "n\n"},
      {{"factory", "--yes"},
       kRefused,
       "device A1 cannot be configured: its firmware version 2.0 is an x.0 version, which cannot "
       "be configured; nothing written",
       "",
       0x0200},
      {{"set-gain", "LC1", "500"},
       kRefused,
       "its feature reports are 3 bytes long, too short to read back the registers it is written "
       "(15 at least)",
       "",
       0x0101,
       false,
       "",
       3},
      {{"load", "{file}"}, kFileFailed, "unexpected end of input", good.substr(0, 80)},
      {{"load", "{file}"}, kFileFailed, "syntax error", "{\"profile\":1,,}"},
      {{"load", "{file}"}, kFileFailed, "LC3 position 2600 is outside 0..2559", outside},
      {{"load", "{file}"},
       kFileFailed,
       "LC2 gain 499 is not the gain of position 2292",
       mismatched},
      {{"load", "{file}"}, kRefused, "profile is for device Z9, not A1; --force", other},
      {{"load", "{file}"}, kRefused, "firmware version 1.0", good, 0x0100},
      {{"load", "/nonexistent/profile.json"}, kFileFailed, "cannot read /nonexistent/profile.json"},
      {{"frobnicate"}, kUsage, "unknown command 'frobnicate'"},
      {{"list", "--frob"}, kUsage, "list has no option '--frob' (tensivo-cli list --help)"},
      {{"list", "extra"}, kUsage, "list takes no argument 'extra'"},
      {{"list", "--json=foo"}, kUsage, "--json takes no value (tensivo-cli list --help)"},
      {{"factory", "--yes=on"}, kUsage, "--yes takes no value (tensivo-cli factory --help)"},
      {{"--simulate=no", "factory", "-y=1"},
       kUsage,
       "--simulate takes no value (tensivo-cli --help)"},
      {{}, kUsage, "no command given; the commands are list, info,"},
      {{"--frob"}, kUsage, "unknown option '--frob'"},
      {{"set-gain", "LC1", "fast"},
       kUsage,
       "'fast' is no gain; give one in decimal as the list writes it (1 to 1022, such as 500 or "
       "8.0312) or use --position 0..2559 (tensivo-cli set-gain --help)"},
      {{"set-gain", "LC1", "7.9"}, kUsage, "(position 762) (tensivo-cli set-gain --help)"},
      {{"--simulate", "lst", "list"}, kUsage, "unknown command 'lst'; the commands are list,"},
      {{"info", "--serial", "A1", "--serial", "B"},
       kUsage,
       "--serial is given twice; give it once (tensivo-cli info --help)"},
      {{"info", "--serial", "--json"},
       kUsage,
       "--serial needs a value, and '--json' is an option; a value that starts with '-' is "
       "written --serial=--json (tensivo-cli info --help)"},
      {{"info", "--serial=--json"}, kNoDevice, "no device with serial --json (attached: A1)"},
      {{"info", "--serial", ""}, kNoDevice, "no device with serial \"\" (attached: A1)"},
      {{"monitor", "--count="}, kUsage, "--count '' is no count of readings"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const auto& arg : c.args) line += arg + " ";
    SCOPED_TRACE(line + c.file.substr(0, 20));
    hid_ = SimulatedHid();
    hid_.traits(Add(u"A1", c.version)).feature_length = c.feature_length;
    WriteFile(c.file);
    terminal_ = c.terminal;
    EXPECT_EQ(Run(c.args, c.input), c.exit);
    EXPECT_NE(err_.str().find(c.err), std::string::npos) << err_.str();
    EXPECT_EQ(Lines(err_.str()), 1) << err_.str();
    EXPECT_TRUE(hid_.write_log().empty());
    EXPECT_EQ(hid_.open_handles(), 0);
  }
}

TEST_F(Cli, SetGainFailsWhenTheDeviceDoesNotHoldTheValue) {
  const auto id = Add(u"A1");
  // A device that answers with its factory block whatever it was told.
  Bytes block = {0xEE, 0};
  block.insert(block.end(), device::kFactoryValues.begin(), device::kFactoryValues.end());
  hid_.model(id).SetReplies({sim::FeatureReply::Raw(block), sim::FeatureReply::InputMask()});
  EXPECT_EQ(Run({"set-gain", "LC1", "8"}), kDeviceFailed);
  EXPECT_NE(err_.str().find("holds 500 (position 2292) for LC1 after 8 (position 768) was written"),
            std::string::npos)
      << err_.str();
  EXPECT_EQ(Written().size(), 3u);

  hid_.FailAlways(SimulatedHid::Op::kGetFeature, id);
  EXPECT_EQ(Run({"get-gain"}), kDeviceFailed);
  EXPECT_NE(err_.str().find("did not answer the read-back"), std::string::npos) << err_.str();
}

TEST_F(Cli, UnplugDuringLoadSaysWhichRegistersWereWritten) {
  const auto id = Add(u"A1");
  WriteFile(R"({"profile":1,"serial":"A1","gains":{"LC1":{"position":300,"gain":2.34375},
      "LC2":{"position":0,"gain":1},"LC3":{"position":2559,"gain":1022}}})");
  // A first load shows which call is the fifth write; the second loses the
  // device right there.
  const std::uint64_t start = hid_.calls_made();
  ASSERT_EQ(Run({"load", "{file}"}), kOk) << err_.str();
  std::vector<std::uint64_t> writes;
  for (std::size_t i = 0; i < hid_.call_log().size(); ++i) {
    if (hid_.call_log()[i].op == SimulatedHid::Op::kSetFeature) writes.push_back(i + 1);
  }
  ASSERT_EQ(writes.size(), 9u);
  hid_.ClearLogs();
  hid_.UnplugAtCall(id, hid_.calls_made() + (writes[4] - start));

  EXPECT_EQ(Run({"load", "{file}"}), kDeviceFailed);
  EXPECT_NE(err_.str().find("device A1 went away; registers written: 0, 1, 6, 2; not written: "
                            "3, 7, 4, 5, 8"),
            std::string::npos)
      << err_.str();
  EXPECT_EQ(Written().size(), 4u);
}

TEST_F(Cli, FactoryWritesTheTwelveValuesAndReadsEveryGainBackAt500) {
  const auto id = Add(u"A1");
  for (const bool at_terminal : {false, true}) {
    SCOPED_TRACE(at_terminal ? "confirmed at a terminal" : "--yes");
    for (int cell = 0; cell < 3; ++cell) SetGain(hid_, id, cell, 100 * cell);
    hid_.ClearLogs();
    terminal_ = at_terminal;
    EXPECT_EQ(Run(at_terminal ? std::vector<std::string>{"factory"}
                              : std::vector<std::string>{"factory", "--yes"},
                  "y\n"),
              kOk)
        << err_.str();
    const auto written = Written();
    ASSERT_EQ(written.size(), 12u);
    for (std::uint8_t r = 0; r < 12; ++r) {
      EXPECT_EQ(written[r], Padded({0, 1, r, device::kFactoryValues[r]}));
    }
    for (int cell = 0; cell < 3; ++cell) EXPECT_EQ(GainOf(hid_, id, cell), 2292);
  }
}

TEST_F(Cli, SavedProfileLoadsBackIntoTheDevice) {
  const auto id = Add(u"A1");
  SetGain(hid_, id, 0, 769);
  SetGain(hid_, id, 2, 2048);
  ASSERT_EQ(Run({"save", "{file}"}), kOk) << err_.str();
  EXPECT_TRUE(hid_.write_log().empty());
  std::ifstream file(file_);
  const json saved = json::parse(file);
  EXPECT_EQ(saved["serial"], "A1");
  EXPECT_EQ(saved["maker"], "Tensivo");
  EXPECT_EQ(saved["version"], "1.1");
  EXPECT_EQ(saved["gains"]["LC1"], (json{{"position", 769}, {"gain", 8.03125}}));
  EXPECT_EQ(saved["gains"]["LC3"]["position"], 2048);

  for (int cell = 0; cell < 3; ++cell) SetGain(hid_, id, cell, 5);
  ASSERT_EQ(Run({"load", "{file}"}), kOk) << err_.str();
  EXPECT_EQ(Written().size(), 9u);
  EXPECT_EQ(GainOf(hid_, id, 0), 769);
  EXPECT_EQ(GainOf(hid_, id, 1), 2292);
  EXPECT_EQ(GainOf(hid_, id, 2), 2048);

  // Another device takes it only when told to.
  hid_.ClearLogs();
  hid_.Detach(id);
  const auto other = Add(u"B2");
  EXPECT_EQ(Run({"load", "{file}", "--force"}), kOk) << err_.str();
  EXPECT_EQ(GainOf(hid_, other, 0), 769);
}

TEST_F(Cli, MonitorJsonShowsTheNewestReportOfEachReading) {
  const auto id = Add(u"A1");
  hid_.model(id).set_input_mask(0x28);  // inputs 4 and 6 not fitted
  std::uint16_t tick = 0;
  on_wait_ = [&] {
    ++tick;
    for (std::uint16_t older : {std::uint16_t{1}, std::uint16_t{0}}) {
      Bytes report(17, 0);
      const std::array<std::uint16_t, 8> values = {
          static_cast<std::uint16_t>(1000 * tick - older), 65535, 0, 7, 4660, 9, 32768, 11};
      sim::DeviceModel::EncodeInputReport(values, 0x28, std::span(report).subspan(1));
      hid_.PushInput(id, report);
    }
  };
  ASSERT_EQ(Run({"monitor", "--json", "--count", "3"}), kOk) << err_.str();
  std::istringstream lines(out_.str());
  std::string line;
  int n = 0;
  while (std::getline(lines, line)) {
    ++n;
    const json reading = json::parse(line);
    EXPECT_EQ(reading["serial"], "A1");
    EXPECT_EQ(reading["LC1"]["raw"], 1000 * n);
    EXPECT_EQ(reading["LC2"], (json{{"raw", 65535}, {"percent", 100.0}}));
    EXPECT_EQ(reading["LC3"]["percent"], 0.0);
    EXPECT_TRUE(reading["Input4"].is_null());
    EXPECT_EQ(reading["Input5"]["raw"], 4660);
    EXPECT_TRUE(reading["Input6"].is_null());
    EXPECT_EQ(reading["Input7"], (json{{"raw", 32768}, {"percent", 50.0}}));
    EXPECT_EQ(reading["Input8"]["raw"], 11);
  }
  EXPECT_EQ(n, 3);
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(hid_.open_handles(), 0);
}

TEST_F(Cli, MonitorWaitsForALostDeviceAndSaysSoOnStderr) {
  const auto id = Add(u"A1");
  int tick = 0;
  on_wait_ = [&] {
    ++tick;
    if (tick == 2) hid_.Detach(id);
    if (tick == 4) hid_.Attach(id);
    if (tick != 2 && tick != 3) hid_.PushModelInput(id, tick);
  };
  ASSERT_EQ(Run({"monitor", "--count", "2"}), kOk) << err_.str();
  EXPECT_EQ(err_.str(),
            "tensivo-cli: device A1 lost; waiting for a device\n"
            "tensivo-cli: device A1 is back\n");
  EXPECT_EQ(Lines(out_.str()), 2) << out_.str();
}

TEST_F(Cli, SimulateRunsOnTheDemosDevicesAlone) {
  Add(u"A1");
  EXPECT_EQ(Run({"--simulate", "list"}), kOk);
  EXPECT_NE(out_.str().find("24-0017"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("Commands use 24-0230"), std::string::npos) << out_.str();
  EXPECT_EQ(err_.str(), "") << "reading leaves nothing to say";
  EXPECT_EQ(Run({"--simulate", "set-gain", "LC2", "300"}), kOk);
  EXPECT_EQ(err_.str(),
            "tensivo-cli: written to a simulated device, which starts afresh on every run: the "
            "next command will not see it\n");
  EXPECT_EQ(hid_.calls_made(), 0u);
}

TEST(CliHints, NoDeviceNamesTheCommandsAsTheUserCanRunThem) {
  char folder[] = "/tmp/cli_test_hint_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string demo = std::string(folder) + "/tensivo-config-demo";
  std::ofstream(demo) << "";
  const struct {
    std::string program;
    std::string hint;
  } cases[] = {
      {"tensivo-cli",
       "to try without hardware: tensivo-cli --simulate list, or tensivo-config-demo"},
      {std::string(folder) + "/tensivo-cli", "to try without hardware: " + std::string(folder) +
                                                 "/tensivo-cli --simulate list, or " + demo},
      {"/nowhere/tensivo-cli", "to try without hardware: /nowhere/tensivo-cli --simulate list"},
  };
  for (const auto& c : cases) EXPECT_EQ(WithoutHardware(c.program), c.hint) << c.program;
  std::remove(demo.c_str());
  rmdir(folder);
}

TEST(CliHelp, LongLinesWrapUnderTheirDescription) {
  const struct {
    std::size_t columns;
    const char* help;
    const char* wrapped;
  } cases[] = {
      {50, "  --serial SERIAL   the device with this serial number\nshort\n",
       "  --serial SERIAL   the device with this serial\n                    number\nshort\n"},
      {30, "  --serial SERIAL   the device with this serial number",
       "  --serial SERIAL the device\n  with this serial number"},
      {12, "a verylongwordindeed b", "a\nverylongwordindeed\nb"},
  };
  for (const auto& c : cases) EXPECT_EQ(WrapHelp(c.help, c.columns), c.wrapped) << c.help;
}

// What a terminal may be handed: no control character but the line feed, and
// beyond ASCII only the UTF-8 of U+00A0..U+00FF, which is all Latin-1 text
// becomes once its C1 controls are escaped.
bool SafeForATerminal(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(text[i]);
    if ((byte < 0x20 && byte != '\n') || byte == 0x7F) return false;
    if (byte < 0x80) continue;
    if (i + 1 == text.size()) return false;
    const auto next = static_cast<std::uint8_t>(text[++i]);
    if (!((byte == 0xC2 && next >= 0xA0 && next <= 0xBF) ||
          (byte == 0xC3 && next >= 0x80 && next <= 0xBF))) {
      return false;
    }
  }
  return true;
}

TEST_F(Cli, DeviceTextIsShownAsLatin1AndNeverDrivesTheTerminal) {
  struct Case {
    std::u16string serial;
    std::u16string maker;
    std::string typed_serial;  // what a user writes after --serial
    std::string shown_serial;  // in list's table and the monitor's lines
    std::string shown_maker;
    std::string json_serial;  // exact
    std::string json_maker;
  };
  const std::u16string fifty(50, u'W');
  const Case cases[] = {
      {u"TV-\u00E9", u"M\u00FCller", "TV-\u00E9", "TV-\u00E9", "M\u00FCller", "TV-\u00E9",
       "M\u00FCller"},
      // U+0100..U+01FF keep low bytes below 0x20: ESC, BEL, LF, CR.
      {u"A\u011B[2JB", u"M\u011B]0;pwned\u0107X", "A\x1B[2JB", "A\\x1B[2JB", "M\\x1B]0;pwned\\x07X",
       "A\x1B[2JB", "M\x1B]0;pwned\aX"},
      {u"L\u010AF\u010D", u"C1\u009B\u0085", "L\nF\r", "L\\x0AF\\x0D", "C1\\x9B\\x85", "L\nF\r",
       "C1\u009B\u0085"},
      {fifty, u"Tensivo", std::string(50, 'W'), std::string(50, 'W'), "Tensivo",
       std::string(50, 'W'), "Tensivo"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown_serial);
    hid_ = SimulatedHid();
    sim::SimulatedDeviceTraits traits;
    traits.serial = c.serial;
    traits.manufacturer = c.maker;
    const auto id = hid_.AddDevice(traits);
    Add(u"OTHER");  // the default device, so that every command below needs --serial

    ASSERT_EQ(Run({"list"}), kOk) << err_.str();
    EXPECT_TRUE(SafeForATerminal(out_.str())) << out_.str();
    EXPECT_NE(out_.str().find("\n" + c.shown_serial + "  "), std::string::npos) << out_.str();
    EXPECT_NE(out_.str().find("  " + c.shown_maker + "  "), std::string::npos) << out_.str();
    EXPECT_EQ(Lines(out_.str()), 4) << out_.str();

    ASSERT_EQ(Run({"info", "--json", "--serial", c.typed_serial}), kOk) << err_.str();
    EXPECT_TRUE(SafeForATerminal(out_.str())) << out_.str();
    const json details = json::parse(out_.str());
    EXPECT_EQ(details["serial"], c.json_serial);
    EXPECT_EQ(details["maker"], c.json_maker);

    on_wait_ = [&] { hid_.PushModelInput(id, 1); };
    ASSERT_EQ(Run({"monitor", "--count", "2", "--serial", c.typed_serial}), kOk) << err_.str();
    EXPECT_TRUE(SafeForATerminal(out_.str())) << out_.str();
    EXPECT_EQ(out_.str().find(c.shown_serial + " LC1="), 0u) << out_.str();
    EXPECT_EQ(Lines(out_.str()), 2) << out_.str();
    on_wait_ = nullptr;

    SetGain(hid_, id, 0, 769);
    ASSERT_EQ(Run({"save", "{file}", "--serial", c.typed_serial}), kOk) << err_.str();
    EXPECT_TRUE(SafeForATerminal(out_.str())) << out_.str();
    std::ifstream file(file_);
    const std::string saved((std::istreambuf_iterator<char>(file)), {});
    EXPECT_TRUE(SafeForATerminal(saved)) << saved;
    EXPECT_EQ(json::parse(saved)["maker"], c.json_maker);
    SetGain(hid_, id, 0, 5);
    // The profile's serial names the same device as the one typed.
    ASSERT_EQ(Run({"load", "{file}", "--serial", c.typed_serial}), kOk) << err_.str();
    EXPECT_EQ(GainOf(hid_, id, 0), 769);
  }
}

TEST_F(Cli, MonitorTableKeepsALongSerialToOneLine) {
  const auto id = Add(std::u16string(50, u'\u011B'));
  on_wait_ = [&] { hid_.PushModelInput(id, 1); };
  out_is_terminal_ = true;
  ASSERT_EQ(Run({"monitor", "--count", "2"}), kOk) << err_.str();
  const std::string text = out_.str();
  // Two tables of ten lines; the second starts by going back up ten lines.
  EXPECT_EQ(Lines(text), 20);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\x1b'), 2 * 10 + 1);
  EXPECT_NE(text.find("\x1b[10A"), std::string::npos);
  std::string cut;
  for (int i = 0; i < 14; ++i) cut += "\\x1B";
  EXPECT_EQ(text.substr(0, text.find('\n')), "\x1b[2K" + cut + "...  (Ctrl-C ends)");
}

TEST_F(Cli, BadProfilesAreRefusedWholeWithWhatIsWrong) {
  const std::string good = R"({"profile":1,"serial":"A1","gains":{
      "LC1":{"position":769,"gain":8.03125},"LC2":{"position":2292,"gain":500},
      "LC3":{"position":2048,"gain":256}}})";
  const auto with = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  const struct {
    std::string file;
    std::string err;
  } cases[] = {
      {with("\"serial\"", "\"unused\":-1e999,\"serial\""), "the number -1e999 is too large"},
      {with("8.03125", "1e400"), "the number 1e400 is too large for any value"},
      {with("\"serial\":\"A1\"", "\"serial\":\"A1\",\"serial\":\"Z9\""),
       "the key \"serial\" is given twice in one object"},
      {with("\"LC2\"", "\"LC1\":{\"position\":0,\"gain\":1},\"LC2\""),
       "the key \"LC1\" is given twice"},
      {with("\"A1\"", "\"A1\\u0000Z9\""), "\"serial\" holds a NUL"},
      {with("\"serial\"", "\"maker\":\"x\\u0000\",\"serial\""), "\"maker\" holds a NUL"},
      {with("2048", "9223372036854775808"), "LC3 position 9223372036854775808 is outside 0..2559"},
      {with("2048", "18446744073709551616"), "LC3 has no whole-number \"position\""},
      {with("\"A1\"", "\"\u03A9\""), "\"serial\" holds a character no device serial can hold"},
      {good + std::string("\0{\"junk\": [", 11), "it holds a NUL byte at offset 159"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    hid_ = SimulatedHid();
    Add(u"A1");
    WriteFile(c.file);
    EXPECT_EQ(Run({"load", "{file}", "--force"}), kFileFailed);
    EXPECT_NE(err_.str().find(c.err), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find("; nothing written\n"), std::string::npos) << err_.str();
    EXPECT_EQ(Lines(err_.str()), 1) << err_.str();
    EXPECT_TRUE(hid_.write_log().empty());
    EXPECT_EQ(hid_.open_handles(), 0);
  }
}

TEST_F(Cli, OutputThatCannotBeWrittenIsAnError) {
  const auto id = Add(u"A1");
  struct Case {
    const char* stream;
    std::vector<std::string> args;
    bool out_fails;
    std::string err;
  };
  const Case cases[] = {
      {"full stdout", {"get-gain", "--json"}, true, "could not be written"},
      {"full stdout", {"monitor"}, true, "could not be written"},
      {"closed stderr", {"set-gain", "LC1", "fast"}, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.stream) + " " + c.args[0]);
    // A stream without a buffer fails every write, as a full disk does.
    std::ostream broken(nullptr);
    std::ostringstream fine;
    std::istringstream in;
    Console console(c.out_fails ? broken : fine, c.out_fails ? fine : broken, in);
    console.real_hid = [this]() -> platform::HidPlatform& { return hid_; };
    console.wait_until = [&](auto) { hid_.PushModelInput(id, 1); };
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "tensivo-cli");
    EXPECT_EQ(cli::Run(args, console), kOutputFailed);
    EXPECT_NE(fine.str().find(c.err), std::string::npos) << fine.str();
  }
}

TEST_F(Cli, MonitorWaitsForASlowDeviceWithoutCallingItLost) {
  sim::SimulatedDeviceTraits traits;
  traits.serial = u"A1";
  const auto id = hid_.AddDevice(traits);
  int tick = 0;
  // One report in every 25 reads, so far slower than the rate asks.
  on_wait_ = [&] {
    if (++tick % 25 == 0) hid_.PushModelInput(id, tick);
  };
  ASSERT_EQ(Run({"monitor", "--count", "04", "--rate", "100"}), kOk) << err_.str();
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(Lines(out_.str()), 4) << out_.str();
  EXPECT_EQ(tick, 100);
  // Opened once: the search's probe, then the plain and the read handle.
  EXPECT_EQ(hid_.counters(id).opens, 3);

  // A device whose input reports cannot be read is refused, not shown as "-".
  for (const std::uint16_t length : {std::uint16_t{0}, std::uint16_t{1200}}) {
    hid_.traits(id).input_length = length;
    tick = 0;
    EXPECT_EQ(Run({"monitor", "--count", "1"}), kDeviceFailed);
    EXPECT_NE(err_.str().find(length == 0 ? "the length of its input reports could not be read"
                                          : "its input reports are 1200 bytes long"),
              std::string::npos)
        << err_.str();
    EXPECT_EQ(out_.str(), "");
  }
}

TEST_F(Cli, EveryNumberIsReadOneWay) {
  // Accepted: the list position written; refused: the start of the message.
  struct Case {
    std::vector<std::string> args;
    std::optional<int> position;
    std::string refusal = "";
  };
  const std::string no_gain = "is no gain; give one in decimal";
  const Case cases[] = {
      {{"LC1", "500.0"}, 2292},
      {{"LC1", "0500"}, 2292},
      {{"LC1", "8.03120"}, 769},
      {{"LC1", std::string(300, '0') + "500." + std::string(300, '0')}, 2292},
      {{"LC1", "1.039"}, 10},  // the list writes 1.0390
      {{"LC1", "--position", "0300.0"}, 300},
      {{"LC1", "1e3"}, std::nullopt, "'1e3' " + no_gain},
      {{"LC1", "0x1F4"}, std::nullopt, "'0x1F4' " + no_gain},
      {{"LC1", "+500"}, std::nullopt, "'+500' " + no_gain},
      {{"LC1", "500 "}, std::nullopt, "'500 ' " + no_gain},
      {{"LC1", "1_000"}, std::nullopt, "'1_000' " + no_gain},
      {{"LC1", "\uFF15\uFF10\uFF10"}, std::nullopt, no_gain},  // fullwidth digits
      {{"LC1", "1.2.3"}, std::nullopt, "'1.2.3' " + no_gain},
      {{"LC1", "nan"}, std::nullopt, "'nan' " + no_gain},
      {{"LC1", "8.0312500000000000001"}, std::nullopt, "is no gain in the list"},
      {{"LC1", "--position", "2.5"}, std::nullopt, "--position '2.5' is no list position"},
      {{"LC1", "--position", "99999999999999999999"}, std::nullopt, "is no list position"},
  };
  const auto id = Add(u"A1");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back().substr(0, 30));
    SetGain(hid_, id, 0, 5);
    hid_.ClearLogs();
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "set-gain");
    if (c.position) {
      EXPECT_EQ(Run(args), kOk) << err_.str();
      EXPECT_EQ(GainOf(hid_, id, 0), c.position);
    } else {
      EXPECT_EQ(Run(args), kUsage);
      EXPECT_NE(err_.str().find(c.refusal), std::string::npos) << err_.str();
      EXPECT_TRUE(hid_.write_log().empty());
    }
  }
  // The other numbers follow the same grammar.
  for (const auto& [option, text, ok] : {std::tuple{"--rate", ".5", true},
                                         {"--rate", "1e1", false},
                                         {"--count", "2.0", true},
                                         {"--count", "2.5", false}}) {
    SCOPED_TRACE(std::string(option) + " " + text);
    on_wait_ = [&] { hid_.PushModelInput(id, 1); };
    const std::vector<std::string> args = {"monitor", option, text};
    EXPECT_EQ(Run(std::string(option) == "--count"
                      ? args
                      : std::vector<std::string>{"monitor", option, text, "--count", "1"}),
              ok ? kOk : kUsage)
        << err_.str();
  }
}

TEST_F(Cli, OptionsMayComeBeforeTheCommand) {
  Add(u"A1");
  Add(u"B2");
  ASSERT_EQ(Run({"--serial", "A1", "info"}), kOk) << err_.str();
  EXPECT_NE(out_.str().find("serial        A1"), std::string::npos) << out_.str();
  ASSERT_EQ(Run({"--json", "--simulate", "list"}), kOk) << err_.str();
  EXPECT_EQ(json::parse(out_.str())["default"], "24-0230");
  ASSERT_EQ(Run({"--simulate", "--serial", "24-0017", "get-gain", "LC2", "--json"}), kOk)
      << err_.str();
  EXPECT_EQ(json::parse(out_.str())["serial"], "24-0017");
}

TEST_F(Cli, ListJsonGivesEveryDeviceTheSameKeys) {
  Add(u"A1");
  hid_.RefuseOpens(Add(u"B2"), OpenError::kBusy);
  hid_.FailAlways(SimulatedHid::Op::kGetManufacturer, Add(u""));
  ASSERT_EQ(Run({"list", "--json"}), kOk) << err_.str();
  const json devices = json::parse(out_.str())["devices"];
  ASSERT_EQ(devices.size(), 3u);
  const std::set<std::string> keys = {
      "serial",         "node",         "maker",    "product", "version",
      "version_number", "configurable", "openable", "problem", "fix"};
  for (const json& device : devices) {
    std::set<std::string> got;
    for (const auto& item : device.items()) got.insert(item.key());
    EXPECT_EQ(got, keys) << device.dump();
  }
  EXPECT_TRUE(devices[1]["maker"].is_null());
  EXPECT_TRUE(devices[1]["configurable"].is_null());
  EXPECT_TRUE(devices[2]["maker"].is_null());
  EXPECT_EQ(devices[2]["configurable"], false);

  // An empty serial is named, not left as a gap in a sentence.
  ASSERT_EQ(Run({"list"}), kOk) << err_.str();
  EXPECT_NE(out_.str().find("\n\"\" cannot be configured: its maker string"), std::string::npos)
      << out_.str();
  EXPECT_NE(out_.str().find("Commands use \"\" (the device"), std::string::npos) << out_.str();
}

TEST_F(Cli, AnUnreadableMakerIsSavedAsNullAndLoadsInEitherForm) {
  const auto id = Add(u"A1");
  hid_.FailAlways(SimulatedHid::Op::kGetManufacturer, id);
  ASSERT_EQ(Run({"save", "{file}"}), kOk) << err_.str();
  std::ifstream file(file_);
  const json saved = json::parse(file);
  EXPECT_TRUE(saved["maker"].is_null()) << saved.dump();
  EXPECT_EQ(saved["product"], "Load Cell Interface");

  hid_ = SimulatedHid();
  Add(u"A1");
  const std::string gains = R"("gains":{"LC1":{"position":0,"gain":1},
      "LC2":{"position":0,"gain":1},"LC3":{"position":0,"gain":1}}})";
  for (const std::string maker : {"null", "\"\""}) {
    SCOPED_TRACE(maker);
    WriteFile(R"({"profile":1,"serial":"A1","maker":)" + maker + R"(,"product":null,)" + gains);
    EXPECT_EQ(Run({"load", "{file}"}), kOk) << err_.str();
  }
}

// Every file target `save` may be handed, in a scratch directory: what the
// names hold afterwards, and no temporary left behind.
TEST_F(Cli, SaveWritesOnlyARegularFileAndKeepsLinksAndModes) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("cli_save_" + std::to_string(getpid()));
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> make;
    std::string target;  // as given to save, relative to the scratch directory
    int exit;
    std::string message;  // on stderr when refused
    std::function<void(const fs::path&)> check;
  };
  const auto text_of = [](const fs::path& path) {
    std::ifstream file(path);
    return std::string((std::istreambuf_iterator<char>(file)), {});
  };
  const auto is_profile = [&](const fs::path& path) {
    EXPECT_NE(text_of(path).find("\"serial\": \"A1\""), std::string::npos) << path;
  };
  const Case cases[] = {
      {"a planted .partial link",
       [](const fs::path& d) {
         std::ofstream(d / "notes.txt") << "notes";
         fs::create_symlink("notes.txt", d / "rig.json.partial");
       },
       "rig.json", kOk, "",
       [&](const fs::path& d) {
         EXPECT_EQ(text_of(d / "notes.txt"), "notes");
         is_profile(d / "rig.json");
       }},
      {"a link to a file in another directory",
       [](const fs::path& d) {
         fs::create_directory(d / "real");
         std::ofstream(d / "real" / "rig.json") << "old";
         fs::create_symlink("real/rig.json", d / "link.json");
       },
       "link.json", kOk, "",
       [&](const fs::path& d) {
         EXPECT_TRUE(fs::is_symlink(d / "link.json"));
         is_profile(d / "real" / "rig.json");
       }},
      {"a private file",
       [](const fs::path& d) {
         std::ofstream(d / "rig.json") << "old";
         fs::permissions(d / "rig.json", fs::perms::owner_read | fs::perms::owner_write);
       },
       "rig.json", kOk, "",
       [&](const fs::path& d) {
         is_profile(d / "rig.json");
         EXPECT_EQ(fs::status(d / "rig.json").permissions() & fs::perms::all,
                   fs::perms::owner_read | fs::perms::owner_write);
       }},
      {"a read-only file",
       [](const fs::path& d) {
         std::ofstream(d / "rig.json") << "old";
         fs::permissions(d / "rig.json", fs::perms::owner_read | fs::perms::group_read);
       },
       "rig.json", kFileFailed, "rig.json: it is read-only; not replacing it",
       [&](const fs::path& d) { EXPECT_EQ(text_of(d / "rig.json"), "old"); }},
      {"standard output", nullptr, "-", kOk, "",
       [&](const fs::path&) { EXPECT_EQ(json::parse(out_.str())["serial"], "A1"); }},
      {"/dev/null", nullptr, "/dev/null", kFileFailed,
       "cannot write /dev/null: it is a device, not a file; to print the profile, save to '-'",
       [](const fs::path&) { EXPECT_TRUE(fs::is_character_file("/dev/null")); }},
      {"a FIFO", [](const fs::path& d) { mkfifo((d / "fifo").c_str(), 0600); }, "fifo", kFileFailed,
       "fifo: it is a FIFO, not a file",
       [](const fs::path& d) { EXPECT_TRUE(fs::is_fifo(d / "fifo")); }},
      {"a directory", [](const fs::path& d) { fs::create_directory(d / "sub"); }, "sub",
       kFileFailed, "sub: it is a directory, not a file", nullptr},
      {"a link to nothing", [](const fs::path& d) { fs::create_symlink("gone", d / "dangling"); },
       "dangling", kFileFailed,
       "dangling: it is a symbolic link to a file that does not exist; not writing through it",
       [](const fs::path& d) { EXPECT_FALSE(fs::exists(d / "gone")); }},
  };
  Add(u"A1");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir);
    fs::create_directories(dir);
    if (c.make) c.make(dir);
    const std::string target =
        c.target == "-" || c.target.starts_with("/") ? c.target : (dir / c.target).string();
    EXPECT_EQ(Run({"save", target}), c.exit) << err_.str();
    if (c.exit != kOk) {
      EXPECT_NE(err_.str().find(c.message), std::string::npos) << err_.str();
      EXPECT_EQ(Lines(err_.str()), 1) << err_.str();
    }
    if (c.check) c.check(dir);
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      EXPECT_FALSE(entry.path().filename().string().starts_with(".tensivo-cli-")) << entry.path();
    }
  }
  fs::remove_all(dir);
}

TEST_F(Cli, CompletionGetsEachSerialAsOneLiteralLine) {
  for (const std::u16string serial :
       {u"$(touch${IFS}pwned)", u"`id`", u"* ~root", u"a'b\"c", u"TV-\u00E9", u"", u"L\u010AF",
        u"ESC\u011B[2J", u"C1\u009B", u"`id`"}) {
    Add(serial);
  }
  ASSERT_EQ(Run({"--simulate", "__complete", "serials"}), kOk) << err_.str();
  EXPECT_EQ(out_.str(), "24-0017\n24-0230\n");
  ASSERT_EQ(Run({"__complete", "serials"}), kOk) << err_.str();
  EXPECT_EQ(out_.str(), "$(touch${IFS}pwned)\n`id`\n* ~root\na'b\"c\nTV-\u00E9\n\n");
  EXPECT_EQ(hid_.open_handles(), 0);
  EXPECT_EQ(Run({"__complete", "colours"}), kUsage);
}

TEST_F(Cli, ADeviceThatGoesAwayIsSaidToHaveGoneWhereverItHappens) {
  const std::vector<std::string> commands[] = {
      {"set-gain", "LC1", "8"}, {"factory", "--yes"}, {"load", "{file}"}, {"info"}, {"get-gain"},
      {"save", "{file}"}};
  for (const auto& args : commands) {
    WriteFile(R"({"profile":1,"serial":"A1","gains":{"LC1":{"position":300,"gain":2.34375},
      "LC2":{"position":0,"gain":1},"LC3":{"position":2559,"gain":1022}}})");
    hid_ = SimulatedHid();
    Add(u"A1");
    const std::uint64_t start = hid_.calls_made();
    ASSERT_EQ(Run(args), kOk) << err_.str();
    const auto& log = hid_.call_log();
    const auto calls = static_cast<std::uint64_t>(log.size());
    // Once the read-back's first reply, which carries the gains, is in, the
    // command has done its work whatever happens to the device after it.
    std::uint64_t done_after = 0;
    for (std::uint64_t i = 0; i < calls; ++i) {
      if (log[i].op == SimulatedHid::Op::kSetFeature) done_after = 0;
      if (log[i].op == SimulatedHid::Op::kGetFeature && done_after == 0) done_after = i + 1;
    }
    ASSERT_GT(done_after, 0u);
    for (std::uint64_t k = 1; k <= calls; ++k) {
      SCOPED_TRACE(args[0] + " unplugged at call " + std::to_string(k));
      hid_ = SimulatedHid();
      hid_.UnplugAtCall(Add(u"A1"), start + k);
      const int code = Run(args);
      const std::string err = err_.str();
      EXPECT_EQ(hid_.open_handles(), 0);
      if (k > done_after) {
        EXPECT_EQ(code, kOk) << err;
      } else if (hid_.write_log().empty()) {
        EXPECT_EQ(code, kNoDevice) << err;
        EXPECT_TRUE(err == "tensivo-cli: device A1 went away; nothing written\n" ||
                    err.starts_with("tensivo-cli: no device attached;"))
            << err;
      } else {
        EXPECT_EQ(code, kDeviceFailed) << err;
        EXPECT_TRUE(err.starts_with("tensivo-cli: device A1 went away; registers written: "))
            << err;
        EXPECT_EQ(Lines(err), 1) << err;
      }
    }
  }
}

TEST_F(Cli, FactoryFailsWhenAnyOfItsTwelveRegistersIsNotHeld) {
  struct Case {
    const char* device;
    Bytes block;  // the configuration block it answers, whatever was written
    std::uint16_t feature_length;
    std::string err;
  };
  const Case cases[] = {
      {"registers 9-11 read as 0",
       {0xEE, 0, 15, 1, 15, 1, 15, 1, 244, 244, 244, 0, 0, 0},
       19,
       "device A1 did not keep the factory settings: registers 9, 10, 11 hold 0, 0, 0 where 128, "
       "128, 128 were written\n"},
      {"register 10 read as 127, in the shortest reports that reach it",
       {0xEE, 0, 15, 1, 15, 1, 15, 1, 244, 244, 244, 128, 127, 128},
       15,
       "device A1 did not keep the factory settings: register 10 holds 127 where 128 was "
       "written\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device);
    hid_ = SimulatedHid();
    const auto id = Add(u"A1");
    hid_.traits(id).feature_length = c.feature_length;
    hid_.model(id).SetReplies({sim::FeatureReply::Raw(c.block), sim::FeatureReply::InputMask()});
    EXPECT_EQ(Run({"factory", "--yes"}), kDeviceFailed);
    EXPECT_EQ(err_.str(), "tensivo-cli: " + c.err);
    EXPECT_EQ(Written().size(), 12u);
  }
}

TEST_F(Cli, ShortFeatureReportsShowTheDeviceButNeitherReadNorWriteItsGains) {
  sim::SimulatedDeviceTraits traits;
  traits.serial = u"A1";
  traits.feature_length = 14;  // its gains fit, registers 9 to 11 do not
  hid_.AddDevice(traits);
  WriteFile(R"({"profile":1,"serial":"A1","gains":{"LC1":{"position":0,"gain":1},
      "LC2":{"position":0,"gain":1},"LC3":{"position":0,"gain":1}}})");
  const std::string why =
      "its feature reports are 14 bytes long, too short to read back the registers it is written "
      "(15 at least)";

  ASSERT_EQ(Run({"list"}), kOk) << err_.str();
  EXPECT_NE(out_.str().find("A1 cannot be configured: " + why + "\n"), std::string::npos)
      << out_.str();
  ASSERT_EQ(Run({"info"}), kOk) << err_.str();
  EXPECT_NE(out_.str().find("maker         Tensivo\n"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("configurable  no: " + why + "\n"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("LC2 gain      (cannot be read: its feature reports are too short)\n"),
            std::string::npos)
      << out_.str();
  ASSERT_EQ(Run({"info", "--json"}), kOk) << err_.str();
  const json details = json::parse(out_.str());
  EXPECT_EQ(details["configurable"], false);
  EXPECT_EQ(details["gains"], (json{{"LC1", nullptr}, {"LC2", nullptr}, {"LC3", nullptr}}));

  for (const std::vector<std::string>& args : {std::vector<std::string>{"set-gain", "LC1", "8"},
                                               {"factory", "--yes"},
                                               {"load", "{file}"},
                                               {"get-gain"},
                                               {"save", "{file}"}}) {
    SCOPED_TRACE(args[0]);
    EXPECT_EQ(Run(args), kRefused);
    EXPECT_NE(err_.str().find(why), std::string::npos) << err_.str();
  }
  EXPECT_TRUE(hid_.write_log().empty());
  EXPECT_EQ(hid_.open_handles(), 0);
}

TEST_F(Cli, ASignalAtAPromptOrAReadEndsTheCommandWithNothingWritten) {
  std::atomic<int> signal{0};
  struct Case {
    const char* point;
    std::vector<std::string> args;
    int signal;
    int lands_on_wait;  // the wait for input it lands on; 0: before the run
    int exit;
    const char* said;
  };
  const char* interrupted = "tensivo-cli: interrupted; nothing written\n";
  const char* terminated = "tensivo-cli: terminated; nothing written\n";
  const Case cases[] = {
      {"factory prompt, Ctrl-C", {"factory"}, SIGINT, 1, 130, interrupted},
      {"factory prompt, SIGTERM", {"factory"}, SIGTERM, 1, 143, terminated},
      {"factory prompt, the terminal hangs up",
       {"factory"},
       SIGHUP,
       1,
       129,
       "tensivo-cli: the terminal hung up; nothing written\n"},
      {"profile read, Ctrl-C", {"load", "{file}"}, SIGINT, 1, 130, interrupted},
      {"profile read, second chunk", {"load", "{file}"}, SIGTERM, 2, 143, terminated},
      {"while opening the device", {"set-gain", "LC1", "8"}, SIGINT, 0, 130, interrupted},
      {"monitor, SIGTERM", {"monitor"}, SIGTERM, 0, 143, terminated},
  };
  const auto id = Add(u"A1");
  // Larger than one read, so that the profile takes two.
  WriteFile(R"({"profile":1,"serial":"A1","gains":{"LC1":{"position":0,"gain":1},
      "LC2":{"position":0,"gain":1},"LC3":{"position":0,"gain":1}}})" +
            std::string(5000, ' '));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.point);
    SetGain(hid_, id, 0, 5);
    hid_.ClearLogs();
    int waits = 0;
    signal = c.lands_on_wait == 0 ? c.signal : 0;
    wait_readable_ = [&](int) {
      if (++waits == c.lands_on_wait) signal = c.signal;
      return signal == 0;
    };
    interrupted_ = &signal;
    terminal_ = true;
    EXPECT_EQ(Run(c.args, "y\n"), c.exit);
    EXPECT_NE(err_.str().find(c.said), std::string::npos) << err_.str();
    EXPECT_TRUE(hid_.write_log().empty());
    EXPECT_EQ(GainOf(hid_, id, 0), 5);
    EXPECT_EQ(hid_.open_handles(), 0);
  }
}

TEST_F(Cli, MonitorTableFitsTheTerminalAndIsRedrawnWholeWhenItChanges) {
  const auto id = Add(std::u16string(45, u'S'));
  int columns = 20;
  int tick = 0;
  on_wait_ = [&] {
    hid_.PushModelInput(id, 1);
    // Resized, or stopped and continued, before the third table.
    if (++tick == 3) columns = 50, redraw_ = true;
  };
  columns_ = [&] { return columns; };
  out_is_terminal_ = true;
  ASSERT_EQ(Run({"monitor", "--count", "3"}), kOk) << err_.str();
  const std::string text = out_.str();
  const std::size_t second = text.find("\x1b[10A");
  const std::size_t third = text.find("\x1b[H\x1b[2J");
  ASSERT_NE(second, std::string::npos) << text;
  ASSERT_NE(third, std::string::npos) << text;
  EXPECT_LT(second, third);
  EXPECT_EQ(Lines(text), 30);
  EXPECT_EQ(text.substr(0, text.find('\n')), "\x1b[2KSSSSSSSSSSSSSSSSSSS");
  EXPECT_NE(text.find("\x1b[2KLC1     ", second), std::string::npos);
  // Cut to 19 columns before the resize, 49 after: the header keeps its serial whole.
  EXPECT_NE(text.find("\x1b[2K" + std::string(45, 'S') + "  (C\n", third), std::string::npos)
      << text;
  EXPECT_FALSE(redraw_);
}

TEST_F(Cli, MonitorGivesUpOnADeviceThatIsAttachedButSendsNothing) {
  Add(u"A1");
  fake_clock_ = true;
  int waits = 0;
  on_wait_ = [&] { ++waits; };
  EXPECT_EQ(Run({"monitor", "--count", "2"}), kDeviceFailed);
  EXPECT_EQ(err_.str(),
            "tensivo-cli: device A1 is attached but sent no input report for 5 seconds\n");
  EXPECT_EQ(out_.str(), "");
  // 20 readings a second for five seconds.
  EXPECT_EQ(waits, 100);
  EXPECT_EQ(hid_.open_handles(), 0);
}

}  // namespace
}  // namespace tensivo::cli
