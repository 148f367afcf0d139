#include "frame/startup.h"

#include <cstdint>
#include <cstring>

#include "frame/library.h"
#include "frame/registry.h"

namespace velto {

bool BuildCfgBridgePath(const char* folder, char (&path)[kMaxPath]) {
  path[0] = '\0';
  const char* parts[] = {folder, platform::kCfgBridgeSubfolder, platform::kCfgBridgeFileName};
  size_t used = 0;
  for (const char* part : parts) {
    size_t n = std::strlen(part);
    if (n >= kMaxPath - used) {
      path[0] = '\0';
      return false;
    }
    std::memcpy(path + used, part, n);
    used += n;
  }
  path[used] = '\0';
  return true;
}

void ReadSiblingDirectory(char (&directory)[kMaxPath]) {
  std::memset(directory, 0, sizeof directory);
  const platform::RegistryApi& registry = *platform::g_registry;
  platform::RegistryKey* key = nullptr;
  if (registry.open_machine_key(platform::kVeltoWirelessKey, platform::RegAccess::kRead, &key) != 0) {
    return;
  }
  uint32_t size = kMaxPath - 1;  // the zeroed last byte keeps the text terminated
  uint32_t status = registry.query_value(key, kTamrixBinDirValue, nullptr,
                                         reinterpret_cast<uint8_t*>(directory), &size);
  registry.close_key(key);
  if (status != 0) std::memset(directory, 0, sizeof directory);
}

void ModuleStartup() {
  char folder[kMaxPath] = {};
  if (platform::CommonFilesFolder(folder, sizeof folder)) {
    char path[kMaxPath];
    if (BuildCfgBridgePath(folder, path)) platform::LoadLibraryAlteredPath(path);
  }

  char directory[kMaxPath];
  ReadSiblingDirectory(directory);
  // The empty text is passed too: it takes the current directory out of the
  // library search order.
  platform::SetLibraryDirectory(directory);
}

}  // namespace velto
