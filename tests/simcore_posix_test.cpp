// simcore over pcsc-lite, against virtual SIMs in vpcd's readers of a private pcscd.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
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

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>

#include "abi/card_records.h"
#include "sim/started_event_posix.h"
#include "simcore/pcsc.h"
#include "simcore_chain.h"
#include "support/test_env.h"
#include "vsim/virtual_sim.h"

namespace velto {
namespace {

constexpr const char* kReaders[2] = {"Virtual PCD 00 00", "Virtual PCD 00 01"};
constexpr uint16_t kPorts[2] = {35963, 35964};
constexpr char kPcscd[] = "/usr/sbin/pcscd", kVpcdDriver[] = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so";

// One folder and socket path for the process: the PC/SC client reads its socket's path once.
const std::string& SocketPath() {
  static struct Folder {
    std::string path = test::MakeTempDir();
    ~Folder() { test::RemoveTree(path); }
  } folder;
  static const std::string path = folder.path + "/pcscd.comm";
  return path;
}

// A pcscd of the test's own with vpcd's two readers: its own reader.conf.d
// (nothing in /etc is read or changed), a private socket handed to it as a
// socket-activating service manager would (PCSCLITE_CSOCK_NAME points this
// process there), and a network namespace holding only loopback, so the
// driver's ports exist nowhere else. Where that cannot be done, tests skip.
struct PrivatePcscd {
  pid_t pid = -1;
  int netns = -1;
  ~PrivatePcscd() { Stop(); }
  void Stop() {
    if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    if (netns >= 0) close(netns);
    pid = netns = -1;
  }
  bool Start(std::string* reason) {
    if (access(kPcscd, X_OK) != 0 || access(kVpcdDriver, R_OK) != 0 || geteuid() != 0)
      return *reason = "needs root and pcscd with vsmartcard-vpcd (scripts/install-deps.sh)", false;
    const std::string config = SocketPath() + ".d", log = SocketPath() + ".log";
    std::filesystem::create_directories(config);
    std::ofstream(config + "/vpcd") << "FRIENDLYNAME \"Virtual PCD\"\nDEVICENAME /dev/null:0x8C7B\nLIBPATH " << kVpcdDriver
                                    << "\nCHANNELID 0x8C7B\n";
    unlink(SocketPath().c_str());
    int listener = socket(AF_UNIX, SOCK_STREAM, 0), report[2];
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::strncpy(address.sun_path, SocketPath().c_str(), sizeof address.sun_path - 1);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 16) != 0 ||
        chmod(SocketPath().c_str(), 0666) != 0 || pipe2(report, O_CLOEXEC) != 0) {
      return close(listener), *reason = std::string("private pcscd socket: ") + std::strerror(errno), false;
    }
    if ((pid = fork()) == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      // Loopback up in a network namespace of its own, or the failing step's letter reported.
      int fd = unshare(CLONE_NEWNET) == 0 ? socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0) : -1;
      ifreq request{};
      std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
      bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0;
      request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
      (void)!write(report[1], up && ioctl(fd, SIOCSIFFLAGS, &request) == 0 ? "K" : fd < 0 ? "N" : "L", 1);
      dup2(listener, 3), setenv("LISTEN_FDS", "1", 1);  // as a service manager passes the socket
      setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
      int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out, 1), dup2(out, 2);
      execl(kPcscd, "pcscd", "--foreground", "--config", config.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(listener), close(report[1]);
    char outcome = 0;
    bool started = pid > 0 && read(report[0], &outcome, 1) == 1 && outcome == 'K';
    close(report[0]);
    if (!started) return *reason = outcome == 'N' ? "no network namespace here" : "pcscd did not start", Stop(), false;
    netns = open(("/proc/" + std::to_string(pid) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
    test::SetEnvVar("PCSCLITE_CSOCK_NAME", SocketPath().c_str());
    // Its readers waited for on the service's reader-change notification; a pcscd that dies ends the wait.
    pcsc::ContextId context = 0;
    std::vector<pcsc::ReaderState> pnp = {{pcsc::kPnpNotification, 0, 0, {}}};
    std::vector<std::string> readers;
    bool alive = pcsc::EstablishContext(&context) == pcsc::kSuccess;
    while (alive && (pcsc::ListReaders(context, &readers), readers.size() != 2)) {
      alive = pcsc::GetStatusChange(context, pcsc::kInfinite, &pnp) == pcsc::kSuccess;
      pnp[0].current_state = pnp[0].event_state & ~pcsc::kStateChanged;
    }
    pcsc::ReleaseContext(context);
    std::ifstream in(log);
    if (!alive) return *reason = "pcscd did not offer vpcd's readers:\n" + std::string(std::istreambuf_iterator<char>(in), {}), Stop(), false;
    return true;
  }
};

// The driver sends a frame's 2-byte length and its bytes apart: acknowledge
// at once, or its second send waits for our delayed acknowledgement.
bool ReadAll(int fd, uint8_t* data, size_t size) {
  for (ssize_t n = 0; size > 0; data += n, size -= static_cast<size_t>(n)) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    if ((n = recv(fd, data, size, 0)) <= 0) return false;
  }
  return true;
}

// The virtual SIM in one of vpcd's slots: a connection to the driver on
// loopback inside pcscd's namespace inserts it, the destructor removes it.
struct VpcdCard {
  std::shared_ptr<test::VirtualSim> sim;
  int socket_ = -1;
  std::thread thread;
  ~VpcdCard() {
    if (socket_ >= 0) shutdown(socket_, SHUT_RDWR), thread.join(), close(socket_);
  }
  bool Insert(int netns, uint16_t port, std::string* error) {
    sockaddr_in address{.sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    // The driver listens from the time its reader is listed, and accepts between polls. The socket
    // is made on a thread that enters the namespace: the test process stays where it is.
    std::thread([&] { socket_ = setns(netns, CLONE_NEWNET) == 0 ? socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1; }).join();
    if (socket_ >= 0 && connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) close(std::exchange(socket_, -1));
    int one = 1;
    if (socket_ < 0) return *error = "connect to 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno), false;
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one), sim->Reset();
    thread = std::thread([this] {
      for (uint8_t header[2]; ReadAll(socket_, header, 2);) {
        test::Apdu message(static_cast<size_t>(header[0] << 8 | header[1]));
        if (!ReadAll(socket_, message.data(), message.size())) return;
        // One byte is a control: 1 power on, 2 reset, 4 send the ATR (0 power off).
        if (message.size() == 1 && (message[0] == 1 || message[0] == 2)) sim->Reset();
        if (message.size() == 1 && message[0] != 4) continue;
        test::Apdu answer = message.size() == 1 ? sim->Atr() : sim->Process(message);
        answer.insert(answer.begin(), {static_cast<uint8_t>(answer.size() >> 8), static_cast<uint8_t>(answer.size())});
        if (send(socket_, answer.data(), answer.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(answer.size())) return;
      }
    });
    return true;
  }
};

using Kind = test::VirtualSimConfig::Kind;
using Lines = std::vector<std::string>;
const std::string kReader0 = kReaders[0], kReader1 = kReaders[1];
test::VirtualSimConfig Card(Kind kind, bool pin_enabled, const char* imsi = "001010123456789") {
  return {.kind = kind, .imsi = imsi, .pin_enabled = pin_enabled};
}

// What the callback saw, one "kind|reader|card|data|ATR in hex|flags" line an event.
struct Events {
  const test::SimcoreEntries* swc;
  std::mutex mutex;
  std::condition_variable changed;
  Lines seen;
  std::atomic<bool> closed{false};
  std::atomic<int> after_close{0}, stop_status{1};
  std::atomic<swc_config*> stop_own_watch{nullptr};

  static int32_t Callback(void* context, VELTO_CARD_EVENT* e) {
    auto* self = static_cast<Events*>(context);
    if (self->closed) ++self->after_close;
    if (swc_config* own = self->stop_own_watch) self->stop_status = self->swc->deinit(own);
    std::string line = std::to_string(e->kind) + "|" + e->reader_name + "|" + e->card_name + "|" +
                       std::string(reinterpret_cast<char*>(e->card_data), std::min<uint32_t>(e->card_data_length, 128)) + "|";
    for (uint32_t i = 0; i < std::min<uint32_t>(e->alternative_card_name_length, 128); ++i) {
      line += {"0123456789ABCDEF"[e->alternative_card_name[i] >> 4], "0123456789ABCDEF"[e->alternative_card_name[i] & 15]};
    }
    std::lock_guard<std::mutex> lock(self->mutex);
    self->seen.push_back(line + "|" + std::to_string(e->flags)), self->changed.notify_all();
    return 0;
  }
  Lines WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait(lock, [&] { return seen.size() >= count; }), seen;
  }
};

class SimcoreTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    if (!pcscd_.Start(&reason)) GTEST_SKIP() << "pcscd cannot run here: " << reason;
    ASSERT_TRUE(chain_.SetUp(&reason)) << reason;
  }
  const test::SimcoreEntries& swc() { return chain_.simcore(); }
  test::VirtualSim& Insert(int slot, test::VirtualSimConfig config, bool wait = true) {
    cards_[slot] = std::make_unique<VpcdCard>();
    cards_[slot]->sim = std::make_shared<test::VirtualSim>(config);
    std::string error;
    EXPECT_TRUE(cards_[slot]->Insert(pcscd_.netns, kPorts[slot], &error)) << error;
    if (wait) WaitForCard(slot, true);
    return *cards_[slot]->sim;
  }
  void Remove(int slot) { cards_[slot].reset(), WaitForCard(slot, false); }
  // On the service's own change notification.
  static void WaitForCard(int slot, bool present) {
    pcsc::ContextId context = 0;
    ASSERT_EQ(pcsc::EstablishContext(&context), pcsc::kSuccess);
    std::vector<pcsc::ReaderState> states = {{kReaders[slot], 0, 0, {}}};
    while (pcsc::GetStatusChange(context, pcsc::kInfinite, &states) == pcsc::kSuccess &&
           ((states[0].event_state & pcsc::kStatePresent) != 0) != present) {
      states[0].current_state = states[0].event_state & ~pcsc::kStateChanged;
    }
    pcsc::ReleaseContext(context);
  }
  swc_config* Open(Events* events, bool watch = true) {
    swc_config* config = (events->swc = &swc())->config_alloc("SupplicantPlugin_00-00-00-00-00-00", 1);
    EXPECT_EQ(swc().set_event_cb(config, Events::Callback, events), 0);
    if (watch) { EXPECT_EQ(swc().init(config), 0); }
    return config;
  }
  void Close(swc_config* config) { EXPECT_EQ(swc().deinit(config), 0); swc().config_free(config); }

  PrivatePcscd pcscd_;
  test::SimChain chain_;
  std::unique_ptr<VpcdCard> cards_[2];
};

TEST_F(SimcoreTest, CardEventsWhileWatchingAndAtServiceLoss) {
  Insert(1, Card(Kind::kGsmSim, false));
  Events events;
  swc_config* config = Open(&events);
  EXPECT_EQ(events.WaitFor(0).size(), 1u) << "the card present is reported before the start returns";
  events.stop_own_watch = config;  // refused: it would wait for itself
  Insert(0, Card(Kind::kUsim, true));
  events.WaitFor(2);
  EXPECT_EQ(events.stop_status, -1);
  events.stop_own_watch = nullptr;
  Remove(1), Insert(1, Card(Kind::kOther, false)), events.WaitFor(4);
  pcscd_.Stop();  // every card counts as removed; the stop still ends the watcher seeking the service
  events.WaitFor(6), Close(config);
  const std::string r0 = "|" + kReader0 + "|", r1 = "|" + kReader1 + "|";
  EXPECT_EQ(events.WaitFor(6), (Lines{"1" + r1 + "GSM SIM|8900100000000000017||" + std::to_string(kCardHasData1), "1" + r0 + "USIM|8900100000000000017||" + std::to_string(kCardHasData1 | kCardPinEnabled),
                                      "2" + r1 + "GSM SIM|||0", "1" + r1 + "||3B024F54|0",  // not a SIM: its ATR
                                      "2" + r0 + "USIM|||0", "2" + r1 + "|||0"}));
}

// The IMSI from the card the watch knows with no second recognition; a card
// that is another, or needs its PIN since, is recognised anew, as is every
// card when nothing watches. A card the PIN was sent to is reset when let go.
TEST_F(SimcoreTest, ImsiReads) {
  test::VirtualSim& usim = Insert(0, Card(Kind::kUsim, true, "262019876543210"));
  test::VirtualSim& gsm = Insert(1, Card(Kind::kGsmSim, false, "310410000000042"));
  Events events;
  swc_config* config = Open(&events);
  auto read = [&](const std::string& reader, const char* pin, int32_t status, const std::string& imsi = "",
                  uint32_t size = 64) {
    char buffer[64] = {};
    uint32_t length = size;
    EXPECT_EQ(swc().get_imsi(config, reader.c_str(), pin, buffer, &length), status) << reader << " " << (pin ? pin : "");
    EXPECT_EQ(buffer, imsi);
    EXPECT_EQ(length, status == 0 ? imsi.size() : size);
  };
  usim.ClearCounts(), gsm.ClearCounts();
  read(kReader1, nullptr, 0, "310410000000042");
  read(kReader0, nullptr, -7);
  EXPECT_EQ(std::pair(gsm.commands(), usim.commands()), std::pair(3, 2)) << "no second recognition";
  read(kReader0, "1234", 0, "262019876543210");
  read(kReader0, nullptr, -7);
  read(kReader1, nullptr, -6, "", 15);  // the IMSI and its NUL need 16
  read(kReader1, nullptr, 0, "310410000000042", 16);
  read("No such reader", nullptr, -3);
  gsm.Replace(Card(Kind::kGsmSim, true, "310410000000042"));
  read(kReader1, "1234", 0, "310410000000042");
  gsm.Replace(Card(Kind::kUsim, false, "001010000000001"));
  read(kReader1, nullptr, 0, "001010000000001");
  Close(config), config = Open(&events, false);
  read(kReader0, "1234", 0, "262019876543210");
  Remove(1), read(kReader1, nullptr, -3), swc().config_free(config);
}

// Round r closes its watch once it has seen r events while a card comes and
// goes: no round's callback runs after its close.
TEST_F(SimcoreTest, NoEventAfterDeinitWhileCardsComeAndGo) {
  Insert(0, Card(Kind::kUsim, false));
  std::atomic<bool> done{false};
  std::thread churn([&] {
    while (!done) {
      Insert(1, Card(Kind::kGsmSim, false));
      Remove(1);
    }
  });
  Events rounds[6];
  for (size_t round = 0; round < 6; ++round) {
    swc_config* config = Open(&rounds[round]);
    rounds[round].WaitFor(round);
    Close(config);
    rounds[round].closed = true;
  }
  done = true;
  churn.join();
  for (Events& round : rounds) { EXPECT_EQ(round.after_close, 0); }
}

// A card that stops answering while the watcher looks at it: no cancel reaches
// that call, so the stop lets the watcher go; nothing is reported after.
TEST_F(SimcoreTest, StopDoesNotWaitForACardThatDoesNotAnswer) {
  Events events, next;
  swc_config* config = Open(&events);
  Insert(0, Card(Kind::kUsim, false), false).HoldAnswers(true);
  cards_[0]->sim->WaitForCommands(1);
  Close(config);
  events.closed = true;
  cards_[0]->sim->HoldAnswers(false), Remove(0);
  config = Open(&next);  // another watch on the same reader sees the card come back
  Insert(0, Card(Kind::kUsim, false)), next.WaitFor(1), Close(config);
  EXPECT_EQ(events.after_close, 0);
  EXPECT_TRUE(events.WaitFor(0).empty());
}

// A holder that comes while the last release waits for the old poller gets a
// poller of its own, and the release still ends the old one (it used to clear
// the old poller's stop flag, so the release waited for ever). The first
// probe of each round waits for the new holder.
std::mutex g_probe_mutex;
std::condition_variable g_probe_changed;
int g_probes = 0;
bool g_go = false, g_releasing = false;

void SetAndWait(bool* flag, const std::function<bool()>& until) {
  std::unique_lock<std::mutex> lock(g_probe_mutex);
  if (flag != nullptr) *flag = true;
  g_probe_changed.notify_all(), g_probe_changed.wait(lock, until);
}

TEST(PcscStartedEvent, ReleaseEndsItsPollerWhileANewHolderComes) {
  for (int round = 0; round < 50; ++round) {
    g_probes = 0, g_go = g_releasing = false;
    platform::PcscStartedEvent started([] {
      std::unique_lock<std::mutex> lock(g_probe_mutex);
      ++g_probes, g_probe_changed.notify_all();
      g_probe_changed.wait(lock, [] { return g_go || g_probes > 1; });
      return false;
    });
    started.Access();
    SetAndWait(nullptr, [] { return g_probes >= 1; });
    std::thread last_release([&] { SetAndWait(&g_releasing, [] { return true; }), started.Release(); });
    SetAndWait(nullptr, [] { return g_releasing; });
    started.Access();
    SetAndWait(&g_go, [] { return true; });
    last_release.join(), started.Release();
  }
}

// No pcscd behind the private socket: the smart-card service is not running.
TEST(SimcoreWithoutService, LibraryAndModuleGiveUpCleanly) {
  test::SetEnvVar("PCSCLITE_CSOCK_NAME", SocketPath().c_str());
  test::SimChain chain;
  std::string error;
  ASSERT_TRUE(chain.SetUp(&error)) << error;
  test::ExpectNoSmartCardService(chain);
}

}  // namespace
}  // namespace velto
