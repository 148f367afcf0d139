#include "xmlconfig/config_import.h"

#include <cstdlib>
#include <cstring>

#include "frame/exports.h"
#include "base/memory.h"
#include "base/text.h"
#include "frame/text_convert.h"
#include "protect/base64.h"
#include "protect/custom_protect.h"
#include "protect/data_protection.h"
#include "protect/profile_protect.h"
#include "trace/trace.h"
#include "xmlconfig/config_schema.h"
#include "xmlconfig/xml_access.h"

namespace velto::xml {
namespace {

bool IsMarkedEncrypted(DomNode* node) {
  const SecretText attribute(get_encrypted_attribute(node));
  return attribute && std::strcmp(attribute.get(), "true") == 0;
}

// Opens a sealed text of the document through a copy, since the opener
// rewrites its argument.
char* OpenProfileText(const char* sealed) {
  size_t n = std::strlen(sealed);
  MallocPtr<char> copy(static_cast<char*>(std::malloc(n + 1)));
  if (!copy) return nullptr;
  std::memcpy(copy.get(), sealed, n + 1);
  return DecryptProfileIdentityData(copy.get());
}

// Replaces the plain password in the host's document by its sealed form.
// 87 when the sealed text cannot be converted or set; the document is then
// unchanged. Going on without rewriting, when no buffer can be had, is not a
// failure.
uint32_t SealPasswordInDocument(DomNode* password, const char* plain) {
  MallocPtr<char> sealed(EncryptProfileIdentityData(plain));
  if (!sealed) return 0;
  int units = platform::MultiByteToWide(platform::CodePage::kAnsi, sealed.get(), -1, nullptr, 0);
  if (units <= 0) return kErrorInvalidParameter;
  MallocPtr<WCHAR> wide(static_cast<WCHAR*>(std::malloc(sizeof(WCHAR) * static_cast<size_t>(units))));
  if (!wide) return 0;
  if (platform::MultiByteToWide(platform::CodePage::kAnsi, sealed.get(), -1, wide.get(), units) !=
      units) {
    return kErrorInvalidParameter;
  }
  if (!g_dom->set_node_text(password, wide.get())) return kErrorInvalidParameter;
  set_encrypted_attribute(password);
  return 0;
}

// Whether a sealed text of the document opens, and to nothing: the empty
// password sealed (earlier exports and imports wrote it so). The opener
// gives null for that as for a text that does not open at all.
bool OpensToNothing(const char* sealed) {
  size_t n = std::strlen(sealed);
  MallocPtr<char> copy(static_cast<char*>(std::malloc(n + 1)));
  if (!copy) return false;
  std::memcpy(copy.get(), sealed, n + 1);
  uint8_t* bytes = nullptr;
  uint32_t size = 0;
  if (!Base64DecodeFlatText(copy.get(), &bytes, &size)) return false;
  MallocPtr<uint8_t> decoded(bytes);
  char entropy[kIdentityEntropyBufferSize];
  BuildIdentityEntropy(entropy);
  platform::ProtectedBlob plain;
  if (!platform::g_data_protection->unprotect(decoded.get(), size,
                                              reinterpret_cast<const uint8_t*>(entropy),
                                              kIdentityEntropyLength, true, &plain)) {
    return false;
  }
  const bool empty = plain.size == 0;
  platform::g_data_protection->free_blob(&plain);
  return empty;
}

uint32_t ReadSavedCredentials(DomNode* saved, cdata* record) {
  record->cred_source = kCredSaved;

  NodeRef identity = find_child_node(saved, "identity");
  if (!identity) return kErrorInvalidParameter;
  SecretText identity_text(node_text_utf8(identity.get()));
  if (identity_text) {
    if (IsMarkedEncrypted(identity.get())) {
      SecretText plain(OpenProfileText(identity_text.get()));
      if (plain) {
        CopyTextField(record->identity, plain.get());
      } else {
        record->cred_source = kCredSavedUndecryptable;
        record->identity[0] = '\0';
      }
    } else {
      CopyTextField(record->identity, identity_text.get());
    }
    Trace(">> %s : identity from config: %s", "build_eap_ttls_blob", record->identity);
  }

  NodeRef password = find_child_node(saved, "password");
  if (!password) return kErrorInvalidParameter;
  SecretText password_text(node_text_utf8(password.get()));
  if (!password_text) return 0;

  if (IsMarkedEncrypted(password.get())) {
    SecretText plain(OpenProfileText(password_text.get()));
    if (plain) {
      CopyTextField(record->password, plain.get());
      record->flags &= ~kFlagPasswordProfileEncrypted;
    } else if (OpensToNothing(password_text.get())) {
      record->password[0] = '\0';
      record->flags &= ~kFlagPasswordProfileEncrypted;
    } else {
      record->flags |= kFlagPasswordProfileEncrypted;
      CopyTextField(record->password, password_text.get());
    }
  } else {
    uint32_t status = SealPasswordInDocument(password.get(), password_text.get());
    if (status != 0) return status;
    CopyTextField(record->password, password_text.get());
    record->flags &= ~(kFlagPasswordCustomProtected | kFlagPasswordProfileEncrypted);
  }
  Trace(">> %s : password from config: %s", "build_eap_ttls_blob", record->password);
  return 0;
}

bool HasChild(DomNode* parent, const char* name) { return find_child_node(parent, name) != nullptr; }

// The element's text, when it exists and has one.
SecretText ChildText(DomNode* parent, const char* name) {
  NodeRef child = find_child_node(parent, name);
  return SecretText(child ? node_text_utf8(child.get()) : nullptr);
}

}  // namespace

uint32_t build_eap_ttls_blob(DomNode* method, cdata* record) {
  if (SecretText phase2 = ChildText(method, "Phase2Type")) {
    record->phase2_type = Phase2CodeFromText(phase2.get());
    Trace(">> %s : Phase2Type: %s (%u)", __func__, phase2.get(), record->phase2_type);
  }

  if (NodeRef saved = find_child_node(method, "credSaved")) {
    uint32_t status = ReadSavedCredentials(saved.get(), record);
    if (status != 0) return status;
  }
  if (HasChild(method, "credSSO")) record->cred_source = kCredSso;
  if (HasChild(method, "credPrompt")) record->cred_source = kCredPrompt;

  if (NodeRef anonymous = find_child_node(method, "anonymousIdentity")) {
    SecretText text(node_text_utf8(anonymous.get()));
    CopyTextField(record->anon_identity, text.get());
    Trace(">> %s : anonymous id: [%s]", __func__, record->anon_identity);
  }

  if (SecretText hash = ChildText(method, "serverCertificateHash")) {
    CopyTextField(record->ca_hash, hash.get());
  }
  if (HasChild(method, "anyTrustedServer")) CopyTextField(record->ca_hash, "any");
  if (HasChild(method, "noServerValidation")) record->ca_hash[0] = '\0';

  if (SecretText subject = ChildText(method, "subjectMatchString")) {
    CopyTextField(record->subject_match, subject.get());
  }
  if (HasChild(method, "noSubjectMatch")) record->subject_match[0] = '\0';
  Trace(">> %s : ca hash: [%s] subject match: [%s]", __func__, record->ca_hash,
        record->subject_match);
  return 0;
}

uint32_t build_eap_sim_aka_blob(DomNode* method, cdata* record) {
  record->cred_source = kCredPrompt;
  if (SecretText alternative = ChildText(method, "alternativeIdentity")) {
    CopyTextField(record->alternative_identity, alternative.get());
    Trace(">> %s : alternative identity: [%s]", __func__, record->alternative_identity);
  }
  if (SecretText decorative = ChildText(method, "decorativeIdentity")) {
    CopyTextField(record->identity, decorative.get());
    Trace(">> %s : decorative identity: [%s]", __func__, record->identity);
  }
  return 0;
}

}  // namespace velto::xml

DWORD WINAPI EapPeerConfigXml2Blob(DWORD, EAP_METHOD_TYPE eapMethodType,
                                   VeltoXmlDocument* pConfigDoc, BYTE** ppConfigOut,
                                   DWORD* pdwSizeOfConfigOut, EAP_ERROR**) {
  using namespace velto;
  using namespace velto::xml;
  MallocPtr<cdata> record(AllocRecord());
  if (!record) return kErrorNotEnoughMemory;
  record->eap_type = eapMethodType.eapType.type;

  NodeRef config(g_dom->first_child(pConfigDoc));
  if (!config) return kErrorInvalidParameter;
  NodeRef method = find_child_node(config.get(), MethodElementName(record->eap_type));
  if (!method) return kErrorInvalidParameter;

  switch (record->eap_type) {
    case kEapTypeTtls: {
      uint32_t status = build_eap_ttls_blob(method.get(), record.get());
      if (status != 0) {
        SecureWipe(record.get(), sizeof(cdata));
        return status;
      }
      if ((record->flags & kFlagPasswordProfileEncrypted) == 0) {
        char* sealed = CryptProtectCustomForField(record->password, sizeof record->password);
        if (sealed != nullptr) {
          Trace("Encoded Password : [%s]", sealed);
          SecureWipe(record->password, sizeof record->password);
          CopyTextField(record->password, sealed);
          record->flags |= kFlagPasswordCustomProtected;
          std::free(sealed);
        }
      }
      break;
    }
    case kEapTypeSim:
    case kEapTypeAka:
      build_eap_sim_aka_blob(method.get(), record.get());
      break;
    default:
      return kErrorInvalidParameter;
  }

  *ppConfigOut = reinterpret_cast<BYTE*>(record.release());
  *pdwSizeOfConfigOut = kCdataSize;
  return kNoError;
}
