// The module's calls into authdialogs and simcore, bound lazily, reach the
// test doubles found through the registry's library directory, with every
// argument and result passed through as it is.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "doubles/sibling_doubles_client.h"
#include "frame/sibling_calls.h"

namespace velto {
namespace {

HWND Window(uintptr_t value) { return reinterpret_cast<HWND>(value); }

bool SameFolder(const std::string& file, const std::string& folder) {
  std::error_code ec;
  return std::filesystem::equivalent(std::filesystem::path(file).parent_path(), folder, ec);
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A sc list and a sim list whose every byte depends on `tag`.
std::unique_ptr<VELTO_SC_LIST_V120> TaggedScList(int tag) {
  auto list = std::make_unique<VELTO_SC_LIST_V120>();
  std::memset(list.get(), 0, sizeof *list);
  list->count = 1 + tag % kMaxListEntries;
  for (VELTO_SC_LIST_ENTRY& entry : list->entries) {
    std::snprintf(entry.reader_name, sizeof entry.reader_name, "sc reader %d", tag);
    std::snprintf(entry.card_name, sizeof entry.card_name, "sc card %d", tag);
    entry.item_count = tag;
    std::snprintf(entry.identifiers[tag % kMaxListEntries], sizeof entry.identifiers[0], "id %d",
                  tag);
  }
  return list;
}

std::unique_ptr<VELTO_SIM_LIST> TaggedSimList(int tag) {
  auto list = std::make_unique<VELTO_SIM_LIST>();
  std::memset(list.get(), 0, sizeof *list);
  list->count = 1 + tag % kMaxListEntries;
  for (VELTO_SIM_LIST_ENTRY& entry : list->entries) {
    std::snprintf(entry.card_name, sizeof entry.card_name, "sim card %d", tag);
    std::snprintf(entry.reader_name, sizeof entry.reader_name, "sim reader %d", tag);
    std::memset(entry.card_data, tag & 0xff, sizeof entry.card_data);
    entry.pin_enabled = static_cast<uint32_t>(tag % 2);
  }
  return list;
}

template <typename List>
bool SameBytes(const List& a, const List& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::unique_ptr<VELTO_CARD_EVENT> CardEvent(int32_t kind, const char* reader) {
  auto event = std::make_unique<VELTO_CARD_EVENT>();
  std::memset(event.get(), 0, sizeof *event);
  event->kind = kind;
  std::snprintf(event->reader_name, sizeof event->reader_name, "%s", reader);
  std::snprintf(event->card_name, sizeof event->card_name, "card in %s", reader);
  event->card_data_length = 3;
  std::memcpy(event->card_data, "\x01\x02\x03", 3);
  return event;
}

// ---- the module finds the doubles where an installation puts the product

TEST(SiblingBindingDirectory, ModuleBindsTheLibrariesInTheRegistryDirectory) {
  std::string error;
  ASSERT_TRUE(test::PointModuleAt(test::SiblingDoublesDir(), &error)) << error;

  auto sim = TaggedSimList(3);
  siblings::SetScList(sim.get());
  siblings::swc_config_free(nullptr);

  test::AuthDialogsDouble dialogs;
  test::SimcoreDouble simcore;
  ASSERT_TRUE(test::FindAuthDialogsDouble(test::SiblingLookup::kLoadedOnly, &dialogs, &error))
      << error;
  ASSERT_TRUE(test::FindSimcoreDouble(test::SiblingLookup::kLoadedOnly, &simcore, &error)) << error;
  EXPECT_TRUE(SameFolder(dialogs.path, test::SiblingDoublesDir())) << dialogs.path;
  EXPECT_TRUE(SameFolder(simcore.path, test::SiblingDoublesDir())) << simcore.path;
  // The calls above reached these very libraries.
  auto seen = std::make_unique<VELTO_SIM_LIST>();
  dialogs.last_lists(nullptr, seen.get());
  EXPECT_TRUE(SameBytes(*seen, *sim));
  EXPECT_TRUE(EndsWith(simcore.Calls(), "swc_config_free(null)\n")) << simcore.Calls();
}

class SiblingBindingTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(doubles_.SetUp(&error)) << error;
  }
  const test::SimcoreDouble& simcore() const { return doubles_.simcore(); }
  const test::AuthDialogsDouble& dialogs() const { return doubles_.dialogs(); }

  test::SiblingDoubles doubles_;
};

// ---- authdialogs

// What the hook saw, and what it answers.
struct DialogHook {
  int result = 0;
  int calls = 0;
  int dialog = 0;
  _VELTO_WLAN_PROFILE_V120* profile = nullptr;
  int fail_code = 0;
  int* password_changed = nullptr;
  // Read from the double while the dialog is "open".
  const test::AuthDialogsDouble* dialogs = nullptr;
  std::unique_ptr<VELTO_SC_LIST_V120> sc_during = std::make_unique<VELTO_SC_LIST_V120>();
  std::unique_ptr<VELTO_SIM_LIST> sim_during = std::make_unique<VELTO_SIM_LIST>();

  static int Run(void* context, int dialog, _VELTO_WLAN_PROFILE_V120* profile, int fail_code,
                 int* password_changed) {
    auto* self = static_cast<DialogHook*>(context);
    ++self->calls;
    self->dialog = dialog;
    self->profile = profile;
    self->fail_code = fail_code;
    self->password_changed = password_changed;
    if (self->dialogs != nullptr)
      self->dialogs->last_lists(self->sc_during.get(), self->sim_during.get());
    // What a user's answer looks like to the module.
    if (profile != nullptr)
      std::snprintf(profile->user_name, sizeof profile->user_name, "typed %d", dialog);
    if (password_changed != nullptr) *password_changed = 0x55;
    return self->result;
  }
};

TEST_F(SiblingBindingTest, Create1XDlgPassesEverythingThroughAndReturnsTheDialogsAnswer) {
  struct Case {
    C8021X_DLGS dialog;
    VELTO_DOT1X_AUTH_FAIL_CODE fail_code;
    _C8021X_SETTINGS_WINDOW_MODE window_mode;
    uintptr_t owner;
    bool with_password_flag;
    int answer;
  } cases[] = {
      {12, 0, 0, 0x1010, true, 1},
      {3, 150, 2, 0x2020, false, 0},
      {3, 159, 1, 0, true, -9},
      {12, 0, 3, 0x7ff0, false, 0x10000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog * 1000 + c.fail_code);
    DialogHook hook;
    hook.result = c.answer;
    dialogs().set_hook(&DialogHook::Run, &hook);
    auto profile = std::make_unique<_VELTO_WLAN_PROFILE_V120>();
    InitDialogProfile(profile.get());
    int password_changed = 1;
    int* flag = c.with_password_flag ? &password_changed : nullptr;

    EXPECT_EQ(siblings::Create1XDlg(c.dialog, profile.get(), c.fail_code, c.window_mode,
                                    Window(c.owner), flag),
              c.answer);
    EXPECT_EQ(hook.calls, 1);
    EXPECT_EQ(hook.dialog, c.dialog);
    EXPECT_EQ(hook.profile, profile.get());
    EXPECT_EQ(hook.fail_code, c.fail_code);
    EXPECT_EQ(hook.password_changed, flag);
    EXPECT_EQ(password_changed, c.with_password_flag ? 0x55 : 1);
    EXPECT_STREQ(profile->user_name, ("typed " + std::to_string(c.dialog)).c_str());
    _C8021X_SETTINGS_WINDOW_MODE mode = -1;
    HWND owner = Window(1);
    dialogs().last_window(&mode, &owner);
    EXPECT_EQ(mode, c.window_mode);
    EXPECT_EQ(owner, Window(c.owner));
  }
}

TEST_F(SiblingBindingTest, DialogsWithoutAHookAreCancelled) {
  auto profile = std::make_unique<_VELTO_WLAN_PROFILE_V120>();
  InitDialogProfile(profile.get());
  int password_changed = 1;
  EXPECT_EQ(siblings::Create1XDlg(12, profile.get(), 0, 0, nullptr, &password_changed), 0);
  EXPECT_EQ(password_changed, 1);
  EXPECT_EQ(siblings::CreateScDlg(profile.get(), 159, 0, nullptr, nullptr, nullptr), 0);
}

TEST_F(SiblingBindingTest, CreateScDlgGetsBothListsCopiedBeforeTheDialogRuns) {
  struct Case {
    bool with_sc;
    bool with_sim;
    VELTO_DOT1X_AUTH_FAIL_CODE fail_code;
    int answer;
  } cases[] = {
      {true, true, 150, 1}, {true, false, 159, 0}, {false, true, 0, 2}, {false, false, 159, 1}};
  int tag = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(tag);
    auto sc = TaggedScList(++tag);
    auto sim = TaggedSimList(++tag);
    auto zero_sc = std::make_unique<VELTO_SC_LIST_V120>();
    auto zero_sim = std::make_unique<VELTO_SIM_LIST>();
    std::memset(zero_sc.get(), 0, sizeof *zero_sc);
    std::memset(zero_sim.get(), 0, sizeof *zero_sim);
    const VELTO_SC_LIST_V120& sc_expected = c.with_sc ? *sc : *zero_sc;
    const VELTO_SIM_LIST& sim_expected = c.with_sim ? *sim : *zero_sim;
    // A previous dialog's lists must not show through.
    siblings::SetScList(TaggedScList(1).get());
    siblings::SetScList(TaggedSimList(1).get());

    DialogHook hook;
    hook.result = c.answer;
    hook.dialogs = &dialogs();
    dialogs().set_hook(&DialogHook::Run, &hook);
    auto profile = std::make_unique<_VELTO_WLAN_PROFILE_V120>();
    InitDialogProfile(profile.get());

    EXPECT_EQ(
        siblings::CreateScDlg(profile.get(), c.fail_code, 2, Window(0x4040),
                              c.with_sc ? sc.get() : nullptr, c.with_sim ? sim.get() : nullptr),
        c.answer);
    EXPECT_EQ(hook.calls, 1);
    EXPECT_EQ(hook.dialog, -1);
    EXPECT_EQ(hook.profile, profile.get());
    EXPECT_EQ(hook.fail_code, c.fail_code);
    EXPECT_EQ(hook.password_changed, nullptr);
    EXPECT_TRUE(SameBytes(*hook.sc_during, sc_expected));
    EXPECT_TRUE(SameBytes(*hook.sim_during, sim_expected));

    // Copies, not the caller's lists.
    std::memset(sc.get(), 0x7e, sizeof *sc);
    std::memset(sim.get(), 0x7e, sizeof *sim);
    auto sc_after = std::make_unique<VELTO_SC_LIST_V120>();
    auto sim_after = std::make_unique<VELTO_SIM_LIST>();
    dialogs().last_lists(sc_after.get(), sim_after.get());
    EXPECT_TRUE(SameBytes(*sc_after, *hook.sc_during));
    EXPECT_TRUE(SameBytes(*sim_after, *hook.sim_during));
    _C8021X_SETTINGS_WINDOW_MODE mode = -1;
    HWND owner = nullptr;
    dialogs().last_window(&mode, &owner);
    EXPECT_EQ(mode, 2);
    EXPECT_EQ(owner, Window(0x4040));
  }
}

// Each overload reaches its own entry and leaves the other list alone.
TEST_F(SiblingBindingTest, SetScListOverloadsReachTheirOwnEntries) {
  auto sc = TaggedScList(4);
  auto sim = TaggedSimList(5);
  auto sc_seen = std::make_unique<VELTO_SC_LIST_V120>();
  auto sim_seen = std::make_unique<VELTO_SIM_LIST>();

  EXPECT_EQ(siblings::SetScList(sc.get()), 1);
  EXPECT_EQ(dialogs().set_list_calls(), 1);
  dialogs().last_lists(sc_seen.get(), sim_seen.get());
  EXPECT_TRUE(SameBytes(*sc_seen, *sc));
  EXPECT_EQ(sim_seen->count, 0);

  EXPECT_EQ(siblings::SetScList(sim.get()), 1);
  EXPECT_EQ(dialogs().set_list_calls(), 2);
  dialogs().last_lists(sc_seen.get(), sim_seen.get());
  EXPECT_TRUE(SameBytes(*sc_seen, *sc));
  EXPECT_TRUE(SameBytes(*sim_seen, *sim));

  // A null list is counted and changes nothing.
  EXPECT_EQ(siblings::SetScList(static_cast<VELTO_SC_LIST_V120*>(nullptr)), 0);
  EXPECT_EQ(siblings::SetScList(static_cast<VELTO_SIM_LIST*>(nullptr)), 0);
  EXPECT_EQ(dialogs().set_list_calls(), 4);
  dialogs().last_lists(sc_seen.get(), sim_seen.get());
  EXPECT_TRUE(SameBytes(*sc_seen, *sc));
  EXPECT_TRUE(SameBytes(*sim_seen, *sim));
}

// As from the card event callback on the library's threads: every call
// arrives and each copy is one whole list, never a mix of two.
TEST_F(SiblingBindingTest, SetScListFromManyThreadsKeepsWholeLists) {
  constexpr int kThreads = 6;
  constexpr int kCallsEach = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      auto sc = TaggedScList(100 + t);
      auto sim = TaggedSimList(200 + t);
      for (int i = 0; i < kCallsEach; ++i) {
        siblings::SetScList(sc.get());
        siblings::SetScList(sim.get());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(dialogs().set_list_calls(), kThreads * kCallsEach * 2);
  auto sc_seen = std::make_unique<VELTO_SC_LIST_V120>();
  auto sim_seen = std::make_unique<VELTO_SIM_LIST>();
  dialogs().last_lists(sc_seen.get(), sim_seen.get());
  bool whole_sc = false;
  bool whole_sim = false;
  for (int t = 0; t < kThreads; ++t) {
    whole_sc = whole_sc || SameBytes(*sc_seen, *TaggedScList(100 + t));
    whole_sim = whole_sim || SameBytes(*sim_seen, *TaggedSimList(200 + t));
  }
  EXPECT_TRUE(whole_sc) << "sc count " << sc_seen->count;
  EXPECT_TRUE(whole_sim) << "sim count " << sim_seen->count;
}

// ---- simcore

TEST_F(SiblingBindingTest, SimcoreCallsArePassedThroughAndLogged) {
  swc_config* config = siblings::swc_config_alloc("SupplicantPlugin_00-11-22-33-44-55", 1);
  ASSERT_NE(config, nullptr);
  int context = 0;
  EXPECT_EQ(siblings::swc_scard_set_event_cb(
                config, [](void*, VELTO_CARD_EVENT*) { return 0; }, &context),
            0);
  EXPECT_EQ(simcore().context(), &context);
  EXPECT_EQ(siblings::swc_scard_init(config), 0);
  EXPECT_EQ(siblings::swc_scard_deinit(config), 0);
  siblings::swc_config_free(config);
  EXPECT_EQ(siblings::swc_scard_deinit(nullptr), 0);
  siblings::swc_config_free(nullptr);

  simcore().fail_alloc(1);
  EXPECT_EQ(siblings::swc_config_alloc("SupplicantPlugin_x", 0), nullptr);
  simcore().fail_alloc(0);
  swc_config* again = siblings::swc_config_alloc(nullptr, -2);
  EXPECT_NE(again, nullptr);
  siblings::swc_config_free(again);

  EXPECT_EQ(simcore().Calls(),
            "swc_config_alloc(SupplicantPlugin_00-11-22-33-44-55,1)\n"
            "swc_scard_set_event_cb\n"
            "swc_scard_init\n"
            "swc_scard_deinit(config)\n"
            "swc_config_free(config)\n"
            "swc_scard_deinit(null)\n"
            "swc_config_free(null)\n"
            "swc_config_alloc(SupplicantPlugin_x,0)\n"
            "swc_config_alloc(null,-2)\n"
            "swc_config_free(config)\n");
}

TEST_F(SiblingBindingTest, StatusesComeBackAsTheLibraryGaveThem) {
  swc_config* config = siblings::swc_config_alloc("s", 1);
  ASSERT_NE(config, nullptr);
  for (int32_t status : {0, -1, -3, kSwcPinWrong, 1, INT32_MAX, INT32_MIN}) {
    SCOPED_TRACE(status);
    simcore().set_cb_status(status);
    EXPECT_EQ(siblings::swc_scard_set_event_cb(config, nullptr, nullptr), status);
    simcore().push_init_status(status);
    EXPECT_EQ(siblings::swc_scard_init(config), status);
  }
  // Queued statuses come in order; an empty queue answers 0.
  simcore().push_init_status(-5);
  simcore().push_init_status(-6);
  EXPECT_EQ(siblings::swc_scard_init(config), -5);
  EXPECT_EQ(siblings::swc_scard_init(config), -6);
  EXPECT_EQ(siblings::swc_scard_init(config), 0);
  siblings::swc_config_free(config);
}

TEST_F(SiblingBindingTest, GetImsiFillsTheCallersBufferWithinItsLength) {
  struct Case {
    int32_t status;
    const char* answer;  // null: the double writes nothing
    const char* reader;
    const char* pin;
    uint32_t length;
    const char* expected_text;
    const char* expected_log;
  } cases[] = {
      {0, "262011234567890", "Reader A", "1234", 64, "262011234567890",
       "swc_scard_get_imsi(Reader A,1234,64)\n"},
      {kSwcPinWrong, nullptr, "Reader B", nullptr, 64, "",
       "swc_scard_get_imsi(Reader B,null,64)\n"},
      {0, "26201123456789012345", "R", "0000", 8, "2620112", "swc_scard_get_imsi(R,0000,8)\n"},
      {-2, "99", "R", "1", 1, "", "swc_scard_get_imsi(R,1,1)\n"},
  };
  swc_config* config = siblings::swc_config_alloc("s", 1);
  ASSERT_NE(config, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected_log);
    simcore().reset();
    simcore().push_imsi(c.status, c.answer);
    char buffer[80];
    std::memset(buffer, 0, sizeof buffer);
    std::memset(buffer + c.length, '#', sizeof buffer - c.length);
    uint32_t length = c.length;
    EXPECT_EQ(siblings::swc_scard_get_imsi(config, c.reader, c.pin, buffer, &length), c.status);
    EXPECT_STREQ(buffer, c.expected_text);
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(std::string(buffer + c.length, sizeof buffer - c.length),
              std::string(sizeof buffer - c.length, '#'));
    EXPECT_EQ(simcore().Calls(), c.expected_log);
    // Nothing queued: the library's failure.
    EXPECT_EQ(siblings::swc_scard_get_imsi(config, c.reader, c.pin, buffer, &length), -1);
  }
  siblings::swc_config_free(config);
}

// What the module's card event callback gets, and on which thread.
struct EventRecorder {
  int32_t result = 0;
  uint32_t flags_to_set = 0;
  std::thread::id caller;
  std::vector<std::string> readers;
  std::vector<int32_t> kinds;
  std::vector<std::thread::id> threads;
  std::vector<void*> contexts;

  static int32_t Callback(void* context, VELTO_CARD_EVENT* event) {
    auto* self = static_cast<EventRecorder*>(context);
    self->contexts.push_back(context);
    self->readers.push_back(event->reader_name);
    self->kinds.push_back(event->kind);
    self->threads.push_back(std::this_thread::get_id());
    event->flags = self->flags_to_set;
    return self->result;
  }
};

TEST_F(SiblingBindingTest, EventsReachTheRegisteredCallbackOnAnotherThread) {
  swc_config* config = siblings::swc_config_alloc("s", 1);
  ASSERT_NE(config, nullptr);
  auto event = CardEvent(kCardInserted, "Reader 1");
  EXPECT_EQ(simcore().deliver(event.get()), -1);  // nothing registered yet

  EventRecorder recorder;
  recorder.result = 42;
  recorder.flags_to_set = kCardToSimList | kCardPinEnabled;
  ASSERT_EQ(siblings::swc_scard_set_event_cb(config, &EventRecorder::Callback, &recorder), 0);
  EXPECT_EQ(simcore().deliver(event.get()), 42);
  ASSERT_EQ(recorder.readers.size(), 1u);
  EXPECT_EQ(recorder.contexts[0], &recorder);
  EXPECT_EQ(recorder.readers[0], "Reader 1");
  EXPECT_EQ(recorder.kinds[0], kCardInserted);
  EXPECT_NE(recorder.threads[0], std::this_thread::get_id());
  EXPECT_EQ(simcore().last_event_flags(), kCardToSimList | kCardPinEnabled);

  // After deinit the registration is over.
  EXPECT_EQ(siblings::swc_scard_deinit(config), 0);
  EXPECT_EQ(simcore().deliver(event.get()), -1);
  EXPECT_EQ(recorder.readers.size(), 1u);
  siblings::swc_config_free(config);
}

TEST_F(SiblingBindingTest, PresentCardsArriveDuringASuccessfulInit) {
  simcore().add_present_card(CardEvent(kCardInserted, "Reader 1").get());
  simcore().add_present_card(CardEvent(kCardUpdated, "Reader 2").get());
  swc_config* config = siblings::swc_config_alloc("s", 1);
  ASSERT_NE(config, nullptr);
  EventRecorder recorder;
  ASSERT_EQ(siblings::swc_scard_set_event_cb(config, &EventRecorder::Callback, &recorder), 0);

  // A failing init reports nothing.
  simcore().push_init_status(-4);
  EXPECT_EQ(siblings::swc_scard_init(config), -4);
  EXPECT_TRUE(recorder.readers.empty());

  simcore().set_init_delay_ms(120);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(siblings::swc_scard_init(config), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
  // Both were delivered, in order, before init returned, off the caller's thread.
  EXPECT_EQ(recorder.readers, (std::vector<std::string>{"Reader 1", "Reader 2"}));
  EXPECT_EQ(recorder.kinds, (std::vector<int32_t>{kCardInserted, kCardUpdated}));
  ASSERT_EQ(recorder.threads.size(), 2u);
  EXPECT_NE(recorder.threads[0], std::this_thread::get_id());

  siblings::swc_scard_deinit(config);
  siblings::swc_config_free(config);
}

TEST_F(SiblingBindingTest, CallLogCopyIsBoundedAndResetForgetsTheScript) {
  swc_config* config = siblings::swc_config_alloc("abc", 7);
  ASSERT_NE(config, nullptr);
  const std::string log = "swc_config_alloc(abc,7)\n";
  for (int capacity : {1, 5, static_cast<int>(log.size()), static_cast<int>(log.size()) + 1, 200}) {
    SCOPED_TRACE(capacity);
    std::vector<char> buffer(static_cast<size_t>(capacity) + 4, '#');
    EXPECT_EQ(simcore().calls(buffer.data(), capacity), static_cast<int>(log.size()));
    size_t copied = std::min(log.size(), static_cast<size_t>(capacity) - 1);
    EXPECT_EQ(std::string(buffer.data()), log.substr(0, copied));
    EXPECT_EQ(buffer[static_cast<size_t>(capacity)], '#');
  }

  simcore().fail_alloc(1);
  simcore().set_cb_status(-8);
  simcore().push_init_status(-9);
  simcore().push_imsi(0, "1");
  simcore().reset();
  EXPECT_EQ(simcore().Calls(), "");
  EXPECT_EQ(siblings::swc_scard_set_event_cb(config, nullptr, nullptr), 0);
  EXPECT_EQ(siblings::swc_scard_init(config), 0);
  uint32_t length = 64;
  char imsi[64] = {};
  EXPECT_EQ(siblings::swc_scard_get_imsi(config, "r", "p", imsi, &length), -1);
  swc_config* second = siblings::swc_config_alloc("b", 1);
  EXPECT_NE(second, nullptr);
  siblings::swc_config_free(second);
  siblings::swc_config_free(config);
}

}  // namespace
}  // namespace velto
