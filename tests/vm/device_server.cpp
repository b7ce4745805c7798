// tensivo-vm-device-server: the guest's side of the Windows tests in the VM.
// A program under wine cannot make USB devices in the kernel it runs on, so
// this one holds them and takes requests over a loopback TCP port, one line
// each, answered by one line: "ok ..." or "error WHY". The udev checks
// (tests/vm/guest-udev) plug theirs through it too.
//
//   plug SERIAL               a USB device of our kind      -> ok /dev/hidrawN
//   plug-foreign SERIAL       a USB HID device of another maker -> ok /dev/hidrawN
//   unplug SERIAL             out, as pulling the cable     -> ok
//   replug SERIAL                                           -> ok /dev/hidrawN
//   remove SERIAL             unplugged and forgotten       -> ok
//   registers SERIAL          registers 0..16, in decimal   -> ok R0 ... R16
//   store SERIAL REG VALUE [REG VALUE ...]                  -> ok
//   sets SERIAL               feature reports written to it -> ok N
//   quit                      unplugs everything and ends
//
//   tensivo-vm-device-server PORT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "virtual_device/usb_device.h"

namespace {

using tensivo::virtual_device::DeviceTraits;
using tensivo::virtual_device::UsbDevice;
using tensivo::virtual_device::VirtualDevice;

// Under emulation a 1 kHz stream costs a whole host core; wine keeps every
// device open, so it streams all the time.
constexpr int kReportsPerSecond = 100;
constexpr int kNodeTimeoutMs = 8000;
constexpr std::size_t kRegistersShown = 17;
// pid.codes' test ids: a HID device that is none of ours, for the udev rule
// to leave alone.
constexpr std::uint16_t kForeignVendorId = 0x1209;
constexpr std::uint16_t kForeignProductId = 0x0001;

struct Reply {
  bool ok;
  std::string text;
};

Reply Ok(std::string text = {}) { return {true, std::move(text)}; }
Reply Error(std::string text) { return {false, std::move(text)}; }

class Devices {
 public:
  Reply Handle(const std::string& line) {
    std::istringstream in(line);
    std::string verb, serial;
    in >> verb >> serial;
    if (serial.empty()) return Error("which serial?");
    if (verb == "plug") return Plug(serial, false);
    if (verb == "plug-foreign") return Plug(serial, true);
    const auto found = devices_.find(serial);
    if (found == devices_.end()) return Error(serial + " was never plugged");
    VirtualDevice& device = *found->second;
    if (verb == "unplug") return Errno(device.Unplug());
    if (verb == "replug") return device.plugged() ? Error("already plugged") : Attach(device);
    if (verb == "remove") {
      devices_.erase(found);
      return Ok();
    }
    if (verb == "registers") return Registers(device);
    if (verb == "store") return Store(device, in);
    if (verb == "sets") return Ok(std::to_string(device.activity().feature_sets.size()));
    return Error("unknown request " + verb);
  }

 private:
  Reply Plug(const std::string& serial, bool foreign) {
    if (devices_.contains(serial)) return Error(serial + " is plugged already");
    DeviceTraits traits;
    traits.serial = serial;
    if (foreign) {
      traits.manufacturer = "Other Maker";
      traits.product = "Other Pad";
      traits.vendor_id = kForeignVendorId;
      traits.product_id = kForeignProductId;
    }
    traits.reports_per_second = kReportsPerSecond;
    int error = 0;
    auto device = UsbDevice::Make(traits, error);
    if (!device) return Error(std::strerror(error));
    Reply reply = Attach(*device);
    if (reply.ok) devices_.emplace(serial, std::move(device));
    return reply;
  }

  static Reply Attach(VirtualDevice& device) {
    if (const int error = device.Plug(); error != 0) return Error(std::strerror(error));
    const auto node = device.WaitForNode(kNodeTimeoutMs);
    if (!node) return Error("no hidraw node within " + std::to_string(kNodeTimeoutMs) + " ms");
    return Ok(*node);
  }

  static Reply Errno(int error) { return error == 0 ? Ok() : Error(std::strerror(error)); }

  static Reply Registers(VirtualDevice& device) {
    std::string text;
    device.WithModel([&](tensivo::sim::DeviceModel& model) {
      for (std::size_t i = 0; i < kRegistersShown; ++i) {
        text += (i == 0 ? "" : " ") + std::to_string(model.registers()[i]);
      }
    });
    return Ok(text);
  }

  static Reply Store(VirtualDevice& device, std::istream& in) {
    std::vector<std::pair<unsigned, unsigned>> values;
    for (unsigned reg = 0, value = 0; in >> reg >> value;) {
      if (reg >= kRegistersShown || value > 255) return Error("register or value out of range");
      values.emplace_back(reg, value);
    }
    if (values.empty() || !in.eof()) return Error("store wants REG VALUE pairs");
    device.WithModel([&](tensivo::sim::DeviceModel& model) {
      for (const auto& [reg, value] : values)
        model.registers()[reg] = static_cast<std::uint8_t>(value);
    });
    return Ok();
  }

  std::map<std::string, std::unique_ptr<VirtualDevice>> devices_;
};

bool SendLine(int fd, std::string line) {
  line += '\n';
  for (std::size_t sent = 0; sent < line.size();) {
    const ssize_t n = send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// Serves one client until it goes or says quit; false after quit.
bool Serve(int fd, Devices& devices) {
  std::string pending;
  char chunk[512];
  for (;;) {
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
    pending.append(chunk, static_cast<std::size_t>(n));
    for (auto eol = pending.find('\n'); eol != std::string::npos; eol = pending.find('\n')) {
      std::string line = pending.substr(0, eol);
      pending.erase(0, eol + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line == "quit") return false;
      const Reply reply = devices.Handle(line);
      std::printf("device-server: %s -> %s %s\n", line.c_str(), reply.ok ? "ok" : "error",
                  reply.text.c_str());
      if (!SendLine(fd,
                    (reply.ok ? "ok" : "error") + (reply.text.empty() ? "" : " " + reply.text))) {
        return true;
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const int port = argc == 2 ? std::atoi(argv[1]) : 0;
  if (port <= 0 || port > 65535) {
    std::fprintf(stderr, "usage: %s PORT\n", argv[0]);
    return 2;
  }
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 1) != 0) {
    std::fprintf(stderr, "device-server: cannot listen on 127.0.0.1:%d: %s\n", port,
                 std::strerror(errno));
    return 1;
  }
  std::printf("device-server: listening on 127.0.0.1:%d\n", port);
  Devices devices;
  for (bool more = true; more;) {
    const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EINTR) continue;
      break;
    }
    more = Serve(client, devices);
    close(client);
  }
  close(listener);
  return 0;
}
