// What the fixtures that go through the doubles do not show: the window
// arguments reach the dialogs, and each SetScList overload its own entry.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "doubles/sibling_doubles_client.h"
#include "siblings/sibling_calls.h"

namespace velto {
namespace {

TEST(SiblingBindingTest, WindowArgumentsAndEachListReachTheirEntries) {
  test::SiblingDoubles doubles;
  std::string error;
  ASSERT_TRUE(doubles.SetUp(&error)) << error;
  _VELTO_WLAN_PROFILE_V120 profile{};
  std::pair<_C8021X_SETTINGS_WINDOW_MODE, HWND> seen, sent[] = {{2, reinterpret_cast<HWND>(0x1010)},
                                                              {1, reinterpret_cast<HWND>(0x2020)}};
  siblings::Create1XDlg(12, &profile, 0, sent[0].first, sent[0].second, nullptr);
  doubles.dialogs().last_window(&seen.first, &seen.second);
  EXPECT_EQ(seen, sent[0]);
  siblings::CreateScDlg(&profile, 150, sent[1].first, sent[1].second, nullptr, nullptr);
  doubles.dialogs().last_window(&seen.first, &seen.second);
  EXPECT_EQ(seen, sent[1]);
  auto sc = std::make_unique<VELTO_SC_LIST_V120>(), sc_out = std::make_unique<VELTO_SC_LIST_V120>();
  auto sim = std::make_unique<VELTO_SIM_LIST>(), sim_out = std::make_unique<VELTO_SIM_LIST>();
  std::memset(sc.get(), 0x5c, sizeof *sc);
  std::memset(sim.get(), 0x51, sizeof *sim);
  EXPECT_EQ(siblings::SetScList(sc.get()), 1);
  EXPECT_EQ(siblings::SetScList(sim.get()), 1);
  doubles.dialogs().last_lists(sc_out.get(), sim_out.get());
  EXPECT_EQ(std::memcmp(sc_out.get(), sc.get(), sizeof *sc), 0);
  EXPECT_EQ(std::memcmp(sim_out.get(), sim.get(), sizeof *sim), 0);
}

}  // namespace
}  // namespace velto
