#include "vsim/private_pcscd_posix.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "simcore/pcsc.h"
#include "support/test_env.h"

namespace velto::test {
namespace {

constexpr char kPcscd[] = "/usr/sbin/pcscd";
constexpr char kVpcdDriver[] = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so";

// In the child, before pcscd runs: 0, or the failing step's letter.
char EnterLoopbackOnlyNamespace() {
  if (unshare(CLONE_NEWNET) != 0) return 'N';
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  close(fd);
  return up ? 0 : 'L';
}

bool ReadersReady() {
  pcsc::ContextId context = 0;
  if (pcsc::EstablishContext(&context) != pcsc::kSuccess) return false;
  std::vector<std::string> readers;
  bool ready = pcsc::ListReaders(context, &readers) == pcsc::kSuccess && readers.size() == 2;
  pcsc::ReleaseContext(context);
  return ready;
}

const std::string& ProcessFolder() {
  static struct Folder {
    std::string path = MakeTempDir();
    ~Folder() { RemoveTree(path); }
  } folder;
  return folder.path;
}

// vpcd frames: a 2-byte big-endian length and that many bytes.
bool ReadAll(int fd, uint8_t* data, size_t size) {
  for (ssize_t n = 0; size > 0; data += n, size -= static_cast<size_t>(n)) {
    // The driver sends length and bytes apart: acknowledge at once, or its
    // second send waits for our delayed acknowledgement.
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    if ((n = recv(fd, data, size, 0)) <= 0) return false;
  }
  return true;
}

}  // namespace

const std::string& PrivatePcscd::SocketPath() {
  static const std::string path = ProcessFolder() + "/pcscd.comm";
  return path;
}

bool PrivatePcscd::Start(std::string* reason) {
  if (access(kPcscd, X_OK) != 0 || access(kVpcdDriver, R_OK) != 0 || geteuid() != 0) {
    *reason = "needs root and pcscd with vsmartcard-vpcd (scripts/install-deps.sh)";
    return false;
  }
  dir_ = ProcessFolder() + "/pcscd";
  std::filesystem::create_directories(dir_ + "/reader.conf.d");
  std::ofstream(dir_ + "/reader.conf.d/vpcd")
      << "FRIENDLYNAME \"Virtual PCD\"\nDEVICENAME /dev/null:0x8C7B\nLIBPATH " << kVpcdDriver
      << "\nCHANNELID 0x8C7B\n";
  unlink(SocketPath().c_str());
  int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, SocketPath().c_str(), sizeof address.sun_path - 1);
  int report[2];
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 16) != 0 || pipe2(report, O_CLOEXEC) != 0) {
    *reason = std::string("private pcscd socket: ") + std::strerror(errno);
    close(listener);
    return false;
  }
  chmod(SocketPath().c_str(), 0666);
  std::string config = dir_ + "/reader.conf.d", log = dir_ + "/pcscd.log";
  pid_ = fork();
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    char outcome = EnterLoopbackOnlyNamespace();
    (void)!write(report[1], outcome != 0 ? &outcome : "K", 1);
    if (outcome != 0) _exit(2);
    // As a service manager passes the socket: descriptor 3, LISTEN_FDS=1.
    dup2(listener, 3);
    setenv("LISTEN_FDS", "1", 1);
    setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(out, 2);
    execl(kPcscd, "pcscd", "--foreground", "--config", config.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(listener);
  close(report[1]);
  char outcome = 0;
  ssize_t got = pid_ > 0 ? read(report[0], &outcome, 1) : -1;
  close(report[0]);
  if (got != 1 || outcome != 'K') {
    *reason = outcome == 'N' ? "no network namespace can be made here" : "pcscd could not be started";
    Stop();
    return false;
  }
  netns_ = open(("/proc/" + std::to_string(pid_) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
  SetEnvVar("PCSCLITE_CSOCK_NAME", SocketPath().c_str());
  // pcscd gives no notice of its readers coming up: it is asked until it does or dies.
  while (!ReadersReady()) {
    if (waitpid(pid_, nullptr, WNOHANG) != 0) {
      std::ifstream in(log);
      *reason = "pcscd did not offer vpcd's readers:\n" + std::string(std::istreambuf_iterator<char>(in), {});
      pid_ = -1;
      Stop();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

void PrivatePcscd::Stop() {
  if (pid_ > 0 && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
  pid_ = -1;
  if (netns_ >= 0) close(netns_);
  netns_ = -1;
  if (!dir_.empty()) RemoveTree(dir_);
  dir_.clear();
}

bool VpcdCard::Insert(int netns, uint16_t port, std::string* error) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // The driver listens once pcscd has loaded it, and accepts between polls.
  for (int attempt = 0; attempt < 50; ++attempt) {
    int fd = -1;
    // Made on a thread that enters the namespace: the test process stays where it is.
    std::thread([&] { fd = setns(netns, CLONE_NEWNET) == 0 ? socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1; }).join();
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      socket_ = fd;
      sim_->Reset();
      thread_ = std::thread([this] {
        for (uint8_t header[2]; ReadAll(socket_, header, 2);) {
          Apdu message(static_cast<size_t>(header[0] << 8 | header[1]));
          if (!ReadAll(socket_, message.data(), message.size())) return;
          // One byte is a control: 1 power on, 2 reset, 4 send the ATR (0 power off).
          if (message.size() == 1 && (message[0] == 1 || message[0] == 2)) sim_->Reset();
          if (message.size() == 1 && message[0] != 4) continue;
          Apdu answer = message.size() == 1 ? sim_->Atr() : sim_->Process(message);
          answer.insert(answer.begin(), {static_cast<uint8_t>(answer.size() >> 8), static_cast<uint8_t>(answer.size())});
          if (send(socket_, answer.data(), answer.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(answer.size())) return;
        }
      });
      return true;
    }
    *error = "connect to 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

VpcdCard::~VpcdCard() {
  if (socket_ < 0) return;
  shutdown(socket_, SHUT_RDWR);
  thread_.join();
  close(socket_);
}

}  // namespace velto::test
