// Library loading and the folders the start-up needs.
#pragma once

#include <cstddef>

namespace velto::platform {

// Where cfgbridge lives below the common program files folder, and its file
// name: "\Velto\WirelessCommon\cfgbridge.dll" on Windows.
extern const char kCfgBridgeSubfolder[];
extern const char kCfgBridgeFileName[];

// The common program files folder (CSIDL 43), not created. False on failure.
// Linux: $VELTOEAP_COMMON_FILES, else /usr/local/lib.
bool CommonFilesFolder(char* buffer, size_t capacity);

// Loads a library by full path so that its own dependencies resolve from its
// folder; the library stays loaded. Failures are not reported.
void LoadLibraryAlteredPath(const char* path);

// The directory the lazily bound sibling libraries are found in. An empty
// text takes the current directory out of the search (SetDllDirectoryA).
void SetLibraryDirectory(const char* directory);

// Reads back the directory last set (the empty text when none or the empty
// text was set). False when it cannot be read or does not fit.
bool GetLibraryDirectory(char* buffer, size_t capacity);

}  // namespace velto::platform
