// The per-user credential record: what the identity exports hand to EapHost
// and the methods' authentication side reads. A storage format.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velto {

#pragma pack(push, 1)
struct udata {
  char user_identity[128];
  char user_password[512];  // the stored sealed form when user_flags has 0x1
  uint32_t user_flags;
  char user_pin[32];
  char sim_identity[128];
  char sim_reader[128];  // its last byte is always 0
};
#pragma pack(pop)

static_assert(offsetof(udata, user_identity) == 0);
static_assert(offsetof(udata, user_password) == 128);
static_assert(offsetof(udata, user_flags) == 640);
static_assert(offsetof(udata, user_pin) == 644);
static_assert(offsetof(udata, sim_identity) == 676);
static_assert(offsetof(udata, sim_reader) == 804);
static_assert(sizeof(udata) == 932);

inline constexpr uint32_t kUdataSize = sizeof(udata);
inline constexpr uint32_t kUserPasswordCustomProtected = 0x1;

}  // namespace velto
