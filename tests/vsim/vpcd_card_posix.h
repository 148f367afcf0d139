// The virtual SIM in a slot of vpcd, the virtual reader driver of pcscd: a
// TCP connection to the driver, made inside the private pcscd's network
// namespace (see private_pcscd_posix.h). Connecting inserts the card, closing
// removes it. Messages are a 2-byte big-endian length and that many bytes; a
// one-byte message is a control (0 power off, 1 power on, 2 reset, 4 "send the
// ATR"), a longer one a command APDU.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "vsim/virtual_sim.h"

namespace velto::test {

class VpcdCard {
 public:
  explicit VpcdCard(std::shared_ptr<VirtualSim> sim) : sim_(std::move(sim)) {}
  ~VpcdCard() { Remove(); }
  VpcdCard(const VpcdCard&) = delete;
  VpcdCard& operator=(const VpcdCard&) = delete;

  // Connects to the driver's slot on 127.0.0.1:`port` in the namespace `netns`.
  bool Insert(int netns, uint16_t port, std::string* error);
  void Remove();
  VirtualSim& sim() { return *sim_; }

 private:
  void Serve();

  std::shared_ptr<VirtualSim> sim_;
  int socket_ = -1;
  std::thread thread_;
};

}  // namespace velto::test
