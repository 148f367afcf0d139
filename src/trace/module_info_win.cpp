#include <windows.h>
#include <psapi.h>

#include "trace/module_info.h"

namespace velto::platform {

bool OwnModuleBaseName(char* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0) return false;
  buffer[0] = '\0';
  HMODULE self = nullptr;
  // Looked up by an address inside this image, without taking a reference.
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&OwnModuleBaseName), &self)) {
    return false;
  }
  DWORD n = GetModuleBaseNameA(GetCurrentProcess(), self, buffer, static_cast<DWORD>(capacity));
  if (n == 0) return false;
  buffer[n < capacity ? n : capacity - 1] = '\0';
  return true;
}

size_t ReadEnvironmentVariable(const char* name, char* buffer, size_t capacity) {
  return GetEnvironmentVariableA(name, buffer, static_cast<DWORD>(capacity));
}

}  // namespace velto::platform
