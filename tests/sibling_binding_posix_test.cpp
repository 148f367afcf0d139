// What only the Linux binding does: a missing library or entry fails as the
// library's own failure would and is tried again on the next call, and racing
// first calls bind once. A program of its own: nothing is bound before it runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <latch>
#include <thread>
#include <vector>

#include "doubles/sibling_doubles_client.h"
#include "siblings/sibling_calls.h"
#include "support/test_env.h"

namespace velto {
namespace {

void ExpectEveryEntryFails() {
  static VELTO_SC_LIST_V120 sc;
  static VELTO_SIM_LIST sim;
  static _VELTO_WLAN_PROFILE_V120 profile;
  char imsi[64] = {};
  uint32_t length = sizeof imsi;
  EXPECT_EQ(siblings::Create1XDlg(12, &profile, 0, 0, nullptr, nullptr), 0);
  EXPECT_EQ(siblings::CreateScDlg(&profile, 159, 0, nullptr, &sc, &sim), 0);
  EXPECT_EQ(siblings::SetScList(&sc), 0);
  EXPECT_EQ(siblings::SetScList(&sim), 0);
  EXPECT_EQ(siblings::swc_config_alloc("s", 1), nullptr);
  EXPECT_EQ(siblings::swc_scard_set_event_cb(nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(siblings::swc_scard_init(nullptr), -1);
  EXPECT_EQ(siblings::swc_scard_get_imsi(nullptr, "r", "1234", imsi, &length), -1);
  EXPECT_EQ(siblings::swc_scard_deinit(nullptr), -1);
  siblings::swc_config_free(nullptr);  // nothing to answer: it must only come back
}

TEST(SiblingBindingPosixTest, MissingLibrariesAndEntriesFailCleanlyAndAreRetried) {
  namespace fs = std::filesystem;
  std::string folder = test::MakeTempDir(), error;
  // No directory: the folder of the image that holds the core (this
  // program's). An empty one: the file name in it.
  for (const std::string& directory : {std::string(), folder}) {
    SCOPED_TRACE("directory '" + directory + "'");
    ASSERT_TRUE(test::PointModuleAt(directory, &error)) << error;
    ExpectEveryEntryFails();
  }
  // Installed later (authdialogs as a library without its entries): binding
  // is tried again, and the entries it lacks fail.
  fs::path from = test::SiblingDoublesDir(), to = folder;
  fs::copy_file(from / test::kSimcoreFileName, to / test::kAuthDialogsFileName);
  ExpectEveryEntryFails();
  EXPECT_NE(test::OpenSiblingLibrary(to / test::kAuthDialogsFileName, true, &error), nullptr);
  fs::copy_file(from / test::kSimcoreFileName, to / test::kSimcoreFileName);

  constexpr int kThreads = 8, kCallsEach = 20;
  {  // Racing first calls: none is lost while the library and entry are bound.
    std::latch start(kThreads);
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&start] {
        start.arrive_and_wait();
        for (int i = 0; i < kCallsEach; ++i) siblings::swc_scard_deinit(nullptr);
      });
    }
  }
  test::SimcoreDouble simcore;
  ASSERT_TRUE(test::FindSimcoreDouble(test::SiblingLookup::kLoadedOnly, &simcore, &error, folder))
      << error;
  std::string expected;
  for (int i = 0; i < kThreads * kCallsEach; ++i) expected += "swc_scard_deinit(null)\n";
  EXPECT_EQ(simcore.Calls(), expected);
  test::RemoveTree(folder);
}

}  // namespace
}  // namespace velto
