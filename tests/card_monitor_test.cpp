// The card watch against the doubles of simcore and authdialogs, with the
// smart-card service's started event in the test's hands.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "doubles/sibling_doubles_client.h"
#include "sim/card_lists.h"
#include "sim/sc_handler.h"
#include "sim/sync.h"

namespace velto {
namespace {

using Clock = std::chrono::steady_clock;

// The smart-card service as the test sets it: an event it signals when the
// service "starts", or none at all.
platform::SyncEvent* g_service_event = nullptr;
std::atomic<int> g_service_holders{0};

platform::SyncEvent* AccessServiceEvent() {
  ++g_service_holders;
  return g_service_event;
}
void ReleaseServiceEvent() { --g_service_holders; }
platform::SyncEvent* NoServiceEvent() { return nullptr; }
void NoRelease() {}

const platform::SmartCardServiceApi kTestService{AccessServiceEvent, ReleaseServiceEvent};
const platform::SmartCardServiceApi kNoService{NoServiceEvent, NoRelease};

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
    ClearCardLists();
  }
  void TearDown() override {
    ScSimCardDeinit();
    platform::g_smartcard_service.Override(nullptr);
    EXPECT_EQ(g_service_holders.load(), 0) << "every access of the service event is released";
    platform::CloseSyncEvent(g_service_event);
    g_service_event = nullptr;
  }

  const test::SimcoreDouble& sim() { return doubles_.simcore(); }

  // Waits up to `seconds` for the call log to hold `count` of `what`.
  bool WaitForCalls(const std::string& what, int count, int seconds = 3) {
    auto until = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < until) {
      if (Count(sim().Calls(), what) >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  test::SiblingDoubles doubles_;
};

TEST_F(CardMonitorTest, InitThatSucceedsStartsNoThread) {
  ScSimCardInit();
  EXPECT_FALSE(HasWaitingThread());
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
  EXPECT_EQ(g_service_holders.load(), 0) << "no waiting thread touched the service";
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
  auto start = Clock::now();
  ScSimCardInit();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_TRUE(HasWaitingThread());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(Count(sim().Calls(), "swc_scard_init"), 1) << "the thread waits for the service";

  auto present = SimEvent(kCardInserted, "Late reader");
  sim().add_present_card(present.get());
  platform::SetSyncEvent(g_service_event);
  ASSERT_TRUE(WaitForCalls("swc_scard_init", 2));
  auto lists = std::make_unique<VELTO_SIM_LIST>();
  auto until = Clock::now() + std::chrono::seconds(3);
  do {
    SnapshotCardLists(nullptr, lists.get());
  } while (lists->count == 0 && Clock::now() < until);
  EXPECT_EQ(lists->count, 1);

  ScSimCardDeinit();
  EXPECT_FALSE(HasWaitingThread());
  std::string calls = sim().Calls();
  EXPECT_EQ(Count(calls, "swc_scard_init"), 2);
  EXPECT_EQ(Count(calls, "swc_scard_deinit(config)"), 1);
  EXPECT_EQ(Count(calls, "swc_config_free(config)"), 1);
}

TEST_F(CardMonitorTest, ServiceAlreadyRunningRetriesAtOnce) {
  platform::SetSyncEvent(g_service_event);
  sim().push_init_status(-3);
  ScSimCardInit();
  ASSERT_TRUE(WaitForCalls("swc_scard_init", 2, 2));
  ScSimCardDeinit();
  EXPECT_EQ(Count(sim().Calls(), "swc_scard_init"), 2);
}

TEST_F(CardMonitorTest, StopDuringTheWaitEndsTheThreadPromptly) {
  sim().push_init_status(-3);
  ScSimCardInit();
  ASSERT_TRUE(HasWaitingThread());
  auto start = Clock::now();
  ScSimCardDeinit();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_FALSE(HasWaitingThread());
  std::string calls = sim().Calls();
  EXPECT_EQ(Count(calls, "swc_scard_init"), 1);
  EXPECT_EQ(Count(calls, "swc_scard_deinit(config)"), 1);
  EXPECT_EQ(Count(calls, "swc_config_free(config)"), 1);
}

TEST_F(CardMonitorTest, NoServiceEventMeansTheThreadGivesUp) {
  platform::g_smartcard_service.Override(&kNoService);
  sim().push_init_status(-3);
  ScSimCardInit();
  EXPECT_TRUE(HasWaitingThread()) << "the object is kept after the thread ended";
  auto start = Clock::now();
  ScSimCardDeinit();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(Count(sim().Calls(), "swc_scard_init"), 1);
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
  EXPECT_FALSE(HasWaitingThread());
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
  ASSERT_TRUE(HasWaitingThread());
  sim().set_init_delay_ms(4500);
  platform::SetSyncEvent(g_service_event);
  ASSERT_TRUE(WaitForCalls("swc_scard_init", 2));

  auto start = Clock::now();
  ScSimCardDeinit();
  auto took = Clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(3500));
  EXPECT_LT(took, std::chrono::milliseconds(4400));
  std::string calls = sim().Calls();
  EXPECT_EQ(Count(calls, "swc_scard_deinit(null)"), 1) << calls;
  EXPECT_EQ(Count(calls, "swc_scard_deinit(config)"), 0) << "released while in use";

  ASSERT_TRUE(WaitForCalls("swc_config_free(config)", 1, 5));
  calls = sim().Calls();
  EXPECT_EQ(Count(calls, "swc_scard_deinit(config)"), 1);
  EXPECT_EQ(Count(calls, "swc_config_free(config)"), 1);
  // Let the thread release the service event before the test's fixture goes.
  auto until = Clock::now() + std::chrono::seconds(2);
  while (g_service_holders.load() != 0 && Clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
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
TEST_F(CardMonitorTest, ConcurrentEventsAndReadersSeeWholeLists) {
  ScSimCardInit();
  constexpr int kWriters = 4;
  constexpr int kEventsPerWriter = 60;
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};

  std::thread reader([&] {
    auto sc = std::make_unique<VELTO_SC_LIST_V120>();
    auto sim_list = std::make_unique<VELTO_SIM_LIST>();
    while (!done.load()) {
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
      }
    });
  }
  for (std::thread& t : writers) t.join();
  done = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(doubles_.dialogs().set_list_calls(), 2 * kWriters * kEventsPerWriter);
}

}  // namespace
}  // namespace velto
