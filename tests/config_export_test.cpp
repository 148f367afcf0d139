// The configuration record to XML, and back through the import.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/memory.h"
#include "base/text.h"
#include "frame/cdata.h"
#include "frame/exports.h"
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

struct Exported {
  DWORD status;
  std::string xml;  // the document written out, layout left out
  cdata back;       // the record the document imports as
};

// Exports a record (the default record of `type` when null) and imports the
// document again: whatever the export writes must import.
Exported Export(cdata* record, uint8_t type = kEapTypeTtls, DWORD size = kCdataSize) {
  EAP_METHOD_TYPE method{};
  method.eapType.type = type;
  auto* const untouched = reinterpret_cast<VeltoXmlDocument*>(0x1);
  VeltoXmlDocument* out = untouched;
  Exported result{EapPeerConfigBlob2Xml(0, method, reinterpret_cast<BYTE*>(record), size, &out, nullptr), "", {}};
  if (result.status != 0) {
    EXPECT_EQ(out, untouched) << "a failure hands out no document";
    return result;
  }
  test::XmlDocument document(out);
  result.xml = test::SerializeXml(out);  // no text here holds a line break or a tab
  std::erase_if(result.xml, [](char c) { return c == '\r' || c == '\n' || c == '\t'; });
  method.eapType.type = record != nullptr ? static_cast<uint8_t>(record->eap_type) : type;
  MallocPtr<BYTE> blob;
  BYTE* raw = nullptr;
  DWORD blob_size = 0;
  EXPECT_EQ(EapPeerConfigXml2Blob(0, method, out, &raw, &blob_size, nullptr), 0u) << result.xml;
  blob.reset(raw);
  if (raw != nullptr) std::memcpy(&result.back, raw, sizeof result.back);
  return result;
}

// The document written out, with `content` in the method element.
std::string Expected(uint32_t type, const std::string& content) {
  const std::string method = type == kEapTypeTtls ? "EapTtls" : type == kEapTypeSim ? "EapSim" : "EapAka";
  return std::string("<Config xmlns=\"") + xml::kEapHostConfigNamespace + "\"><" + method + " xmlns=\"" +
         xml::kVendorNamespace + "\"" + (content.empty() ? "/>" : ">" + content + "</" + method + ">") +
         "</Config>";
}

// Sets the record's numbers and texts named `prefix`NAME in the case.
void Apply(const test::Case& c, const std::string& prefix, cdata& r) {
  const std::pair<const char*, uint32_t*> numbers[] = {
      {"eap_type", &r.eap_type}, {"phase2_type", &r.phase2_type}, {"cred_source", &r.cred_source}, {"flags", &r.flags}};
  for (const auto& [name, field] : numbers) {
    if (c.count(prefix + name)) *field = std::stoul(c.at(prefix + name), nullptr, 0);
  }
#define VELTO_TEXT(f) std::pair<const char*, std::pair<char*, size_t>>{#f, {r.f, sizeof r.f}}
  for (const auto& [name, field] : {VELTO_TEXT(identity), VELTO_TEXT(password), VELTO_TEXT(anon_identity),
                                    VELTO_TEXT(ca_hash), VELTO_TEXT(subject_match), VELTO_TEXT(alternative_identity)}) {
    if (c.count(prefix + name)) CopyTextField(field.first, field.second, c.at(prefix + name).c_str());
  }
#undef VELTO_TEXT
}

// Runs the cases of tests/vectors/`file` (see config_export.cases).
void RunCases(const std::string& file) {
  for (const test::Case& c : test::ReadCases(file)) {
    SCOPED_TRACE(file + ":" + c.at("line"));
    cdata r{};
    r.eap_type = kEapTypeTtls;
    Apply(c, "", r);
    cdata want = r;
    Apply(c, "back.", want);
    const cdata before = r;
    const bool by_type = c.count("default") != 0;
    const uint8_t type = static_cast<uint8_t>(std::stoul(test::Get(c, "default", "21")));
    const Exported e = Export(by_type ? nullptr : &r, type, std::stoul(test::Get(c, "size", "1520")));
    ASSERT_EQ(e.status, std::stoul(test::Get(c, "status", "0")));
    if (e.status != 0) {
      EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0) << "the record changed";
      continue;
    }
    if (c.count("content")) { EXPECT_EQ(e.xml, Expected(by_type ? type : r.eap_type, c.at("content"))); }
    if (!by_type) { EXPECT_EQ(std::memcmp(&e.back, &want, sizeof want), 0) << e.xml; }
  }
}

TEST_F(ConfigExport, Vectors) {
  RunCases("config_export.cases");
  char user[261] = {};
  uint32_t size = sizeof user;
  ASSERT_TRUE(platform::CurrentUserName(user, &size));
  EXPECT_EQ(Export(nullptr).xml, Expected(kEapTypeTtls, "<Phase2Type>MSCHAPV2</Phase2Type><credPrompt/><anonymousIdentity>" +
                                                            std::string(user).substr(0, 127) +
                                                            "</anonymousIdentity><noServerValidation/><noSubjectMatch/>"));
}

TEST_F(ConfigExport, RefusesFieldTextsHoldingMarkup) { RunCases("config_export_markup.cases"); }
TEST_F(ConfigExport, RefusesServerValidationTextsTheReaderWouldTrim) { RunCases("config_export_trim.cases"); }

// The record's texts go to a fixed buffer; each template is cut at the room left.
TEST_F(ConfigExport, FormatterCutsAtTheRoomLeft) {
  cdata r{};
  r.eap_type = kEapTypeSim;
  CopyTextField(r.identity, "decorative");
  char text[40];
  std::memset(text, '#', sizeof text);
  EXPECT_EQ(xml::build_eap_sim_aka_xml(&r, text, 32), 31u);
  EXPECT_EQ(std::strlen(text), 31u);
  EXPECT_EQ(text[32], '#');
}

// A saved password travels only in the profile form, which the record keeps
// afterwards (0x10); a stored form (0x01) is opened first, whatever the
// credential source. One that cannot be sealed or opened goes as "None", and
// the record keeps it as it was.
TEST_F(ConfigExport, SavedPasswordTravelsOnlySealed) {
  constexpr uint32_t kCustom = kFlagPasswordCustomProtected, kProfile = kFlagPasswordProfileEncrypted;
  MallocPtr<char> sealed(CryptProtectCustom("pw"));
  ASSERT_NE(sealed, nullptr);
  const std::string custom = sealed.get(), too_long(101, 'p'), foreign = std::string(72, 'A') + "\n" + std::string(72, 'A') + "\n";
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
    cdata r{};
    r.eap_type = kEapTypeTtls;
    r.cred_source = c.cred_source;
    r.flags = c.flags;
    CopyTextField(r.identity, "alice");
    CopyTextField(r.password, c.password.c_str());
    const std::string xml = Export(&r).xml;
    EXPECT_EQ(r.flags, c.flags_after);
    std::string profile = r.password;
    SecretText opened((r.flags & kProfile) != 0 ? DecryptProfileIdentityData(profile.data()) : nullptr);
    EXPECT_EQ(opened ? opened.get() : r.password, c.after);
    EXPECT_THAT(xml, HasSubstr(!c.written.empty() ? c.written
                                                  : "<credSaved><identity encrypted=\"false\">alice</identity>"
                                                    "<password encrypted=\"true\">" + std::string(r.password) + "</password>"));
  }
}

// An empty saved password is written as empty, not sealed: a sealed empty
// text opens to nothing and came back as a password that cannot be opened.
TEST_F(ConfigExport, EmptySavedPasswordStaysEmpty) {
  cdata r{};
  r.eap_type = kEapTypeTtls;
  CopyTextField(r.identity, "alice");
  const Exported e = Export(&r);
  EXPECT_THAT(e.xml, HasSubstr("<password encrypted=\"false\"/>"));
  EXPECT_EQ(r.flags, 0u);
  EXPECT_STREQ(e.back.password, "");
  EXPECT_EQ(e.back.flags, 0u);
}

// A record may fill its text fields to the last byte: each is written to its
// end and no further, and the password (said to be the stored form) is opened
// and sealed from within the record. The record has a block of its own size,
// so a read past it is a sanitizer finding.
TEST_F(ConfigExport, FieldsFilledToTheirEndAreReadWithinTheRecord) {
  MallocPtr<cdata> record(static_cast<cdata*>(std::malloc(sizeof(cdata))));
  std::memset(record.get(), 'a', sizeof(cdata));
  record->eap_type = kEapTypeTtls;
  record->phase2_type = 0;
  record->cred_source = kCredSaved;
  ASSERT_NE(record->flags & kFlagPasswordCustomProtected, 0u);
  const Exported out = Export(record.get());
  ASSERT_EQ(out.status, 0u);
  for (const std::string end : {"</anonymousIdentity>", "</subjectMatchString>", "</serverCertificateHash>"}) {
    const std::string field(end == "</serverCertificateHash>" ? 64 : 128, 'a');
    EXPECT_THAT(out.xml, HasSubstr(">" + field + end));
  }
}

}  // namespace
}  // namespace velto
