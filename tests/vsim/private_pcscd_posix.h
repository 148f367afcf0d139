// A pcscd of the test's own, with vpcd's two virtual readers and nothing else:
//  - its configuration is a private reader.conf.d folder (no file in /etc is
//    read or changed);
//  - it serves PC/SC clients on a private socket handed to it at start, as a
//    socket-activating service manager would, and PCSCLITE_CSOCK_NAME points
//    this process (and the programs it starts) there;
//  - it runs in a network namespace of its own, which holds nothing but a
//    loopback interface: the driver's listening ports and the virtual cards'
//    connections exist only there, unreachable from any other address.
// Start() refuses, with the reason, where that cannot be done (no pcscd or
// vpcd installed, not root, no namespaces); tests then skip.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace velto::test {

class PrivatePcscd {
 public:
  static constexpr const char* kReaders[2] = {"Virtual PCD 00 00", "Virtual PCD 00 01"};
  static constexpr uint16_t kPorts[2] = {35963, 35964};

  PrivatePcscd() = default;
  ~PrivatePcscd() { Stop(); }
  PrivatePcscd(const PrivatePcscd&) = delete;
  PrivatePcscd& operator=(const PrivatePcscd&) = delete;

  bool Start(std::string* reason);
  void Stop();

  // The private socket: one path for the whole process, because the PC/SC
  // client library reads PCSCLITE_CSOCK_NAME once. Nothing serves it until
  // Start().
  static const std::string& SocketPath();

  int netns() const { return netns_; }

 private:
  std::string dir_;  // this instance's files, in the process's folder
  std::string socket_path_;
  pid_t pid_ = -1;
  int netns_ = -1;
};

}  // namespace velto::test
