#include "xmlconfig/config_export.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/exports.h"
#include "base/memory.h"
#include "base/text.h"
#include "frame/text_convert.h"
#include "protect/custom_protect.h"
#include "protect/profile_protect.h"
#include "trace/trace.h"
#include "xmlconfig/config_schema.h"
#include "xmlconfig/xml_dom.h"

namespace velto::xml {
namespace {

constexpr size_t kTextBufferSize = 32768;
constexpr int kWideUnitsAllowed = 16384;
// The conversion may fill no more than this, so no more is allocated (and
// zeroed) for it.
constexpr size_t kWideBufferBytes = sizeof(WCHAR) * kWideUnitsAllowed;

// FieldLength as the precision of "%.*s".
template <size_t N>
int PrintLength(const char (&field)[N]) {
  return static_cast<int>(FieldLength(field));
}

// Formats templates one after the other into a fixed buffer; each is cut at
// the room left, and the position moves by what was really written.
class XmlText {
 public:
  XmlText(char* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}

  void Append(const char* format, ...) VELTO_PRINTF(2, 3) {
    if (used_ + 1 >= capacity_) return;
    size_t room = capacity_ - used_;
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer_ + used_, room, format, args);
    va_end(args);
    if (n < 0) return;
    used_ += static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room - 1;
  }

  size_t used() const { return used_; }
  const char* start() const { return buffer_; }

 private:
  char* buffer_;
  size_t capacity_;
  size_t used_ = 0;
};

// Field texts stand in element content as they are. There only "<" and "&"
// start markup; a text holding either is refused, also one that would parse
// (a balanced tag, a reference) and so say something else than the record.
// ">" and quotes are characters like any other in content; what the parser
// refuses besides ("]]>", control characters) fails the load.
template <size_t N>
bool IsCharacterData(const char (&field)[N]) {
  const size_t n = FieldLength(field);
  return std::memchr(field, '<', n) == nullptr && std::memchr(field, '&', n) == nullptr;
}

// The reader trims white space around an element's text. A server-validation
// text with white space at either end would come back as another text: " any"
// as "any" (any trusted server), "  " as the empty text (no validation).
template <size_t N>
bool TrimsToItself(const char (&field)[N]) {
  const size_t n = FieldLength(field);
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  return n == 0 || (!space(field[0]) && !space(field[n - 1]));
}

bool WritesSavedCredentials(const cdata& record) {
  return record.cred_source == kCredSaved && record.identity[0] != '\0';
}

// Whether every text the export takes from the record is character data, and
// the server-validation texts read back as written. A
// password in the profile form (0x10) is written as it stands; any other is
// sealed on the way (Base64) or not written at all.
bool TextsAreCharacterData(const cdata& r) {
  switch (r.eap_type) {
    case kEapTypeTtls: {
      const bool saved = WritesSavedCredentials(r);
      const bool password_as_is = saved && (r.flags & kFlagPasswordProfileEncrypted) != 0;
      return (!saved || IsCharacterData(r.identity)) &&
             (!password_as_is || IsCharacterData(r.password)) && IsCharacterData(r.anon_identity) &&
             IsCharacterData(r.ca_hash) && IsCharacterData(r.subject_match) &&
             TrimsToItself(r.ca_hash) && TrimsToItself(r.subject_match);
    }
    case kEapTypeSim:
    case kEapTypeAka:
      return IsCharacterData(r.alternative_identity) && IsCharacterData(r.identity);
    default:
      return true;  // refused for its type
  }
}

// An empty password is not sealed: it is written empty and stays empty.
void SealSavedPassword(cdata* record) {
  if ((record->flags & kFlagPasswordProfileEncrypted) != 0) return;
  if (record->password[0] == '\0') return;
  char password[sizeof record->password + 1];
  FieldText(record->password, password);
  char* sealed = EncryptProfileIdentityData(password);
  SecureWipe(password, sizeof password);
  if (sealed == nullptr) return;
  record->flags |= kFlagPasswordProfileEncrypted;
  SecureWipe(record->password, sizeof record->password);
  CopyTextField(record->password, sealed);
  std::free(sealed);
}

// Gives a sealed password of the stored form back its plain text in the
// record, so that it can travel in the profile identity form. The field then
// holds plain text, whatever flag 0x10 said: left set, it would have the
// plain password written as if sealed.
void OpenStoredPassword(cdata* record) {
  if ((record->flags & kFlagPasswordCustomProtected) == 0) return;
  char sealed[sizeof record->password + 1];
  FieldText(record->password, sealed);
  char* plain = CryptUnprotectCustom(sealed);
  if (plain == nullptr) return;
  Trace("Successfully decrypted encoded data: [%s]", plain);
  SecureWipe(record->password, sizeof record->password);
  CopyTextField(record->password, plain);
  record->flags &= ~(kFlagPasswordCustomProtected | kFlagPasswordProfileEncrypted);
  WipeAndFreeText(plain);
}

}  // namespace

size_t build_eap_ttls_xml(cdata* record, char* destination, size_t capacity) {
  const char* method = MethodElementName(record->eap_type);
  XmlText xml(destination, capacity);
  xml.Append("<%s xmlns='%s'>", method, kVendorNamespace);
  if (record->phase2_type != 0) {
    xml.Append("<%s>%s</%s>", "Phase2Type", Phase2TextFromCode(record->phase2_type), "Phase2Type");
  }

  if (WritesSavedCredentials(*record)) {
    xml.Append("<%s>", "credSaved");
    xml.Append("<identity encrypted='false'>%.*s</identity>", PrintLength(record->identity),
               record->identity);
    SealSavedPassword(record);
    if ((record->flags & kFlagPasswordProfileEncrypted) != 0) {
      xml.Append("<password encrypted='true'>%.*s</password>", PrintLength(record->password),
                 record->password);
    } else if (record->password[0] == '\0') {
      // Nothing to hide: written empty, it reads back as the empty password.
      xml.Append("<password encrypted='false'></password>");
    } else {
      // The plain password is never written.
      xml.Append("<password encrypted='false'>%s</password>", "None");
    }
    xml.Append("</%s>", "credSaved");
  } else {
    xml.Append("<%s />", record->cred_source == kCredSso ? "credSSO" : "credPrompt");
  }

  if (record->anon_identity[0] != '\0') {
    xml.Append("<anonymousIdentity>%.*s</anonymousIdentity>", PrintLength(record->anon_identity),
               record->anon_identity);
  } else {
    xml.Append("<anonymousIdentity>%s</anonymousIdentity>", kDefaultAnonymousIdentity);
  }

  if (record->ca_hash[0] == '\0') {
    xml.Append("<noServerValidation />");
  } else if (std::strcmp(record->ca_hash, "any") == 0) {
    xml.Append("<anyTrustedServer />");
  } else {
    xml.Append("<serverCertificateHash>%.*s</serverCertificateHash>", PrintLength(record->ca_hash),
               record->ca_hash);
  }

  if (record->subject_match[0] != '\0') {
    xml.Append("<subjectMatchString>%.*s</subjectMatchString>", PrintLength(record->subject_match),
               record->subject_match);
  } else {
    xml.Append("<noSubjectMatch />");
  }
  xml.Append("</%s>", method);
  xml.Append("</Config>");
  Trace(">>%s XML:%s", __func__, xml.start());
  return xml.used();
}

size_t build_eap_sim_aka_xml(const cdata* record, char* destination, size_t capacity) {
  const char* method = MethodElementName(record->eap_type);
  XmlText xml(destination, capacity);
  xml.Append("<%s xmlns='%s'>", method, kVendorNamespace);
  if (record->alternative_identity[0] != '\0') {
    xml.Append("<%s>%.*s</%s>", "alternativeIdentity", PrintLength(record->alternative_identity),
               record->alternative_identity, "alternativeIdentity");
  }
  if (record->identity[0] != '\0') {
    xml.Append("<%s>%.*s</%s>", "decorativeIdentity", PrintLength(record->identity),
               record->identity, "decorativeIdentity");
  }
  xml.Append("</%s>", method);
  xml.Append("</Config>");
  return xml.used();
}

}  // namespace velto::xml

DWORD WINAPI EapPeerConfigBlob2Xml(DWORD, EAP_METHOD_TYPE eapMethodType, const BYTE* pConfigIn,
                                   DWORD dwSizeOfConfigIn, VeltoXmlDocument** ppConfigDoc,
                                   EAP_ERROR**) {
  using namespace velto;
  using namespace velto::xml;
  if (dwSizeOfConfigIn != 0 && dwSizeOfConfigIn != kCdataSize) return kErrorInvalidParameter;

  // The host's record is used in place: its password is brought into the
  // form the XML carries, and stays so.
  cdata* record = reinterpret_cast<cdata*>(const_cast<BYTE*>(pConfigIn));
  MallocPtr<cdata> default_record;
  if (record == nullptr) {
    default_record.reset(AllocRecord());
    if (!default_record || !MakeDefaultRecord(eapMethodType.eapType.type, default_record.get())) {
      return kErrorInvalidParameter;
    }
    record = default_record.get();
  }
  // Before anything is made or changed.
  if (!TextsAreCharacterData(*record)) return kErrorInvalidParameter;

  const DomApi& dom = *g_dom;
  VeltoXmlDocument* document = dom.create_document();
  if (document == nullptr) return kErrorInvalidParameter;
  struct DocumentGuard {
    const DomApi& dom;
    VeltoXmlDocument* document;
    ~DocumentGuard() {
      if (document != nullptr) dom.release_document(document);
    }
  } guard{dom, document};

  // The text carries the sealed password: both buffers are wiped before they
  // go, as far as they were written (the rest is still zero from calloc).
  const MallocPtr<char> text(static_cast<char*>(std::calloc(kTextBufferSize, 1)));
  ScopedWipe wipe_text(text.get(), kTextBufferSize);
  const MallocPtr<WCHAR> wide(static_cast<WCHAR*>(std::calloc(kWideBufferBytes, 1)));
  ScopedWipe wipe_wide(wide.get(), kWideBufferBytes);
  if (!text || !wide) return kErrorNotEnoughMemory;

  char* out = text.get();
  int used = std::snprintf(out, kTextBufferSize, "<Config xmlns='%s'>", kEapHostConfigNamespace);
  size_t position = static_cast<size_t>(used);
  switch (record->eap_type) {
    case kEapTypeTtls:
      OpenStoredPassword(record);
      position += build_eap_ttls_xml(record, out + position, kTextBufferSize - position);
      break;
    case kEapTypeSim:
    case kEapTypeAka:
      position += build_eap_sim_aka_xml(record, out + position, kTextBufferSize - position);
      break;
    default:
      return kErrorInvalidParameter;
  }
  wipe_text.Written(position + 1);  // and the terminator

  WCHAR* units = wide.get();
  int converted =
      platform::MultiByteToWide(platform::CodePage::kAnsi, out, -1, units, kWideUnitsAllowed);
  // A failed conversion may have written part of the text: then all of it goes.
  if (converted > 0) wipe_wide.Written(sizeof(WCHAR) * static_cast<size_t>(converted));
  if (converted == 0) return kErrorNotEnoughMemory;
  if (!dom.load_xml(document, units, nullptr)) return kErrorInvalidParameter;

  *ppConfigDoc = document;
  guard.document = nullptr;
  return kNoError;
}
