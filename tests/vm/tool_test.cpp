// tensivo-virtual-device as a user runs it.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "device/discovery.h"
#include "kernel_world.h"
#include "platform/linux_hidraw.h"

namespace tensivo::vm {
namespace {

constexpr uid_t kNobody = 65534;

std::string ToolPath() {
  if (const char* path = std::getenv("TENSIVO_VIRTUAL_DEVICE")) return path;
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "tensivo-virtual-device")
      .string();
}

class Tool {
 public:
  explicit Tool(const std::vector<std::string>& args, bool as_nobody = false) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    const std::string path = ToolPath();
    std::vector<char*> argv = {const_cast<char*>(path.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      dup2(out[1], STDERR_FILENO);
      if (as_nobody && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(125);
      execv(path.c_str(), argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    fcntl(stdout_, F_SETFL, O_NONBLOCK);
  }
  ~Tool() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (stdin_ >= 0) close(stdin_);
    if (stdout_ >= 0) close(stdout_);
  }

  bool started() const { return pid_ > 0; }
  void Send(const std::string& line) { (void)!write(stdin_, line.data(), line.size()); }
  void Signal(int signal) { kill(pid_, signal); }

  // The exit status, or -1 when it is still running after the time given.
  int Wait(int timeout_ms) {
    int status = 0;
    const bool done = WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout_ms);
    if (!done) return -1;
    exited_ = true;
    Collect();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  const std::string& output() {
    Collect();
    return output_;
  }

 private:
  void Collect() {
    char chunk[512];
    for (ssize_t n; (n = read(stdout_, chunk, sizeof chunk)) > 0;) output_.append(chunk, n);
  }

  pid_t pid_ = -1;
  bool exited_ = false;
  int stdin_ = -1;
  int stdout_ = -1;
  std::string output_;
};

std::vector<std::string> OurPaths() {
  platform::LinuxHidraw hid;
  std::vector<platform::InterfaceInfo> found;
  hid.Enumerate(device::kVendorId, device::kProductId, found);
  std::vector<std::string> paths;
  for (const auto& info : found) paths.push_back(info.path);
  return paths;
}

std::vector<std::string> Serials() {
  platform::LinuxHidraw hid;
  device::WindowState state;
  return device::Scan_USB_devices(hid, state);
}

// Ports of the virtual USB host controllers that hold a device.
int UsedUsbPorts() {
  int used = 0;
  for (const std::string name : {"status", "status.1", "status.2", "status.3"}) {
    std::ifstream status(std::string(virtual_device::kVhciPath) + "/" + name);
    std::string line;
    while (std::getline(status, line)) {
      std::istringstream fields(line);
      std::string hub;
      int port = 0, state = 0;
      if (fields >> hub >> port >> state && (hub == "hs" || hub == "ss") && state != 4) ++used;
    }
  }
  return used;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(KernelTool, MakesItsDevicesAndUnplugsThemOnCtrlCAndOnSigterm) {
  for (const int stop : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(stop == SIGINT ? "SIGINT" : "SIGTERM");
    Tool tool({"TL-0001", "TL-0002"});
    ASSERT_TRUE(tool.started());
    EXPECT_TRUE(WaitUntil([] { return OurPaths().size() == 2; }, 5000)) << tool.output();
    EXPECT_EQ(Serials(), (std::vector<std::string>{"TL-0001", "TL-0002"}));
    tool.Signal(stop);
    EXPECT_EQ(tool.Wait(5000), 0) << tool.output();
    EXPECT_TRUE(OurPaths().empty()) << "devices left behind";
    EXPECT_NE(tool.output().find("TL-0002: unplugged"), std::string::npos) << tool.output();
    EXPECT_TRUE(WaitUntil([] { return UsedUsbPorts() == 0; }, 3000)) << "ports left taken";
  }
}

// The kernel takes about half a second to enumerate a USB device, and the
// tool plugs the next only once the one before is there; a stop signal
// meanwhile ends the wait at once and unplugs what was plugged.
TEST(KernelTool, AStopSignalWhileTheKernelTakesTheDevicesUnplugsThemAtOnce) {
  for (const int stop : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(stop == SIGINT ? "SIGINT" : "SIGTERM");
    Tool tool({"TL-W1", "TL-W2", "TL-W3"});
    ASSERT_TRUE(tool.started());
    ASSERT_TRUE(WaitUntil([] { return UsedUsbPorts() == 1; }, 5000)) << tool.output();
    tool.Signal(stop);
    EXPECT_EQ(tool.Wait(5000), 0) << tool.output();
    EXPECT_EQ(tool.output().find("plugged in as"), std::string::npos)
        << "it went on waiting for the kernel: " << tool.output();
    EXPECT_NE(tool.output().find("TL-W1: unplugged"), std::string::npos) << tool.output();
    EXPECT_TRUE(WaitUntil([] { return UsedUsbPorts() == 0 && OurPaths().empty(); }, 3000))
        << "devices left behind";
  }
}

TEST(KernelTool, UnplugsAndReplugsOnCommandAndQuits) {
  Tool tool({"--mask", "28", "TL-A", "TL-B"});
  ASSERT_TRUE(tool.started());
  ASSERT_TRUE(WaitUntil([] { return OurPaths().size() == 2; }, 5000)) << tool.output();

  tool.Send("unplug 1\n");
  EXPECT_TRUE(WaitUntil([] { return Serials() == std::vector<std::string>{"TL-B"}; }, 3000));
  tool.Send("replug 1\n");
  EXPECT_TRUE(WaitUntil([] { return Serials() == std::vector<std::string>{"TL-B", "TL-A"}; }, 3000))
      << "a replugged device comes after the others";
  tool.Send("quit\n");
  EXPECT_EQ(tool.Wait(5000), 0) << tool.output();
  EXPECT_TRUE(OurPaths().empty());
}

TEST(KernelTool, PlugCycleTakesTheLastDeviceAwayAndBringsItBack) {
  Tool tool({"--plug-cycle", "800,400", "TL-C1", "TL-C2"});
  ASSERT_TRUE(tool.started());
  const std::vector<std::string> both = {"TL-C1", "TL-C2"};
  const std::vector<std::string> first = {"TL-C1"};
  EXPECT_TRUE(WaitUntil([&] { return Serials() == both; }, 3000)) << tool.output();
  EXPECT_TRUE(WaitUntil([&] { return Serials() == first; }, 3000)) << tool.output();
  EXPECT_TRUE(WaitUntil([&] { return Serials() == both; }, 3000)) << tool.output();
  tool.Signal(SIGTERM);
  EXPECT_EQ(tool.Wait(5000), 0) << tool.output();
  EXPECT_TRUE(OurPaths().empty());
}

TEST(KernelTool, RefusesBadInputWithAClearMessageAndMakesNoDevice) {
  struct Case {
    std::vector<std::string> args;
    bool as_nobody;
    int status;
    std::string says;
  };
  const std::string file = "/tmp/tool-test-regular-file";
  const std::string kept = "not for uhid events\n";
  std::ofstream(file) << kept;
  const Case cases[] = {
      {{"--frobnicate", "TL-X"}, false, 2, "unknown option '--frobnicate'"},
      {{"TL-X", "bad serial"}, false, 2, "malformed serial 'bad serial'"},
      {{"TL-X", "TL-X"}, false, 2, "given twice"},
      {{"--name", "two\nlines", "TL-X"}, false, 2, "'--name two\\x0Alines': a name may hold no control characters"},
      {{"--uhid", "/dev/no-uhid-here", "TL-X"}, false, 1, "sudo modprobe uhid"},
      {{"--uhid", "/dev/null", "TL-X"}, false, 1, "/dev/null is not the uhid device"},
      {{"--uhid", "/dev/zero", "TL-X"}, false, 1, "/dev/zero is not the uhid device"},
      {{"--uhid", file, "TL-X"}, false, 1, file + " is not the uhid device"},
      {{"--uhid", "TL-X"}, true, 1, "needs root or write access to /dev/uhid"},
      {{"TL-X"}, true, 1, "needs root: run it with sudo"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    Tool tool(c.args, c.as_nobody);
    ASSERT_TRUE(tool.started());
    EXPECT_EQ(tool.Wait(5000), c.status) << tool.output();
    EXPECT_NE(tool.output().find(c.says), std::string::npos) << tool.output();
    EXPECT_TRUE(OurPaths().empty());
    EXPECT_EQ(UsedUsbPorts(), 0);
  }
  EXPECT_EQ(ReadFile(file), kept) << "the tool wrote into a regular file";
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace tensivo::vm
