// A missing sibling library or entry raises the delay-load exception, which
// the module does not catch. Each case runs in a new process (a death test),
// where nothing is bound yet, and ends with the exception's code.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>

#include "doubles/sibling_doubles_client.h"
#include "doubles/sibling_library.h"
#include "siblings/sibling_calls.h"
#include "support/test_env.h"

namespace velto {
namespace {

// Points the module at `folder`, holding the dialogs double under simcore's
// name when `with_stand_in` (it loads and lacks every simcore entry), then
// calls swc_config_free, which must not return.
[[noreturn]] void CallSimcoreFrom(const std::string& folder, bool with_stand_in) {
  SetUnhandledExceptionFilter([](EXCEPTION_POINTERS* e) -> LONG {  // ends with its code, no debugger started
    return TerminateProcess(GetCurrentProcess(), e->ExceptionRecord->ExceptionCode);
  });
  std::error_code ec;
  namespace fs = std::filesystem;
  if (with_stand_in) fs::copy_file(fs::path(test::SiblingDoublesDir()) / test::kAuthDialogsFileName,
                                   fs::path(folder) / test::kSimcoreFileName, ec);
  std::string error;
  if (ec || !test::PointModuleAt(folder, &error)) std::exit(1);
  if (GetModuleHandleA(test::kSimcoreFileName) != nullptr) std::exit(2);  // bound before any call
  siblings::swc_config_free(nullptr);
  std::exit(3);
}

TEST(SiblingBindingWinTest, MissingLibraryOrEntryRaisesTheDelayLoadException) {
  for (auto [name, with_stand_in, code] :
       {std::tuple{"siblings-missing-library", false, 0xC06D007Eu}, {"siblings-missing-entry", true, 0xC06D007Fu}}) {
    // A folder of its own; the death test's child runs this body again, so
    // both make it afresh, and the parent removes it once the child died.
    std::string folder = test::BinDir() + test::PathSeparator() + name;
    test::RemoveTree(folder);
    std::filesystem::create_directories(folder);
    EXPECT_EXIT(CallSimcoreFrom(folder, with_stand_in), testing::ExitedWithCode(static_cast<int>(code)), "") << name;
    test::RemoveTree(folder);
  }
}

}  // namespace
}  // namespace velto
