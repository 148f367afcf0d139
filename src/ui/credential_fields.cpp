// The credential input fields: the fields EapHost shows in place of our own
// dialogs (EAP-TTLS: user name and password; EAP-SIM and EAP-AKA: the first
// SIM's PIN, or a user name and password when it asks for no PIN), and the
// per-user record built back from what the user typed into them.
#include <cstdlib>
#include <cstring>

#include "frame/cdata.h"
#include "frame/exports.h"
#include "base/memory.h"
#include "base/text.h"
#include "frame/registry.h"
#include "frame/text_convert.h"
#include "protect/custom_protect.h"
#include "sim/card_lists.h"
#include "sim/sc_handler.h"
#include "trace/trace.h"
#include "ui/module_strings.h"
#include "abi/udata.h"

VELTO_DECLARE_TRACE_SETTINGS()

namespace velto {
namespace {

using platform::CodePage;
using platform::RegAccess;
using platform::RegistryApi;
using platform::RegistryKey;

// Where the fields export leaves the SIM's reader for the record export.
constexpr char kSsoSimReaderValue[] = "SsoSimReader";
constexpr uint32_t kReaderValueRoom = 260;
constexpr uint32_t kErrorUnsupportedType = 1630;

constexpr DWORD kFieldArrayVersion = 0;
constexpr DWORD kMaxUserNameLength = 60;
constexpr DWORD kMaxPasswordLength = 100;
constexpr DWORD kMaxPinLength = 8;

// Room for a label as 8-bit text; a field label that does not fit matches
// none of ours.
constexpr int kLabelRoom = 64;

struct Labels {
  char username[kLabelRoom];
  char password[kLabelRoom];
  char pin[kLabelRoom];
};

// A label that cannot be loaded stays the empty text, which matches no field.
void LoadLabels(Labels* labels) {
  LoadModuleString(kIdsUsername, labels->username, sizeof labels->username);
  LoadModuleString(kIdsPassword, labels->password, sizeof labels->password);
  LoadModuleString(kIdsPin, labels->pin, sizeof labels->pin);
}

bool IsSimMethod(uint8_t eap_type) { return eap_type == kEapTypeSim || eap_type == kEapTypeAka; }

unsigned long TraceCode(uint32_t status) { return status; }

// ------------------------------------------------------------ the fields

struct FieldShape {
  const char* label;
  EAP_CONFIG_INPUT_FIELD_TYPE type;
  DWORD flags;
  DWORD max_length;
};

// A new malloc'd UTF-16 copy of an 8-bit label, or null when memory runs out.
WCHAR* WideLabel(const char* text) {
  int units = platform::MultiByteToWide(CodePage::kAnsi, text, -1, nullptr, 0);
  if (units <= 0) return nullptr;
  auto* wide = static_cast<WCHAR*>(std::malloc(static_cast<size_t>(units) * sizeof(WCHAR)));
  if (wide != nullptr && platform::MultiByteToWide(CodePage::kAnsi, text, -1, wide, units) <= 0) {
    std::free(wide);
    wide = nullptr;
  }
  return wide;
}

void FreeFields(EAP_CONFIG_INPUT_FIELD_DATA* fields, DWORD count) {
  for (DWORD i = 0; i < count; ++i) std::free(fields[i].pwszLabel);
  std::free(fields);
}

// Builds the fields and hands them out; the host's array is written only once
// everything is in place.
DWORD HandOutFields(const FieldShape* shapes, DWORD count, EapConfigInputFieldArray* out) {
  auto* fields = static_cast<EAP_CONFIG_INPUT_FIELD_DATA*>(
      std::calloc(count, sizeof(EAP_CONFIG_INPUT_FIELD_DATA)));
  if (fields == nullptr) return kErrorNotEnoughMemory;
  for (DWORD i = 0; i < count; ++i) {
    EAP_CONFIG_INPUT_FIELD_DATA& field = fields[i];
    field.dwSize = sizeof(EAP_CONFIG_INPUT_FIELD_DATA);
    field.Type = shapes[i].type;
    field.dwFlagProps = shapes[i].flags;
    field.dwMaxDataLength = shapes[i].max_length;
    field.pwszLabel = WideLabel(shapes[i].label);
    if (field.pwszLabel == nullptr) {
      FreeFields(fields, count);
      return kErrorNotEnoughMemory;
    }
  }
  out->dwVersion = kFieldArrayVersion;
  out->dwNumberOfFields = count;
  out->pFields = fields;
  return kNoError;
}

DWORD TtlsFields(const cdata& record, const Labels& labels, EapConfigInputFieldArray* out) {
  FieldShape shapes[] = {
      {labels.username, EapConfigInputNetworkUsername, EAP_CONFIG_INPUT_FIELD_PROPS_DEFAULT,
       kMaxUserNameLength},
      {labels.password, EapConfigInputNetworkPassword, EAP_CONFIG_INPUT_FIELD_PROPS_NON_DISPLAYABLE,
       kMaxPasswordLength},
  };
  // Saved and single-sign-on credentials are the user's own logon, not a
  // network account of their own.
  if (record.cred_source == kCredSaved || record.cred_source == kCredSso) {
    shapes[0].type = EapConfigInputUsername;
    shapes[1].type = EapConfigInputPassword;
  }
  return HandOutFields(shapes, 2, out);
}

// Leaves the SIM's reader for the record export, which cannot see the card
// watch's lists. Only the characters are stored: the reading side terminates
// what it reads.
DWORD RememberSimReader(const char* function, const char* reader) {
  const RegistryApi& registry = *platform::g_registry;
  RegistryKey* key = nullptr;
  uint32_t status =
      registry.open_machine_key(platform::kVeltoWirelessKey, RegAccess::kWrite, &key);
  if (status != kNoError) {
    Trace(">> %s, RegOpenKeyEx error 0x%08lX", function, TraceCode(status));
    return kErrorInternalError;
  }
  status = registry.set_value(key, kSsoSimReaderValue, platform::kRegSz,
                              reinterpret_cast<const uint8_t*>(reader),
                              static_cast<uint32_t>(std::strlen(reader)));
  registry.close_key(key);
  if (status != kNoError) {
    Trace(">> %s, RegSetKeyValue error 0x%08lX", function, TraceCode(status));
    return kErrorInternalError;
  }
  return kNoError;
}

DWORD SimFields(const char* function, const Labels& labels, EapConfigInputFieldArray* out) {
  MallocPtr<VELTO_SIM_LIST> sims(static_cast<VELTO_SIM_LIST*>(std::malloc(sizeof(VELTO_SIM_LIST))));
  {
    // A short card watch: starting it reports the cards already present.
    // The guard keeps another export's watch off the lists until they are read.
    CardWatchGuard watch;
    ClearCardLists();
    ScSimCardInit();
    ScSimCardDeinit();
    if (sims) SnapshotCardLists(nullptr, sims.get());
  }
  if (!sims) return kErrorNotEnoughMemory;
  if (sims->count <= 0) return kNoError;

  const VELTO_SIM_LIST_ENTRY& first = sims->entries[0];
  char reader[sizeof first.reader_name];
  CopyTextField(reader, first.reader_name);
  bool pin_enabled = first.pin_enabled != 0;
  Trace(">> %s, Using SIM Reader \"%s\", Pin is %s", function, reader,
        pin_enabled ? "Enabled" : "Disabled");

  DWORD status = RememberSimReader(function, reader);
  if (status != kNoError) return status;

  if (pin_enabled) {
    const FieldShape pin[] = {
        {labels.pin, EapConfigInputPin, EAP_CONFIG_INPUT_FIELD_PROPS_NON_DISPLAYABLE,
         kMaxPinLength},
    };
    return HandOutFields(pin, 1, out);
  }
  const FieldShape account[] = {
      {labels.username, EapConfigInputUsername, EAP_CONFIG_INPUT_FIELD_PROPS_DEFAULT,
       kMaxUserNameLength},
      {labels.password, EapConfigInputPassword, EAP_CONFIG_INPUT_FIELD_PROPS_NON_DISPLAYABLE,
       kMaxPasswordLength},
  };
  return HandOutFields(account, 2, out);
}

// ------------------------------------------------------------ the record

// Calls `visit` for each field in order until it returns false.
template <typename Visit>
void VisitFields(const EapConfigInputFieldArray* array, Visit&& visit) {
  if (array == nullptr || array->pFields == nullptr) return;
  for (DWORD i = 0; i < array->dwNumberOfFields; ++i) {
    if (!visit(array->pFields[i])) return;
  }
}

// Whether the field's label, as 8-bit text, is `label` byte for byte.
bool HasLabel(const EAP_CONFIG_INPUT_FIELD_DATA& field, const char* label) {
  if (field.pwszLabel == nullptr || label[0] == '\0') return false;
  char text[kLabelRoom];
  if (platform::WideToMultiByte(CodePage::kAnsi, field.pwszLabel, -1, text, kLabelRoom) <= 0) {
    return false;
  }
  return std::strcmp(text, label) == 0;
}

// The field's text as UTF-8 in a fixed field of `size` bytes, terminator
// included. On failure the field is left all zero: a converter may have
// filled it partly, unterminated.
bool TakeFieldText(const EAP_CONFIG_INPUT_FIELD_DATA& field, char* to, size_t size) {
  SecureWipe(to, size);
  if (field.pwszData != nullptr &&
      platform::WideToMultiByte(CodePage::kUtf8, field.pwszData, -1, to,
                                static_cast<int>(size)) > 0) {
    return true;
  }
  SecureWipe(to, size);
  return false;
}

// Seals the plain password in `user` in place; when sealing fails the plain
// text stays, with bit 0x1 clear (also when the sealed text does not fit).
void SealUserPassword(udata* user) {
  user->user_flags &= ~kUserPasswordCustomProtected;
  char* sealed = CryptProtectCustomForField(user->user_password, sizeof user->user_password);
  if (sealed != nullptr) {
    SecureWipe(user->user_password, sizeof user->user_password);
    CopyTextField(user->user_password, sealed);
    user->user_flags |= kUserPasswordCustomProtected;
  }
  WipeAndFreeText(sealed);
}

DWORD SavedTtlsCredentials(const char* function, const cdata& record, udata* user) {
  CopyTextField(user->user_identity, record.identity);
  // The stored form, sealed or not, is sealed once more; a terminated copy
  // keeps the sealing from reading past the record's field.
  CopyTextField(user->user_password, record.password);
  SealUserPassword(user);
  Trace(">> %s : identity = %s", function, user->user_identity);
  return kNoError;
}

DWORD TypedTtlsCredentials(const char* function, const Labels& labels,
                           const EapConfigInputFieldArray* fields, udata* user) {
  VisitFields(fields, [&](const EAP_CONFIG_INPUT_FIELD_DATA& field) {
    if (HasLabel(field, labels.username)) {
      if (TakeFieldText(field, user->user_identity, sizeof user->user_identity)) {
        Trace(">> %s : identity = %s", function, user->user_identity);
      }
    } else if (HasLabel(field, labels.password)) {
      user->user_flags &= ~kUserPasswordCustomProtected;
      if (TakeFieldText(field, user->user_password, sizeof user->user_password)) {
        SealUserPassword(user);
      }
    }
    return true;
  });
  return kNoError;
}

// Removes the reader value once read, so that a stale reader never reaches a
// later connection. The read key cannot delete; the outcome does not matter.
void ForgetSimReader(const RegistryApi& registry) {
  RegistryKey* key = nullptr;
  if (registry.open_machine_key(platform::kVeltoWirelessKey, RegAccess::kWrite, &key) ==
      kNoError) {
    registry.delete_value(key, kSsoSimReaderValue);
    registry.close_key(key);
  }
}

DWORD SimCredentials(const char* function, const Labels& labels,
                     const EapConfigInputFieldArray* fields, udata* user) {
  const RegistryApi& registry = *platform::g_registry;
  RegistryKey* key = nullptr;
  uint32_t status = registry.open_machine_key(platform::kVeltoWirelessKey, RegAccess::kRead, &key);
  if (status != kNoError) {
    Trace(">> %s, RegOpenKeyEx error 0x%08lX", function, TraceCode(status));
    return kErrorInternalError;
  }
  char reader[kReaderValueRoom] = {};
  uint32_t size = sizeof reader;
  uint32_t type = 0;
  status = registry.query_value(key, kSsoSimReaderValue, &type,
                                reinterpret_cast<uint8_t*>(reader), &size);
  registry.close_key(key);
  ForgetSimReader(registry);

  if (status == kErrorFileNotFound) return kNoError;  // no SIM was offered: nothing to add
  if (status == kNoError && type != platform::kRegSz) status = kErrorUnsupportedType;
  if (status != kNoError) {
    Trace(">> %s, RegQueryValueEx error 0x%08lX", function, TraceCode(status));
    return kErrorInternalError;
  }
  // The value is stored without a terminator and may fill the whole room.
  size_t length = strnlen(reader, size < sizeof reader ? size : sizeof reader);
  reader[length < sizeof reader ? length : sizeof reader - 1] = '\0';
  Trace(">> %s : SIM-Reader = \"%s\"", function, reader);
  CopyTextField(user->sim_reader, reader);

  DWORD result = kNoError;
  VisitFields(fields, [&](const EAP_CONFIG_INPUT_FIELD_DATA& field) {
    if (!HasLabel(field, labels.pin)) return true;
    if (!TakeFieldText(field, user->user_pin, sizeof user->user_pin)) {
      result = kErrorInternalError;
    }
    return false;
  });
  return result;
}

}  // namespace
}  // namespace velto

DWORD WINAPI EapPeerQueryCredentialInputFields(HANDLE, EAP_METHOD_TYPE eapMethodType, DWORD,
                                               DWORD dwEapConnDataSize, BYTE* pbEapConnData,
                                               EapConfigInputFieldArray* pEapConfigInputFieldsArray,
                                               EAP_ERROR**) {
  using namespace velto;
  Labels labels = {};
  LoadLabels(&labels);
  if (pbEapConnData == nullptr || dwEapConnDataSize != kCdataSize ||
      pEapConfigInputFieldsArray == nullptr) {
    return kErrorInvalidParameter;
  }
  const auto& record = *reinterpret_cast<const cdata*>(pbEapConnData);
  uint8_t eap_type = eapMethodType.eapType.type;
  if (eap_type == kEapTypeTtls) return TtlsFields(record, labels, pEapConfigInputFieldsArray);
  if (IsSimMethod(eap_type)) return SimFields(__func__, labels, pEapConfigInputFieldsArray);
  return kErrorInvalidParameter;
}

DWORD WINAPI EapPeerQueryUserBlobFromCredentialInputFields(
    HANDLE, EAP_METHOD_TYPE eapMethodType, DWORD, DWORD dwEapConnDataSize, BYTE* pbEapConnData,
    const EapConfigInputFieldArray* pEapConfigInputFieldArray, DWORD* pdwUsersBlobSize,
    BYTE** ppUserBlob, EAP_ERROR**) {
  using namespace velto;
  if (pdwUsersBlobSize == nullptr || ppUserBlob == nullptr) return kErrorInvalidParameter;
  Labels labels = {};
  LoadLabels(&labels);
  auto* user = static_cast<udata*>(std::calloc(1, sizeof(udata)));
  if (user == nullptr) return kErrorNotEnoughMemory;

  // A record shorter than its layout is refused rather than read past its end.
  DWORD status = kErrorInvalidParameter;
  uint8_t eap_type = eapMethodType.eapType.type;
  if (pbEapConnData != nullptr && dwEapConnDataSize >= kCdataSize) {
    const auto& record = *reinterpret_cast<const cdata*>(pbEapConnData);
    if (eap_type == kEapTypeTtls) {
      status = record.cred_source == kCredSaved
                   ? SavedTtlsCredentials(__func__, record, user)
                   : TypedTtlsCredentials(__func__, labels, pEapConfigInputFieldArray, user);
    } else if (IsSimMethod(eap_type)) {
      status = SimCredentials(__func__, labels, pEapConfigInputFieldArray, user);
    }
  }
  if (status != kNoError) {
    WipeAndFree(user, sizeof *user);
    return status;
  }
  *pdwUsersBlobSize = kUdataSize;
  *ppUserBlob = reinterpret_cast<BYTE*>(user);
  return kNoError;
}
