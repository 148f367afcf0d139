#include "losses.h"

#include "eapcfg_platform.h"

#include <cstdlib>
#include <cstring>

#include "abi/eap_abi.h"
#include "base/text.h"
#include "xmlconfig/config_schema.h"
#include "xmlconfig/xml_access.h"

namespace velto::tools {
namespace {

// The longest password the profile form seals; an export writes "None" for
// a longer one.
constexpr size_t kProfileFormLimit = 100;

struct RawText {
  bool present = false;
  size_t length = 0;  // in UTF-16 units
  bool ascii = true;
};

RawText ReadRaw(xml::DomNode* node) {
  RawText raw;
  WCHAR* text = node != nullptr ? xml::g_dom->node_text(node) : nullptr;
  if (text == nullptr) return raw;
  raw.present = true;
  for (const WCHAR* c = text; *c != 0; ++c, ++raw.length) raw.ascii = raw.ascii && *c < 0x80;
  std::memset(text, 0, raw.length * sizeof(WCHAR));  // may be a password
  std::free(text);
  return raw;
}

bool MarkedEncrypted(xml::DomNode* node) {
  char* value = xml::get_encrypted_attribute(node);
  bool encrypted = value != nullptr && std::strcmp(value, "true") == 0;
  std::free(value);
  return encrypted;
}

// A text element against the field it was copied into.
void CheckText(std::vector<std::string>* out, const char* name, const RawText& raw,
               const char* field, size_t size) {
  if (!raw.present || raw.length == 0) return;
  size_t stored = strnlen(field, size);
  if (!raw.ascii && stored == 0) {
    out->push_back(std::string(name) + ": dropped: the module reads only 7-bit ASCII text");
  } else if (raw.length > kMaxTextScan && stored == 0) {
    out->push_back(std::string(name) + ": dropped: longer than " + std::to_string(kMaxTextScan) +
                   " characters");
  } else if (raw.length > size - 1 && stored == size - 1) {
    out->push_back(std::string(name) + ": cut to its first " + std::to_string(size - 1) +
                   " characters (it has " + std::to_string(raw.length) + ")");
  }
}

// `profile_form`: the record seals in the profile's form, which takes at
// most kProfileFormLimit characters.
void CheckPassword(std::vector<std::string>* out, size_t plain_length, const cdata& record,
                   bool profile_form) {
  bool plain = record.password[0] != '\0' &&
               (record.flags & (kFlagPasswordCustomProtected | kFlagPasswordProfileEncrypted)) == 0;
  if (plain) {
    out->push_back("password: saved in plain text: sealing it failed: " +
                   (profile_form && plain_length > kProfileFormLimit
                        ? "it is longer than " + std::to_string(kProfileFormLimit) + " characters"
                        : SealingFailureReason()));
  }
  if (plain_length > kProfileFormLimit) {
    out->push_back("password: " + std::to_string(plain_length) +
                   " characters: an export writes \"None\" in its place (at most " +
                   std::to_string(kProfileFormLimit) + " can be sealed in the profile's form)");
  }
}

void CheckInnerMethod(std::vector<std::string>* out, uint32_t before, uint32_t after) {
  if (before == kPhase2EapMschapV2 && after == kPhase2MschapV2) {
    out->push_back("inner method: EAP-MSCHAPV2 (2) was stored as MSCHAPV2 (16)");
  } else if (before == kPhase2EapGtc && after == kPhase2Gtc) {
    out->push_back("inner method: EAP-GTC (1) was stored as GTC (8)");
  }
}

}  // namespace

std::vector<std::string> ImportLosses(xml::DomNode* config, const cdata& record) {
  using xml::find_child_node;
  std::vector<std::string> out;
  xml::NodeRef method = find_child_node(config, xml::MethodElementName(record.eap_type));
  if (!method) return out;
  auto text = [&](const char* name) { return ReadRaw(find_child_node(method.get(), name).get()); };
  if (record.eap_type != kEapTypeTtls) {
    CheckText(&out, "alternativeIdentity", text("alternativeIdentity"), record.alternative_identity,
              sizeof record.alternative_identity);
    CheckText(&out, "decorativeIdentity", text("decorativeIdentity"), record.identity,
              sizeof record.identity);
    return out;
  }
  if (xml::NodeRef phase2 = find_child_node(method.get(), "Phase2Type")) {
    RawText raw = ReadRaw(phase2.get());
    if (raw.present && !raw.ascii) {
      out.push_back("Phase2Type: dropped: the module reads only 7-bit ASCII text");
    } else if (record.phase2_type == kPhase2Unknown) {
      out.push_back("Phase2Type: not a name the module knows: stored as unrecognised, exported as "
                    "\"UNKNOWN\"");
    } else if (record.phase2_type == kPhase2EapMschapV2 || record.phase2_type == kPhase2EapGtc) {
      out.push_back(std::string("Phase2Type: ") + xml::Phase2TextFromCode(record.phase2_type) +
                    ": the configuration dialog stores it as " +
                    (record.phase2_type == kPhase2EapGtc ? "GTC (8)" : "MSCHAPV2 (16)"));
    }
  }
  size_t plain_password = 0;
  if (xml::NodeRef saved = find_child_node(method.get(), "credSaved")) {
    xml::NodeRef identity = find_child_node(saved.get(), "identity");
    if (!MarkedEncrypted(identity.get())) {
      CheckText(&out, "identity", ReadRaw(identity.get()), record.identity, sizeof record.identity);
    }
    xml::NodeRef password = find_child_node(saved.get(), "password");
    RawText raw = ReadRaw(password.get());
    if (!MarkedEncrypted(password.get()) && raw.present) {
      if (!raw.ascii) {
        out.push_back("password: dropped: the module reads only 7-bit ASCII text");
      } else {
        plain_password = raw.length;
      }
    }
    if (record.cred_source == kCredSavedUndecryptable) {
      out.push_back("identity: marked encrypted but cannot be opened here: the user is prompted");
    }
  }
  CheckText(&out, "anonymousIdentity", text("anonymousIdentity"), record.anon_identity,
            sizeof record.anon_identity);
  CheckText(&out, "serverCertificateHash", text("serverCertificateHash"), record.ca_hash,
            sizeof record.ca_hash);
  CheckText(&out, "subjectMatchString", text("subjectMatchString"), record.subject_match,
            sizeof record.subject_match);
  CheckPassword(&out, plain_password, record, false);
  return out;
}

std::vector<std::string> DialogLosses(uint32_t inner_before, const cdata& out) {
  std::vector<std::string> losses;
  if (out.eap_type != kEapTypeTtls) return losses;
  CheckInnerMethod(&losses, inner_before, out.phase2_type);
  bool plain = (out.flags & (kFlagPasswordCustomProtected | kFlagPasswordProfileEncrypted)) == 0;
  CheckPassword(&losses, plain ? FieldLength(out.password) : 0, out, true);
  return losses;
}

}  // namespace velto::tools
