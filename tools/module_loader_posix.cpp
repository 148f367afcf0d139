#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "module_loader.h"

namespace velto::tools {

void* LoadModuleByName(const char* file_name, std::string* error) {
  // A bare file name is looked for beside the program first, as Windows
  // looks in the application's folder.
  std::string path = file_name;
  if (path.find('/') == std::string::npos) {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && std::filesystem::exists(self.parent_path() / file_name, ec)) {
      path = (self.parent_path() / file_name).string();
    }
  }
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) *error = dlerror();
  return module;
}

void* FindEntry(void* module, const char* name) { return dlsym(module, name); }

void UnloadModuleHandle(void* module) { dlclose(module); }

void InitHostThread() {}

}  // namespace velto::tools
