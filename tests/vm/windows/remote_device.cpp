#include "remote_device.h"

#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <sstream>
#include <thread>

namespace tensivo::vm::windows {
namespace {

constexpr int kConnectAttempts = 50;

// The one connection to the server, made on first use: "HOST:PORT" from
// TENSIVO_DEVICE_SERVER.
class Server {
 public:
  static Server& Get() {
    static Server server;
    return server;
  }

  // The text after "ok", or nothing with a test failure.
  std::optional<std::string> Ask(const std::string& line) {
    if (socket_ == INVALID_SOCKET && !Connect()) return std::nullopt;
    const std::string out = line + "\n";
    if (send(socket_, out.data(), static_cast<int>(out.size()), 0) !=
        static_cast<int>(out.size())) {
      ADD_FAILURE() << "device server: cannot send \"" << line << "\": " << WSAGetLastError();
      return std::nullopt;
    }
    std::string reply;
    for (char c = 0; c != '\n';) {
      if (recv(socket_, &c, 1, 0) != 1) {
        ADD_FAILURE() << "device server: no answer to \"" << line << "\"";
        return std::nullopt;
      }
      if (c != '\n') reply += c;
    }
    if (reply == "ok") return std::string();
    if (reply.starts_with("ok ")) return reply.substr(3);
    ADD_FAILURE() << "device server: \"" << line << "\" -> " << reply;
    return std::nullopt;
  }

 private:
  Server() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }

  bool Connect() {
    const char* const where = std::getenv("TENSIVO_DEVICE_SERVER");
    const std::string address = where != nullptr ? where : "";
    const auto colon = address.rfind(':');
    if (colon == std::string::npos) {
      ADD_FAILURE() << "TENSIVO_DEVICE_SERVER must say HOST:PORT of tensivo-vm-device-server";
      return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.substr(0, colon).c_str(), address.substr(colon + 1).c_str(), &hints,
                    &found) != 0) {
      ADD_FAILURE() << "device server: no such address " << address;
      return false;
    }
    // The server may still be getting ready when the first test starts.
    bool connected = false;
    for (int attempt = 0; attempt < kConnectAttempts && !connected; ++attempt) {
      if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (socket_ != INVALID_SOCKET) closesocket(socket_);
      socket_ = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
      connected = socket_ != INVALID_SOCKET &&
                  connect(socket_, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0;
    }
    freeaddrinfo(found);
    if (!connected) {
      ADD_FAILURE() << "device server: cannot connect to " << address << ": " << WSAGetLastError();
      if (socket_ != INVALID_SOCKET) closesocket(socket_);
      socket_ = INVALID_SOCKET;
    }
    return connected;
  }

  SOCKET socket_ = INVALID_SOCKET;
};

}  // namespace

std::optional<RemoteDevice> RemoteDevice::Plug(std::string serial) {
  if (!Server::Get().Ask("plug " + serial)) return std::nullopt;
  return RemoteDevice(std::move(serial));
}

RemoteDevice::RemoteDevice(RemoteDevice&& other) noexcept : serial_(std::move(other.serial_)) {
  other.serial_.clear();
}

RemoteDevice::~RemoteDevice() {
  if (!serial_.empty()) Request("remove");
}

std::optional<std::string> RemoteDevice::Request(const std::string& verb, const std::string& args) {
  return Server::Get().Ask(verb + " " + serial_ + (args.empty() ? "" : " " + args));
}

bool RemoteDevice::Unplug() { return Request("unplug").has_value(); }
bool RemoteDevice::Replug() { return Request("replug").has_value(); }

std::optional<Registers> RemoteDevice::ReadRegisters() {
  const auto text = Request("registers");
  if (!text) return std::nullopt;
  std::istringstream in(*text);
  Registers registers{};
  for (std::uint8_t& r : registers) {
    unsigned value = 0;
    if (!(in >> value)) {
      ADD_FAILURE() << "device server: registers \"" << *text << "\"";
      return std::nullopt;
    }
    r = static_cast<std::uint8_t>(value);
  }
  return registers;
}

bool RemoteDevice::StoreGain(device::LoadCell cell, int position) {
  const device::GainRegisters where = device::kLoadCellRegisters[static_cast<std::size_t>(cell)];
  const device::GainRegisters what = device::EncodeGain(position);
  std::string pairs;
  for (const auto& [reg, value] : {std::pair{where.amplifier, what.amplifier},
                                   {where.shift, what.shift},
                                   {where.fine, what.fine}}) {
    pairs += (pairs.empty() ? "" : " ") + std::to_string(reg) + " " + std::to_string(value);
  }
  return Request("store", pairs).has_value();
}

Registers WithGain(Registers registers, device::LoadCell cell, int position) {
  const device::GainRegisters where = device::kLoadCellRegisters[static_cast<std::size_t>(cell)];
  const device::GainRegisters what = device::EncodeGain(position);
  registers.at(where.amplifier) = what.amplifier;
  registers.at(where.shift) = what.shift;
  registers.at(where.fine) = what.fine;
  return registers;
}

std::optional<int> RemoteDevice::FeatureSets() {
  const auto text = Request("sets");
  if (!text) return std::nullopt;
  return std::atoi(text->c_str());
}

std::optional<int> WaitUntil(const std::function<bool()>& done, int timeout_ms) {
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count());
}

}  // namespace tensivo::vm::windows
