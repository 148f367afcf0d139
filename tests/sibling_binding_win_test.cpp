// What only the Windows binding does: the libraries are delay-load imports,
// so a missing library or entry raises the delay-load exception, which the
// module does not catch. Each case runs in a new process of this program (a
// death test re-runs it), where nothing is bound yet, and the process's exit
// status is the exception's code.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "doubles/sibling_doubles_client.h"
#include "doubles/sibling_library.h"
#include "frame/sibling_calls.h"
#include "support/test_env.h"

namespace velto {
namespace {

constexpr DWORD kDelayLoadNoModule = 0xC06D007E;
constexpr DWORD kDelayLoadNoEntry = 0xC06D007F;

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "%s\n", why.c_str());
  std::exit(1);
}

// An exception nothing handled ends the process with its code, as it would
// without this filter, but without starting a debugger (Wine would).
LONG WINAPI EndWithTheExceptionCode(EXCEPTION_POINTERS* exception) {
  TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

// A folder of the build for one case's copies of the doubles. The death
// test's child runs the test's body again, so both make it afresh; the
// parent removes it once the child has died.
std::string CaseFolder(const char* name) {
  std::string folder = test::BinDir() + test::PathSeparator() + name;
  test::RemoveTree(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

// Points the module at `folder` holding `files` (copies of the doubles, under
// the names given), checks that nothing is bound before the first call, then
// calls swc_config_free, which must not return.
[[noreturn]] void CallSimcoreFrom(const std::string& folder,
                                  std::initializer_list<std::pair<const char*, const char*>> files) {
  SetUnhandledExceptionFilter(EndWithTheExceptionCode);
  for (const auto& [from, to] : files) {
    std::error_code ec;
    std::filesystem::copy_file(std::filesystem::path(test::SiblingDoublesDir()) / from,
                               std::filesystem::path(folder) / to, ec);
    if (ec) Fail("copy: " + ec.message());
  }
  std::string error;
  if (!test::PointModuleAt(folder, &error)) Fail(error);
  if (GetModuleHandleA(test::kSimcoreFileName) != nullptr) Fail("simcore bound before any call");
  siblings::swc_config_free(nullptr);
  Fail("swc_config_free returned");
}

TEST(SiblingBindingWinTest, MissingLibraryRaisesTheDelayLoadException) {
  std::string folder = CaseFolder("siblings-missing-library");
  EXPECT_EXIT(CallSimcoreFrom(folder, {}),
              testing::ExitedWithCode(static_cast<int>(kDelayLoadNoModule)), "");
  test::RemoveTree(folder);
}

TEST(SiblingBindingWinTest, MissingEntryRaisesTheDelayLoadException) {
  // The dialogs double under simcore's name: it loads, and lacks the entry.
  std::string folder = CaseFolder("siblings-missing-entry");
  EXPECT_EXIT(CallSimcoreFrom(folder, {{test::kAuthDialogsFileName, test::kSimcoreFileName}}),
              testing::ExitedWithCode(static_cast<int>(kDelayLoadNoEntry)), "");
  test::RemoveTree(folder);
}

}  // namespace
}  // namespace velto
