// How tests reach the doubles of authdialogs and simcore: point the module at
// them as an installation does, then find the control entries in the library
// the module binds.
#pragma once

#include <string>

#include "doubles/sibling_doubles.h"
#include "doubles/sibling_library.h"

// X(library, name) for each control entry <library>_double_<name>, held as `name`.
#define VELTO_SIMCORE_DOUBLE_ENTRIES(X)                                                   \
  X(simcore, reset) X(simcore, fail_alloc) X(simcore, set_cb_status)                      \
  X(simcore, push_init_status) X(simcore, hold_init) X(simcore, wait_calls)               \
  X(simcore, add_present_card) X(simcore, deliver) X(simcore, push_imsi) X(simcore, calls) \
  X(simcore, context)
#define VELTO_AUTHDIALOGS_DOUBLE_ENTRIES(X)                                                \
  X(authdialogs, set_hook) X(authdialogs, reset) X(authdialogs, set_list_calls)           \
  X(authdialogs, last_lists) X(authdialogs, last_window)
#define VELTO_DOUBLE_FIELD(library, name) library##_double_##name##_fn* name = nullptr;

namespace velto::test {

struct SimcoreDouble {
  VELTO_SIMCORE_DOUBLE_ENTRIES(VELTO_DOUBLE_FIELD)
  std::string Calls() const;  // the whole call log
};
struct AuthDialogsDouble { VELTO_AUTHDIALOGS_DOUBLE_ENTRIES(VELTO_DOUBLE_FIELD) };

std::string SiblingDoublesDir();  // "siblings" beside the product

// Writes `directory` as the module's "TamrixBinDir" (in a private registry on
// Linux), runs ModuleStartup() and puts the value back. False, with the
// reason, when the value cannot be written.
bool PointModuleAt(const std::string& directory, std::string* error);

// The double's library in `directory` (kLoadedOnly: only if this process has
// loaded it) and all its control entries; false, with the reason, if not.
enum class SiblingLookup { kLoadedOnly, kLoadIfNeeded };
bool FindSimcoreDouble(SiblingLookup lookup, SimcoreDouble* found, std::string* error,
                       const std::string& directory = SiblingDoublesDir());
bool FindAuthDialogsDouble(SiblingLookup lookup, AuthDialogsDouble* found, std::string* error,
                           const std::string& directory = SiblingDoublesDir());

// For a fixture: SetUp points the module at SiblingDoublesDir(), finds and
// resets both doubles; the destructor resets them again.
class SiblingDoubles {
 public:
  ~SiblingDoubles();
  bool SetUp(std::string* error);
  const SimcoreDouble& simcore() const { return simcore_; }
  const AuthDialogsDouble& dialogs() const { return dialogs_; }
 private:
  SimcoreDouble simcore_;
  AuthDialogsDouble dialogs_;
};

}  // namespace velto::test
