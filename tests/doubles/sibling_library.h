// The platform part of the doubles' client: opening a sibling library the
// way the module's binding finds it, and looking up its entries.
#pragma once

#include <string>

namespace velto::test {

// The sibling libraries' file names on this platform.
extern const char kAuthDialogsFileName[];
extern const char kSimcoreFileName[];

// The library at `path`. With `only_loaded`, only if the process has loaded
// that library already (on Windows: any library of its file name, the one a
// delay-load import binds to); otherwise it is loaded if needed. Handles are
// never closed. Null, with the reason in *error, when it cannot.
void* OpenSiblingLibrary(const std::string& path, bool only_loaded, std::string* error);

// An entry by name, or null.
void* SiblingLibraryEntry(void* library, const char* name);

}  // namespace velto::test
