// simcore over pcsc-lite against virtual SIMs in vpcd's readers, in a
// private, loopback-only pcscd: card events while watching, IMSI reads, the
// stop, and the module's and eapcfg's use of the real library. What the card
// logic does with each card is tested on its own (sim_card_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "abi/card_records.h"
#include "abi/eap_abi.h"
#include "sim/started_event_posix.h"
#include "simcore/pcsc.h"
#include "simcore_chain.h"
#include "support/test_env.h"
#include "vsim/private_pcscd_posix.h"
#include "vsim/vpcd_card_posix.h"

namespace velto {
namespace {

using test::PrivatePcscd;
using test::VirtualSimConfig;
using Kind = VirtualSimConfig::Kind;
using Lines = std::vector<std::string>;

const std::string kReader0 = PrivatePcscd::kReaders[0];
const std::string kReader1 = PrivatePcscd::kReaders[1];
const std::string kIccid = "8900100000000000017";

VirtualSimConfig Card(Kind kind, bool pin_enabled, const char* imsi = "001010123456789") {
  return {.kind = kind, .imsi = imsi, .pin_enabled = pin_enabled};
}

std::string Line(int32_t kind, const std::string& reader, const std::string& card,
                 const std::string& data, const std::string& atr, uint32_t flags) {
  return std::to_string(kind) + "|" + reader + "|" + card + "|" + data + "|" + atr + "|" +
         std::to_string(flags);
}

// What the library reported, as the module's callback sees it: one Line per
// event (the alternative card name, an ATR, in hex).
struct Events {
  std::mutex mutex;
  std::condition_variable changed;
  Lines seen;
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
    std::string atr;
    for (uint32_t i = 0; i < std::min<uint32_t>(event->alternative_card_name_length, 128); ++i) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02X", event->alternative_card_name[i]);
      atr += hex;
    }
    std::string line = Line(event->kind, event->reader_name, event->card_name,
                            std::string(reinterpret_cast<char*>(event->card_data),
                                        std::min<uint32_t>(event->card_data_length, 128)),
                            atr, event->flags);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->seen.push_back(line);
    self->changed.notify_all();
    return 0;
  }
  void WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return seen.size() >= count; });
  }
  Lines Copy() {
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

  PrivatePcscd pcscd_;
  test::SimChain chain_;
  std::unique_ptr<test::VpcdCard> cards_[2];
};

TEST_F(SimcoreTest, CardEventsWhileWatchingAndAtServiceLoss) {
  Insert(1, Card(Kind::kGsmSim, false));
  Events events;
  swc_config* config = Open(&events);
  EXPECT_EQ(events.Copy().size(), 1u) << "the card present is reported before the start returns";
  events.handle = config;
  events.stop_from_callback = &swc();  // refused: it would wait for itself
  Insert(0, Card(Kind::kUsim, true));
  events.WaitFor(2);
  EXPECT_EQ(events.stop_status, -1);
  events.stop_from_callback = nullptr;
  Remove(1);
  Insert(1, Card(Kind::kOther, false));
  events.WaitFor(4);
  // The service goes: every card counts as removed. The watcher then seeks
  // the service again; the stop still ends it.
  pcscd_.Stop();
  events.WaitFor(6);
  Close(config);
  EXPECT_EQ(events.Copy(), (Lines{
      Line(kCardInserted, kReader1, "GSM SIM", kIccid, "", kCardHasData1),
      Line(kCardInserted, kReader0, "USIM", kIccid, "", kCardHasData1 | kCardPinEnabled),
      Line(kCardRemoved, kReader1, "GSM SIM", "", "", 0),
      Line(kCardInserted, kReader1, "", "", "3B024F54", 0),  // not a SIM: its ATR
      Line(kCardRemoved, kReader0, "USIM", "", "", 0),
      Line(kCardRemoved, kReader1, "", "", "", 0)}));
}

// The IMSI from the card the watch knows, with no second recognition; a card
// that turns out to be another, or to need its PIN since, is recognised anew,
// as is every card when nothing watches. A card the PIN was sent to is reset
// when let go.
TEST_F(SimcoreTest, ImsiReads) {
  test::VirtualSim& usim = Insert(0, Card(Kind::kUsim, true, "262019876543210"));
  test::VirtualSim& gsm = Insert(1, Card(Kind::kGsmSim, false, "310410000000042"));
  Events events;
  swc_config* config = Open(&events);
  auto read = [&](const std::string& reader, const char* pin, int32_t status,
                  const std::string& imsi = "", uint32_t size = 64) {
    char buffer[64] = {};
    uint32_t length = size;
    EXPECT_EQ(swc().get_imsi(config, reader.c_str(), pin, buffer, &length), status)
        << reader << ", PIN " << (pin != nullptr ? pin : "none");
    EXPECT_EQ(buffer, imsi);
    EXPECT_EQ(length, status == 0 ? imsi.size() : size);
  };
  usim.ClearCounts();
  gsm.ClearCounts();
  read(kReader1, nullptr, 0, "310410000000042");
  read(kReader0, nullptr, -7);
  EXPECT_EQ(gsm.commands(), 3);
  EXPECT_EQ(usim.commands(), 2);
  read(kReader0, "4321", -7);
  EXPECT_EQ(usim.tries_left(), 2);
  read(kReader0, "1234", 0, "262019876543210");
  read(kReader0, nullptr, -7);
  read(kReader1, nullptr, -6, "", 15);  // the IMSI and its NUL need 16
  read(kReader1, nullptr, 0, "310410000000042", 16);
  read("No such reader", nullptr, -3);
  gsm.Replace(Card(Kind::kGsmSim, true, "310410000000042"));
  read(kReader1, "1234", 0, "310410000000042");
  gsm.Replace(Card(Kind::kUsim, false, "001010000000001"));
  read(kReader1, nullptr, 0, "001010000000001");
  Close(config);
  config = Open(&events, false);
  read(kReader0, "1234", 0, "262019876543210");
  Remove(1);
  read(kReader1, nullptr, -3);
  swc().config_free(config);
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

// The module's fields follow the card's PIN; its identity takes the IMSI; a
// wrong PIN brings the dialog back with 159, and the last try is not spent.
TEST_F(SimcoreTest, ModuleFieldsAndIdentityThroughSimcore) {
  std::vector<std::string> labels;
  EXPECT_EQ(chain_.QueryFields(kEapTypeSim, &labels), 0u);
  EXPECT_TRUE(labels.empty()) << "no SIM";
  Insert(1, Card(Kind::kUsim, false));
  EXPECT_EQ(chain_.QueryFields(kEapTypeAka, &labels), 0u);
  EXPECT_EQ(labels, (Lines{"Username", "Password"}));
  test::SimChain::Identity r = chain_.RunIdentity(kEapTypeAka, kReader1.c_str(), "");
  EXPECT_EQ(r.status, 0u);
  EXPECT_EQ(r.identity, "0001010123456789");
  EXPECT_EQ(r.sim_reader, kReader1);
  EXPECT_EQ(r.fail_codes, std::vector<int>{150});
  Remove(1);
  test::VirtualSim& card = Insert(0, Card(Kind::kGsmSim, true));
  EXPECT_EQ(chain_.QueryFields(kEapTypeSim, &labels), 0u);
  EXPECT_EQ(labels, Lines{"PIN"});
  r = chain_.RunIdentity(kEapTypeSim, kReader0.c_str(), "9999", 2);
  EXPECT_EQ(r.status, 1223u);
  EXPECT_EQ(r.fail_codes, (std::vector<int>{150, 159, 159}));
  EXPECT_EQ(card.tries_left(), 1);
  r = chain_.RunIdentity(kEapTypeSim, kReader0.c_str(), "1234", 1);
  EXPECT_EQ(r.status, 1223u);
  EXPECT_EQ(card.tries_left(), 1);
}

// eapcfg as a separate program against the same private pcscd: `sim` lists
// the readers and reads an IMSI; configure and identity on an EAP-SIM record
// run the whole chain (the real dialog library answered from a file, the
// real simcore, the identity from the stored template).
TEST_F(SimcoreTest, EapcfgSimAndIdentity) {
  Insert(0, Card(Kind::kUsim, false, "001010123456789"));
  test::VirtualSim& gsm = Insert(1, Card(Kind::kGsmSim, true, "262019876543210"));
  std::string work = test::MakeTempDir();
  std::string product = test::ProductDir();
  auto run = [&](const std::string& command, int* rc) {
    std::string output;
    FILE* pipe = popen(("cd " + work + " && VELTOEAP_DIALOG_ANSWERS=" + work + "/answers" +
                        " VELTOEAP_REGISTRY_ROOT=" + work + " XDG_DATA_HOME=" + work + " " +
                        command + " 2>&1").c_str(), "r");
    char buffer[256];
    while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    *rc = pipe != nullptr ? pclose(pipe) : -1;
    return output;
  };
  int rc = 0;
  const std::string sim = product + "/eapcfg sim --reader 'Virtual PCD 00 01' --pin-stdin";
  std::string out = run("printf '' | " + sim, &rc);
  EXPECT_NE(rc, 0);
  EXPECT_NE(out.find("\"Virtual PCD 00 00\": USIM, ICCID 8900100000000000017, PIN disabled"),
            std::string::npos) << out;
  EXPECT_NE(out.find("\"Virtual PCD 00 01\": GSM SIM, ICCID 8900100000000000017, PIN enabled"),
            std::string::npos) << out;
  EXPECT_NE(out.find("not read (-7): PIN wrong or missing"), std::string::npos) << out;
  out = run("printf '1234\\n' | " + sim, &rc);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("IMSI in \"Virtual PCD 00 01\": 262019876543210"), std::string::npos) << out;
  out = run(product + "/eapcfg sim", &rc);  // the first SIM found
  EXPECT_NE(out.find("IMSI in \"Virtual PCD 00 00\": 001010123456789"), std::string::npos) << out;

  // Installed as a real installation is: the library directory in the
  // registry (a sanitizer's dlopen would not search beside the module).
  std::string key = work + "/HKEY_LOCAL_MACHINE/SOFTWARE/Velto/Wireless";
  std::filesystem::create_directories(key);
  std::ofstream(key + "/TamrixBinDir", std::ios::binary).write(product.c_str(), product.size() + 1);
  std::ofstream(work + "/answers") << "[config]\ntemplate=1{imsi}@wlan.mnc{mnc}.mcc{mcc}.example\n";
  out = run(product + "/eapcfg configure sim.cdata --type sim", &rc);
  ASSERT_EQ(rc, 0) << out;
  // A wrong PIN first: the dialog comes back (the next section) and the
  // right one is taken.
  std::ofstream(work + "/answers") << "[smartcard]\nreader=Virtual PCD 00 01\nwait=5\npin=0000\n"
                                      "[smartcard]\nreader=Virtual PCD 00 01\npin=1234\n";
  gsm.ClearCounts();
  out = run(product + "/eapcfg identity sim.cdata", &rc);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("identity:             \"1262019876543210@wlan.mnc019.mcc262.example\""),
            std::string::npos) << out;
  EXPECT_EQ(out.find("1234"), std::string::npos) << "the PIN is never shown";
  EXPECT_EQ(gsm.tries_left(), 3) << "reset by the right PIN";
  EXPECT_EQ(gsm.pin_commands(), 2);
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

}  // namespace
}  // namespace velto
