// The module's registry values under HKEY_LOCAL_MACHINE. On Windows this is the
// registry itself; on Linux a small file-backed store with the same key path
// and value names (see registry_posix.cpp). Statuses are Win32 codes.
#pragma once

#include <cstdint>

#include "base/seam.h"

namespace velto::platform {

inline constexpr char kVeltoWirelessKey[] = "SOFTWARE\\Velto\\Wireless";
inline constexpr uint32_t kRegSz = 1;

enum class RegAccess { kRead, kWrite };

struct RegistryKey;  // an open key; HKEY on Windows

struct RegistryApi {
  // Opens HKEY_LOCAL_MACHINE\<subkey>; it never creates it (the installer
  // does). 0 and *key set on success; 2 when the key does not exist, 5 when
  // access is refused.
  uint32_t (*open_machine_key)(const char* subkey, RegAccess access, RegistryKey** key);
  // Reads value `name`. On entry *size is the capacity of `data`; on 0 it holds
  // the byte count and *type (if given) the value's type. 2 when the value is
  // missing, 234 when it does not fit (data then undefined).
  uint32_t (*query_value)(RegistryKey* key, const char* name, uint32_t* type, uint8_t* data,
                          uint32_t* size);
  // Writes value `name` (type and bytes as given). 5 through a read-only key.
  uint32_t (*set_value)(RegistryKey* key, const char* name, uint32_t type, const uint8_t* data,
                        uint32_t size);
  // Removes value `name`. 2 when missing, 5 through a read-only key.
  uint32_t (*delete_value)(RegistryKey* key, const char* name);
  void (*close_key)(RegistryKey* key);
  // Opens HKEY_LOCAL_MACHINE\<subkey> for reading and writing, creating it
  // and its parents as needed. Used by installers and tests, not the module.
  uint32_t (*create_machine_key)(const char* subkey, RegistryKey** key);
};

extern Seam<RegistryApi> g_registry;

}  // namespace velto::platform
