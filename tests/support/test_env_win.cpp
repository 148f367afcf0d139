#include <windows.h>
#include <objbase.h>

#include <filesystem>
#include <system_error>

#include "support/test_env.h"

namespace velto::test {

void SetEnvVar(const char* name, const char* value) { SetEnvironmentVariableA(name, value); }

std::string MakeTempDir() {
  char base[MAX_PATH + 1] = {};
  if (GetTempPathA(sizeof base, base) == 0) return {};
  for (unsigned i = 0; i < 1000; ++i) {
    std::string dir = std::string(base) + "velto-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                      std::to_string(GetTickCount() + i);
    if (CreateDirectoryA(dir.c_str(), nullptr)) return dir;
  }
  return {};
}

void RemoveTree(const std::string& path) { std::error_code ec; std::filesystem::remove_all(path, ec); }

std::string BinDir() {
  char path[MAX_PATH + 1] = {};
  return std::filesystem::path(path, path + GetModuleFileNameA(nullptr, path, MAX_PATH)).parent_path().string();
}

std::string ProductDir() { return std::filesystem::path(BinDir()).parent_path().string(); }

void* LoadModule(const char* file_name) {
  std::filesystem::path path = file_name;
  return LoadLibraryA((path.has_parent_path() ? path : ProductDir() / path).string().c_str());
}

void* ModuleEntry(void* module, const char* name) {
  return module ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name)) : nullptr;
}

void UnloadModule(void* module) { module && FreeLibrary(static_cast<HMODULE>(module)); }

const char* PathSeparator() { return "\\"; }

// Once per thread; the apartment lives as long as the test program.
void InitComForThisThread() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }

}  // namespace velto::test
