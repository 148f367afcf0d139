// The dialog profile: what the module and the dialog library exchange for
// every dialog. A binary format shared with authdialogs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velto {

// Dialog-profile method kinds.
inline constexpr uint32_t kProfileMethodTtls = 4;
inline constexpr uint32_t kProfileMethodSim = 6;
inline constexpr uint32_t kProfileMethodAka = 8;

inline constexpr uint32_t kProfileScModeSmartCard = 4;
inline constexpr uint32_t kProfileSubjectServer = 0;  // "/s"
inline constexpr uint32_t kProfileSubjectDomain = 1;  // "/d"
inline constexpr uint32_t kProfileNoCertHash = 0x20;  // option_bits

}  // namespace velto

#pragma pack(push, 1)
struct _VELTO_WLAN_PROFILE_V120 {
  uint8_t reserved_0[144];
  uint32_t preset_144;
  uint8_t reserved_148[4];
  uint32_t preset_152;
  uint8_t reserved_156[4];
  uint32_t preset_160;
  uint8_t reserved_164[36];
  uint32_t preset_200;
  uint32_t cred_mode;  // the record's cred_source
  uint8_t reserved_208[4];
  uint32_t sc_mode;         // 4 for the smart-card dialog
  uint32_t new_config_216;  // 1: new configuration, identity dialogs
  uint32_t method_kind;     // 4 EAP-TTLS, 6 EAP-SIM, 8 EAP-AKA, 0 other
  char user_name[60];       // TTLS user name; SIM/AKA identity template
  char password_text[100];  // plain
  uint8_t reserved_384[64];
  uint8_t cert_hash[60];  // the first 20 are stored back
  uint32_t cert_hash_len;  // bytes; 0 none
  uint32_t new_config_512;
  char subject_text[64];
  uint32_t subject_kind;  // 0 "/s", 1 "/d"
  uint32_t inner_method;  // 1 to 7
  char roaming_identity[64];
  uint8_t reserved_652[604];
  char pin_text[32];  // out
  uint8_t reserved_1288[320];
  char reader_name[128];  // out
  uint8_t reserved_1736[684];
  uint32_t new_config_2420;
  uint8_t reserved_2424[48];
  uint32_t preset_2472;
  uint8_t reserved_2476[164];
  uint32_t option_bits;  // 0x20: no server certificate hash
  uint8_t reserved_2644[200];
  uint32_t preset_2844;
  uint8_t reserved_2848[372];
  uint32_t preset_3220;
  uint8_t reserved_3224[54];
  char domain[19];
  uint8_t reserved_3297[83];
  uint32_t preset_3380;
  uint8_t reserved_3384[276];
};
#pragma pack(pop)

static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, preset_144) == 144);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, preset_152) == 152);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, preset_160) == 160);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, preset_200) == 200);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, cred_mode) == 204);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, sc_mode) == 212);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, new_config_216) == 216);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, method_kind) == 220);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, user_name) == 224);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, password_text) == 284);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, cert_hash) == 448);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, cert_hash_len) == 508);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, new_config_512) == 512);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, subject_text) == 516);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, subject_kind) == 580);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, inner_method) == 584);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, roaming_identity) == 588);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, pin_text) == 1256);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, reader_name) == 1608);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, new_config_2420) == 2420);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, preset_2472) == 2472);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, option_bits) == 2640);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, preset_2844) == 2844);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, preset_3220) == 3220);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, domain) == 3278);
static_assert(offsetof(_VELTO_WLAN_PROFILE_V120, preset_3380) == 3380);
static_assert(sizeof(_VELTO_WLAN_PROFILE_V120) == 3660);
