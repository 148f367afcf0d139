// What the dialog library's three dialogs show and take, apart from how they
// are drawn. The Win32 dialogs and the terminal prompts both load a profile
// into a form, let the user edit the form, check it, and store it back, so
// both honour the profile in exactly the same way.
//
// Every text in a form is 8-bit (the thread's ANSI code page on Windows,
// UTF-8 on Linux), as the profile holds it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "abi/card_records.h"
#include "base/secret_string.h"
#include "abi/dialog_profile.h"

namespace velto::dialogs {

using velto::SecretString;

// The record's credential sources, as the configuration dialog offers them.
enum class CredentialSource : uint32_t { kSaved = 0, kPrompt = 1, kSingleSignOn = 2 };

// How the server is validated: by nothing, by any trusted server, or by one
// certificate's thumbprint.
enum class ServerValidation { kNone, kAnyTrusted, kThumbprint };

// Which field a check failed on; the dialogs put the message beside it.
enum class Field {
  kCredentialSource,
  kInnerMethod,
  kUserName,
  kDomain,
  kPassword,
  kRoamingIdentity,
  kThumbprint,
  kSubject,
  kIdentityTemplate,
  kReader,
  kPin,
};

struct FieldError {
  Field field;
  std::string message;  // the system's own text, ready to show
};

// Dialog 12. Fields the method does not use (everything but the identity
// template and the roaming identity for EAP-SIM / EAP-AKA) are ignored when
// storing.
struct ConfigForm {
  uint32_t method_kind = 0;  // the profile's, never edited
  CredentialSource source = CredentialSource::kPrompt;
  uint32_t inner_method = 4;  // 1 to 7, see InnerMethodName
  std::string user_name;      // TTLS user name; SIM/AKA identity template
  std::string domain;
  SecretString password;
  bool password_edited = false;  // the user typed a new password
  std::string roaming_identity;
  ServerValidation validation = ServerValidation::kAnyTrusted;
  std::string thumbprint;  // as typed: 40 hex digits, separators allowed
  std::string subject;
  bool subject_is_domain = true;  // subject_kind 1 ("/d"), else server name
};

// Dialog 3, the EAP-TTLS credential dialog.
struct CredentialForm {
  std::string user_name;
  std::string domain;
  SecretString password;
};

// A reader the smart-card dialog offers: a SIM from the SIM list, or a card
// with items from the SC list.
struct ReaderChoice {
  std::string reader_name;
  std::string card_name;
  bool is_sim = false;
  bool pin_enabled = false;             // SIMs only
  std::vector<std::string> identifiers;  // "card://..." texts, SC cards only
};

// The smart-card dialog.
struct SmartCardForm {
  std::vector<ReaderChoice> readers;  // SIMs first, then SC cards, list order
  int selected = -1;                  // index into readers; -1 none
  std::string identity_template;
  SecretString pin;
  bool retry = false;  // shown again after a wrong or missing PIN (code 159)
};

// The inner methods 1 to 7 in the order of the configuration dialog's list,
// e.g. 4 -> "MSCHAPV2"; nullptr outside 1 to 7.
const char* InnerMethodName(uint32_t inner_method);

// ---- dialog 12

// Reads every profile field the configuration dialog shows.
ConfigForm LoadConfigForm(const _VELTO_WLAN_PROFILE_V120& profile);
// Empty when the form can be stored; otherwise one entry per bad field, in
// the dialog's field order. Checks the lengths the profile's fields hold, the
// thumbprint's digits (only for a method and validation that use them), and
// that no text the configuration XML carries as text holds '<' or '&'.
std::vector<FieldError> CheckConfigForm(const ConfigForm& form);
// Writes the form back into the profile. `password_changed` (may be null)
// becomes 1 when the user edited the password, else 0. The caller checked
// the form first; texts are cut to their fields whatever they hold.
void StoreConfigForm(const ConfigForm& form, _VELTO_WLAN_PROFILE_V120* profile,
                     int* password_changed);

// ---- dialog 3

CredentialForm LoadCredentialForm(const _VELTO_WLAN_PROFILE_V120& profile);
std::vector<FieldError> CheckCredentialForm(const CredentialForm& form);
void StoreCredentialForm(const CredentialForm& form, _VELTO_WLAN_PROFILE_V120* profile);

// ---- the smart-card dialog

// The form for a dialog opened with `fail_code` on the two lists (either may
// be null: no entries).
SmartCardForm LoadSmartCardForm(const _VELTO_WLAN_PROFILE_V120& profile, int fail_code,
                                const VELTO_SC_LIST_V120* sc_list, const VELTO_SIM_LIST* sim_list);
// New lists while the dialog is open: the readers are rebuilt and the
// selection follows its reader name when that reader is still present.
void RefreshSmartCardForm(SmartCardForm* form, const VELTO_SC_LIST_V120* sc_list,
                          const VELTO_SIM_LIST* sim_list);
// True when the selected reader is a SIM whose PIN is enabled.
bool SmartCardFormNeedsPin(const SmartCardForm& form);
std::vector<FieldError> CheckSmartCardForm(const SmartCardForm& form);
void StoreSmartCardForm(const SmartCardForm& form, _VELTO_WLAN_PROFILE_V120* profile);

// Thumbprint text -> 20 bytes. Accepts 40 hex digits in either case with any
// spaces, colons, hyphens and invisible direction marks between them.
bool ParseThumbprint(const std::string& text, uint8_t (&hash)[20]);
// 20 bytes -> "ab cd ef ..." as the platform's certificate viewer shows it.
std::string FormatThumbprint(const uint8_t* hash, size_t length);

// Overwrites a text's whole buffer (not only its characters) and empties it.
void Wipe(std::string* text);
using velto::Wipe;  // a SecretString
// Wipes the form's secrets (password, PIN) before the form goes away.
void Wipe(ConfigForm* form);
void Wipe(CredentialForm* form);
void Wipe(SmartCardForm* form);

}  // namespace velto::dialogs
