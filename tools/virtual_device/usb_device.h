// The USB transport: the whole device, emulated in this process and attached to
// the kernel's virtual host controller (vhci-hcd) through USB/IP, so that the
// kernel enumerates it, reads its descriptors and strings, binds its USB HID
// driver and talks to it with control and interrupt transfers, exactly as it
// does with the hardware. sysfs then shows a USB parent with maker, product,
// serial and release number.
//
// USB/IP over an AF_UNIX socket pair: the kernel gets one end through the
// attach file of vhci_hcd.0, this object serves the other on its own thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"
#include "virtual_device/virtual_device.h"

namespace tensivo::virtual_device {

// Where vhci-hcd shows itself once loaded.
inline constexpr const char* kVhciPath = "/sys/devices/platform/vhci_hcd.0";

// Plug() gives this when every port of every virtual host controller is taken.
inline constexpr int kNoFreePort = ENOSPC;

class UsbDevice final : public VirtualDevice {
 public:
  // Makes the device, not yet plugged. Null with `error_number` set when the
  // process cannot get the descriptors it needs.
  static std::unique_ptr<UsbDevice> Make(DeviceTraits traits, int& error_number);
  ~UsbDevice() override;  // unplugs

  // Attaches to a free full-speed port; ENOENT without vhci-hcd, EACCES
  // without root, kNoFreePort when all ports are taken.
  int Plug() override;
  int Unplug() override;
  std::optional<std::string> HidrawNode() const override;

 private:
  struct PendingUrb {
    std::uint32_t seqnum;
    std::uint32_t length;
  };

  UsbDevice(DeviceTraits traits, LoopFds fds);
  void Loop() override;
  // One PDU from the kernel; false when the connection is gone.
  bool ServePdu(int sock);
  // Answers the interrupt URBs whose slot has come; with mutex_ held.
  bool ServeInterrupts(int sock);
  // Ends the connection after the kernel closed it or broke the protocol.
  void Disconnected();
  // A standard or HID class request on the control pipe, with mutex_ held:
  // 0 and the IN data, or the errno value of a stall.
  int Control(std::span<const std::uint8_t, 8> setup, std::span<const std::uint8_t> out,
              std::vector<std::uint8_t>& in);
  // Its parts (USB 2.0 §9.4, HID 1.11 §7.2), with mutex_ held.
  int StandardRequest(std::span<const std::uint8_t, 8> setup, std::vector<std::uint8_t>& in);
  int Descriptor(std::uint8_t recipient, std::uint16_t value, std::vector<std::uint8_t>& in) const;
  int ClassRequest(std::span<const std::uint8_t, 8> setup, std::span<const std::uint8_t> out,
                   std::vector<std::uint8_t>& in);
  void ArmTimer();  // with mutex_ held
  void StreamingChanged() override;
  void RefreshActivity() const override;

  std::condition_variable disconnected_;
  platform::UniqueFd sock_;  // our end while connected
  int port_ = -1;            // while attached
  std::string phys_;         // HID_PHYS of the device on that port
  std::uint8_t configuration_ = 0;
  std::deque<PendingUrb> pending_;  // interrupt IN URBs waiting for their slot
  std::chrono::steady_clock::time_point next_due_;
  std::chrono::steady_clock::time_point last_answer_;
};

}  // namespace tensivo::virtual_device
