#include "record_text.h"

#include <cstdio>
#include <cstring>

#include "abi/eap_abi.h"
#include "xmlconfig/config_schema.h"

namespace velto::tools {
namespace {

std::string Line(const char* label, const std::string& value) {
  char head[32];
  std::snprintf(head, sizeof head, "%-22s", label);
  return std::string(head) + value + "\n";
}

std::string Number(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, value > 0xFFFF ? "0x%08X" : "%u", value);
  return text;
}

}  // namespace

// A field's text as far as its terminator or its end, whichever comes first;
// a control byte or a byte outside ASCII is shown as an escape, so a record
// cannot move the cursor or recolour a terminal.
std::string EscapedField(const char* field, size_t size) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size && field[i] != '\0'; ++i) {
    auto c = static_cast<unsigned char>(field[i]);
    if (c < 0x20 || c >= 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

namespace {

template <size_t N>
std::string Text(const char (&field)[N]) {
  return EscapedField(field, N);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

template <size_t N>
std::string Quoted(const char (&field)[N]) {
  return Quoted(Text(field));
}

std::string Credentials(uint32_t source) {
  switch (source) {
    case kCredSaved: return "saved (0)";
    case kCredPrompt: return "prompt the user (1)";
    case kCredSso: return "single sign-on (2)";
    case kCredSavedUndecryptable: return "saved, but the identity could not be opened (0xFFFFFFFF)";
    default: return "unknown (" + Number(source) + ")";
  }
}

std::string ServerValidation(const std::string& ca_hash) {
  if (ca_hash.empty()) return "none: the server is not validated";
  if (ca_hash == "any") return "any trusted server";
  return "certificate hash " + Quoted(ca_hash);
}

std::string SubjectMatch(const std::string& subject) {
  if (subject.empty()) return "none";
  if (subject.rfind("/s", 0) == 0) return "server name " + Quoted(subject.substr(2));
  if (subject.rfind("/d", 0) == 0) return "domain name " + Quoted(subject.substr(2));
  return Quoted(subject);
}

std::string PasswordState(const cdata& r) {
  if (r.password[0] == '\0') return "empty";
  if (r.flags & kFlagPasswordCustomProtected) return "sealed, stored form (flag 0x01)";
  if (r.flags & kFlagPasswordProfileEncrypted) return "sealed, profile form (flag 0x10)";
  return "plain text (not shown)";
}

std::string Flags(uint32_t flags) {
  std::string text = Number(flags);
  if (flags & kFlagPasswordCustomProtected) text += " password_custom_protected";
  if (flags & kFlagPasswordProfileEncrypted) text += " password_profile_encrypted";
  if (flags & ~(kFlagPasswordCustomProtected | kFlagPasswordProfileEncrypted)) text += " (unknown bits)";
  return text;
}

}  // namespace

const char* MethodName(uint32_t eap_type) {
  switch (eap_type) {
    case kEapTypeSim: return "EAP-SIM";
    case kEapTypeTtls: return "EAP-TTLS";
    case kEapTypeAka: return "EAP-AKA";
    default: return "unknown";
  }
}

std::string DescribeRecord(const cdata& r) {
  std::string out;
  out += Line("method:", std::string(MethodName(r.eap_type)) + " (" + Number(r.eap_type) + ")");
  if (r.eap_type == kEapTypeTtls) {
    std::string inner = r.phase2_type == 0 ? "none configured (0)"
                        : r.phase2_type == kPhase2Unknown
                            ? "unrecognised (0xFFFFFFFF)"
                            : std::string(xml::Phase2TextFromCode(r.phase2_type)) + " (" +
                                  Number(r.phase2_type) + ")";
    if (r.phase2_type == kPhase2Gtc) inner = "GTC (8)";
    out += Line("inner method:", inner);
  }
  out += Line("credentials:", Credentials(r.cred_source));
  out += Line(r.eap_type == kEapTypeTtls ? "identity:" : "decorative identity:", Quoted(r.identity));
  if (r.eap_type == kEapTypeTtls) {
    out += Line("outer identity:", Quoted(r.anon_identity));
    out += Line("server validation:", ServerValidation(Text(r.ca_hash)));
    out += Line("subject match:", SubjectMatch(Text(r.subject_match)));
    out += Line("password:", PasswordState(r));
  } else {
    out += Line("alternative identity:", Quoted(r.alternative_identity));
  }
  out += Line("flags:", Flags(r.flags));
  return out;
}

}  // namespace velto::tools
