#pragma once  // the platform part of the doubles' client

#include <string>

namespace velto::test {

extern const char kAuthDialogsFileName[];
extern const char kSimcoreFileName[];

// The library at `path`; with `only_loaded`, only if the process has loaded it
// already (on Windows: any library of its file name, the one a delay-load
// import binds to). Never closed. Null, with the reason in *error, if not.
void* OpenSiblingLibrary(const std::string& path, bool only_loaded, std::string* error);
void* SiblingLibraryEntry(void* library, const char* name);  // null if missing

}  // namespace velto::test
