#include <dlfcn.h>

#include "doubles/sibling_library.h"

namespace velto::test {

const char kAuthDialogsFileName[] = "authdialogs.so";
const char kSimcoreFileName[] = "simcore.so";

void* OpenSiblingLibrary(const std::string& path, bool only_loaded, std::string* error) {
  // The module's binding uses these flags; RTLD_NOLOAD matches by name or by
  // file, so a library it opened is found again whichever path named it.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | (only_loaded ? RTLD_NOLOAD : 0));
  if (library == nullptr) {
    const char* reason = dlerror();
    *error = path + (only_loaded ? ": not loaded" : "") +
             (reason != nullptr ? std::string(" (") + reason + ")" : "");
  }
  return library;
}

void* SiblingLibraryEntry(void* library, const char* name) { return dlsym(library, name); }

}  // namespace velto::test
