#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

#include "trace/module_info.h"

namespace velto::platform {

bool OwnModuleBaseName(char* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0) return false;
  buffer[0] = '\0';
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OwnModuleBaseName), &info) == 0 ||
      info.dli_fname == nullptr) {
    return false;
  }
  const char* base = std::strrchr(info.dli_fname, '/');
  base = base != nullptr ? base + 1 : info.dli_fname;
  size_t n = std::strlen(base);
  if (n >= capacity) n = capacity - 1;
  std::memcpy(buffer, base, n);
  buffer[n] = '\0';
  return n != 0;
}

size_t ReadEnvironmentVariable(const char* name, char* buffer, size_t capacity) {
  const char* value = std::getenv(name);
  if (value == nullptr) return 0;
  size_t n = std::strlen(value);
  if (n >= capacity) return n + 1;
  std::memcpy(buffer, value, n + 1);
  return n;
}

}  // namespace velto::platform
