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
#include "siblings/sibling_calls.h"
#include "support/test_env.h"

namespace velto {
namespace {

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

// Points the module at `folder`, holding the dialogs double under simcore's
// name when `with_stand_in` (it loads, and lacks every simcore entry), checks
// that nothing is bound before the first call, then calls swc_config_free,
// which must not return.
[[noreturn]] void CallSimcoreFrom(const std::string& folder, bool with_stand_in) {
  SetUnhandledExceptionFilter(EndWithTheExceptionCode);
  std::error_code ec;
  if (with_stand_in) {
    std::filesystem::copy_file(
        std::filesystem::path(test::SiblingDoublesDir()) / test::kAuthDialogsFileName,
        std::filesystem::path(folder) / test::kSimcoreFileName, ec);
  }
  if (ec) Fail("copy: " + ec.message());
  std::string error;
  if (!test::PointModuleAt(folder, &error)) Fail(error);
  if (GetModuleHandleA(test::kSimcoreFileName) != nullptr) Fail("simcore bound before any call");
  siblings::swc_config_free(nullptr);
  Fail("swc_config_free returned");
}

TEST(SiblingBindingWinTest, MissingLibraryOrEntryRaisesTheDelayLoadException) {
  struct Case {
    const char* folder;
    bool with_stand_in;
    DWORD code;
  } cases[] = {{"siblings-missing-library", false, 0xC06D007E},
               {"siblings-missing-entry", true, 0xC06D007F}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    // A folder of the build for the case. The death test's child runs this
    // body again, so both make it afresh; the parent removes it once the
    // child has died.
    std::string folder = test::BinDir() + test::PathSeparator() + c.folder;
    test::RemoveTree(folder);
    std::filesystem::create_directories(folder);
    EXPECT_EXIT(CallSimcoreFrom(folder, c.with_stand_in),
                testing::ExitedWithCode(static_cast<int>(c.code)), "");
    test::RemoveTree(folder);
  }
}

}  // namespace
}  // namespace velto
