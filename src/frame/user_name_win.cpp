#include <windows.h>

#include "frame/user_name.h"

namespace velto::platform {
namespace {

bool CurrentUserNameImpl(char* buffer, uint32_t* size) {
  DWORD n = *size;
  if (!GetUserNameA(buffer, &n)) return false;
  *size = n;
  return true;
}

const UserNameApi kWindowsUserName = {CurrentUserNameImpl};

}  // namespace

Seam<UserNameApi> g_user_name(&kWindowsUserName);

}  // namespace velto::platform
