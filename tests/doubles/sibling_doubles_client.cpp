#include "doubles/sibling_doubles_client.h"

#include <vector>

#include "frame/registry.h"
#include "frame/startup.h"
#include "support/test_env.h"

namespace velto::test {
namespace {

#define VELTO_FIND_ENTRY(library_name, name)                                            \
  d->name = reinterpret_cast<library_name##_double_##name##_fn*>(                       \
      SiblingLibraryEntry(library, #library_name "_double_" #name));                    \
  if (d->name == nullptr) missing += " " #name;

void Bind(void* library, SimcoreDouble* d, std::string& missing) {
  VELTO_SIMCORE_DOUBLE_ENTRIES(VELTO_FIND_ENTRY)
}
void Bind(void* library, AuthDialogsDouble* d, std::string& missing) {
  VELTO_AUTHDIALOGS_DOUBLE_ENTRIES(VELTO_FIND_ENTRY)
}

template <typename Double>
bool Find(SiblingLookup lookup, const std::string& path, Double* found, std::string* error) {
  void* library = OpenSiblingLibrary(path, lookup == SiblingLookup::kLoadedOnly, error);
  if (library == nullptr) return false;
  Double d;
  std::string missing;  // the entries not found
  Bind(library, &d, missing);
  if (!missing.empty()) return *error = path + " lacks" + missing, false;
  return *found = d, true;
}

}  // namespace

std::string SimcoreDouble::Calls() const {
  std::string text(static_cast<size_t>(calls(nullptr, 0)) + 1, '\0');
  text.resize(static_cast<size_t>(calls(text.data(), static_cast<int>(text.size()))));
  return text;
}

std::string SiblingDoublesDir() { return ProductDir() + PathSeparator() + "siblings"; }

bool PointModuleAt(const std::string& directory, std::string* error) {
  std::string root = MakeTempDir();
  if (root.empty()) return *error = "no temporary folder for the registry", false;
  ScopedEnvVar registry_root("VELTOEAP_REGISTRY_ROOT", root.c_str());
  const platform::RegistryApi& registry = *platform::g_registry;
  platform::RegistryKey* key = nullptr;
  uint32_t status = registry.create_machine_key(platform::kVeltoWirelessKey, &key);
  if (status == 0) {
    std::vector<uint8_t> before(4096);
    auto size = static_cast<uint32_t>(before.size());
    bool had = registry.query_value(key, kTamrixBinDirValue, nullptr, before.data(), &size) == 0;
    // As an installer writes a REG_SZ: with its terminator.
    status = registry.set_value(key, kTamrixBinDirValue, platform::kRegSz,
                                reinterpret_cast<const uint8_t*>(directory.c_str()),
                                static_cast<uint32_t>(directory.size() + 1));
    if (status == 0) ModuleStartup();
    if (had) registry.set_value(key, kTamrixBinDirValue, platform::kRegSz, before.data(), size);
    else registry.delete_value(key, kTamrixBinDirValue);
    registry.close_key(key);
  }
  RemoveTree(root);
  if (status != 0) *error = "TamrixBinDir cannot be written: status " + std::to_string(status);
  return status == 0;
}

bool FindSimcoreDouble(SiblingLookup lookup, SimcoreDouble* found, std::string* error,
                       const std::string& directory) {
  return Find(lookup, directory + PathSeparator() + kSimcoreFileName, found, error);
}

bool FindAuthDialogsDouble(SiblingLookup lookup, AuthDialogsDouble* found, std::string* error,
                           const std::string& directory) {
  return Find(lookup, directory + PathSeparator() + kAuthDialogsFileName, found, error);
}

SiblingDoubles::~SiblingDoubles() {
  if (simcore_.reset != nullptr) simcore_.reset();
  if (dialogs_.reset != nullptr) dialogs_.reset();
}

bool SiblingDoubles::SetUp(std::string* error) {
  bool ok = PointModuleAt(SiblingDoublesDir(), error) &&
            FindSimcoreDouble(SiblingLookup::kLoadIfNeeded, &simcore_, error) &&
            FindAuthDialogsDouble(SiblingLookup::kLoadIfNeeded, &dialogs_, error);
  if (ok) simcore_.reset(), dialogs_.reset();
  return ok;
}

}  // namespace velto::test
