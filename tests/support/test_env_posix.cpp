#include <dlfcn.h>
#include <stdlib.h>
#include <filesystem>

#include "support/test_env.h"

namespace velto::test {

namespace fs = std::filesystem;

void SetEnvVar(const char* name, const char* value) { value ? setenv(name, value, 1) : unsetenv(name); }

std::string MakeTempDir() {
  std::string pattern = (fs::temp_directory_path() / "velto-test-XXXXXX").string();
  return mkdtemp(pattern.data()) ? pattern : std::string();
}

void RemoveTree(const std::string& path) { std::error_code ec; fs::remove_all(path, ec); }

std::string BinDir() { return fs::read_symlink("/proc/self/exe").parent_path().string(); }
std::string ProductDir() { return fs::path(BinDir()).parent_path().string(); }
const char* PathSeparator() { return "/"; }
void InitComForThisThread() {}

void* LoadModule(const char* file_name) {
  const bool bare = std::string(file_name).find('/') == std::string::npos;
  return dlopen((bare ? fs::path(ProductDir()) / file_name : fs::path(file_name)).c_str(), RTLD_NOW | RTLD_LOCAL);
}
void* ModuleEntry(void* module, const char* name) { return module ? dlsym(module, name) : nullptr; }
void UnloadModule(void* module) { module && dlclose(module); }

}  // namespace velto::test
