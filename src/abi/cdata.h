// The method configuration record: the 1520-byte block EapHost stores for a
// profile and hands back byte for byte. Its layout is a storage format.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velto {

// Inner-method codes (phase2_type).
inline constexpr uint32_t kPhase2EapGtc = 1;
inline constexpr uint32_t kPhase2EapMschapV2 = 2;
inline constexpr uint32_t kPhase2EapMd5 = 4;
inline constexpr uint32_t kPhase2Gtc = 8;
inline constexpr uint32_t kPhase2MschapV2 = 16;
inline constexpr uint32_t kPhase2Mschap = 32;
inline constexpr uint32_t kPhase2Chap = 64;
inline constexpr uint32_t kPhase2EapTls = 128;
inline constexpr uint32_t kPhase2Pap = 256;
inline constexpr uint32_t kPhase2Unknown = 0xFFFFFFFFu;

// Credential sources (cred_source).
inline constexpr uint32_t kCredSaved = 0;
inline constexpr uint32_t kCredPrompt = 1;
inline constexpr uint32_t kCredSso = 2;
inline constexpr uint32_t kCredSavedUndecryptable = 0xFFFFFFFFu;

// Password protection state (flags).
inline constexpr uint32_t kFlagPasswordCustomProtected = 0x01;
inline constexpr uint32_t kFlagPasswordProfileEncrypted = 0x10;

#pragma pack(push, 1)
struct cdata {
  uint32_t eap_type;
  uint32_t phase2_type;
  char anon_identity[128];
  char ca_hash[64];
  uint32_t cred_source;
  char alternative_identity[256];
  char subject_match[128];
  char identity[128];
  char password[512];
  uint32_t flags;
  char pin[32];
  char sim_imsi[256];
};
#pragma pack(pop)

static_assert(offsetof(cdata, eap_type) == 0);
static_assert(offsetof(cdata, phase2_type) == 4);
static_assert(offsetof(cdata, anon_identity) == 8);
static_assert(offsetof(cdata, ca_hash) == 136);
static_assert(offsetof(cdata, cred_source) == 200);
static_assert(offsetof(cdata, alternative_identity) == 204);
static_assert(offsetof(cdata, subject_match) == 460);
static_assert(offsetof(cdata, identity) == 588);
static_assert(offsetof(cdata, password) == 716);
static_assert(offsetof(cdata, flags) == 1228);
static_assert(offsetof(cdata, pin) == 1232);
static_assert(offsetof(cdata, sim_imsi) == 1264);
static_assert(sizeof(cdata) == 1520);

inline constexpr uint32_t kCdataSize = sizeof(cdata);

}  // namespace velto
