// The string table of module_strings.rc, compiled in.
#include <cstring>
#include <iterator>

#include "ui/module_strings.h"

namespace velto {
namespace {

struct ModuleString {
  uint32_t id;
  const char* text;
};

constexpr ModuleString kModuleStrings[] = {
    {kIdsUsername, "Username"},
    {kIdsPassword, "Password"},
    {kIdsPin, "PIN"},
};

}  // namespace

bool LoadModuleString(uint32_t id, char* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0) return false;
  buffer[0] = '\0';
  for (const ModuleString& entry : kModuleStrings) {
    if (entry.id != id) continue;
    size_t n = std::strlen(entry.text);
    if (n >= capacity) n = capacity - 1;
    std::memcpy(buffer, entry.text, n);
    buffer[n] = '\0';
    return true;
  }
  return false;
}

}  // namespace velto
