#include <windows.h>

#include <climits>

#include "ui/module_strings.h"

namespace velto {

bool LoadModuleString(uint32_t id, char* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0) return false;
  buffer[0] = '\0';
  // The image that holds this code, whether the module or a program that
  // links the core: looked up by an address inside it, without a reference.
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&LoadModuleString), &self)) {
    return false;
  }
  int room = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
  if (LoadStringA(self, id, buffer, room) > 0) return true;
  buffer[0] = '\0';
  return false;
}

}  // namespace velto
