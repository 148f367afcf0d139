// The card watch against the doubles of simcore and authdialogs, with the
// smart-card service's started event in the test's hands.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "doubles/sibling_doubles_client.h"
#include "sim/card_lists.h"
#include "sim/sc_handler.h"
#include "sim/sync.h"
#include "trace/trace.h"

namespace velto {
namespace {

// The smart-card service as the test sets it: an event it signals when the
// service "starts", or none at all. The holders count is watched.
platform::SyncEvent* g_service_event = nullptr;
std::mutex g_service_mutex;
std::condition_variable g_service_changed;
int g_service_holders = 0;

platform::SyncEvent* AccessServiceEvent() {
  std::lock_guard<std::mutex> lock(g_service_mutex);
  ++g_service_holders;
  return g_service_event;
}
void ReleaseServiceEvent() {
  std::lock_guard<std::mutex> lock(g_service_mutex);
  --g_service_holders;
  g_service_changed.notify_all();
}
int ServiceHolders() {
  std::lock_guard<std::mutex> lock(g_service_mutex);
  return g_service_holders;
}
void WaitForNoServiceHolder() {
  std::unique_lock<std::mutex> lock(g_service_mutex);
  g_service_changed.wait(lock, [] { return g_service_holders == 0; });
}
platform::SyncEvent* NoServiceEvent() { return nullptr; }
void NoRelease() {}

const platform::SmartCardServiceApi kTestService{AccessServiceEvent, ReleaseServiceEvent};
const platform::SmartCardServiceApi kNoService{NoServiceEvent, NoRelease};

// The waiting thread's start and stop waited for without time-out, so no
// outcome depends on how fast the threads run, and its starts counted; or
// time-outs of 0, which take the give-up paths at once; or a thread that
// cannot be started (a stop that waited on what it left would never end).
std::atomic<int> g_thread_starts{0};
platform::ThreadHandle* CountedStart(platform::ThreadProc proc, void* argument, uint32_t* id) {
  ++g_thread_starts;
  return platform::StartThread(proc, argument, id);
}
platform::ThreadHandle* NoThread(platform::ThreadProc, void*, uint32_t*) { return nullptr; }
const WaitingThreadApi kWaitForever{CountedStart, platform::kWaitForever, platform::kWaitForever};
const WaitingThreadApi kGiveUpAtOnce{platform::StartThread, 0, 0};
const WaitingThreadApi kThreadsFail{NoThread, platform::kWaitForever, platform::kWaitForever};

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::unique_ptr<VELTO_CARD_EVENT> SimEvent(int32_t kind, const char* reader) {
  auto event = std::make_unique<VELTO_CARD_EVENT>();
  std::memset(event.get(), 0, sizeof *event);
  event->kind = kind;
  std::snprintf(event->reader_name, sizeof event->reader_name, "%s", reader);
  std::snprintf(event->card_name, sizeof event->card_name, "SIM in %s", reader);
  event->card_data_length = 10;
  event->flags = kCardHasData1;
  return event;
}

class CardMonitorTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(doubles_.SetUp(&error)) << error;
    g_service_event = platform::CreateManualResetEvent();
    platform::g_smartcard_service.Override(&kTestService);
    g_waiting_thread.Override(&kWaitForever);
    g_thread_starts = 0;
    ClearCardLists();
  }
  void TearDown() override {
    ScSimCardDeinit();
    g_waiting_thread.Override(nullptr);
    platform::g_smartcard_service.Override(nullptr);
    EXPECT_EQ(ServiceHolders(), 0) << "every access of the service event is released";
    platform::CloseSyncEvent(g_service_event);
    g_service_event = nullptr;
  }

  const test::SimcoreDouble& sim() { return doubles_.simcore(); }

  test::SiblingDoubles doubles_;
};

TEST_F(CardMonitorTest, InitThatSucceedsStartsNoThread) {
  ScSimCardInit();
  EXPECT_EQ(g_thread_starts, 0);
  ASSERT_NE(CurrentSimConfig(), nullptr);
  EXPECT_EQ(sim().context(), static_cast<void*>(&g_sim_list));
  ScSimCardDeinit();
  EXPECT_EQ(CurrentSimConfig(), nullptr);
  EXPECT_EQ(sim().Calls(),
            "swc_config_alloc(SupplicantPlugin_00-00-00-00-00-00,1)\n"
            "swc_scard_set_event_cb\n"
            "swc_scard_init\n"
            "swc_scard_deinit(config)\n"
            "swc_config_free(config)\n");
  EXPECT_EQ(ServiceHolders(), 0) << "no waiting thread touched the service";
}

TEST_F(CardMonitorTest, CardsPresentAreListedBeforeInitReturns) {
  auto sim_a = SimEvent(kCardInserted, "Reader A");
  auto sim_b = SimEvent(kCardInserted, "Reader B");
  sim_b->flags |= kCardPinEnabled;
  sim().add_present_card(sim_a.get());
  sim().add_present_card(sim_b.get());

  ScSimCardInit();
  auto lists = std::make_unique<VELTO_SIM_LIST>();
  SnapshotCardLists(nullptr, lists.get());
  ASSERT_EQ(lists->count, 2);
  EXPECT_STREQ(lists->entries[0].reader_name, "Reader A");
  EXPECT_STREQ(lists->entries[1].reader_name, "Reader B");
  EXPECT_EQ(lists->entries[1].pin_enabled, 1u);
  // Each event pushes both lists to the dialog library.
  EXPECT_EQ(doubles_.dialogs().set_list_calls(), 4);
  auto pushed = std::make_unique<VELTO_SIM_LIST>();
  doubles_.dialogs().last_lists(nullptr, pushed.get());
  EXPECT_EQ(std::memcmp(pushed.get(), lists.get(), sizeof *lists), 0);
}

TEST_F(CardMonitorTest, LateServiceStartCallsInitOnceMore) {
  sim().push_init_status(-3);
  ScSimCardInit();
  EXPECT_EQ(g_thread_starts, 1);
  EXPECT_EQ(Count(sim().Calls(), "swc_scard_init"), 1) << "the thread waits for the service";

  auto present = SimEvent(kCardInserted, "Late reader");
  sim().add_present_card(present.get());
  platform::SetSyncEvent(g_service_event);
  sim().wait_calls("swc_scard_init", 2);
  // The stop comes once the thread is inside swc_scard_init: it waits for
  // the thread, whose call reports the card before it returns.
  ScSimCardDeinit();
  auto lists = std::make_unique<VELTO_SIM_LIST>();
  SnapshotCardLists(nullptr, lists.get());
  EXPECT_EQ(lists->count, 1);
  std::string calls = sim().Calls();
  EXPECT_EQ(Count(calls, "swc_scard_init"), 2);
  EXPECT_EQ(Count(calls, "swc_scard_deinit(config)"), 1);
  EXPECT_EQ(Count(calls, "swc_config_free(config)"), 1);
}

TEST_F(CardMonitorTest, ServiceAlreadyRunningRetriesAtOnce) {
  platform::SetSyncEvent(g_service_event);
  sim().push_init_status(-3);
  ScSimCardInit();
  sim().wait_calls("swc_scard_init", 2);
  ScSimCardDeinit();
  EXPECT_EQ(Count(sim().Calls(), "swc_scard_init"), 2);
}

// The stop event ends a thread that waits for the service (the stop waits
// for it without time-out here: a thread deaf to the stop hangs the test).
TEST_F(CardMonitorTest, StopDuringTheWaitEndsTheThread) {
  sim().push_init_status(-3);
  ScSimCardInit();
  ASSERT_EQ(g_thread_starts, 1);
  ScSimCardDeinit();
  EXPECT_EQ(ServiceHolders(), 0) << "the thread let go of the service before the stop returned";
  std::string calls = sim().Calls();
  EXPECT_EQ(Count(calls, "swc_scard_init"), 1);
  EXPECT_EQ(Count(calls, "swc_scard_deinit(config)"), 1);
  EXPECT_EQ(Count(calls, "swc_config_free(config)"), 1);
}

TEST_F(CardMonitorTest, NoServiceEventMeansTheThreadGivesUp) {
  platform::g_smartcard_service.Override(&kNoService);
  sim().push_init_status(-3);
  ScSimCardInit();
  EXPECT_EQ(g_thread_starts, 1);
  ScSimCardDeinit();
  EXPECT_EQ(Count(sim().Calls(), "swc_scard_init"), 1);
}

// A thread that cannot be started leaves no object that a stop would wait on.
TEST_F(CardMonitorTest, FailedThreadStartKeepsNoObject) {
  g_waiting_thread.Override(&kThreadsFail);
  sim().push_init_status(-3);
  ScSimCardInit();
  EXPECT_NE(CurrentSimConfig(), nullptr) << "open, not watching";
  ScSimCardDeinit();
  EXPECT_EQ(Count(sim().Calls(), "swc_config_free(config)"), 1);
}

TEST_F(CardMonitorTest, FailedAllocStillReleasesWithNull) {
  sim().fail_alloc(1);
  ScSimCardInit();
  EXPECT_EQ(CurrentSimConfig(), nullptr);
  ScSimCardDeinit();
  EXPECT_EQ(sim().Calls(),
            "swc_config_alloc(SupplicantPlugin_00-00-00-00-00-00,1)\n"
            "swc_scard_deinit(null)\n"
            "swc_config_free(null)\n");
}

TEST_F(CardMonitorTest, RefusedCallbackEndsTheStartButKeepsTheHandle) {
  sim().set_cb_status(5);
  ScSimCardInit();
  EXPECT_NE(CurrentSimConfig(), nullptr);
  EXPECT_EQ(g_thread_starts, 0);
  ScSimCardDeinit();
  std::string calls = sim().Calls();
  EXPECT_EQ(Count(calls, "swc_scard_init"), 0);
  EXPECT_EQ(Count(calls, "swc_scard_deinit(config)"), 1);
  EXPECT_EQ(Count(calls, "swc_config_free(config)"), 1);
}

// The stop gives up while the thread is still inside swc_scard_init: the
// thread, not the export, releases the handle when that call returns.
TEST_F(CardMonitorTest, StopThatGivesUpLeavesTheHandleToTheThread) {
  sim().push_init_status(-3);
  ScSimCardInit();
  ASSERT_EQ(g_thread_starts, 1);
  sim().hold_init(1);
  platform::SetSyncEvent(g_service_event);
  sim().wait_calls("swc_scard_init", 2);

  g_waiting_thread.Override(&kGiveUpAtOnce);
  ScSimCardDeinit();
  std::string calls = sim().Calls();
  EXPECT_EQ(Count(calls, "swc_scard_deinit(null)"), 1) << calls;
  EXPECT_EQ(Count(calls, "swc_scard_deinit(config)"), 0) << "released while in use";

  sim().hold_init(0);
  sim().wait_calls("swc_config_free(config)", 1);
  calls = sim().Calls();
  EXPECT_EQ(Count(calls, "swc_scard_deinit(config)"), 1);
  EXPECT_EQ(Count(calls, "swc_config_free(config)"), 1);
  WaitForNoServiceHolder();  // the thread's last use of the fixture's service
}

// One card watch at a time: a second thread's open waits until the first
// watch is closed, so the two never share the handle or the thread object.
std::mutex g_busy_mutex;
std::condition_variable g_busy_changed;
bool g_watch_busy_seen = false;
void SeeBusyWatch(uint32_t, const char* format, va_list) {
  if (std::strstr(format, "Card watch busy") == nullptr) return;
  std::lock_guard<std::mutex> lock(g_busy_mutex);
  g_watch_busy_seen = true;
  g_busy_changed.notify_all();
}

TEST_F(CardMonitorTest, SecondWatchWaitsForTheFirstToClose) {
  g_watch_busy_seen = false;
  const TraceSinkApi watch = {SeeBusyWatch};
  {
    ScopedSeamOverride<TraceSinkApi> sink(g_trace_sink, &watch);
    sim().push_init_status(-3);
    ScSimCardInit();  // the first watch, with its waiting thread
    bool second_opened = false;
    std::thread second([&] {
      ScSimCardInit();
      {
        std::lock_guard<std::mutex> lock(g_busy_mutex);
        second_opened = true;
        g_busy_changed.notify_all();
      }
      ScSimCardDeinit();
    });
    {
      // Either the second open waits (as it must) or it went ahead.
      std::unique_lock<std::mutex> lock(g_busy_mutex);
      g_busy_changed.wait(lock, [&] { return g_watch_busy_seen || second_opened; });
    }
    ScSimCardDeinit();
    second.join();
  }
  const std::string one_watch =
      "swc_config_alloc(SupplicantPlugin_00-00-00-00-00-00,1)\n"
      "swc_scard_set_event_cb\n"
      "swc_scard_init\n"
      "swc_scard_deinit(config)\n"
      "swc_config_free(config)\n";
  EXPECT_EQ(sim().Calls(), one_watch + one_watch);
}

TEST_F(CardMonitorTest, CallbackIgnoresNullAndUnknownEvents) {
  EXPECT_EQ(SCSIMCardCB(&g_sim_list, nullptr), 0);
  EXPECT_EQ(doubles_.dialogs().set_list_calls(), 0) << "a null event is not pushed";

  auto unknown = SimEvent(7, "Reader A");
  EXPECT_EQ(SCSIMCardCB(&g_sim_list, unknown.get()), 0);
  EXPECT_EQ(doubles_.dialogs().set_list_calls(), 2) << "both lists pushed all the same";
  auto lists = std::make_unique<VELTO_SIM_LIST>();
  SnapshotCardLists(nullptr, lists.get());
  EXPECT_EQ(lists->count, 0);

  auto inserted = SimEvent(kCardInserted, "Reader A");
  EXPECT_EQ(SCSIMCardCB(nullptr, inserted.get()), 0);
  EXPECT_EQ(inserted->flags & (kCardToSimList | kCardToScList), kCardToSimList);
  SnapshotCardLists(nullptr, lists.get());
  EXPECT_EQ(lists->count, 1);
}

// Card events from several threads against readers of the lists: every list
// a reader sees is whole (run under ThreadSanitizer in the linux-tsan preset).
// The reader looks once after each event, while the other writers go on; it
// does not spin, which would starve the writers under valgrind.
TEST_F(CardMonitorTest, ConcurrentEventsAndReadersSeeWholeLists) {
  ScSimCardInit();
  constexpr int kWriters = 4;
  constexpr int kEventsPerWriter = 60;
  std::mutex mutex;
  std::condition_variable delivered_cv;
  int delivered = 0;
  int bad = 0;

  std::thread reader([&] {
    auto sc = std::make_unique<VELTO_SC_LIST_V120>();
    auto sim_list = std::make_unique<VELTO_SIM_LIST>();
    for (int seen = 0; seen < kWriters * kEventsPerWriter;) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        delivered_cv.wait(lock, [&] { return delivered != seen; });
        seen = delivered;
      }
      SnapshotCardLists(sc.get(), sim_list.get());
      if (sim_list->count < 0 || sim_list->count > kMaxListEntries) ++bad;
      for (int i = 0; i < sim_list->count && i < kMaxListEntries; ++i) {
        // Reader and card name are written together: they must agree.
        std::string expected = std::string("SIM in ") + sim_list->entries[i].reader_name;
        if (expected != sim_list->entries[i].card_name) ++bad;
      }
      doubles_.dialogs().last_lists(sc.get(), sim_list.get());
      if (sim_list->count < 0 || sim_list->count > kMaxListEntries) ++bad;
    }
  });

  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int e = 0; e < kEventsPerWriter; ++e) {
        std::string name = "Reader " + std::to_string(w) + "." + std::to_string(e % 3);
        auto event = SimEvent(e % 2 == 0 ? kCardInserted : kCardRemoved, name.c_str());
        if (e % 5 == 0) event->item_count = 1;  // some go to the SC list
        sim().deliver(event.get());
        {
          std::lock_guard<std::mutex> lock(mutex);
          ++delivered;
        }
        delivered_cv.notify_one();
      }
    });
  }
  for (std::thread& t : writers) t.join();
  reader.join();
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(doubles_.dialogs().set_list_calls(), 2 * kWriters * kEventsPerWriter);
}

}  // namespace
}  // namespace velto
