// tensivo-cli on the real Linux backend against a device in the kernel.
#include "cli/cli.h"

#include <nlohmann/json.hpp>
#include <sstream>

#include "device/protocol.h"
#include "kernel_world.h"
#include "platform/linux_hidraw.h"

namespace tensivo::vm {
namespace {

using nlohmann::json;

struct Ran {
  int code;
  std::string out, err;
};

Ran RunCli(platform::HidPlatform& hid, std::vector<std::string> args) {
  std::ostringstream out, err;
  std::istringstream in;
  cli::Console console(out, err, in);
  console.real_hid = [&]() -> platform::HidPlatform& { return hid; };
  args.insert(args.begin(), "tensivo-cli");
  const int code = cli::Run(args, console);
  return {code, out.str(), err.str()};
}

// The one device `list --json` shows, or nothing (the test has failed).
std::optional<json> OnlyListed(platform::HidPlatform& hid) {
  const Ran listed = RunCli(hid, {"list", "--json"});
  EXPECT_EQ(listed.code, cli::kOk) << listed.err;
  if (listed.code != cli::kOk) return std::nullopt;
  const json devices = json::parse(listed.out)["devices"];
  EXPECT_EQ(devices.size(), 1u) << listed.out;
  if (devices.size() != 1) return std::nullopt;
  return devices[0];
}

TEST(KernelCli, ListAndInfoShowTheDeviceTheKernelHasAndItsStoredGains) {
  DeviceTraits traits = OurDevice("CL-0001");
  traits.input_mask = 0x28;
  auto dev = PlugIn(traits);
  auto foreign = PlugIn(ForeignDevice("CL-FOREIGN"));
  ASSERT_TRUE(dev && foreign);
  constexpr int kLc1Position = 3 * 256 + 17;
  dev->device->WithModel([](sim::DeviceModel& model) {
    const auto lc1 = device::EncodeGain(kLc1Position);
    auto& r = model.registers();
    r[0] = lc1.amplifier, r[1] = lc1.shift, r[6] = lc1.fine;
  });
  platform::LinuxHidraw hid;

  const auto listed = OnlyListed(hid);
  ASSERT_TRUE(listed);
  EXPECT_EQ((*listed)["serial"], "CL-0001");
  EXPECT_EQ((*listed)["node"], dev->node);
  EXPECT_EQ((*listed)["openable"], true);
  EXPECT_EQ((*listed)["maker"], "Tensivo");
  EXPECT_EQ((*listed)["product"], "Load Cell Interface");
  EXPECT_EQ((*listed)["version"], "1.1");
  EXPECT_EQ((*listed)["configurable"], true);

  const Ran info = RunCli(hid, {"info", "--json"});
  ASSERT_EQ(info.code, cli::kOk) << info.err;
  const json details = json::parse(info.out);
  EXPECT_EQ(details["node"], dev->node);
  EXPECT_EQ(details["gains"]["LC1"]["position"], kLc1Position);
  EXPECT_EQ(details["gains"]["LC2"]["text"], "500");
  EXPECT_EQ(details["input_mask"], 0x28);
  EXPECT_EQ(details["inputs_absent"], (json{"Input 4", "Input 6"}));
  EXPECT_TRUE(dev->device->activity().feature_sets.empty()) << "list or info wrote to the device";
}

TEST(KernelCli, SetGainSendsExactlyTheThreeFeatureSetsOfTheWindowsGainWrite) {
  auto dev = PlugIn(OurDevice("CL-0002"));
  ASSERT_TRUE(dev);
  platform::LinuxHidraw hid;
  const Ran set = RunCli(hid, {"set-gain", "LC2", "8.0312"});
  ASSERT_EQ(set.code, cli::kOk) << set.err;
  // As the device receives them: without the report-id byte, 18 data bytes.
  auto report = [](std::uint8_t reg, std::uint8_t value) {
    std::vector<std::uint8_t> bytes(18, 0);
    bytes[0] = 1, bytes[1] = reg, bytes[2] = value;
    return bytes;
  };
  EXPECT_EQ(dev->device->activity().feature_sets,
            (std::vector<std::vector<std::uint8_t>>{report(2, 11), report(3, 0), report(7, 1)}));
  std::array<std::uint8_t, 3> held{};
  dev->device->WithModel([&](sim::DeviceModel& model) {
    held = {model.registers()[2], model.registers()[3], model.registers()[7]};
  });
  EXPECT_EQ(held, (std::array<std::uint8_t, 3>{11, 0, 1}));
}

TEST(KernelCli, SetGainRefusesADeviceWithoutAReleaseNumberAndSendsNothing) {
  // Through uhid there is no USB parent, so no release number: the window
  // would not configure such a device either.
  auto dev = PlugIn(OurDevice("CL-0003"), Transport::kUhid);
  ASSERT_TRUE(dev);
  platform::LinuxHidraw hid;
  const Ran set = RunCli(hid, {"set-gain", "LC2", "8.0312"});
  EXPECT_EQ(set.code, cli::kRefused) << set.err;
  EXPECT_NE(set.err.find("firmware version 0.0"), std::string::npos) << set.err;
  EXPECT_TRUE(dev->device->activity().feature_sets.empty());
}

TEST(KernelCli, AMakerBeyondAsciiIsShownAsTheWindowShowsItInUtf8) {
  // The kernel hands the maker out as UTF-8; the device layer keeps it as
  // 8-bit text (0xFC), and the command line shows that as Latin-1 in UTF-8.
  DeviceTraits traits = OurDevice("CL-0004");
  traits.manufacturer = "M\u00FCller";
  auto dev = PlugIn(traits);
  ASSERT_TRUE(dev);
  platform::LinuxHidraw hid;

  const auto listed = OnlyListed(hid);
  ASSERT_TRUE(listed);
  EXPECT_EQ((*listed)["maker"], "M\u00FCller");
  EXPECT_EQ((*listed)["configurable"], true);

  const Ran info = RunCli(hid, {"info"});
  ASSERT_EQ(info.code, cli::kOk) << info.err;
  EXPECT_NE(info.out.find("\nmaker         M\u00FCller\n"), std::string::npos) << info.out;
}

}  // namespace
}  // namespace tensivo::vm
