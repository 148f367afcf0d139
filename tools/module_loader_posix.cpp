#include <dlfcn.h>

#include "module_loader.h"

namespace velto::tools {

void* LoadModuleByName(const char* file_name, std::string* error) {
  void* module = dlopen(file_name, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) *error = dlerror();
  return module;
}

void* FindEntry(void* module, const char* name) { return dlsym(module, name); }

void UnloadModuleHandle(void* module) { dlclose(module); }

}  // namespace velto::tools
