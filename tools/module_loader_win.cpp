#include <windows.h>
#include <objbase.h>

#include "module_loader.h"

namespace velto::tools {

void* LoadModuleByName(const char* file_name, std::string* error) {
  HMODULE module = LoadLibraryA(file_name);
  if (module == nullptr) *error = "LoadLibrary failed, error " + std::to_string(GetLastError());
  return module;
}

void* FindEntry(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void UnloadModuleHandle(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }

void InitHostThread() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }

}  // namespace velto::tools
