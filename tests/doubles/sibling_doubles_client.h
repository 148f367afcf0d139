// How tests reach the doubles of authdialogs and simcore: point the module's
// library directory at them as an installation does, then find the library
// the module binds (the same loaded instance) and its control entries.
//
// Typical fixture:
//   test::SiblingDoubles doubles_;
//   void SetUp() override { std::string e; ASSERT_TRUE(doubles_.SetUp(&e)) << e; }
//   ... doubles_.simcore().push_init_status(-3); ... doubles_.dialogs().set_hook(...);
#pragma once

#include <string>

#include "doubles/sibling_doubles.h"

namespace velto::test {

// The control entries of the simcore double, looked up by name.
struct SimcoreDouble {
  simcore_double_reset_fn* reset = nullptr;
  simcore_double_fail_alloc_fn* fail_alloc = nullptr;
  simcore_double_set_cb_status_fn* set_cb_status = nullptr;
  simcore_double_push_init_status_fn* push_init_status = nullptr;
  simcore_double_hold_init_fn* hold_init = nullptr;
  simcore_double_wait_calls_fn* wait_calls = nullptr;
  simcore_double_add_present_card_fn* add_present_card = nullptr;
  simcore_double_deliver_fn* deliver = nullptr;
  simcore_double_push_imsi_fn* push_imsi = nullptr;
  simcore_double_calls_fn* calls = nullptr;
  simcore_double_context_fn* context = nullptr;

  // The whole call log.
  std::string Calls() const;
};

// The control entries of the authdialogs double, looked up by name.
struct AuthDialogsDouble {
  authdialogs_double_set_hook_fn* set_hook = nullptr;
  authdialogs_double_reset_fn* reset = nullptr;
  authdialogs_double_set_list_calls_fn* set_list_calls = nullptr;
  authdialogs_double_last_lists_fn* last_lists = nullptr;
  authdialogs_double_last_window_fn* last_window = nullptr;
};

// The folder the doubles are built into: "siblings" beside the test program.
std::string SiblingDoublesDir();

// Makes `directory` the module's library directory the way an installation
// does: "TamrixBinDir" written under the module's key, then ModuleStartup().
// On Linux a private registry is used (VELTOEAP_REGISTRY_ROOT points at a
// temporary folder meanwhile); on Windows the value is put back as it was.
// False, with the reason, when the value cannot be written.
bool PointModuleAt(const std::string& directory, std::string* error);

enum class SiblingLookup {
  kLoadedOnly,    // only a library the process has loaded already
  kLoadIfNeeded,  // else loaded by its full path, as the module will find it
};

// Finds the double's library in `directory` and all its control entries.
// False, with the reason, when the library or an entry is missing. On Windows
// kLoadedOnly finds the loaded library of that file name wherever it came
// from (a delay-load import binds to it).
bool FindSimcoreDouble(SiblingLookup lookup, SimcoreDouble* found, std::string* error,
                       const std::string& directory = SiblingDoublesDir());
bool FindAuthDialogsDouble(SiblingLookup lookup, AuthDialogsDouble* found, std::string* error,
                           const std::string& directory = SiblingDoublesDir());

// Both doubles for a fixture: SetUp points the module at SiblingDoublesDir(),
// finds both (loading them if needed, so they can be scripted before the
// module's first call) and resets them; the destructor resets them again.
class SiblingDoubles {
 public:
  SiblingDoubles() = default;
  ~SiblingDoubles();
  SiblingDoubles(const SiblingDoubles&) = delete;
  SiblingDoubles& operator=(const SiblingDoubles&) = delete;

  bool SetUp(std::string* error);

  const SimcoreDouble& simcore() const { return simcore_; }
  const AuthDialogsDouble& dialogs() const { return dialogs_; }

 private:
  SimcoreDouble simcore_;
  AuthDialogsDouble dialogs_;
};

}  // namespace velto::test
