// A pcscd of the test's own with vpcd's two virtual readers: its own
// reader.conf.d folder (nothing in /etc is read or changed), a private socket
// handed to it as a socket-activating service manager would (with
// PCSCLITE_CSOCK_NAME pointing this process there), and a network namespace
// holding only loopback, so the driver's ports exist nowhere else. Start()
// refuses, with the reason, where that cannot be done; tests then skip.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "vsim/virtual_sim.h"

namespace velto::test {

class PrivatePcscd {
 public:
  static constexpr const char* kReaders[2] = {"Virtual PCD 00 00", "Virtual PCD 00 01"};
  static constexpr uint16_t kPorts[2] = {35963, 35964};

  ~PrivatePcscd() { Stop(); }
  bool Start(std::string* reason);
  void Stop();
  // One path for the whole process: the PC/SC client reads it once.
  static const std::string& SocketPath();
  int netns() const { return netns_; }

 private:
  std::string dir_;
  pid_t pid_ = -1;
  int netns_ = -1;
};

// The virtual SIM in one of vpcd's slots: a connection to the driver on
// loopback inside the namespace `netns`. Connecting inserts the card, the
// destructor removes it.
class VpcdCard {
 public:
  explicit VpcdCard(std::shared_ptr<VirtualSim> sim) : sim_(std::move(sim)) {}
  ~VpcdCard();
  bool Insert(int netns, uint16_t port, std::string* error);
  VirtualSim& sim() { return *sim_; }

 private:
  std::shared_ptr<VirtualSim> sim_;
  int socket_ = -1;
  std::thread thread_;
};

}  // namespace velto::test
