#include <windows.h>
#include <shlobj.h>

#include <cstring>

#include "frame/library.h"

namespace velto::platform {

const char kCfgBridgeSubfolder[] = "\\Velto\\WirelessCommon\\";
const char kCfgBridgeFileName[] = "cfgbridge.dll";

bool CommonFilesFolder(char* buffer, size_t capacity) {
  if (buffer == nullptr || capacity < MAX_PATH) return false;
  return SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr,
                                    SHGFP_TYPE_CURRENT, buffer));
}

void LoadLibraryAlteredPath(const char* path) {
  LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void SetLibraryDirectory(const char* directory) { SetDllDirectoryA(directory); }

bool GetLibraryDirectory(char* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0) return false;
  buffer[0] = '\0';
  SetLastError(ERROR_SUCCESS);
  DWORD n = GetDllDirectoryA(static_cast<DWORD>(capacity), buffer);
  if (n == 0) {
    buffer[0] = '\0';
    return GetLastError() == ERROR_SUCCESS;
  }
  return n < capacity;
}

}  // namespace velto::platform
