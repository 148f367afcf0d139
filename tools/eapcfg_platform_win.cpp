#include <windows.h>

#include <cstdio>

#include "eapcfg_platform.h"

namespace velto::tools {

void InitTool() {}

bool ReplaceFileWhole(const std::string& path, const void* data, size_t size, std::string* error) {
  std::string temporary = path + "." + std::to_string(GetCurrentProcessId()) + ".new";
  HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = "cannot create " + temporary + ": error " + std::to_string(GetLastError());
    return false;
  }
  DWORD written = 0;
  bool ok = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size &&
            FlushFileBuffers(file);
  DWORD err = GetLastError();
  ok = CloseHandle(file) && ok;
  if (ok && MoveFileExA(temporary.c_str(), path.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  if (ok) err = GetLastError();
  DeleteFileA(temporary.c_str());
  *error = "cannot write " + path + ": error " + std::to_string(err);
  return false;
}

std::string SealingFailureReason() {
  return "the platform's data protection (CryptProtectData) refused for this user";
}

// A dialog needs a window station with a desktop to draw on; without one
// (a service, or Wine with no X display) no window can be made.
std::string DialogUnavailableReason() {
  HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  if (probe != nullptr) {
    DestroyWindow(probe);
    return {};
  }
  return "no display to show a dialog on (a window cannot be created, error " +
         std::to_string(GetLastError()) + "; under Wine, is DISPLAY set?)";
}

}  // namespace velto::tools
