// The name of the account the calling thread runs as.
#pragma once

#include <cstdint>

#include "base/seam.h"

namespace velto::platform {

struct UserNameApi {
  // GetUserNameA's contract: on entry *size is the buffer's capacity in bytes;
  // on success the NUL-terminated name is in `buffer`, *size holds its length
  // with the terminator and the result is true. A buffer too small for the
  // name, or a platform failure, gives false.
  bool (*current_user_name)(char* buffer, uint32_t* size);
};

extern Seam<UserNameApi> g_user_name;

inline bool CurrentUserName(char* buffer, uint32_t* size) {
  return g_user_name->current_user_name(buffer, size);
}

}  // namespace velto::platform
