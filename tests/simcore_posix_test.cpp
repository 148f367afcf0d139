// simcore over pcsc-lite against virtual SIMs in vpcd's readers, in a
// private, loopback-only pcscd: IMSI reads and the PIN policy, card events
// while watching, and the module's identity and credential-field exports
// through the real library. The figures (commands per IMSI read, card watch
// time) are printed and recorded as test properties.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "abi/eap_abi.h"
#include "abi/card_records.h"
#include "simcore/pcsc.h"
#include "sim/started_event_posix.h"
#include "simcore_chain.h"
#include "support/test_env.h"
#include "vsim/private_pcscd_posix.h"
#include "vsim/vpcd_card_posix.h"

namespace velto {
namespace {

using test::PrivatePcscd;
using test::VirtualSimConfig;
using Kind = VirtualSimConfig::Kind;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char* const kReader0 = PrivatePcscd::kReaders[0];
const char* const kReader1 = PrivatePcscd::kReaders[1];

VirtualSimConfig Card(Kind kind, bool pin_enabled, const char* imsi = "001010123456789",
                      int tries = 3) {
  VirtualSimConfig config;
  config.kind = kind;
  config.pin_enabled = pin_enabled;
  config.imsi = imsi;
  config.tries = tries;
  return config;
}

// What the library reported, as the module's callback sees it.
struct Events {
  struct Seen {
    int32_t kind;
    std::string reader, card_name, card_data;
    uint32_t flags;
  };
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Seen> seen;
  std::atomic<bool> closed{false};
  std::atomic<int> after_close{0};
  // When set, the callback tries to stop its own watch.
  std::atomic<const test::SimcoreEntries*> stop_from_callback{nullptr};
  std::atomic<swc_config*> handle{nullptr};
  std::atomic<int32_t> stop_status{1};

  static int32_t Callback(void* context, VELTO_CARD_EVENT* event) {
    auto* self = static_cast<Events*>(context);
    if (self->closed) ++self->after_close;
    if (const test::SimcoreEntries* swc = self->stop_from_callback) {
      self->stop_status = swc->deinit(self->handle);
    }
    std::lock_guard<std::mutex> lock(self->mutex);
    self->seen.push_back({event->kind, event->reader_name, event->card_name,
                          std::string(reinterpret_cast<char*>(event->card_data),
                                      event->card_data_length),
                          event->flags});
    self->changed.notify_all();
    return 0;
  }
  void WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return seen.size() >= count; });
  }
  std::vector<Seen> Copy() {
    std::lock_guard<std::mutex> lock(mutex);
    return seen;
  }
};

class SimcoreTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    if (!pcscd_.Start(&reason)) GTEST_SKIP() << "pcscd cannot run here: " << reason;
    std::string error;
    ASSERT_TRUE(chain_.SetUp(&error)) << error;
  }
  void TearDown() override {
    for (auto& card : cards_) card.reset();
  }

  const test::SimcoreEntries& swc() { return chain_.simcore(); }

  test::VirtualSim& Insert(int slot, VirtualSimConfig config) {
    cards_[slot] = std::make_unique<test::VpcdCard>(std::make_shared<test::VirtualSim>(config));
    std::string error;
    EXPECT_TRUE(cards_[slot]->Insert(pcscd_.netns(), PrivatePcscd::kPorts[slot], &error)) << error;
    WaitForCard(slot, true);
    return cards_[slot]->sim();
  }
  void Remove(int slot) {
    cards_[slot].reset();
    WaitForCard(slot, false);
  }
  // Waits, on the service's own change notification, until the reader
  // shows the card or no card.
  static void WaitForCard(int slot, bool present) {
    pcsc::ContextId context = 0;
    ASSERT_EQ(pcsc::EstablishContext(&context), pcsc::kSuccess);
    std::vector<pcsc::ReaderState> states = {{PrivatePcscd::kReaders[slot], 0, 0, {}}};
    while (pcsc::GetStatusChange(context, pcsc::kInfinite, &states) == pcsc::kSuccess &&
           ((states[0].event_state & pcsc::kStatePresent) != 0) != present) {
      states[0].current_state = states[0].event_state & ~pcsc::kStateChanged;
    }
    pcsc::ReleaseContext(context);
  }

  // A handle with `events` registered; watching when `watch`.
  swc_config* Open(Events* events, bool watch = true) {
    swc_config* config = swc().config_alloc("SupplicantPlugin_00-00-00-00-00-00", 1);
    EXPECT_NE(config, nullptr);
    EXPECT_EQ(swc().set_event_cb(config, Events::Callback, events), 0);
    if (watch) {
      EXPECT_EQ(swc().init(config), 0);
    }
    return config;
  }
  void Close(swc_config* config) {
    EXPECT_EQ(swc().deinit(config), 0);
    swc().config_free(config);
  }
  int32_t ReadImsi(swc_config* config, const char* reader, const char* pin, std::string* imsi) {
    char buffer[64] = {};
    uint32_t length = sizeof buffer;
    int32_t status = swc().get_imsi(config, reader, pin, buffer, &length);
    *imsi = buffer;
    if (status == 0) {
      EXPECT_EQ(length, imsi->size());
    }
    return status;
  }

  PrivatePcscd pcscd_;
  test::SimChain chain_;
  std::unique_ptr<test::VpcdCard> cards_[2];
};

void Figure(const std::string& name, const std::string& value) {
  testing::Test::RecordProperty(name, value);
  std::printf("FIGURE %s = %s\n", name.c_str(), value.c_str());
}

TEST_F(SimcoreTest, ImsiFromGsmSimAndUsimWithAndWithoutPin) {
  const struct {
    const char* name;
    Kind kind;
    bool pin_enabled;
    const char* pin;
    int32_t status;
    int commands;
  } cases[] = {
      {"GSM SIM", Kind::kGsmSim, false, nullptr, 0, 3},
      {"USIM", Kind::kUsim, false, nullptr, 0, 2},
      {"GSM SIM with PIN", Kind::kGsmSim, true, "1234", 0, 5},
      {"USIM with PIN", Kind::kUsim, true, "1234", 0, 4},
      {"USIM, PIN missing", Kind::kUsim, true, nullptr, kSwcPinWrong, 2},
      {"GSM SIM, PIN missing", Kind::kGsmSim, true, nullptr, kSwcPinWrong, 3},
  };
  for (const auto& c : cases) {
    test::VirtualSim& card = Insert(0, Card(c.kind, c.pin_enabled, "262019876543210"));
    Events events;
    swc_config* config = Open(&events);
    card.ClearCounts();
    std::string imsi;
    EXPECT_EQ(ReadImsi(config, kReader0, c.pin, &imsi), c.status) << c.name;
    EXPECT_EQ(imsi, c.status == 0 ? "262019876543210" : "") << c.name;
    EXPECT_EQ(card.commands(), c.commands) << c.name;
    if (c.status == 0) {
      Figure(std::string("commands per IMSI read, ") + c.name, std::to_string(card.commands()));
    }
    Close(config);
    // Without a watch the library recognises the card itself first.
    config = Open(&events, false);
    EXPECT_EQ(ReadImsi(config, kReader0, c.pin, &imsi), c.status) << c.name << ", not watching";
    swc().config_free(config);
    Remove(0);
  }
}

TEST_F(SimcoreTest, WrongPinCountsDownAndTheLastTryIsKept) {
  for (Kind kind : {Kind::kGsmSim, Kind::kUsim}) {
    test::VirtualSim& card = Insert(0, Card(kind, true));
    Events events;
    swc_config* config = Open(&events);
    std::string imsi;
    EXPECT_EQ(ReadImsi(config, kReader0, "4321", &imsi), -7);
    EXPECT_EQ(card.tries_left(), 2);
    EXPECT_EQ(ReadImsi(config, kReader0, "4321", &imsi), -7);
    EXPECT_EQ(card.tries_left(), 1);
    // Even the right PIN is not sent on the last try.
    EXPECT_EQ(ReadImsi(config, kReader0, "1234", &imsi), -8);
    EXPECT_EQ(card.tries_left(), 1);
    EXPECT_EQ(card.pin_commands(), 2);
    EXPECT_EQ(imsi, "");
    Close(config);
    Remove(0);
  }
  test::VirtualSim& blocked = Insert(1, Card(Kind::kUsim, true, "001010123456789", 0));
  Events events;
  swc_config* config = Open(&events);
  std::string imsi;
  EXPECT_EQ(ReadImsi(config, kReader1, "1234", &imsi), -9);
  EXPECT_EQ(blocked.pin_commands(), 0);
  EXPECT_EQ(ReadImsi(config, "No such reader", nullptr, &imsi), -3);
  EXPECT_EQ(ReadImsi(config, kReader0, nullptr, &imsi), -3) << "empty reader";
  Close(config);
}

TEST_F(SimcoreTest, CardInsertedAndRemovedWhileWatching) {
  Events events;
  swc_config* config = Open(&events);
  EXPECT_TRUE(events.Copy().empty()) << "no card yet";
  events.handle = config;
  events.stop_from_callback = &swc();  // refused: it would wait for itself
  Insert(0, Card(Kind::kUsim, true));
  events.WaitFor(1);
  EXPECT_EQ(events.stop_status, -1);
  events.stop_from_callback = nullptr;
  Remove(0);
  events.WaitFor(2);
  Close(config);
  auto seen = events.Copy();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].kind, kCardInserted);
  EXPECT_EQ(seen[0].reader, kReader0);
  EXPECT_EQ(seen[0].card_name, "USIM");
  EXPECT_EQ(seen[0].card_data, "8900100000000000017");
  EXPECT_EQ(seen[0].flags, kCardHasData1 | kCardPinEnabled);
  EXPECT_EQ(seen[1].kind, kCardRemoved);
  EXPECT_EQ(seen[1].reader, kReader0);
  EXPECT_EQ(seen[1].flags, 0u);
}

TEST_F(SimcoreTest, ServiceLossReportsTheCardsRemoved) {
  Insert(0, Card(Kind::kUsim, false));
  Events events;
  swc_config* config = Open(&events);
  ASSERT_EQ(events.Copy().size(), 1u);
  pcscd_.Stop();
  events.WaitFor(2);
  EXPECT_EQ(events.Copy()[1].kind, kCardRemoved);
  EXPECT_EQ(events.Copy()[1].reader, kReader0);
  // The watcher now seeks the service again; the stop still ends it.
  Close(config);
}

TEST_F(SimcoreTest, TwoReadersAtOnce) {
  Insert(0, Card(Kind::kGsmSim, false, "001010000000001"));
  Insert(1, Card(Kind::kUsim, true, "001010000000002"));
  Events events;
  swc_config* config = Open(&events);
  // Both are reported before the start returns.
  auto seen = events.Copy();
  ASSERT_EQ(seen.size(), 2u);
  std::sort(seen.begin(), seen.end(), [](auto& a, auto& b) { return a.reader < b.reader; });
  EXPECT_EQ(seen[0].reader, kReader0);
  EXPECT_EQ(seen[0].card_name, "GSM SIM");
  EXPECT_EQ(seen[0].flags, kCardHasData1);
  EXPECT_EQ(seen[1].reader, kReader1);
  EXPECT_EQ(seen[1].card_name, "USIM");
  EXPECT_EQ(seen[1].flags, kCardHasData1 | kCardPinEnabled);
  std::string imsi;
  EXPECT_EQ(ReadImsi(config, kReader0, nullptr, &imsi), 0);
  EXPECT_EQ(imsi, "001010000000001");
  EXPECT_EQ(ReadImsi(config, kReader1, "1234", &imsi), 0);
  EXPECT_EQ(imsi, "001010000000002");
  Close(config);
}

TEST_F(SimcoreTest, NoEventAfterDeinitWhileCardsComeAndGo) {
  Insert(0, Card(Kind::kUsim, false));
  std::atomic<bool> done{false};
  std::thread churn([&] {
    auto sim = std::make_shared<test::VirtualSim>(Card(Kind::kGsmSim, false));
    while (!done) {
      auto card = std::make_unique<test::VpcdCard>(sim);
      std::string error;
      if (!card->Insert(pcscd_.netns(), PrivatePcscd::kPorts[1], &error)) break;
      WaitForCard(1, true);
      card.reset();
      WaitForCard(1, false);
    }
  });
  // Round r closes the watch once it has seen r events; the callbacks of
  // every round are counted until the end of the test.
  std::vector<std::unique_ptr<Events>> rounds;
  for (int round = 0; round < 6; ++round) {
    Events& events = *rounds.emplace_back(std::make_unique<Events>());
    swc_config* config = Open(&events);
    events.WaitFor(static_cast<size_t>(round));
    EXPECT_EQ(swc().deinit(config), 0);
    events.closed = true;
    swc().config_free(config);
  }
  done = true;
  churn.join();
  size_t total = 0;
  for (size_t round = 0; round < rounds.size(); ++round) {
    EXPECT_EQ(rounds[round]->after_close, 0) << "round " << round;
    total += rounds[round]->Copy().size();
  }
  EXPECT_GT(total, 6u) << "events were flowing";
}

// A card that stops answering while the watcher looks at it: no cancel
// reaches that call, and the stop lets the watcher go rather than wait for
// the card. No event follows; the watcher ends once the card answers.
TEST_F(SimcoreTest, StopDoesNotWaitForACardThatDoesNotAnswer) {
  Events events;
  swc_config* config = Open(&events);
  auto sim = std::make_shared<test::VirtualSim>(Card(Kind::kUsim, false));
  sim->HoldAnswers(true);
  cards_[0] = std::make_unique<test::VpcdCard>(sim);
  std::string error;
  ASSERT_TRUE(cards_[0]->Insert(pcscd_.netns(), PrivatePcscd::kPorts[0], &error)) << error;
  sim->WaitForCommands(1);
  EXPECT_EQ(swc().deinit(config), 0);
  swc().config_free(config);
  events.closed = true;
  sim->HoldAnswers(false);
  Remove(0);
  // Another watch on the same reader sees the card leave and come back.
  Events next;
  config = Open(&next);
  Insert(0, Card(Kind::kUsim, false));
  next.WaitFor(1);
  Close(config);
  EXPECT_EQ(events.after_close, 0);
  EXPECT_TRUE(events.Copy().empty());
}

TEST_F(SimcoreTest, ModuleIdentityThroughSimcore) {
  const struct {
    uint8_t type;
    Kind kind;
    bool pin_enabled;
    const char* pin;
    const char* identity;
  } cases[] = {
      {kEapTypeSim, Kind::kGsmSim, true, "1234", "1001010123456789"},
      {kEapTypeSim, Kind::kUsim, false, "", "1001010123456789"},
      {kEapTypeAka, Kind::kUsim, true, "1234", "0001010123456789"},
      {kEapTypeAka, Kind::kGsmSim, false, "", "0001010123456789"},
  };
  for (const auto& c : cases) {
    Insert(1, Card(c.kind, c.pin_enabled));
    test::SimChain::Identity r = chain_.RunIdentity(c.type, kReader1, c.pin);
    EXPECT_EQ(r.status, 0u) << c.identity;
    EXPECT_EQ(r.identity, c.identity);
    EXPECT_EQ(r.sim_reader, kReader1);
    EXPECT_EQ(r.fail_codes, std::vector<int>{150});
    Remove(1);
  }
  // A wrong PIN brings the dialog back with 159; a cancel then ends it.
  test::VirtualSim& card = Insert(0, Card(Kind::kUsim, true));
  test::SimChain::Identity r = chain_.RunIdentity(kEapTypeAka, kReader0, "9999", 2);
  EXPECT_EQ(r.status, 1223u);
  EXPECT_EQ(r.fail_codes, (std::vector<int>{150, 159, 159}));
  EXPECT_EQ(card.tries_left(), 1);
  // The last try is not spent: the SIM cannot be read.
  r = chain_.RunIdentity(kEapTypeAka, kReader0, "1234", 1);
  EXPECT_EQ(r.status, 1223u);
  EXPECT_EQ(card.tries_left(), 1);
}

TEST_F(SimcoreTest, ModuleCredentialFieldsFollowTheCardsPin) {
  std::vector<std::string> labels;
  EXPECT_EQ(chain_.QueryFields(kEapTypeSim, &labels), 0u);
  EXPECT_TRUE(labels.empty()) << "no SIM";
  for (bool pin_enabled : {true, false}) {
    for (Kind kind : {Kind::kGsmSim, Kind::kUsim}) {
      Insert(0, Card(kind, pin_enabled));
      EXPECT_EQ(chain_.QueryFields(kEapTypeAka, &labels), 0u);
      EXPECT_EQ(labels, (pin_enabled ? std::vector<std::string>{"PIN"}
                                     : std::vector<std::string>{"Username", "Password"}));
      Remove(0);
    }
  }
}

TEST_F(SimcoreTest, CardWatchTimeWithOneSim) {
  Insert(0, Card(Kind::kUsim, true));
  // Open (the SIM reported) and close, measured apart and together.
  std::vector<double> open, close, total;
  auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
  for (int i = 0; i < 7; ++i) {
    Events events;
    auto start = Clock::now();
    swc_config* config = Open(&events);
    auto opened = Clock::now();
    Close(config);
    auto closed = Clock::now();
    open.push_back(ms(opened - start));
    close.push_back(ms(closed - opened));
    total.push_back(ms(closed - start));
    EXPECT_EQ(events.Copy().size(), 1u);
  }
  for (auto* times : {&open, &close, &total}) std::sort(times->begin(), times->end());
  char text[128];
  std::snprintf(text, sizeof text, "%.1f ms median (min %.1f, max %.1f; open %.1f, close %.1f)",
                total[3], total.front(), total.back(), open[3], close[3]);
  Figure("card watch open to close, one USIM", text);
  std::vector<std::string> labels;
  auto start = Clock::now();
  EXPECT_EQ(chain_.QueryFields(kEapTypeAka, &labels), 0u);
  std::snprintf(text, sizeof text, "%.1f ms",
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  Figure("EapPeerQueryCredentialInputFields, one USIM", text);
}

// eapcfg sim, run as a separate program against the same private pcscd.
TEST_F(SimcoreTest, EapcfgSimListsReadersAndReadsTheImsi) {
  Insert(0, Card(Kind::kUsim, true, "001010123456789"));
  Insert(1, Card(Kind::kGsmSim, false, "310410000000042"));
  auto run = [](const std::string& input, const std::string& arguments, int* rc) {
    std::string command = "printf '" + input + "' | " + test::ProductDir() + "/eapcfg sim " +
                          arguments + " 2>&1";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[256];
    while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    *rc = pipe != nullptr ? pclose(pipe) : -1;
    return output;
  };
  int rc = 0;
  std::string out = run("", "--reader 'Virtual PCD 00 00' --pin-stdin", &rc);
  EXPECT_NE(rc, 0);
  EXPECT_NE(out.find("\"Virtual PCD 00 00\": USIM, ICCID 8900100000000000017, PIN enabled"),
            std::string::npos) << out;
  EXPECT_NE(out.find("\"Virtual PCD 00 01\": GSM SIM, ICCID 8900100000000000017, PIN disabled"),
            std::string::npos) << out;
  EXPECT_NE(out.find("not read (-7): PIN wrong or missing"), std::string::npos) << out;
  out = run("1234\\n", "--reader 'Virtual PCD 00 00' --pin-stdin", &rc);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("IMSI in \"Virtual PCD 00 00\": 001010123456789"), std::string::npos) << out;
  out = run("", "", &rc);  // the first SIM found, and no PIN
  EXPECT_NE(out.find("IMSI in \"Virtual PCD 00 00\" not read (-7)"), std::string::npos) << out;
}

// eapcfg configure and identity on an EAP-SIM record: the whole chain as a
// separate program: the real dialog library answered from a file, the card
// watch through the real simcore, the IMSI from the virtual SIM, the identity
// from the stored template.
TEST_F(SimcoreTest, EapcfgIdentityRunsTheWholeChain) {
  Insert(1, Card(Kind::kGsmSim, true, "262019876543210"));
  std::string work = test::MakeTempDir();
  // Installed as a real installation is: the library directory in the
  // registry (a sanitizer's dlopen would not search beside the module).
  std::string key = work + "/HKEY_LOCAL_MACHINE/SOFTWARE/Velto/Wireless";
  std::filesystem::create_directories(key);
  std::string product = test::ProductDir();
  std::ofstream(key + "/TamrixBinDir", std::ios::binary).write(product.c_str(), product.size() + 1);
  auto run = [&](const std::string& answers, const std::string& arguments, int* rc) {
    std::ofstream(work + "/answers") << answers;
    std::string command = "cd " + work + " && VELTOEAP_DIALOG_ANSWERS=" + work + "/answers" +
                          " VELTOEAP_REGISTRY_ROOT=" + work + " XDG_DATA_HOME=" + work + " " +
                          test::ProductDir() + "/eapcfg " + arguments + " 2>&1";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[256];
    while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    *rc = pipe != nullptr ? pclose(pipe) : -1;
    return output;
  };
  int rc = 0;
  std::string out = run("[config]\ntemplate=1{imsi}@wlan.mnc{mnc}.mcc{mcc}.example\n",
                        "configure sim.cdata --type sim", &rc);
  ASSERT_EQ(rc, 0) << out;
  // A wrong PIN first: the dialog comes back (the next section) and the
  // right one is taken.
  out = run("[smartcard]\nreader=Virtual PCD 00 01\nwait=5\npin=0000\n"
            "[smartcard]\nreader=Virtual PCD 00 01\npin=1234\n",
            "identity sim.cdata", &rc);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("identity:             \"1262019876543210@wlan.mnc019.mcc262.example\""),
            std::string::npos) << out;
  EXPECT_EQ(out.find("1234"), std::string::npos) << "the PIN is never shown";
  EXPECT_EQ(cards_[1]->sim().tries_left(), 3) << "reset by the right PIN";
  EXPECT_EQ(cards_[1]->sim().pin_commands(), 2);
  test::RemoveTree(work);
}

// The service's started event: a holder that comes while the last release
// waits for the old poller gets a poller of its own, and the release still
// ends the old one (it used to clear the old poller's stop flag, so the
// release waited for ever). The first probe of each round waits for the new
// holder; the rounds vary which of the two comes first.
struct Probes {
  static inline std::mutex mutex;
  static inline std::condition_variable changed;
  static inline int calls = 0;
  static inline bool go = false, releasing = false;
  static bool Probe() {
    std::unique_lock<std::mutex> lock(mutex);
    if (++calls == 1) changed.notify_all();
    changed.wait(lock, [] { return go || calls > 1; });
    return false;
  }
  static void Set(bool* flag) {
    std::lock_guard<std::mutex> lock(mutex);
    *flag = true;
    changed.notify_all();
  }
  static void WaitFor(const std::function<bool()>& condition) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, condition);
  }
};

TEST(PcscStartedEvent, ReleaseEndsItsPollerWhileANewHolderComes) {
  for (int round = 0; round < 50; ++round) {
    Probes::calls = 0;
    Probes::go = Probes::releasing = false;
    platform::PcscStartedEvent started(Probes::Probe);
    started.Access();
    Probes::WaitFor([] { return Probes::calls >= 1; });
    std::thread last_release([&] {
      Probes::Set(&Probes::releasing);
      started.Release();
    });
    Probes::WaitFor([] { return Probes::releasing; });
    started.Access();
    Probes::Set(&Probes::go);
    last_release.join();
    started.Release();
  }
}

// No pcscd behind the private socket: the smart-card service is not running.
TEST(SimcoreWithoutService, LibraryAndModuleGiveUpCleanly) {
  test::SetEnvVar("PCSCLITE_CSOCK_NAME", PrivatePcscd::SocketPath().c_str());
  test::SimChain chain;
  std::string error;
  ASSERT_TRUE(chain.SetUp(&error)) << error;
  test::ExpectNoSmartCardService(chain);
}

// The pcscd and every connection the tests make live in a network namespace
// whose only interface is loopback; the test's own namespace has no vpcd port.
TEST_F(SimcoreTest, EverythingStaysOnLoopback) {
  Insert(0, Card(Kind::kUsim, false));
  auto read = [](const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };
  std::string proc = "/proc/" + std::to_string(pcscd_.pid()) + "/net/";
  std::stringstream devices(read(proc + "dev"));
  std::string line;
  std::vector<std::string> interfaces;
  while (std::getline(devices, line)) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    name.erase(0, name.find_first_not_of(' '));
    interfaces.push_back(name);
  }
  EXPECT_EQ(interfaces, (std::vector<std::string>{"lo"}));
  // Local and remote addresses of every IPv4 socket there: 127.0.0.1, or any
  // address (a listener) of a namespace that has nothing but loopback.
  std::stringstream tcp(read(proc + "tcp"));
  std::getline(tcp, line);
  int sockets = 0;
  while (std::getline(tcp, line)) {
    std::stringstream fields(line);
    std::string slot, local, remote;
    fields >> slot >> local >> remote;
    for (const std::string& address : {local, remote}) {
      std::string ip = address.substr(0, 8);
      EXPECT_TRUE(ip == "0100007F" || ip == "00000000") << line;
    }
    ++sockets;
  }
  EXPECT_GE(sockets, 3) << "two listeners and the card's connection";
  std::stringstream tcp6(read(proc + "tcp6"));
  int tcp6_lines = 0;
  while (std::getline(tcp6, line)) tcp6_lines += line.empty() ? 0 : 1;
  EXPECT_LE(tcp6_lines, 1) << "no IPv6 socket, only the header";
  std::string own = read("/proc/self/net/tcp");
  EXPECT_EQ(own.find(":8C7B "), std::string::npos) << "vpcd's port is not in the test's namespace";
}

}  // namespace
}  // namespace velto
