// The configuration record to XML (EapPeerConfigBlob2Xml), and back through
// the import.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/text.h"
#include "frame/cdata.h"
#include "frame/exports.h"
#include "base/memory.h"
#include "frame/user_name.h"
#include "protect/custom_protect.h"
#include "protect/profile_protect.h"
#include "support/test_env.h"
#include "support/vectors.h"
#include "support/xml_test_util.h"
#include "xmlconfig/config_export.h"
#include "xmlconfig/config_schema.h"

namespace velto {
namespace {

using testing::HasSubstr;

class ConfigExport : public testing::Test {
 protected:
  static void SetUpTestSuite() { test::InitComForThisThread(); }
};

cdata Record(uint32_t type) {
  cdata r{};
  r.eap_type = type;
  return r;
}

// The plain text of a sealed password in the profile or the stored form.
std::string Open(const char* sealed, bool profile) {
  std::string copy = sealed;
  char* plain = profile ? DecryptProfileIdentityData(copy.data()) : CryptUnprotectCustom(sealed);
  std::string result = plain != nullptr ? plain : "<does not open>";
  WipeAndFreeText(plain);
  return result;
}

struct Exported {
  DWORD status;
  std::string xml;  // the document written out, layout left out; "" without one
  cdata back;       // the record the document imports as
};

// Exports a record (the default record of `type` when null) and imports the
// document again: whatever the export writes must import.
Exported Export(cdata* record, uint8_t type = 0, DWORD size = kCdataSize) {
  EAP_METHOD_TYPE method{};
  method.eapType.type = type;
  auto* const untouched = reinterpret_cast<VeltoXmlDocument*>(0x1);
  VeltoXmlDocument* out = untouched;
  Exported result{EapPeerConfigBlob2Xml(0, method, reinterpret_cast<BYTE*>(record), size, &out,
                                        nullptr),
                  "", cdata{}};
  if (result.status != 0) {
    EXPECT_EQ(out, untouched) << "a failure hands out no document";
    return result;
  }
  test::XmlDocument document(out);
  // Without the layout MSXML may add between elements: no text here holds
  // a line break or a tab.
  result.xml = test::SerializeXml(out);
  std::erase_if(result.xml, [](char c) { return c == '\r' || c == '\n' || c == '\t'; });
  method.eapType.type = record != nullptr ? static_cast<uint8_t>(record->eap_type) : type;
  BYTE* blob = nullptr;
  DWORD blob_size = 0;
  EXPECT_EQ(EapPeerConfigXml2Blob(0, method, out, &blob, &blob_size, nullptr), 0u) << result.xml;
  if (blob != nullptr) std::memcpy(&result.back, blob, sizeof result.back);
  std::free(blob);
  return result;
}

// The document written out, with `content` in the method element; each in
// its namespace.
std::string Expected(const std::string& method, const std::string& content) {
  return std::string("<Config xmlns=\"") + xml::kEapHostConfigNamespace + "\"><" + method +
         " xmlns=\"" + xml::kVendorNamespace + "\"" +
         (content.empty() ? "/>" : ">" + content + "</" + method + ">") + "</Config>";
}

// The record's text fields by name.
struct TextField {
  const char* name;
  size_t offset, size;
  void Set(cdata& r, const std::string& text) const {
    CopyTextField(reinterpret_cast<char*>(&r) + offset, size, text.c_str());
  }
};
#define VELTO_FIELD(f) TextField{#f, offsetof(cdata, f), sizeof(cdata::f)}
constexpr TextField kTextFields[] = {VELTO_FIELD(identity),      VELTO_FIELD(password),
                                     VELTO_FIELD(anon_identity), VELTO_FIELD(ca_hash),
                                     VELTO_FIELD(subject_match), VELTO_FIELD(alternative_identity)};
constexpr const char* kNumbers[] = {"eap_type", "phase2_type", "cred_source", "flags"};

// Sets the record's numbers and texts named `prefix`NAME in the case.
void Apply(const test::Case& c, const std::string& prefix, cdata& r) {
  uint32_t* numbers[] = {&r.eap_type, &r.phase2_type, &r.cred_source, &r.flags};
  for (size_t i = 0; i < std::size(kNumbers); ++i) {
    if (c.count(prefix + kNumbers[i])) *numbers[i] = std::stoul(c.at(prefix + kNumbers[i]), nullptr, 0);
  }
  for (const TextField& f : kTextFields) {
    if (c.count(prefix + f.name)) f.Set(r, c.at(prefix + f.name));
  }
}

// The cases of tests/vectors/config_export.cases.
TEST_F(ConfigExport, Vectors) {
  for (const test::Case& c : test::ReadCases("config_export.cases")) {
    SCOPED_TRACE("config_export.cases:" + c.at("line"));
    cdata r = Record(kEapTypeTtls);
    Apply(c, "", r);
    cdata want = r;
    Apply(c, "back.", want);
    Exported e = Export(&r);
    ASSERT_EQ(e.status, 0u);
    const char* method = r.eap_type == kEapTypeTtls ? "EapTtls"
                         : r.eap_type == kEapTypeSim ? "EapSim" : "EapAka";
    if (c.count("content")) {
      EXPECT_EQ(e.xml, Expected(method, c.at("content")));
    }
    EXPECT_EQ(std::memcmp(&e.back, &want, sizeof want), 0) << e.xml;
  }
}

// The record's texts go to a fixed buffer; each template is cut at the room left.
TEST_F(ConfigExport, FormatterCutsAtTheRoomLeft) {
  cdata r = Record(kEapTypeSim);
  CopyTextField(r.identity, "decorative");
  char text[40];
  std::memset(text, '#', sizeof text);
  EXPECT_EQ(xml::build_eap_sim_aka_xml(&r, text, 32), 31u);
  EXPECT_EQ(std::strlen(text), 31u);
  EXPECT_EQ(text[32], '#');
}

// Without a record the method type picks the default record.
TEST_F(ConfigExport, DefaultRecords) {
  char user[261] = {};
  uint32_t size = sizeof user;
  ASSERT_TRUE(platform::CurrentUserName(user, &size));
  EXPECT_EQ(Export(nullptr, kEapTypeTtls).xml,
            Expected("EapTtls", "<Phase2Type>MSCHAPV2</Phase2Type><credPrompt/>"
                                "<anonymousIdentity>" + std::string(user).substr(0, 127) +
                                    "</anonymousIdentity><noServerValidation/><noSubjectMatch/>"));
  EXPECT_EQ(Export(nullptr, kEapTypeSim).xml, Expected("EapSim", ""));
  EXPECT_EQ(Export(nullptr, kEapTypeAka).xml, Expected("EapAka", ""));
}

// 87 for a size that is neither 0 nor a record's (with or without a record), a
// type without a method (as the record's or as the default's), and a text the
// parser refuses: texts go in unescaped.
TEST_F(ConfigExport, RefusesWhatItCannotUse) {
  cdata sim = Record(kEapTypeSim);
  for (DWORD size : {1u, 1519u, 1521u, 4096u}) {
    EXPECT_EQ(Export(&sim, 0, size).status, 87u) << size;
    EXPECT_EQ(Export(nullptr, kEapTypeTtls, size).status, 87u) << size;
  }
  EXPECT_EQ(Export(&sim, 0, 0).status, 0u) << "size 0 with a record reads the record";
  for (int type : {0, 19, 22, 25, 255}) {
    EXPECT_EQ(Export(nullptr, static_cast<uint8_t>(type)).status, 87u) << type;
    cdata other = Record(type);
    EXPECT_EQ(Export(&other, kEapTypeTtls).status, 87u) << type;
  }
}

// A field text holding "<" or "&" is refused before anything is written,
// also where it would parse (a balanced tag, a reference) and so turn into
// markup: server validation must not become "any trusted server". ">" and
// quotes are characters like any other in element content.
TEST_F(ConfigExport, RefusesFieldTextsHoldingMarkup) {
  const struct {
    uint32_t type;
    const char* element;
    TextField field;
  } fields[] = {
      {kEapTypeTtls, "identity", kTextFields[0]},
      {kEapTypeTtls, "password", kTextFields[1]},
      {kEapTypeTtls, "anonymousIdentity", kTextFields[2]},
      {kEapTypeTtls, "serverCertificateHash", kTextFields[3]},
      {kEapTypeTtls, "subjectMatchString", kTextFields[4]},
      {kEapTypeSim, "alternativeIdentity", kTextFields[5]},
      {kEapTypeAka, "decorativeIdentity", kTextFields[0]},
  };
  for (const auto& f : fields) {
    const std::string e = f.element;
    for (const std::string& text : {"/sx</" + e + "><anyTrustedServer/><" + e + ">",
                                    "x</" + e + "><a/><" + e + ">",  // fits the hash too
                                    std::string("a&amp;b"), std::string("a<b")}) {
      SCOPED_TRACE(e + ": " + text);
      cdata r = Record(f.type);
      CopyTextField(r.identity, "alice");
      r.flags = kFlagPasswordProfileEncrypted;  // the password as it stands
      CopyTextField(r.password, "c2VhbGVk");
      CopyTextField(r.ca_hash, "hash");
      f.field.Set(r, text);
      const cdata before = r;
      EXPECT_EQ(Export(&r).status, 87u);
      EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0) << "the record changed";
    }
  }
}

// Server validation must not change on the way back: the reader trims the
// texts, so one with white space at either end is refused.
TEST_F(ConfigExport, RefusesServerValidationTextsTheReaderWouldTrim) {
  for (const char* text : {" any", "any\n", "  ", "\t/sradius"}) {
    SCOPED_TRACE(text);
    cdata hash = Record(kEapTypeTtls), subject = Record(kEapTypeTtls);
    CopyTextField(hash.ca_hash, text);
    CopyTextField(subject.subject_match, text);
    EXPECT_EQ(Export(&hash).status, 87u);
    EXPECT_EQ(Export(&subject).status, 87u);
  }
}

// A saved password travels only in the profile form, which the host's record
// keeps afterwards (flag 0x10); a stored form (0x01) is opened first, whatever
// the credential source. One that cannot be sealed or opened is written as
// "None", and the record keeps it as it was.
TEST_F(ConfigExport, SavedPasswordTravelsOnlySealed) {
  constexpr uint32_t kCustom = kFlagPasswordCustomProtected;
  constexpr uint32_t kProfile = kFlagPasswordProfileEncrypted;
  char* sealed = CryptProtectCustom("pw");
  ASSERT_NE(sealed, nullptr);
  const std::string custom = sealed, too_long(101, 'p');
  std::free(sealed);
  const std::string foreign = std::string(72, 'A') + "\n" + std::string(72, 'A') + "\n";
  const std::string none = "<password encrypted=\"false\">None</password>";
  const struct {
    uint32_t cred_source, flags, flags_after;
    std::string password, after;  // after: the record's, opened when flags_after has 0x10
    std::string written;          // in the document; "": the record's sealed text
  } cases[] = {
      {kCredSaved, 0, kProfile, "s3cret", "s3cret", ""},
      {kCredSaved, kCustom, kProfile, custom, "pw", ""},
      {kCredSaved, kCustom | kProfile, kProfile, custom, "pw", ""},  // opened: plain, both cleared
      {kCredSaved, 0, 0, too_long, too_long, none},
      {kCredSaved, kCustom, kCustom, foreign, foreign, none},
      {kCredPrompt, kCustom, 0, custom, "pw", "<credPrompt/>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.password);
    cdata r = Record(kEapTypeTtls);
    r.cred_source = c.cred_source;
    r.flags = c.flags;
    CopyTextField(r.identity, "alice");
    CopyTextField(r.password, c.password.c_str());
    const std::string xml = Export(&r).xml;
    EXPECT_EQ(r.flags, c.flags_after);
    EXPECT_EQ((r.flags & kProfile) != 0 ? Open(r.password, true) : r.password, c.after);
    EXPECT_THAT(xml, HasSubstr(!c.written.empty() ? c.written
                                                  : "<credSaved><identity encrypted=\"false\">alice"
                                                    "</identity><password encrypted=\"true\">" +
                                                        std::string(r.password) + "</password>"));
  }
}

// An empty saved password is written as empty, not sealed: a sealed empty
// text opens to nothing and came back as a password that cannot be opened.
TEST_F(ConfigExport, EmptySavedPasswordStaysEmpty) {
  cdata r = Record(kEapTypeTtls);
  CopyTextField(r.identity, "alice");
  Exported e = Export(&r);
  EXPECT_THAT(e.xml, HasSubstr("<password encrypted=\"false\"/>"));
  EXPECT_EQ(r.flags, 0u);
  EXPECT_STREQ(e.back.password, "");
  EXPECT_EQ(e.back.flags, 0u);
}

// A host's record may fill its text fields to the last byte: each is written
// to its end and no further, and the password field (said to hold the stored
// form) is opened and sealed from within the record. The record sits in a
// block of its own size, so a read past it is a sanitizer finding.
TEST_F(ConfigExport, FieldsFilledToTheirEndAreReadWithinTheRecord) {
  MallocPtr<cdata> record(static_cast<cdata*>(std::malloc(sizeof(cdata))));
  std::memset(record.get(), 'a', sizeof(cdata));
  record->eap_type = kEapTypeTtls;
  record->phase2_type = 0;
  record->cred_source = kCredSaved;
  ASSERT_NE(record->flags & kFlagPasswordCustomProtected, 0u);
  Exported out = Export(record.get());
  ASSERT_EQ(out.status, 0u);
  const std::string field(128, 'a');
  EXPECT_NE(out.xml.find(">" + field + "</anonymousIdentity>"), std::string::npos) << out.xml;
  EXPECT_NE(out.xml.find(">" + field + "</subjectMatchString>"), std::string::npos) << out.xml;
  EXPECT_NE(out.xml.find(">" + std::string(64, 'a') + "</serverCertificateHash>"), std::string::npos)
      << out.xml;
}

}  // namespace
}  // namespace velto
