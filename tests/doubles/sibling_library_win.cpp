#include <windows.h>

#include <filesystem>

#include "doubles/sibling_library.h"

namespace velto::test {

const char kAuthDialogsFileName[] = "authdialogs.dll";
const char kSimcoreFileName[] = "simcore.dll";

// A delay-load import names the library by file name only, so the loaded
// library of that name is the one the module calls.
void* OpenSiblingLibrary(const std::string& path, bool only_loaded, std::string* error) {
  HMODULE library = GetModuleHandleA(std::filesystem::path(path).filename().string().c_str());
  if (library == nullptr && !only_loaded) library = LoadLibraryA(path.c_str());
  if (library == nullptr) {
    *error = path + (only_loaded ? ": not loaded" : ": cannot be loaded, error " + std::to_string(GetLastError()));
  }
  return library;
}

void* SiblingLibraryEntry(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace velto::test
