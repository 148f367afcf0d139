#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "support/test_env.h"

namespace velto::test {

void SetEnvVar(const char* name, const char* value) {
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

std::string MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velto-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

std::string BinDir() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
}

std::string ProductDir() { return std::filesystem::path(BinDir()).parent_path().string(); }

void* LoadModule(const char* file_name) {
  std::string path = file_name;
  if (path.find('/') == std::string::npos) {
    path = (std::filesystem::path(ProductDir()) / file_name).string();
  }
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* ModuleEntry(void* module, const char* name) { return module ? dlsym(module, name) : nullptr; }

void UnloadModule(void* module) {
  if (module != nullptr) dlclose(module);
}

const char* PathSeparator() { return "/"; }

void InitComForThisThread() {}

}  // namespace velto::test
