#include <dlfcn.h>

#include "doubles/sibling_library.h"

namespace velto::test {

const char kAuthDialogsFileName[] = "authdialogs.so";
const char kSimcoreFileName[] = "simcore.so";

// The binding's flags; RTLD_NOLOAD finds a library by name or by file.
void* OpenSiblingLibrary(const std::string& path, bool only_loaded, std::string* error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | (only_loaded ? RTLD_NOLOAD : 0));
  const char* reason = dlerror();
  if (library == nullptr) *error = path + ": " + (reason != nullptr ? reason : "not loaded");
  return library;
}

void* SiblingLibraryEntry(void* library, const char* name) { return dlsym(library, name); }

}  // namespace velto::test
