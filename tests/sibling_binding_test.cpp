// The module's calls into authdialogs, bound lazily, reach the test double
// found through the registry's library directory, with every argument and
// result passed through as it is. (The calls into simcore are checked through
// the card watch and identity tests, which drive the simcore double.)
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "doubles/sibling_doubles_client.h"
#include "siblings/sibling_calls.h"

namespace velto {
namespace {

HWND Window(uintptr_t value) { return reinterpret_cast<HWND>(value); }

// A list whose every byte depends on `tag`, so no other list passes for it.
template <typename List>
std::unique_ptr<List> Tagged(int tag) {
  auto list = std::make_unique<List>();
  std::memset(list.get(), tag, sizeof *list);
  list->count = 1 + tag % kMaxListEntries;
  return list;
}

template <typename List>
bool Same(const List& a, const List& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

class SiblingBindingTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(doubles_.SetUp(&error)) << error;
  }
  const test::SimcoreDouble& simcore() const { return doubles_.simcore(); }
  const test::AuthDialogsDouble& dialogs() const { return doubles_.dialogs(); }

  // Checks the window arguments the last dialog got.
  void ExpectWindow(_C8021X_SETTINGS_WINDOW_MODE mode, HWND owner) const {
    _C8021X_SETTINGS_WINDOW_MODE seen_mode = -1;
    HWND seen_owner = Window(1);
    dialogs().last_window(&seen_mode, &seen_owner);
    EXPECT_EQ(seen_mode, mode);
    EXPECT_EQ(seen_owner, owner);
  }

  test::SiblingDoubles doubles_;
  _VELTO_WLAN_PROFILE_V120 profile_{};
};

// What the dialog was given; it answers `result`.
struct DialogHook {
  int result = 0;
  int dialog = 0;
  _VELTO_WLAN_PROFILE_V120* profile = nullptr;
  int fail_code = 0;
  int* password_changed = nullptr;

  static int Run(void* context, int dialog, _VELTO_WLAN_PROFILE_V120* profile, int fail_code,
                 int* password_changed) {
    auto* self = static_cast<DialogHook*>(context);
    *self = {self->result, dialog, profile, fail_code, password_changed};
    return self->result;
  }
};

TEST_F(SiblingBindingTest, Create1XDlgPassesEverythingThroughAndReturnsTheDialogsAnswer) {
  // Every value differs between the cases, so a swapped or fixed argument shows.
  struct Case {
    C8021X_DLGS dialog;
    VELTO_DOT1X_AUTH_FAIL_CODE fail_code;
    _C8021X_SETTINGS_WINDOW_MODE window_mode;
    uintptr_t owner;
    bool with_password_flag;
    int answer;
  } cases[] = {{12, 0, 2, 0x1010, true, 1}, {3, 150, 1, 0x2020, false, -9}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog);
    DialogHook hook{.result = c.answer};
    dialogs().set_hook(&DialogHook::Run, &hook);
    int password_changed = 1;
    int* flag = c.with_password_flag ? &password_changed : nullptr;
    EXPECT_EQ(siblings::Create1XDlg(c.dialog, &profile_, c.fail_code, c.window_mode,
                                    Window(c.owner), flag),
              c.answer);
    EXPECT_EQ(hook.dialog, c.dialog);
    EXPECT_EQ(hook.profile, &profile_);
    EXPECT_EQ(hook.fail_code, c.fail_code);
    EXPECT_EQ(hook.password_changed, flag);
    ExpectWindow(c.window_mode, Window(c.owner));
  }
}

TEST_F(SiblingBindingTest, CreateScDlgPassesEverythingThroughAndReturnsTheDialogsAnswer) {
  // Each list once given and once null (the double then shows a zeroed copy).
  auto sc = Tagged<VELTO_SC_LIST_V120>(11);
  auto sim = Tagged<VELTO_SIM_LIST>(12);
  auto zero_sc = std::make_unique<VELTO_SC_LIST_V120>();
  auto zero_sim = std::make_unique<VELTO_SIM_LIST>();
  struct Case {
    bool with_sc;
    VELTO_DOT1X_AUTH_FAIL_CODE fail_code;
    _C8021X_SETTINGS_WINDOW_MODE window_mode;
    uintptr_t owner;
    int answer;
  } cases[] = {{true, 150, 2, 0x4040, 1}, {false, 159, 1, 0x5050, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fail_code);
    DialogHook hook{.result = c.answer};
    dialogs().set_hook(&DialogHook::Run, &hook);
    VELTO_SC_LIST_V120* sc_arg = c.with_sc ? sc.get() : nullptr;
    VELTO_SIM_LIST* sim_arg = c.with_sc ? nullptr : sim.get();
    EXPECT_EQ(siblings::CreateScDlg(&profile_, c.fail_code, c.window_mode, Window(c.owner), sc_arg,
                                    sim_arg),
              c.answer);
    EXPECT_EQ(hook.dialog, -1);
    EXPECT_EQ(hook.profile, &profile_);
    EXPECT_EQ(hook.fail_code, c.fail_code);
    ExpectWindow(c.window_mode, Window(c.owner));
    auto sc_seen = std::make_unique<VELTO_SC_LIST_V120>();
    auto sim_seen = std::make_unique<VELTO_SIM_LIST>();
    dialogs().last_lists(sc_seen.get(), sim_seen.get());
    EXPECT_TRUE(Same(*sc_seen, c.with_sc ? *sc : *zero_sc));
    EXPECT_TRUE(Same(*sim_seen, c.with_sc ? *zero_sim : *sim));
  }
}

// Each overload reaches its own entry and leaves the other list alone.
TEST_F(SiblingBindingTest, SetScListOverloadsReachTheirOwnEntries) {
  auto sc = Tagged<VELTO_SC_LIST_V120>(4);
  auto sim = Tagged<VELTO_SIM_LIST>(5);
  auto sc_seen = std::make_unique<VELTO_SC_LIST_V120>();
  auto sim_seen = std::make_unique<VELTO_SIM_LIST>();

  EXPECT_EQ(siblings::SetScList(sc.get()), 1);
  dialogs().last_lists(sc_seen.get(), sim_seen.get());
  EXPECT_TRUE(Same(*sc_seen, *sc));
  EXPECT_EQ(sim_seen->count, 0);

  EXPECT_EQ(siblings::SetScList(sim.get()), 1);
  dialogs().last_lists(sc_seen.get(), sim_seen.get());
  EXPECT_TRUE(Same(*sc_seen, *sc));
  EXPECT_TRUE(Same(*sim_seen, *sim));
  // The double answers 0 for a null list: the result is the library's.
  EXPECT_EQ(siblings::SetScList(static_cast<VELTO_SIM_LIST*>(nullptr)), 0);
  EXPECT_EQ(siblings::SetScList(static_cast<VELTO_SC_LIST_V120*>(nullptr)), 0);
  EXPECT_EQ(dialogs().set_list_calls(), 4);
}

}  // namespace
}  // namespace velto
