// How the Linux data protection puts a new per-user key file in place. A
// seam of its own so that tests can stand in a file system without hard
// links, where the key is then written with O_EXCL instead.
#pragma once

#include "base/seam.h"

namespace velto::platform {

struct KeyLinkApi {
  // linkat(2): 0, or -1 with errno set.
  int (*link_at)(int from_dir, const char* from, int to_dir, const char* to, int flags);
};

extern Seam<KeyLinkApi> g_key_link;

}  // namespace velto::platform
