#include "doubles/sibling_doubles_client.h"

#include <cstdlib>
#include <optional>
#include <vector>

#include "doubles/sibling_library.h"
#include "frame/registry.h"
#include "frame/startup.h"
#include "support/test_env.h"

namespace velto::test {
namespace {

constexpr char kRegistryRootVar[] = "VELTOEAP_REGISTRY_ROOT";

template <typename Fn>
bool Entry(void* library, const char* name, Fn** entry, std::string* error) {
  *entry = reinterpret_cast<Fn*>(SiblingLibraryEntry(library, name));
  if (*entry == nullptr) *error = std::string("no entry ") + name;
  return *entry != nullptr;
}

void* Open(SiblingLookup lookup, const std::string& directory, const char* file_name,
           std::string* error) {
  return OpenSiblingLibrary(directory + PathSeparator() + file_name,
                            lookup == SiblingLookup::kLoadedOnly, error);
}

// The value as it is now, or nothing when it is missing.
std::optional<std::vector<uint8_t>> ReadBinDir(const platform::RegistryApi& registry) {
  platform::RegistryKey* key = nullptr;
  if (registry.open_machine_key(platform::kVeltoWirelessKey, platform::RegAccess::kRead, &key) !=
      0) {
    return std::nullopt;
  }
  std::vector<uint8_t> data(4096);
  uint32_t size = static_cast<uint32_t>(data.size());
  uint32_t status = registry.query_value(key, kTamrixBinDirValue, nullptr, data.data(), &size);
  registry.close_key(key);
  if (status != 0) return std::nullopt;
  data.resize(size);
  return data;
}

uint32_t WriteBinDir(const platform::RegistryApi& registry, const uint8_t* data, uint32_t size) {
  platform::RegistryKey* key = nullptr;
  uint32_t status = registry.create_machine_key(platform::kVeltoWirelessKey, &key);
  if (status != 0) return status;
  status = data != nullptr
               ? registry.set_value(key, kTamrixBinDirValue, platform::kRegSz, data, size)
               : registry.delete_value(key, kTamrixBinDirValue);
  registry.close_key(key);
  return status;
}

}  // namespace

std::string SimcoreDouble::Calls() const {
  int length = calls(nullptr, 0);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  calls(text.data(), length + 1);
  text.resize(static_cast<size_t>(length));
  return text;
}

std::string SiblingDoublesDir() { return ProductDir() + PathSeparator() + "siblings"; }

bool PointModuleAt(const std::string& directory, std::string* error) {
  const char* previous_root = std::getenv(kRegistryRootVar);
  std::optional<std::string> kept_root;
  if (previous_root != nullptr) kept_root = previous_root;
  std::string root = MakeTempDir();
  if (root.empty()) {
    *error = "no temporary folder for the registry";
    return false;
  }
  SetEnvVar(kRegistryRootVar, root.c_str());

  const platform::RegistryApi& registry = *platform::g_registry;
  std::optional<std::vector<uint8_t>> before = ReadBinDir(registry);
  // As an installer writes a REG_SZ: with its terminator.
  uint32_t status = WriteBinDir(registry, reinterpret_cast<const uint8_t*>(directory.c_str()),
                                static_cast<uint32_t>(directory.size() + 1));
  if (status == 0) {
    ModuleStartup();
    WriteBinDir(registry, before ? before->data() : nullptr,
                before ? static_cast<uint32_t>(before->size()) : 0);
  } else {
    *error = "TamrixBinDir cannot be written: status " + std::to_string(status);
  }

  SetEnvVar(kRegistryRootVar, kept_root ? kept_root->c_str() : nullptr);
  RemoveTree(root);
  return status == 0;
}

bool FindSimcoreDouble(SiblingLookup lookup, SimcoreDouble* found, std::string* error,
                       const std::string& directory) {
  void* library = Open(lookup, directory, kSimcoreFileName, error);
  if (library == nullptr) return false;
  SimcoreDouble d;
  bool ok = Entry(library, "simcore_double_reset", &d.reset, error) &&
            Entry(library, "simcore_double_fail_alloc", &d.fail_alloc, error) &&
            Entry(library, "simcore_double_set_cb_status", &d.set_cb_status, error) &&
            Entry(library, "simcore_double_push_init_status", &d.push_init_status, error) &&
            Entry(library, "simcore_double_hold_init", &d.hold_init, error) &&
            Entry(library, "simcore_double_wait_calls", &d.wait_calls, error) &&
            Entry(library, "simcore_double_add_present_card", &d.add_present_card, error) &&
            Entry(library, "simcore_double_deliver", &d.deliver, error) &&
            Entry(library, "simcore_double_push_imsi", &d.push_imsi, error) &&
            Entry(library, "simcore_double_calls", &d.calls, error) &&
            Entry(library, "simcore_double_context", &d.context, error);
  if (ok) *found = d;
  return ok;
}

bool FindAuthDialogsDouble(SiblingLookup lookup, AuthDialogsDouble* found, std::string* error,
                           const std::string& directory) {
  void* library = Open(lookup, directory, kAuthDialogsFileName, error);
  if (library == nullptr) return false;
  AuthDialogsDouble d;
  bool ok = Entry(library, "authdialogs_double_set_hook", &d.set_hook, error) &&
            Entry(library, "authdialogs_double_reset", &d.reset, error) &&
            Entry(library, "authdialogs_double_set_list_calls", &d.set_list_calls, error) &&
            Entry(library, "authdialogs_double_last_lists", &d.last_lists, error) &&
            Entry(library, "authdialogs_double_last_window", &d.last_window, error);
  if (ok) *found = d;
  return ok;
}

SiblingDoubles::~SiblingDoubles() {
  if (simcore_.reset != nullptr) simcore_.reset();
  if (dialogs_.reset != nullptr) dialogs_.reset();
}

bool SiblingDoubles::SetUp(std::string* error) {
  if (!PointModuleAt(SiblingDoublesDir(), error) ||
      !FindSimcoreDouble(SiblingLookup::kLoadIfNeeded, &simcore_, error) ||
      !FindAuthDialogsDouble(SiblingLookup::kLoadIfNeeded, &dialogs_, error)) {
    return false;
  }
  simcore_.reset();
  dialogs_.reset();
  return true;
}

}  // namespace velto::test
