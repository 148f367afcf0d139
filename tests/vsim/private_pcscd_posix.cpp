#include "vsim/private_pcscd_posix.h"

#include <fcntl.h>
#include <net/if.h>
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
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "simcore/pcsc.h"
#include "support/test_env.h"

namespace velto::test {
namespace {

constexpr char kPcscd[] = "/usr/sbin/pcscd";
constexpr char kVpcdDriver[] = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so";

// In the child, before pcscd runs: a network namespace with loopback up.
// Returns 0 or the failing step's letter.
char EnterLoopbackOnlyNamespace() {
  if (unshare(CLONE_NEWNET) != 0) return 'N';
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 'S';
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
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

// A folder for the process, removed when it exits.
struct ProcessFolder {
  std::string path = MakeTempDir();
  ~ProcessFolder() { RemoveTree(path); }
};
const std::string& ProcessFolderPath() {
  static ProcessFolder folder;
  return folder.path;
}

}  // namespace

const std::string& PrivatePcscd::SocketPath() {
  static const std::string path = ProcessFolderPath() + "/pcscd.comm";
  return path;
}

bool PrivatePcscd::Start(std::string* reason) {
  if (access(kPcscd, X_OK) != 0 || access(kVpcdDriver, R_OK) != 0) {
    *reason = "pcscd or vsmartcard-vpcd is not installed (scripts/install-deps.sh installs them)";
    return false;
  }
  if (geteuid() != 0) {
    *reason = "pcscd and a private network namespace need root";
    return false;
  }
  dir_ = ProcessFolderPath() + "/pcscd";
  std::filesystem::create_directories(dir_ + "/reader.conf.d");
  std::ofstream(dir_ + "/reader.conf.d/vpcd")
      << "FRIENDLYNAME \"Virtual PCD\"\nDEVICENAME /dev/null:0x8C7B\nLIBPATH " << kVpcdDriver
      << "\nCHANNELID 0x8C7B\n";
  socket_path_ = SocketPath();
  unlink(socket_path_.c_str());

  int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket_path_.c_str(), sizeof address.sun_path - 1);
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 16) != 0) {
    *reason = std::string("private pcscd socket: ") + std::strerror(errno);
    if (listener >= 0) close(listener);
    return false;
  }
  chmod(socket_path_.c_str(), 0666);
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    close(listener);
    *reason = "pipe";
    return false;
  }
  std::string config = dir_ + "/reader.conf.d";
  std::string log = dir_ + "/pcscd.log";
  pid_ = fork();
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    char failed = EnterLoopbackOnlyNamespace();
    if (failed != 0) {
      (void)!write(report[1], &failed, 1);
      _exit(2);
    }
    // The socket as a service manager passes it: descriptor 3, LISTEN_FDS=1.
    dup2(listener, 3);
    setenv("LISTEN_FDS", "1", 1);
    setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
    unsetenv("LISTEN_FDNAMES");
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(out, 2);
    char ok = 'K';
    (void)!write(report[1], &ok, 1);
    execl(kPcscd, "pcscd", "--foreground", "--config", config.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(listener);
  close(report[1]);
  char outcome = 0;
  ssize_t got = pid_ > 0 ? read(report[0], &outcome, 1) : -1;
  close(report[0]);
  if (got != 1 || outcome != 'K') {
    *reason = outcome == 'N' ? "no private network namespace can be made here (unshare refused)"
                             : "the private pcscd could not be started";
    Stop();
    return false;
  }
  netns_ = open(("/proc/" + std::to_string(pid_) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
  SetEnvVar("PCSCLITE_CSOCK_NAME", socket_path_.c_str());
  // pcscd offers no notice of its readers coming up: it is asked until it
  // does, or until it has died.
  while (!ReadersReady()) {
    if (waitpid(pid_, nullptr, WNOHANG) != 0) {
      std::ifstream log(dir_ + "/pcscd.log");
      *reason = "the private pcscd did not offer vpcd's two readers:\n" +
                std::string(std::istreambuf_iterator<char>(log), {});
      Stop();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

void PrivatePcscd::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    for (int i = 0; i < 40 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (waitpid(pid_, nullptr, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_ = -1;
  if (netns_ >= 0) close(netns_);
  netns_ = -1;
  if (!dir_.empty()) {
    RemoveTree(dir_);
    unlink(socket_path_.c_str());
  }
  dir_.clear();
}

}  // namespace velto::test
