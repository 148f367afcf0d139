// The configuration dialog: the stored record loaded into a dialog profile,
// dialog 12 of the dialog library, and the confirmed profile stored as a new
// record.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/cdata.h"
#include "frame/exports.h"
#include "base/memory.h"
#include "base/text.h"
#include "siblings/sibling_calls.h"
#include "protect/custom_protect.h"
#include "protect/profile_protect.h"
#include "trace/trace.h"
#include "ui/config_ui.h"
#include "ui/dialog_profile.h"
#include "ui/ui_common.h"

namespace velto {
namespace {

constexpr int kConfigurationDialog = 12;
constexpr size_t kMaxDomain = 18;
constexpr size_t kMaxUserName = 58;

struct InnerMethod {
  uint32_t phase2_type;
  uint32_t inner_method;
};

// Loading maps every code to a dialog entry; storing maps each entry back to
// its first code here, so EAP-MSCHAPV2 and EAP-GTC come back as MSCHAPV2 and
// GTC.
constexpr InnerMethod kInnerMethods[] = {
    {kPhase2Chap, 1},     {kPhase2EapMd5, 2}, {kPhase2Mschap, 3}, {kPhase2MschapV2, 4},
    {kPhase2EapMschapV2, 4}, {kPhase2Pap, 5}, {kPhase2Gtc, 6},    {kPhase2EapGtc, 6},
    {kPhase2EapTls, 7},
};

void LoadIdentity(const cdata& record, _VELTO_WLAN_PROFILE_V120* profile) {
  // "DOMAIN\user": the domain and the user name have fields of their own;
  // parts too long for them are cut.
  char identity[sizeof record.identity + 1];
  FieldText(record.identity, identity);
  const char* slash = std::strchr(identity, '\\');
  const char* user = identity;
  if (slash != nullptr) {
    size_t domain_length = static_cast<size_t>(slash - identity);
    if (domain_length > kMaxDomain) domain_length = kMaxDomain;
    std::memcpy(profile->domain, identity, domain_length);
    user = slash + 1;
  }
  size_t user_length = strnlen(user, kMaxUserName);
  std::memcpy(profile->user_name, user, user_length);
}

void LoadSubjectMatch(const cdata& record, _VELTO_WLAN_PROFILE_V120* profile) {
  profile->subject_kind = kProfileSubjectServer;
  if (record.subject_match[0] == '\0') return;
  char text[sizeof record.subject_match + 1];
  FieldText(record.subject_match, text);
  const char* server = std::strstr(text, "/s");
  const char* domain = std::strstr(text, "/d");
  if (server != nullptr && server[2] != '\0') {
    CopyTextField(profile->subject_text, server + 2);
  } else if (domain != nullptr && domain[2] != '\0') {
    CopyTextField(profile->subject_text, domain + 2);
    profile->subject_kind = kProfileSubjectDomain;
  } else {
    CopyTextField(profile->subject_text, text);
    if (LooksLikeDomainName(profile->subject_text)) profile->subject_kind = kProfileSubjectDomain;
  }
}

void LoadServerValidation(const cdata& record, _VELTO_WLAN_PROFILE_V120* profile) {
  char ca_hash[sizeof record.ca_hash + 1];
  FieldText(record.ca_hash, ca_hash);
  const char* hash = std::strstr(ca_hash, "hash://");
  if (hash != nullptr) {
    const char* digits = hash + 7;
    size_t length = std::strlen(digits);
    for (size_t i = 0; i + 1 < length && i / 2 < sizeof profile->cert_hash; i += 2) {
      int high = HexValue(digits[i]);
      int low = HexValue(digits[i + 1]);
      if (high < 0 || low < 0) break;
      profile->cert_hash[i / 2] = static_cast<uint8_t>(high << 4 | low);
    }
    profile->cert_hash_len = static_cast<uint32_t>(length / 2);
    profile->option_bits &= ~kProfileNoCertHash;
  } else if (record.ca_hash[0] != '\0') {
    profile->option_bits &= ~kProfileNoCertHash;
  } else {
    profile->option_bits |= kProfileNoCertHash;
  }
}

// The dialog shows the stored password in plain; the record keeps it sealed,
// as it came, so that a cancelled dialog or a password left alone never
// hands the plain text back to the host (the authentication side opens the
// sealed form).
void LoadPassword(const cdata& record, _VELTO_WLAN_PROFILE_V120* profile) {
  char text[sizeof record.password + 1];
  FieldText(record.password, text);
  char* plain = nullptr;
  if (record.flags & kFlagPasswordCustomProtected) plain = CryptUnprotectCustom(text);
  // One that does not open is shown as it is stored.
  CopyTextField(profile->password_text, plain != nullptr ? plain : text);
  WipeAndFreeText(plain);
  SecureWipe(text, sizeof text);
}

void LoadRecord(const cdata* record, uint32_t method_kind, _VELTO_WLAN_PROFILE_V120* profile) {
  profile->inner_method = 0;
  for (const InnerMethod& m : kInnerMethods) {
    if (m.phase2_type == record->phase2_type) {
      profile->inner_method = m.inner_method;
      break;
    }
  }
  profile->cred_mode = record->cred_source;

  if (method_kind == kProfileMethodTtls) {
    LoadIdentity(*record, profile);
    LoadSubjectMatch(*record, profile);
    LoadPassword(*record, profile);
    LoadServerValidation(*record, profile);
  } else {
    CopyTextField(profile->user_name, record->identity);
  }
  CopyTextField(profile->roaming_identity, record->anon_identity);
}

void StoreTtls(_VELTO_WLAN_PROFILE_V120* profile, int password_update, cdata* record) {
  CopyTextField(record->anon_identity, FieldView(profile->roaming_identity));

  char user[sizeof profile->user_name + 1];
  char domain[sizeof profile->domain + 1];
  CopyTextField(user, FieldView(profile->user_name));
  CopyTextField(domain, FieldView(profile->domain));
  char joined[1024] = {};
  if (domain[0] != '\0') {
    std::snprintf(joined, sizeof joined, "%s\\%s", domain, user);
  } else {
    std::snprintf(joined, sizeof joined, "%s", user);
  }
  CopyTextField(record->identity, joined);

  std::memset(record->ca_hash, 0, sizeof record->ca_hash);
  if ((profile->option_bits & kProfileNoCertHash) == 0) {
    if (profile->cert_hash_len != 0) {
      const uint8_t* h = profile->cert_hash;
      std::snprintf(record->ca_hash, sizeof record->ca_hash,
                    "hash://%.4x%.4x%.4x%.4x%.4x%.4x%.4x%.4x%.4x%.4x", h[0] << 8 | h[1],
                    h[2] << 8 | h[3], h[4] << 8 | h[5], h[6] << 8 | h[7], h[8] << 8 | h[9],
                    h[10] << 8 | h[11], h[12] << 8 | h[13], h[14] << 8 | h[15],
                    h[16] << 8 | h[17], h[18] << 8 | h[19]);
    } else {
      CopyTextField(record->ca_hash, "any");
    }
  }

  char subject[sizeof profile->subject_text + 1];
  CopyTextField(subject, FieldView(profile->subject_text));
  std::memset(record->subject_match, 0, sizeof record->subject_match);
  if (subject[0] != '\0') {
    std::snprintf(record->subject_match, sizeof record->subject_match, "%s%s",
                  profile->subject_kind == kProfileSubjectDomain ? "/d" : "/s", subject);
  }

  if (password_update != 0) {
    char password[sizeof profile->password_text + 1];
    CopyTextField(password, FieldView(profile->password_text));
    SecureWipe(record->password, sizeof record->password);
    char* sealed = EncryptProfileIdentityData(password);
    if (sealed != nullptr) {
      CopyTextField(record->password, sealed);
      record->flags |= kFlagPasswordProfileEncrypted;
      std::free(sealed);
    } else {
      CopyTextField(record->password, password);
      record->flags &= ~kFlagPasswordProfileEncrypted;
    }
    // The field no longer holds the stored sealed form, whatever it held.
    record->flags &= ~kFlagPasswordCustomProtected;
    SecureWipe(password, sizeof password);
  }
  SecureWipe(profile->password_text, sizeof profile->password_text);
}

void StoreProfile(_VELTO_WLAN_PROFILE_V120* profile, uint32_t method_kind, int password_update,
                  uint8_t eap_type, cdata* record) {
  record->phase2_type = 0;
  for (const InnerMethod& m : kInnerMethods) {
    if (m.inner_method == profile->inner_method) {
      record->phase2_type = m.phase2_type;
      break;
    }
  }
  if (method_kind == kProfileMethodTtls) {
    StoreTtls(profile, password_update, record);
  } else if (method_kind == kProfileMethodSim || method_kind == kProfileMethodAka) {
    CopyTextField(record->identity, FieldView(profile->user_name));
  }
  record->eap_type = eap_type;
  record->cred_source = profile->cred_mode;

  Trace("anonymous id: [%s]", record->anon_identity);
  Trace("identity: [%s]", record->identity);
  Trace("password: [%s]", record->password);
  Trace("ca hash: [%s]", record->ca_hash);
  Trace("sim imsi: [%s]", record->sim_imsi);
  Trace("pin: [%s]", record->pin);
}

}  // namespace

bool LooksLikeDomainName(const char* text) {
  if (text == nullptr || text[0] == '\0') return false;
  size_t n = std::strlen(text);
  if (text[0] == '.' || text[n - 1] == '.') return false;
  if (std::strstr(text, "..") != nullptr) return false;
  if (std::strchr(text, '.') == nullptr) return false;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!std::isalnum(c) && c != '-' && c != '.') return false;
  }
  return true;
}

}  // namespace velto

DWORD WINAPI EapPeerInvokeConfigUI(const EAP_METHOD_TYPE* pEapType, HWND hwndParent, DWORD,
                                   DWORD dwSizeOfConnectionDataIn, const BYTE* pConnectionDataIn,
                                   DWORD* pdwSizeOfConnectionDataOut, BYTE** ppConnectionDataOut,
                                   EAP_ERROR** ppEapError) {
  using namespace velto;
  int password_update = 1;
  _VELTO_WLAN_PROFILE_V120 profile;
  InitDialogProfile(&profile);

  MallocPtr<cdata> record(AllocRecord());
  if (!record) return kErrorNotEnoughMemory;
  EAP_ERROR* error = NewErrorRecord(*pEapType);
  *ppEapError = error;
  if (error == nullptr) return kErrorNotEnoughMemory;

  const uint8_t eap_type = pEapType->eapType.type;
  const uint32_t method_kind = MethodKindOf(eap_type);
  profile.method_kind = method_kind;
  if (pConnectionDataIn != nullptr && dwSizeOfConnectionDataIn == kCdataSize) {
    std::memcpy(record.get(), pConnectionDataIn, kCdataSize);
    LoadRecord(record.get(), method_kind, &profile);
  } else {
    profile.new_config_216 = 1;
    profile.new_config_512 = 1;
    profile.new_config_2420 = 1;
    profile.subject_kind = kProfileSubjectDomain;
    profile.inner_method = 4;
  }

  if (siblings::Create1XDlg(kConfigurationDialog, &profile, 0, 0, hwndParent, &password_update) ==
      0) {
    record->eap_type = eap_type;
    error->dwWinError = kErrorCancelled;
  } else {
    StoreProfile(&profile, method_kind, password_update, eap_type, record.get());
  }
  SecureWipe(&profile, sizeof profile);

  *pdwSizeOfConnectionDataOut = kCdataSize;
  *ppConnectionDataOut = reinterpret_cast<BYTE*>(record.release());
  return kNoError;
}
