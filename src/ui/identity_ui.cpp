// The identity dialog: before an authentication, the credential dialog
// (EAP-TTLS) or the smart-card dialog with the SIM's IMSI (EAP-SIM, EAP-AKA),
// and the per-user credential record.
#include <cstdlib>
#include <cstring>

#include "frame/cdata.h"
#include "frame/exports.h"
#include "base/memory.h"
#include "base/text.h"
#include "siblings/sibling_calls.h"
#include "frame/text_convert.h"
#include "protect/custom_protect.h"
#include "sim/card_lists.h"
#include "sim/sc_handler.h"
#include "trace/trace.h"
#include "ui/dialog_profile.h"
#include "ui/identity_tokens.h"
#include "abi/udata.h"
#include "ui/ui_common.h"

namespace velto {
namespace {

constexpr int kCredentialDialog = 3;
constexpr int kFirstShow = 150;
constexpr int kShownAgainAfterWrongPin = 159;
constexpr size_t kImsiSize = 64;
constexpr int kMaxIdentityUnits = 256;

// The smart-card dialog until an IMSI is read: shown again after a wrong or
// missing PIN. False when the user cancels or no SIM can be read.
bool ReadSimIdentity(_VELTO_WLAN_PROFILE_V120* profile, udata* user) {
  // The dialog library gets copies of the lists taken under the card list
  // lock: it never reads them while a card event writes them. Later changes
  // reach it through SetScList.
  MallocPtr<VELTO_SC_LIST_V120> sc(
      static_cast<VELTO_SC_LIST_V120*>(std::malloc(sizeof(VELTO_SC_LIST_V120))));
  MallocPtr<VELTO_SIM_LIST> sim(static_cast<VELTO_SIM_LIST*>(std::malloc(sizeof(VELTO_SIM_LIST))));
  if (!sc || !sim) return false;

  int fail_code = kFirstShow;
  for (;;) {
    SnapshotCardLists(sc.get(), sim.get());
    if (siblings::CreateScDlg(profile, fail_code, 0, nullptr, sc.get(), sim.get()) == 0) {
      return false;
    }
    ReplaceIdentityTokens(profile->user_name, profile->method_kind);

    char imsi[kImsiSize] = {};
    uint32_t length = kImsiSize;
    swc_config* config = CurrentSimConfig();
    if (config == nullptr) return false;
    char reader[sizeof profile->reader_name + 1];
    char pin[sizeof profile->pin_text + 1];
    CopyTextField(reader, FieldView(profile->reader_name));
    CopyTextField(pin, FieldView(profile->pin_text));
    int32_t status =
        siblings::swc_scard_get_imsi(config, reader, pin[0] != '\0' ? pin : nullptr, imsi, &length);
    SecureWipe(pin, sizeof pin);
    if (status == 0) {
      imsi[kImsiSize - 1] = '\0';
      char identity_template[kIdentityTemplateSize + 1];
      CopyTextField(identity_template, FieldView(profile->user_name));
      ExpandIdentityTokens(imsi, identity_template, user->sim_identity);
      user->sim_identity[sizeof user->sim_identity - 1] = '\0';
      return true;
    }
    if (status != kSwcPinWrong) return false;
    fail_code = kShownAgainAfterWrongPin;
  }
}

void FillUserData(_VELTO_WLAN_PROFILE_V120* profile, const cdata& record, udata* user) {
  CopyTextField(user->user_identity, FieldView(profile->user_name));

  char password[sizeof profile->password_text + 1];
  CopyTextField(password, FieldView(profile->password_text));
  char* sealed = CryptProtectCustomForField(password, sizeof user->user_password);
  if (sealed != nullptr) {
    Trace("Encoded Password : [%s]", sealed);
    CopyTextField(user->user_password, sealed);
    user->user_flags |= kUserPasswordCustomProtected;
  } else {
    CopyTextField(user->user_password, password);
    user->user_flags &= ~kUserPasswordCustomProtected;
  }
  std::free(sealed);
  SecureWipe(password, sizeof password);

  CopyTextField(user->user_pin, FieldView(profile->pin_text));
  std::memcpy(user->sim_reader, profile->reader_name, sizeof user->sim_reader);
  user->sim_reader[sizeof user->sim_reader - 1] = '\0';

  const char* name = "EapPeerInvokeIdentityUI";
  Trace(">> %s : anonymous id: [%s]", name, record.anon_identity);
  Trace(">> %s : identity: [%s]", name, user->user_identity);
  Trace(">> %s : ca hash: [%s]", name, record.ca_hash);
  Trace(">> %s : sim imsi: [%s]", name, user->sim_identity);
  Trace(">> %s : sim reader: [%s]", name, user->sim_reader);
  Trace(">> %s : pin: [%s]", name, user->user_pin);
  Trace(">> %s : subject match: [%s]", name, record.subject_match);
}

// The identity as a new UTF-16 text of at most 256 units; null when it is
// empty or does not fit (*status 87) or memory runs out (*status 8).
LPWSTR WidenIdentity(const char* identity, DWORD* status) {
  auto* wide = static_cast<LPWSTR>(std::calloc(kMaxIdentityUnits + 1, sizeof(WCHAR)));
  if (wide == nullptr) {
    *status = kErrorNotEnoughMemory;
    return nullptr;
  }
  int length = static_cast<int>(strnlen(identity, kMaxTextScan));
  if (platform::MultiByteToWide(platform::CodePage::kUtf8, identity, length, wide,
                                kMaxIdentityUnits) == 0) {
    std::free(wide);
    *status = kErrorInvalidParameter;
    return nullptr;
  }
  Trace(">> %s: identity set to %s", "EapPeerInvokeIdentityUI", identity);
  return wide;
}

}  // namespace
}  // namespace velto

DWORD WINAPI EapPeerInvokeIdentityUI(const EAP_METHOD_TYPE* pEapType, DWORD, HWND hwndParent,
                                     DWORD dwSizeOfConnectionData, const BYTE* pConnectionData,
                                     DWORD, const BYTE*,
                                     DWORD* pdwSizeOfUserDataOut, BYTE** ppUserDataOut,
                                     LPWSTR* ppwszIdentity, EAP_ERROR** ppEapError) {
  using namespace velto;
  _VELTO_WLAN_PROFILE_V120 profile;
  InitDialogProfile(&profile);
  const ScopedWipe wipe_profile(profile);

  WipedPtr<udata> user(static_cast<udata*>(std::calloc(1, sizeof(udata))));
  if (!user) return kErrorNotEnoughMemory;
  EAP_ERROR* error = NewErrorRecord(*pEapType);
  *ppEapError = error;
  if (error == nullptr) return kErrorNotEnoughMemory;

  // The record must be given whole: a missing or short one is refused rather
  // than read past its end.
  if (pConnectionData == nullptr || dwSizeOfConnectionData < kCdataSize) {
    return kErrorInvalidParameter;
  }
  cdata record;
  std::memcpy(&record, pConnectionData, sizeof record);
  const ScopedWipe wipe_record(record);

  const uint32_t method_kind = MethodKindOf(pEapType->eapType.type);
  profile.method_kind = method_kind;
  profile.inner_method = 4;
  profile.subject_kind = kProfileSubjectDomain;
  profile.preset_200 = 1;
  profile.new_config_216 = 1;
  profile.new_config_512 = 1;
  profile.new_config_2420 = 1;
  Trace("%s : The roaming identity as passed from the cdata->anon_identity is [%s]",
        "EapPeerInvokeIdentityUI", record.anon_identity);
  CopyTextField(profile.roaming_identity, record.anon_identity);

  const char* identity = nullptr;
  char outer_identity[sizeof record.anon_identity + 1];
  FieldText(record.anon_identity, outer_identity);
  if (method_kind == kProfileMethodTtls) {
    if (siblings::Create1XDlg(kCredentialDialog, &profile, 0, 0, hwndParent, nullptr) == 0) {
      error->dwWinError = kErrorCancelled;
      return kErrorCancelled;
    }
    identity = outer_identity;
  } else if (method_kind == kProfileMethodSim || method_kind == kProfileMethodAka) {
    CardWatchGuard watch;  // no other export clears or reads the lists meanwhile
    ClearCardLists();
    profile.sc_mode = kProfileScModeSmartCard;
    CopyTextField(profile.user_name, record.identity);
    ScSimCardInit();
    bool read = ReadSimIdentity(&profile, user.get());
    ScSimCardDeinit();
    if (!read) {
      error->dwWinError = kErrorCancelled;
      return kErrorCancelled;
    }
    identity = user->sim_identity;
  }

  if (identity != nullptr) FillUserData(&profile, record, user.get());

  LPWSTR wide = nullptr;
  if (identity != nullptr) {
    DWORD status = kNoError;
    wide = WidenIdentity(identity, &status);
    if (wide == nullptr) return status;
  }
  *ppwszIdentity = wide;
  *pdwSizeOfUserDataOut = kUdataSize;
  *ppUserDataOut = reinterpret_cast<BYTE*>(user.release());
  return kNoError;
}
