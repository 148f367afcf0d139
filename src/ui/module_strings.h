// The module's own string resources: 8-bit text in the ANSI code page, US
// English. On Windows the STRINGTABLE of module_strings.rc in the image that
// holds this code; on Linux the same table compiled in. The resource compiler
// reads this header for the ids alone.
#pragma once

#define VELTO_IDS_USERNAME 101
#define VELTO_IDS_PASSWORD 102
#define VELTO_IDS_PIN 103

#ifndef RC_INVOKED

#include <cstddef>
#include <cstdint>

namespace velto {

inline constexpr uint32_t kIdsUsername = VELTO_IDS_USERNAME;
inline constexpr uint32_t kIdsPassword = VELTO_IDS_PASSWORD;
inline constexpr uint32_t kIdsPin = VELTO_IDS_PIN;

// Copies string `id` into `buffer`, cut to capacity - 1 bytes and always
// terminated. False, with the empty text in a usable buffer, when the id is
// unknown or there is no room at all.
bool LoadModuleString(uint32_t id, char* buffer, size_t capacity);

}  // namespace velto

#endif  // RC_INVOKED
