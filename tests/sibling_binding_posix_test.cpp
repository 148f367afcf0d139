// What only the Linux twin's binding does: a missing library or entry makes
// the call fail as the library's own failure would, with the reason kept, and
// a failed binding is tried again on the next call. Each case runs in a new
// process of this program (a death test re-runs it), where nothing is bound.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "doubles/sibling_doubles_client.h"
#include "doubles/sibling_library.h"
#include "frame/sibling_calls.h"
#include "support/test_env.h"

namespace velto {
namespace {

using test::kAuthDialogsFileName;
using test::kSimcoreFileName;
using testing::HasSubstr;
using testing::StartsWith;

// Runs a case in the child and ends the child: the failures go to stderr,
// which the parent shows, and the exit status says whether there were any.
[[noreturn]] void RunAndExit(void (*body)()) {
  body();
  const testing::TestResult& result =
      *testing::UnitTest::GetInstance()->current_test_info()->result();
  for (int i = 0; i < result.total_part_count(); ++i) {
    const testing::TestPartResult& part = result.GetTestPartResult(i);
    if (part.failed()) {
      std::fprintf(stderr, "%s:%d: %s\n", part.file_name() != nullptr ? part.file_name() : "?",
                   part.line_number(), part.message());
    }
  }
  std::exit(testing::Test::HasFailure() ? 1 : 0);
}

void CopyInto(const std::string& directory, const char* file_name, const char* as_name) {
  std::error_code ec;
  std::filesystem::copy_file(std::filesystem::path(test::SiblingDoublesDir()) / file_name,
                             std::filesystem::path(directory) / as_name,
                             std::filesystem::copy_options::overwrite_existing, ec);
  EXPECT_FALSE(ec) << ec.message();
}

// One call of each entry, the libraries taking turns so that every call
// leaves a reason of its own; `failed` says whether it answered as a failed
// library does.
struct Call {
  const char* entry;
  const char* library;
  std::function<bool()> failed;
};

std::vector<Call> EveryEntry() {
  static _VELTO_WLAN_PROFILE_V120 profile;
  static VELTO_SC_LIST_V120 sc;
  static VELTO_SIM_LIST sim;
  static int flag = 1;
  return {
      {"Create1XDlg", kAuthDialogsFileName,
       [] { return siblings::Create1XDlg(12, &profile, 0, 0, nullptr, &flag) == 0 && flag == 1; }},
      {"swc_config_alloc", kSimcoreFileName,
       [] { return siblings::swc_config_alloc("s", 1) == nullptr; }},
      {"CreateScDlg", kAuthDialogsFileName,
       [] { return siblings::CreateScDlg(&profile, 159, 0, nullptr, &sc, &sim) == 0; }},
      {"swc_scard_set_event_cb", kSimcoreFileName,
       [] { return siblings::swc_scard_set_event_cb(nullptr, nullptr, nullptr) == -1; }},
      {"SetScListSc", kAuthDialogsFileName, [] { return siblings::SetScList(&sc) == 0; }},
      {"swc_scard_init", kSimcoreFileName, [] { return siblings::swc_scard_init(nullptr) == -1; }},
      {"SetScListSim", kAuthDialogsFileName, [] { return siblings::SetScList(&sim) == 0; }},
      {"swc_scard_get_imsi", kSimcoreFileName,
       [] {
         char imsi[64] = {};
         uint32_t length = sizeof imsi;
         return siblings::swc_scard_get_imsi(nullptr, "r", "1234", imsi, &length) == -1 &&
                imsi[0] == '\0' && length == sizeof imsi;
       }},
      {"Create1XDlg", kAuthDialogsFileName,
       [] { return siblings::Create1XDlg(3, &profile, 150, 1, nullptr, nullptr) == 0; }},
      {"swc_scard_deinit", kSimcoreFileName,
       [] { return siblings::swc_scard_deinit(nullptr) == -1; }},
      {"SetScListSc", kAuthDialogsFileName, [] { return siblings::SetScList(&sc) == 0; }},
      {"swc_config_free", kSimcoreFileName,
       [] {
         siblings::swc_config_free(nullptr);
         return true;  // nothing to answer; the reason below shows it was tried
       }},
  };
}

class SiblingBindingPosixTest : public testing::Test {
 protected:
  void SetUp() override {
    // Re-executes the program for each death test: a fork would inherit what
    // this process has bound already.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
};

void MissingLibrariesFailCleanlyAndAreRetried() {
  std::string folder = test::MakeTempDir();
  std::string error;
  EXPECT_STREQ(siblings::SiblingBindError(), "");

  // No directory: the bare file name, left to the loader's own search.
  // An empty one: the file name in it.
  for (const std::string& directory : {std::string(), folder}) {
    ASSERT_TRUE(test::PointModuleAt(directory, &error)) << error;
    for (const Call& call : EveryEntry()) {
      SCOPED_TRACE(std::string(call.entry) + " with directory '" + directory + "'");
      EXPECT_TRUE(call.failed());
      std::string path = directory.empty() ? call.library : directory + "/" + call.library;
      EXPECT_THAT(siblings::SiblingBindError(), StartsWith(path + ": "));
    }
  }

  // Installed later: the next calls find it.
  CopyInto(folder, kAuthDialogsFileName, kAuthDialogsFileName);
  CopyInto(folder, kSimcoreFileName, kSimcoreFileName);
  auto sim = std::make_unique<VELTO_SIM_LIST>();
  std::memset(sim.get(), 0, sizeof *sim);
  EXPECT_EQ(siblings::SetScList(sim.get()), 1);
  swc_config* config = siblings::swc_config_alloc("late", 1);
  EXPECT_NE(config, nullptr);
  siblings::swc_config_free(config);

  test::AuthDialogsDouble dialogs;
  test::SimcoreDouble simcore;
  EXPECT_TRUE(
      test::FindAuthDialogsDouble(test::SiblingLookup::kLoadedOnly, &dialogs, &error, folder))
      << error;
  EXPECT_TRUE(test::FindSimcoreDouble(test::SiblingLookup::kLoadedOnly, &simcore, &error, folder))
      << error;
  if (dialogs.set_list_calls != nullptr) {
    EXPECT_EQ(dialogs.set_list_calls(), 1);
  }
  if (simcore.calls != nullptr) {
    EXPECT_EQ(simcore.Calls(), "swc_config_alloc(late,1)\nswc_config_free(config)\n");
  }
  test::RemoveTree(folder);
}

TEST_F(SiblingBindingPosixTest, MissingLibrariesFailCleanlyAndAreRetried) {
  EXPECT_EXIT(RunAndExit(MissingLibrariesFailCleanlyAndAreRetried), testing::ExitedWithCode(0), "");
}

void MissingEntriesFailCleanly() {
  // Each library under the other's name: it loads, and has none of the entries.
  std::string folder = test::MakeTempDir();
  CopyInto(folder, kAuthDialogsFileName, kSimcoreFileName);
  CopyInto(folder, kSimcoreFileName, kAuthDialogsFileName);
  std::string error;
  ASSERT_TRUE(test::PointModuleAt(folder, &error)) << error;
  for (const Call& call : EveryEntry()) {
    SCOPED_TRACE(call.entry);
    EXPECT_TRUE(call.failed());
    EXPECT_THAT(siblings::SiblingBindError(), HasSubstr(call.library));
    EXPECT_THAT(siblings::SiblingBindError(), HasSubstr(std::string(call.entry)));
  }
  test::RemoveTree(folder);
}

TEST_F(SiblingBindingPosixTest, MissingEntriesFailCleanly) {
  EXPECT_EXIT(RunAndExit(MissingEntriesFailCleanly), testing::ExitedWithCode(0), "");
}

void BindsOnFirstCallFromRacingThreads() {
  std::string error;
  ASSERT_TRUE(test::PointModuleAt(test::SiblingDoublesDir(), &error)) << error;
  test::AuthDialogsDouble dialogs;
  test::SimcoreDouble simcore;
  // Nothing is loaded until an entry is called.
  EXPECT_FALSE(test::FindAuthDialogsDouble(test::SiblingLookup::kLoadedOnly, &dialogs, &error));
  EXPECT_FALSE(test::FindSimcoreDouble(test::SiblingLookup::kLoadedOnly, &simcore, &error));

  constexpr int kThreads = 8;
  constexpr int kCallsEach = 20;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&go] {
      auto sim = std::make_unique<VELTO_SIM_LIST>();
      std::memset(sim.get(), 0, sizeof *sim);
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kCallsEach; ++i) {
        siblings::SetScList(sim.get());
        siblings::swc_scard_deinit(nullptr);
      }
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();

  ASSERT_TRUE(test::FindAuthDialogsDouble(test::SiblingLookup::kLoadedOnly, &dialogs, &error))
      << error;
  ASSERT_TRUE(test::FindSimcoreDouble(test::SiblingLookup::kLoadedOnly, &simcore, &error)) << error;
  EXPECT_EQ(dialogs.set_list_calls(), kThreads * kCallsEach);
  std::string expected;
  for (int i = 0; i < kThreads * kCallsEach; ++i) expected += "swc_scard_deinit(null)\n";
  EXPECT_EQ(simcore.Calls(), expected);
  EXPECT_STREQ(siblings::SiblingBindError(), "");
}

TEST_F(SiblingBindingPosixTest, BindsOnFirstCallFromRacingThreads) {
  EXPECT_EXIT(RunAndExit(BindsOnFirstCallFromRacingThreads), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace velto
