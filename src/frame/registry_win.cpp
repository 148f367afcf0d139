#include <windows.h>

#include "frame/registry.h"

namespace velto::platform {
namespace {

HKEY AsHkey(RegistryKey* key) { return reinterpret_cast<HKEY>(key); }

uint32_t OpenMachineKey(const char* subkey, RegAccess access, RegistryKey** key) {
  HKEY hkey = nullptr;
  LONG status = access == RegAccess::kWrite
                    ? RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_WRITE, &hkey)
                    : RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, &hkey);
  if (status == ERROR_SUCCESS) *key = reinterpret_cast<RegistryKey*>(hkey);
  return static_cast<uint32_t>(status);
}

uint32_t QueryValue(RegistryKey* key, const char* name, uint32_t* type, uint8_t* data,
                    uint32_t* size) {
  DWORD value_type = 0;
  DWORD value_size = *size;
  LONG status = RegQueryValueExA(AsHkey(key), name, nullptr, &value_type, data, &value_size);
  *size = value_size;
  if (type != nullptr) *type = value_type;
  return static_cast<uint32_t>(status);
}

uint32_t SetValue(RegistryKey* key, const char* name, uint32_t type, const uint8_t* data,
                  uint32_t size) {
  return static_cast<uint32_t>(RegSetKeyValueA(AsHkey(key), nullptr, name, type, data, size));
}

uint32_t DeleteValue(RegistryKey* key, const char* name) {
  return static_cast<uint32_t>(RegDeleteValueA(AsHkey(key), name));
}

void CloseKey(RegistryKey* key) { RegCloseKey(AsHkey(key)); }

uint32_t CreateMachineKey(const char* subkey, RegistryKey** key) {
  HKEY hkey = nullptr;
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_READ | KEY_WRITE, nullptr, &hkey, nullptr);
  if (status == ERROR_SUCCESS) *key = reinterpret_cast<RegistryKey*>(hkey);
  return static_cast<uint32_t>(status);
}

const RegistryApi kWindowsRegistry = {OpenMachineKey, QueryValue,  SetValue,
                                      DeleteValue,    CloseKey,    CreateMachineKey};

}  // namespace

Seam<RegistryApi> g_registry(&kWindowsRegistry);

}  // namespace velto::platform
