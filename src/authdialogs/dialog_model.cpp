// The dialogs' forms: profile fields in, checks, profile fields out. Nothing
// here draws; the Win32 dialogs and the terminal prompts share all of it.
#include "authdialogs/dialog_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/memory.h"
#include "base/text.h"

namespace velto::dialogs {
namespace {

// The longest text each profile field takes (its size less the terminator).
constexpr size_t kMaxUserName = sizeof(_VELTO_WLAN_PROFILE_V120::user_name) - 1;          // 59
constexpr size_t kMaxDomain = sizeof(_VELTO_WLAN_PROFILE_V120::domain) - 1;               // 18
constexpr size_t kMaxPassword = sizeof(_VELTO_WLAN_PROFILE_V120::password_text) - 1;      // 99
constexpr size_t kMaxRoaming = sizeof(_VELTO_WLAN_PROFILE_V120::roaming_identity) - 1;    // 63
constexpr size_t kMaxSubject = sizeof(_VELTO_WLAN_PROFILE_V120::subject_text) - 1;        // 63
constexpr size_t kMaxReaderName = sizeof(_VELTO_WLAN_PROFILE_V120::reader_name) - 1;      // 127
constexpr size_t kThumbprintBytes = 20;
constexpr int kRetryFailCode = 159;
constexpr size_t kMinPinDigits = 4;
constexpr size_t kMaxPinDigits = 8;

constexpr char kUserBackslash[] = "With a domain, the user name cannot contain a backslash.";

const char* const kInnerMethodNames[] = {"CHAP", "EAP-MD5", "MSCHAP", "MSCHAPV2",
                                         "PAP",  "GTC",     "EAP-TLS"};

bool IsSimOrAka(uint32_t method_kind) {
  return method_kind == kProfileMethodSim || method_kind == kProfileMethodAka;
}

void CheckLength(std::string_view text, size_t most, Field field, const char* what,
                 std::vector<FieldError>* errors) {
  if (text.size() <= most) return;
  char message[160];
  std::snprintf(message, sizeof message, "%s is too long: at most %zu characters, this has %zu.",
                what, most, text.size());
  errors->push_back({field, message});
}

// The configuration XML is written from templates with these texts in as
// they are: a '<' or '&' would be read back as markup (a subject match could
// close its element and switch server validation off). Passwords travel
// sealed, so they may hold any character.
void CheckXmlText(std::string_view text, Field field, const char* what,
                  std::vector<FieldError>* errors) {
  if (text.find_first_of("<&") == std::string_view::npos) return;
  errors->push_back({field, std::string(what) + " cannot contain '<' or '&'."});
}

// Length and markup checks of a text that goes into the configuration XML.
void CheckXmlField(std::string_view text, size_t most, Field field, const char* what,
                   std::vector<FieldError>* errors) {
  CheckLength(text, most, field, what, errors);
  CheckXmlText(text, field, what, errors);
}

// The length of an invisible mark or space (UTF-8) at `p`, or 0. Certificate
// viewers put direction marks around a copied thumbprint.
size_t InvisibleMarkLength(const unsigned char* p, const unsigned char* end) {
  if (end - p >= 2 && p[0] == 0xC2 && p[1] == 0xA0) return 2;  // no-break space
  if (end - p < 3) return 0;
  if (p[0] == 0xE2 && p[1] == 0x80 && (p[2] == 0x8E || p[2] == 0x8F)) return 3;  // LRM, RLM
  if (p[0] == 0xE2 && p[1] == 0x80 && p[2] >= 0xAA && p[2] <= 0xAE) return 3;    // embeddings
  if (p[0] == 0xE2 && p[1] == 0x81 && p[2] >= 0xA6 && p[2] <= 0xA9) return 3;    // isolates
  if (p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) return 3;                    // ZWNBSP
  return 0;
}

void SplitDomainUser(const std::string& joined, std::string* domain, std::string* user) {
  size_t slash = joined.find('\\');
  if (slash == std::string::npos) {
    *user = joined;
  } else {
    *domain = joined.substr(0, slash);
    *user = joined.substr(slash + 1);
  }
}

void AddReaders(SmartCardForm* form, const VELTO_SC_LIST_V120* sc_list,
                const VELTO_SIM_LIST* sim_list) {
  form->readers.clear();
  if (sim_list != nullptr) {
    int count = std::clamp(sim_list->count, 0, kMaxListEntries);
    for (int i = 0; i < count; ++i) {
      const VELTO_SIM_LIST_ENTRY& entry = sim_list->entries[i];
      ReaderChoice choice;
      choice.reader_name = FieldView(entry.reader_name);
      choice.card_name = FieldView(entry.card_name);
      choice.is_sim = true;
      choice.pin_enabled = entry.pin_enabled != 0;
      form->readers.push_back(std::move(choice));
    }
  }
  if (sc_list != nullptr) {
    int count = std::clamp(sc_list->count, 0, kMaxListEntries);
    for (int i = 0; i < count; ++i) {
      const VELTO_SC_LIST_ENTRY& entry = sc_list->entries[i];
      ReaderChoice choice;
      choice.reader_name = FieldView(entry.reader_name);
      choice.card_name = FieldView(entry.card_name);
      int items = std::clamp(entry.item_count, 0, kMaxListEntries);
      for (int n = 0; n < items; ++n) {
        // An item without an identifier keeps its slot, empty.
        if (entry.identifiers[n][0] != '\0') {
          choice.identifiers.emplace_back(FieldView(entry.identifiers[n]));
        }
      }
      form->readers.push_back(std::move(choice));
    }
  }
}

// The reader named `name`, else the first reader, else none.
int SelectReader(const SmartCardForm& form, const std::string& name) {
  for (size_t i = 0; i < form.readers.size(); ++i) {
    if (!name.empty() && form.readers[i].reader_name == name) return static_cast<int>(i);
  }
  return form.readers.empty() ? -1 : 0;
}

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

const char* InnerMethodName(uint32_t inner_method) {
  if (inner_method < 1 || inner_method > std::size(kInnerMethodNames)) return nullptr;
  return kInnerMethodNames[inner_method - 1];
}

// ---- dialog 12

ConfigForm LoadConfigForm(const _VELTO_WLAN_PROFILE_V120& profile) {
  ConfigForm form;
  form.method_kind = profile.method_kind;
  // Any stored value, known or not, stays as it is until the user picks one.
  form.source = static_cast<CredentialSource>(profile.cred_mode);
  form.inner_method = profile.inner_method;
  form.user_name = FieldView(profile.user_name);
  form.domain = FieldView(profile.domain);
  form.password = FieldView(profile.password_text);
  form.roaming_identity = FieldView(profile.roaming_identity);
  if (profile.option_bits & kProfileNoCertHash) {
    form.validation = ServerValidation::kNone;
  } else if (profile.cert_hash_len != 0) {
    form.validation = ServerValidation::kThumbprint;
    form.thumbprint = FormatThumbprint(profile.cert_hash,
                                       std::min<size_t>(profile.cert_hash_len, sizeof profile.cert_hash));
  } else {
    form.validation = ServerValidation::kAnyTrusted;
  }
  form.subject = FieldView(profile.subject_text);
  form.subject_is_domain = profile.subject_kind == kProfileSubjectDomain;
  return form;
}

std::vector<FieldError> CheckConfigForm(const ConfigForm& form) {
  std::vector<FieldError> errors;
  if (IsSimOrAka(form.method_kind)) {
    CheckXmlField(form.user_name, kMaxUserName, Field::kIdentityTemplate, "The identity template",
                  &errors);
    CheckLength(form.roaming_identity, kMaxRoaming, Field::kRoamingIdentity, "The outer identity",
                &errors);
    return errors;
  }
  // A stored code the dialog has no entry for would be stored as 0: the user
  // chooses one instead.
  if (InnerMethodName(form.inner_method) == nullptr) {
    errors.push_back({Field::kInnerMethod, "Choose an inner method."});
  }
  CheckXmlField(form.user_name, kMaxUserName, Field::kUserName, "The user name", &errors);
  CheckXmlField(form.domain, kMaxDomain, Field::kDomain, "The domain", &errors);
  // The record joins them as DOMAIN\user and splits at the first backslash.
  if (form.domain.find('\\') != std::string::npos) {
    errors.push_back({Field::kDomain, "The domain cannot contain a backslash."});
  }
  if (!form.domain.empty() && form.user_name.find('\\') != std::string::npos) {
    errors.push_back({Field::kUserName, kUserBackslash});
  }
  CheckLength(form.password, kMaxPassword, Field::kPassword, "The password", &errors);
  CheckXmlField(form.roaming_identity, kMaxRoaming, Field::kRoamingIdentity, "The outer identity",
                &errors);
  if (form.validation == ServerValidation::kThumbprint) {
    uint8_t hash[kThumbprintBytes];
    if (!ParseThumbprint(form.thumbprint, hash)) {
      errors.push_back({Field::kThumbprint,
                        "Enter the certificate's thumbprint: 40 hexadecimal digits."});
    }
    SecureWipe(hash, sizeof hash);
  }
  CheckXmlField(form.subject, kMaxSubject, Field::kSubject, "The server name", &errors);
  return errors;
}

void StoreConfigForm(const ConfigForm& form, _VELTO_WLAN_PROFILE_V120* profile,
                     int* password_changed) {
  bool sim_or_aka = IsSimOrAka(form.method_kind);
  if (password_changed != nullptr) *password_changed = form.password_edited && !sim_or_aka ? 1 : 0;
  ReplaceTextField(profile->user_name, form.user_name);
  ReplaceTextField(profile->roaming_identity, form.roaming_identity);
  if (sim_or_aka) return;

  profile->cred_mode = static_cast<uint32_t>(form.source);
  profile->inner_method = form.inner_method;
  ReplaceTextField(profile->domain, form.domain);
  ReplaceTextField(profile->password_text, form.password);
  uint8_t hash[kThumbprintBytes] = {};
  SecureWipe(profile->cert_hash, sizeof profile->cert_hash);
  profile->cert_hash_len = 0;
  switch (form.validation) {
    case ServerValidation::kNone:
      profile->option_bits |= kProfileNoCertHash;
      break;
    case ServerValidation::kAnyTrusted:
      profile->option_bits &= ~kProfileNoCertHash;
      break;
    case ServerValidation::kThumbprint:
      profile->option_bits &= ~kProfileNoCertHash;
      if (ParseThumbprint(form.thumbprint, hash)) {
        std::memcpy(profile->cert_hash, hash, sizeof hash);
        profile->cert_hash_len = kThumbprintBytes;
      }
      break;
  }
  ReplaceTextField(profile->subject_text, form.subject);
  profile->subject_kind = form.subject_is_domain ? kProfileSubjectDomain : kProfileSubjectServer;
}

// ---- dialog 3

CredentialForm LoadCredentialForm(const _VELTO_WLAN_PROFILE_V120& profile) {
  CredentialForm form;
  std::string user(FieldView(profile.user_name));
  form.domain = FieldView(profile.domain);
  form.password = FieldView(profile.password_text);
  // A stored form carries "DOMAIN\user" in user_name (see StoreCredentialForm).
  if (form.domain.empty()) {
    SplitDomainUser(user, &form.domain, &form.user_name);
  } else if (user.rfind(form.domain + "\\", 0) == 0) {
    form.user_name = user.substr(form.domain.size() + 1);
  } else {
    form.user_name = user;
  }
  return form;
}

std::vector<FieldError> CheckCredentialForm(const CredentialForm& form) {
  std::vector<FieldError> errors;
  if (form.user_name.empty()) {
    errors.push_back({Field::kUserName, "Enter a user name."});
  } else if (form.domain.empty()) {
    CheckLength(form.user_name, kMaxUserName, Field::kUserName, "The user name", &errors);
  } else if (form.user_name.find('\\') != std::string::npos) {
    // The domain would be given twice: CORP\CORP\alice.
    errors.push_back({Field::kUserName, kUserBackslash});
  } else {
    // The module takes the identity from user_name alone, so the domain
    // travels in it, before a backslash.
    size_t joined = form.domain.size() + 1 + form.user_name.size();
    if (joined > kMaxUserName) {
      char message[160];
      std::snprintf(message, sizeof message,
                    "Domain\\user name is too long: at most %zu characters, this has %zu.",
                    kMaxUserName, joined);
      errors.push_back({Field::kUserName, message});
    }
  }
  CheckLength(form.domain, kMaxDomain, Field::kDomain, "The domain", &errors);
  if (form.domain.find('\\') != std::string::npos) {
    errors.push_back({Field::kDomain, "The domain cannot contain a backslash."});
  }
  CheckLength(form.password, kMaxPassword, Field::kPassword, "The password", &errors);
  return errors;
}

void StoreCredentialForm(const CredentialForm& form, _VELTO_WLAN_PROFILE_V120* profile) {
  ReplaceTextField(profile->user_name,
                   form.domain.empty() ? form.user_name : form.domain + "\\" + form.user_name);
  ReplaceTextField(profile->domain, form.domain);
  ReplaceTextField(profile->password_text, form.password);
}

// ---- the smart-card dialog

SmartCardForm LoadSmartCardForm(const _VELTO_WLAN_PROFILE_V120& profile, int fail_code,
                                const VELTO_SC_LIST_V120* sc_list, const VELTO_SIM_LIST* sim_list) {
  SmartCardForm form;
  AddReaders(&form, sc_list, sim_list);
  // Shown again after a failed attempt, the profile still names the reader
  // chosen then.
  form.selected = SelectReader(form, std::string(FieldView(profile.reader_name)));
  form.identity_template = FieldView(profile.user_name);
  form.retry = fail_code == kRetryFailCode;
  return form;
}

void RefreshSmartCardForm(SmartCardForm* form, const VELTO_SC_LIST_V120* sc_list,
                          const VELTO_SIM_LIST* sim_list) {
  std::string selected;
  if (form->selected >= 0 && static_cast<size_t>(form->selected) < form->readers.size()) {
    selected = form->readers[form->selected].reader_name;
  }
  AddReaders(form, sc_list, sim_list);
  form->selected = SelectReader(*form, selected);
}

bool SmartCardFormNeedsPin(const SmartCardForm& form) {
  if (form.selected < 0 || static_cast<size_t>(form.selected) >= form.readers.size()) return false;
  const ReaderChoice& reader = form.readers[form.selected];
  return reader.is_sim && reader.pin_enabled;
}

std::vector<FieldError> CheckSmartCardForm(const SmartCardForm& form) {
  std::vector<FieldError> errors;
  CheckLength(form.identity_template, kMaxUserName, Field::kIdentityTemplate,
              "The identity template", &errors);
  if (form.selected < 0 || static_cast<size_t>(form.selected) >= form.readers.size()) {
    errors.push_back({Field::kReader, form.readers.empty() ? "No card reader holds a card."
                                                           : "Choose a card reader."});
  } else if (form.readers[form.selected].reader_name.size() > kMaxReaderName) {
    errors.push_back({Field::kReader, "This reader's name is too long to be used."});
  }
  if (SmartCardFormNeedsPin(form) &&
      (form.pin.size() < kMinPinDigits || form.pin.size() > kMaxPinDigits || !AllDigits(form.pin))) {
    errors.push_back({Field::kPin, "The PIN is 4 to 8 digits."});
  }
  return errors;
}

void StoreSmartCardForm(const SmartCardForm& form, _VELTO_WLAN_PROFILE_V120* profile) {
  ReplaceTextField(profile->user_name, form.identity_template);
  ReplaceTextField(profile->pin_text,
                   SmartCardFormNeedsPin(form) ? std::string_view(form.pin) : std::string_view());
  bool chosen = form.selected >= 0 && static_cast<size_t>(form.selected) < form.readers.size();
  ReplaceTextField(profile->reader_name,
                   chosen ? form.readers[form.selected].reader_name : std::string());
}

// ---- thumbprints, secrets

bool ParseThumbprint(const std::string& text, uint8_t (&hash)[20]) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  size_t digits = 0;
  uint8_t bytes[kThumbprintBytes] = {};
  while (p < end) {
    if (*p == ' ' || *p == '\t' || *p == ':' || *p == '-') {
      ++p;
      continue;
    }
    if (size_t mark = InvisibleMarkLength(p, end)) {
      p += mark;
      continue;
    }
    int value = HexValue(*p);
    if (value < 0 || digits == 2 * kThumbprintBytes) {
      SecureWipe(bytes, sizeof bytes);
      return false;
    }
    bytes[digits / 2] = static_cast<uint8_t>(bytes[digits / 2] << 4 | value);
    ++digits;
    ++p;
  }
  if (digits != 2 * kThumbprintBytes) return false;
  std::memcpy(hash, bytes, sizeof bytes);
  return true;
}

std::string FormatThumbprint(const uint8_t* hash, size_t length) {
  std::string text;
  char pair[4];
  for (size_t i = 0; hash != nullptr && i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%.2x", hash[i]);
    if (i != 0) text += ' ';
    text += pair;
  }
  return text;
}

// The whole buffer: a shorter text assigned over a longer one leaves the
// longer one's tail behind its terminator.
void Wipe(std::string* text) {
  if (text == nullptr) return;
  SecureWipe(text->data(), text->capacity());
  text->clear();
}

void Wipe(ConfigForm* form) {
  if (form == nullptr) return;
  Wipe(&form->password);
}

void Wipe(CredentialForm* form) {
  if (form == nullptr) return;
  Wipe(&form->password);
}

void Wipe(SmartCardForm* form) {
  if (form == nullptr) return;
  Wipe(&form->pin);
}

}  // namespace velto::dialogs
