#include "vsim/vpcd_card_posix.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace velto::test {
namespace {

bool ReadAll(int fd, uint8_t* data, size_t size) {
  while (size > 0) {
    // The driver sends a message's length and its bytes apart: acknowledge at
    // once, or its second send waits for our delayed acknowledgement (~40 ms).
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    ssize_t n = recv(fd, data, size, 0);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool Send(int fd, const Apdu& message) {
  Apdu framed = {static_cast<uint8_t>(message.size() >> 8), static_cast<uint8_t>(message.size())};
  framed.insert(framed.end(), message.begin(), message.end());
  return send(fd, framed.data(), framed.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(framed.size());
}

// A TCP socket of the namespace `netns`: made on a thread that enters it, so
// that the test process itself stays where it is.
int SocketIn(int netns, std::string* error) {
  int fd = -1;
  std::thread([&] {
    if (setns(netns, CLONE_NEWNET) != 0) {
      *error = std::string("setns: ") + std::strerror(errno);
      return;
    }
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) *error = std::string("socket: ") + std::strerror(errno);
  }).join();
  return fd;
}

}  // namespace

bool VpcdCard::Insert(int netns, uint16_t port, std::string* error) {
  Remove();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // The driver listens once pcscd has loaded it, and accepts between polls.
  for (int attempt = 0; attempt < 50; ++attempt) {
    int fd = SocketIn(netns, error);
    if (fd < 0) return false;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      socket_ = fd;
      sim_->Reset();
      thread_ = std::thread([this] { Serve(); });
      return true;
    }
    *error = std::string("connect to 127.0.0.1:") + std::to_string(port) + ": " + std::strerror(errno);
    close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

void VpcdCard::Remove() {
  if (socket_ < 0) return;
  shutdown(socket_, SHUT_RDWR);
  if (thread_.joinable()) thread_.join();
  close(socket_);
  socket_ = -1;
}

void VpcdCard::Serve() {
  for (;;) {
    uint8_t header[2];
    if (!ReadAll(socket_, header, sizeof header)) return;
    Apdu message(static_cast<size_t>(header[0] << 8 | header[1]));
    if (!ReadAll(socket_, message.data(), message.size())) return;
    if (message.size() == 1) {
      if (message[0] == 0x01 || message[0] == 0x02) sim_->Reset();
      if (message[0] == 0x04 && !Send(socket_, sim_->Atr())) return;
      continue;
    }
    if (!Send(socket_, sim_->Process(message))) return;
  }
}

}  // namespace velto::test
