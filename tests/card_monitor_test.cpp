// The card watch against the doubles of simcore and authdialogs, with the
// smart-card service's started event in the test's hands.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <thread>

#include "doubles/sibling_doubles_client.h"
#include "sim/card_lists.h"
#include "sim/sc_handler.h"
#include "sim/sync.h"
#include "trace/trace.h"

namespace velto {
namespace {

// The service's started event as the test sets it, or none; its holders counted.
platform::SyncEvent* g_service_event = nullptr;
std::mutex g_mutex;  // for the holders and the busy watch seen
std::condition_variable g_changed;
int g_service_holders = 0;
bool g_watch_busy_seen = false;

const platform::SmartCardServiceApi kTestService{
    [] { return std::lock_guard<std::mutex>(g_mutex), ++g_service_holders, g_service_event; },
    [] { std::lock_guard<std::mutex> lock(g_mutex); --g_service_holders; g_changed.notify_all(); }};
const platform::SmartCardServiceApi kNoService{[]() -> platform::SyncEvent* { return nullptr; }, [] {}};
int ServiceHolders() { return std::lock_guard<std::mutex>(g_mutex), g_service_holders; }
void Set(bool* flag) { std::lock_guard<std::mutex> lock(g_mutex); *flag = true; g_changed.notify_all(); }

// The waiting thread's start and stop waited for without time-out and its
// starts counted; time-outs of 0 (the give-up paths); or no thread at all.
std::atomic<int> g_thread_starts{0};
const WaitingThreadApi kWaitForever{[](platform::ThreadProc proc, void* argument, uint32_t* id) {
  return ++g_thread_starts, platform::StartThread(proc, argument, id);
}, platform::kWaitForever, platform::kWaitForever};
const WaitingThreadApi kGiveUpAtOnce{platform::StartThread, 0, 0};
const WaitingThreadApi kThreadsFail{[](platform::ThreadProc, void*, uint32_t*) -> platform::ThreadHandle* { return nullptr; },
                                    platform::kWaitForever, platform::kWaitForever};

const std::string kAlloc = "swc_config_alloc(SupplicantPlugin_00-00-00-00-00-00,1)\n", kSetCb = "swc_scard_set_event_cb\n",
                  kInit = "swc_scard_init\n", kClose = "swc_scard_deinit(config)\nswc_config_free(config)\n",
                  kCloseNull = "swc_scard_deinit(null)\nswc_config_free(null)\n", kOneWatch = kAlloc + kSetCb + kInit + kClose;

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::unique_ptr<VELTO_CARD_EVENT> SimEvent(int32_t kind, const std::string& reader) {
  auto event = std::make_unique<VELTO_CARD_EVENT>();
  event->kind = kind, event->card_data_length = 10, event->flags = kCardHasData1;
  std::snprintf(event->reader_name, sizeof event->reader_name, "%s", reader.c_str());
  return event;
}

struct CardMonitorTest : testing::Test {
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(doubles_.SetUp(&error)) << error;
    g_service_event = platform::CreateManualResetEvent();
    platform::g_smartcard_service.Override(&kTestService), g_waiting_thread.Override(&kWaitForever);
    g_thread_starts = 0, ClearCardLists();
  }
  void TearDown() override {
    ScSimCardDeinit(), g_waiting_thread.Override(nullptr), platform::g_smartcard_service.Override(nullptr);
    EXPECT_EQ(ServiceHolders(), 0) << "every access of the service event is released";
    platform::CloseSyncEvent(g_service_event);
  }
  const test::SimcoreDouble& sim() { return doubles_.simcore(); }
  test::SiblingDoubles doubles_;
};

// Open and close: simcore's calls, and whether a waiting thread ran.
struct Sequence { const char* name; int32_t init_status, cb_status; bool service_up, no_service, fail_alloc; int starts; std::string calls; };
// gtest names each case by its name: printed as raw bytes, the struct's padding would be read uninitialised.
void PrintTo(const Sequence& s, std::ostream* os) { *os << s.name; }
class CardWatchSequence : public CardMonitorTest, public testing::WithParamInterface<Sequence> {};

TEST_P(CardWatchSequence, CallsAndThread) {
  const Sequence& s = GetParam();
  if (s.service_up) platform::SetSyncEvent(g_service_event);
  if (s.no_service) platform::g_smartcard_service.Override(&kNoService);
  sim().fail_alloc(s.fail_alloc), sim().set_cb_status(s.cb_status), sim().push_init_status(s.init_status);
  ScSimCardInit();
  sim().wait_calls("swc_scard_init", Count(s.calls, kInit));
  EXPECT_EQ(CurrentSimConfig() != nullptr, !s.fail_alloc);
  if (s.cb_status == 0 && !s.fail_alloc) { EXPECT_EQ(sim().context(), static_cast<void*>(&g_sim_list)); }
  ScSimCardDeinit();
  EXPECT_EQ(CurrentSimConfig(), nullptr);
  EXPECT_EQ(ServiceHolders(), 0) << "the thread let go of the service before the stop returned";
  EXPECT_EQ(g_thread_starts, s.starts);
  EXPECT_EQ(sim().Calls(), s.calls);
}

INSTANTIATE_TEST_SUITE_P(CardMonitor, CardWatchSequence, testing::Values(
    Sequence{"InitSucceeds", 0, 0, false, false, false, 0, kOneWatch},
    Sequence{"ServiceAlreadyRunningRetriesAtOnce", -3, 0, true, false, false, 1, kAlloc + kSetCb + kInit + kInit + kClose},
    Sequence{"StopDuringTheWaitEndsTheThread", -3, 0, false, false, false, 1, kOneWatch},
    Sequence{"NoServiceEventMeansTheThreadGivesUp", -3, 0, false, true, false, 1, kOneWatch},
    Sequence{"FailedAllocStillReleasesWithNull", 0, 0, false, false, true, 0, kAlloc + kCloseNull},
    Sequence{"RefusedCallbackKeepsTheHandle", 0, 5, false, false, false, 0, kAlloc + kSetCb + kClose}),
    [](const testing::TestParamInfo<Sequence>& info) { return info.param.name; });

// The service starts late: the thread calls init again, which reports the
// card present; a stop that comes meanwhile waits for that call. Each event
// pushes both lists to the dialog library.
TEST_F(CardMonitorTest, LateServiceStartCallsInitOnceMore) {
  sim().push_init_status(-3);
  ScSimCardInit();
  EXPECT_EQ(Count(sim().Calls(), kInit), 1) << "the thread waits for the service";
  auto present = SimEvent(kCardInserted, "Late reader");
  present->flags |= kCardPinEnabled;
  sim().add_present_card(present.get()), platform::SetSyncEvent(g_service_event);
  sim().wait_calls("swc_scard_init", 2);
  ScSimCardDeinit();
  EXPECT_EQ(sim().Calls(), kAlloc + kSetCb + kInit + kInit + kClose);
  auto lists = std::make_unique<VELTO_SIM_LIST>(), pushed = std::make_unique<VELTO_SIM_LIST>();
  SnapshotCardLists(nullptr, lists.get()), doubles_.dialogs().last_lists(nullptr, pushed.get());
  EXPECT_EQ(lists->count == 1 && lists->entries[0].pin_enabled, 1u);
  EXPECT_EQ(doubles_.dialogs().set_list_calls(), 2);
  EXPECT_EQ(std::memcmp(pushed.get(), lists.get(), sizeof *lists), 0);
}

// A thread that cannot be started leaves no object that a stop would wait on.
TEST_F(CardMonitorTest, FailedThreadStartKeepsNoObject) {
  g_waiting_thread.Override(&kThreadsFail);
  sim().push_init_status(-3);
  ScSimCardInit();
  EXPECT_NE(CurrentSimConfig(), nullptr) << "open, not watching";
  ScSimCardDeinit();
  EXPECT_EQ(sim().Calls(), kOneWatch);
}

// The stop gives up while the thread is inside swc_scard_init: the thread,
// not the export, releases the handle when that call returns.
TEST_F(CardMonitorTest, StopThatGivesUpLeavesTheHandleToTheThread) {
  sim().push_init_status(-3);
  ScSimCardInit();
  sim().hold_init(1), platform::SetSyncEvent(g_service_event);
  sim().wait_calls("swc_scard_init", 2);
  g_waiting_thread.Override(&kGiveUpAtOnce);
  ScSimCardDeinit();
  EXPECT_EQ(sim().Calls(), kAlloc + kSetCb + kInit + kInit + kCloseNull);
  sim().hold_init(0), sim().wait_calls("swc_config_free(config)", 1);
  EXPECT_EQ(Count(sim().Calls(), kClose), 1);
  std::unique_lock<std::mutex> lock(g_mutex);  // the thread's last use of the service
  g_changed.wait(lock, [] { return g_service_holders == 0; });
}

// One card watch at a time: a second thread's open waits until the first is
// closed, so the two never share the handle or the thread object.
TEST_F(CardMonitorTest, SecondWatchWaitsForTheFirstToClose) {
  g_watch_busy_seen = false;
  const TraceSinkApi watch = {[](uint32_t, const char* format, va_list) {
    if (std::strstr(format, "Card watch busy") != nullptr) Set(&g_watch_busy_seen);
  }};
  ScopedSeamOverride<TraceSinkApi> sink(g_trace_sink, &watch);
  sim().push_init_status(-3);
  ScSimCardInit();  // the first watch, with its waiting thread
  bool second_opened = false;
  std::thread second([&] { ScSimCardInit(), Set(&second_opened), ScSimCardDeinit(); });
  std::unique_lock<std::mutex> lock(g_mutex);  // either the second open waits (as it must) or it went ahead
  g_changed.wait(lock, [&] { return g_watch_busy_seen || second_opened; });
  lock.unlock(), ScSimCardDeinit(), second.join();
  EXPECT_EQ(sim().Calls(), kOneWatch + kOneWatch);
}

// A null event is not pushed; an unknown kind changes no list but both are
// pushed; a null context is no reason to drop an event.
TEST_F(CardMonitorTest, CallbackIgnoresNullAndUnknownEvents) {
  EXPECT_EQ(SCSIMCardCB(&g_sim_list, nullptr), 0);
  EXPECT_EQ(doubles_.dialogs().set_list_calls(), 0);
  EXPECT_EQ(SCSIMCardCB(&g_sim_list, SimEvent(7, "A").get()), 0);
  EXPECT_EQ(doubles_.dialogs().set_list_calls(), 2);
  EXPECT_EQ(g_sim_list.count, 0);
  auto inserted = SimEvent(kCardInserted, "A");
  EXPECT_EQ(SCSIMCardCB(nullptr, inserted.get()), 0);
  EXPECT_EQ(inserted->flags & (kCardToSimList | kCardToScList), kCardToSimList);
  EXPECT_EQ(g_sim_list.count, 1);
}

}  // namespace
}  // namespace velto
