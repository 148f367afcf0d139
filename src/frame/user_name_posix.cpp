// The effective user's login name from the password database.
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/memory.h"
#include "frame/user_name.h"

namespace velto::platform {
namespace {

bool CurrentUserNamePosix(char* buffer, uint32_t* size) {
  if (size == nullptr) return false;

  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  size_t scratch_size = hint > 0 ? static_cast<size_t>(hint) : 1024;
  MallocPtr<char> scratch;
  struct passwd entry;
  struct passwd* found = nullptr;
  for (;;) {
    scratch.reset(static_cast<char*>(std::malloc(scratch_size)));
    if (!scratch) return false;
    int rc = getpwuid_r(geteuid(), &entry, scratch.get(), scratch_size, &found);
    if (rc != ERANGE) {
      if (rc != 0 || found == nullptr || found->pw_name == nullptr) return false;
      break;
    }
    if (scratch_size > (1u << 20)) return false;  // a sane entry never needs this much
    scratch_size *= 2;
  }

  size_t needed = std::strlen(found->pw_name) + 1;
  if (needed > UINT32_MAX) return false;
  if (buffer == nullptr || needed > *size) {
    // As GetUserNameA: the caller learns the size it needs.
    *size = static_cast<uint32_t>(needed);
    return false;
  }
  std::memcpy(buffer, found->pw_name, needed);
  *size = static_cast<uint32_t>(needed);
  return true;
}

const UserNameApi kPosixUserName = {CurrentUserNamePosix};

}  // namespace

Seam<UserNameApi> g_user_name(&kPosixUserName);

}  // namespace velto::platform
