// What only the Linux twin's binding does: a missing library or entry makes
// the call fail as the library's own failure would, and a failed binding is
// tried again on the next call. Each case runs in a new
// process of this program (a death test re-runs it), where nothing is bound.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "doubles/sibling_doubles_client.h"
#include "doubles/sibling_library.h"
#include "siblings/sibling_calls.h"
#include "support/test_env.h"

namespace velto {
namespace {

using test::kAuthDialogsFileName;
using test::kSimcoreFileName;

_VELTO_WLAN_PROFILE_V120 g_profile;
VELTO_SC_LIST_V120 g_sc;
VELTO_SIM_LIST g_sim;

// One call of each entry; `failed` says whether it answered as a failed
// library does.
struct Call {
  const char* entry;
  const char* library;
  bool (*failed)();
};

const Call kCalls[] = {
    {"Create1XDlg", kAuthDialogsFileName,
     [] {
       int flag = 1;
       return siblings::Create1XDlg(12, &g_profile, 0, 0, nullptr, &flag) == 0 && flag == 1;
     }},
    {"CreateScDlg", kAuthDialogsFileName,
     [] { return siblings::CreateScDlg(&g_profile, 159, 0, nullptr, &g_sc, &g_sim) == 0; }},
    {"SetScListSc", kAuthDialogsFileName, [] { return siblings::SetScList(&g_sc) == 0; }},
    {"SetScListSim", kAuthDialogsFileName, [] { return siblings::SetScList(&g_sim) == 0; }},
    {"swc_config_alloc", kSimcoreFileName,
     [] { return siblings::swc_config_alloc("s", 1) == nullptr; }},
    {"swc_scard_set_event_cb", kSimcoreFileName,
     [] { return siblings::swc_scard_set_event_cb(nullptr, nullptr, nullptr) == -1; }},
    {"swc_scard_init", kSimcoreFileName, [] { return siblings::swc_scard_init(nullptr) == -1; }},
    {"swc_scard_get_imsi", kSimcoreFileName,
     [] {
       char imsi[64] = {};
       uint32_t length = sizeof imsi;
       return siblings::swc_scard_get_imsi(nullptr, "r", "1234", imsi, &length) == -1 &&
              imsi[0] == '\0' && length == sizeof imsi;
     }},
    {"swc_scard_deinit", kSimcoreFileName,
     [] { return siblings::swc_scard_deinit(nullptr) == -1; }},
    // Nothing to answer: it must only come back.
    {"swc_config_free", kSimcoreFileName, [] { siblings::swc_config_free(nullptr); return true; }},
};

bool IsLoaded(const std::string& path) {
  std::string error;
  return test::OpenSiblingLibrary(path, true, &error) != nullptr;
}

// Runs a case in a new process (a fork would inherit what this one has bound
// already). gtest reports nothing from there: the failures go to stderr,
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

void ExpectInNewProcess(void (*body)()) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunAndExit(body), testing::ExitedWithCode(0), "");
}

void CopyInto(const std::string& directory, const char* file_name, const char* as_name) {
  std::error_code ec;
  std::filesystem::copy_file(std::filesystem::path(test::SiblingDoublesDir()) / file_name,
                             std::filesystem::path(directory) / as_name, ec);
  EXPECT_FALSE(ec) << ec.message();
}

void MissingLibrariesAndEntriesFailCleanlyAndAreRetried() {
  std::string folder = test::MakeTempDir();
  std::string error;
  // No directory: the folder of the image that holds the core (here this
  // program's). An empty one: the file name in it.
  for (const std::string& directory : {std::string(), folder}) {
    ASSERT_TRUE(test::PointModuleAt(directory, &error)) << error;
    for (const Call& call : kCalls) {
      SCOPED_TRACE(std::string(call.entry) + " with directory '" + directory + "'");
      EXPECT_TRUE(call.failed());
    }
  }

  // Installed later, each library under the other's name: now they load
  // (the failed binding was tried again), and the entries they lack fail.
  CopyInto(folder, kAuthDialogsFileName, kSimcoreFileName);
  CopyInto(folder, kSimcoreFileName, kAuthDialogsFileName);
  for (const Call& call : kCalls) {
    SCOPED_TRACE(call.entry);
    EXPECT_TRUE(call.failed());
    EXPECT_TRUE(IsLoaded(folder + "/" + call.library));
  }
  test::RemoveTree(folder);
}

TEST(SiblingBindingPosixTest, MissingLibrariesAndEntriesFailCleanlyAndAreRetried) {
  ExpectInNewProcess(MissingLibrariesAndEntriesFailCleanlyAndAreRetried);
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
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kCallsEach; ++i) {
        siblings::SetScList(&g_sim);
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
}

TEST(SiblingBindingPosixTest, BindsOnFirstCallFromRacingThreads) {
  ExpectInNewProcess(BindsOnFirstCallFromRacingThreads);
}

}  // namespace
}  // namespace velto
