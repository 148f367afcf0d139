// The configuration record to XML and back; the import of tests/vectors/config (see its README).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>
#include "base/memory.h"
#include "base/text.h"
#include "frame/cdata.h"
#include "frame/exports.h"
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

struct ConfigExport : testing::Test { static void SetUpTestSuite() { test::InitComForThisThread(); } };
uint32_t Number(const std::string& text) { return std::strtoul(text.c_str(), nullptr, 0); }

// The plain text of the stored (custom) or the profile sealed form.
std::string Open(std::string text, bool custom) {
  SecretText plain(custom ? CryptUnprotectCustom(text.c_str()) : DecryptProfileIdentityData(text.data()));
  return plain != nullptr ? plain.get() : "<does not open>";
}
// {{CUSTOM:TEXT}}: the stored form of TEXT; {{SEALED:TEXT}}: its profile form.
std::string Expand(std::string text) {
  for (size_t at; (at = text.find("{{")) != std::string::npos;) {
    const size_t end = text.find("}}", at);
    const std::string plain = text.substr(at + 9, end - at - 9);
    MallocPtr<char> sealed(text[at + 2] == 'C' ? CryptProtectCustom(plain.c_str())
                                               : EncryptProfileIdentityData(plain.c_str()));
    EXPECT_NE(sealed, nullptr);
    text.replace(at, end + 2 - at, sealed != nullptr ? sealed.get() : "");
  }
  return text;
}
// The status, the document written out (layout left out), the record it imports as.
struct Exported { DWORD status; std::string xml; cdata back; };

// Exports a record (null: the default of `type`); whatever it writes must import.
Exported Export(cdata* record, uint8_t type = kEapTypeTtls, DWORD size = kCdataSize) {
  EAP_METHOD_TYPE method{};
  method.eapType.type = type;
  auto* const untouched = reinterpret_cast<VeltoXmlDocument*>(0x1);
  VeltoXmlDocument* out = untouched;
  Exported result{EapPeerConfigBlob2Xml(0, method, reinterpret_cast<BYTE*>(record), size, &out, nullptr), "", {}};
  EXPECT_TRUE(result.status == 0 || out == untouched) << "a failure hands out no document";
  if (result.status != 0) return result;
  test::XmlDocument document(out);
  result.xml = test::SerializeXml(out);  // no text here holds a line break or a tab
  std::erase_if(result.xml, [](char c) { return c == '\r' || c == '\n' || c == '\t'; });
  method.eapType.type = record != nullptr ? static_cast<uint8_t>(record->eap_type) : type;
  BYTE* blob = nullptr;
  DWORD blob_size = 0;
  EXPECT_EQ(EapPeerConfigXml2Blob(0, method, out, &blob, &blob_size, nullptr), 0u) << result.xml;
  if (MallocPtr<BYTE> owned{blob}) std::memcpy(&result.back, blob, sizeof result.back);
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
  for (const auto& [name, field] : numbers) *field = Number(test::Get(c, prefix + name, std::to_string(*field)));
#define VELTO_TEXT(f) std::pair<const char*, std::pair<char*, size_t>>{#f, {r.f, sizeof r.f}}
  for (const auto& [name, field] : {VELTO_TEXT(identity), VELTO_TEXT(password), VELTO_TEXT(anon_identity),
                                    VELTO_TEXT(ca_hash), VELTO_TEXT(subject_match), VELTO_TEXT(alternative_identity)}) {
    if (c.count(prefix + name)) CopyTextField(field.first, field.second, Expand(c.at(prefix + name)).c_str());
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
    const Exported e = Export(by_type ? nullptr : &r, type, Number(test::Get(c, "size", "1520")));
    ASSERT_EQ(e.status, Number(test::Get(c, "status", "0")));
    if (c.count("after.flags")) {  // the record as the export leaves it
      EXPECT_EQ(r.flags, Number(c.at("after.flags")));
      const bool sealed = (r.flags & kFlagPasswordProfileEncrypted) != 0;
      EXPECT_EQ(sealed ? Open(r.password, false) : r.password, Expand(c.at("after.password")));
      std::string holds = c.at("holds");
      if (size_t at = holds.find("{{RECORD}}"); at != std::string::npos) holds.replace(at, 10, r.password);
      EXPECT_THAT(e.xml, HasSubstr(holds));
      continue;
    }
    EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0) << "the record changed";
    if (e.status != 0) continue;
    if (c.count("content")) { EXPECT_EQ(e.xml, Expected(by_type ? type : r.eap_type, c.at("content"))); }
    if (!by_type) { EXPECT_EQ(std::memcmp(&e.back, &want, sizeof want), 0) << e.xml; }
  }
}

TEST_F(ConfigExport, Vectors) { RunCases("config_export.cases"); }
TEST_F(ConfigExport, RefusesFieldTextsHoldingMarkup) { RunCases("config_export_markup.cases"); }
TEST_F(ConfigExport, RefusesServerValidationTextsTheReaderWouldTrim) { RunCases("config_export_trim.cases"); }
TEST_F(ConfigExport, SavedPasswordTravelsOnlySealed) { RunCases("config_export_saved.cases"); }
TEST_F(ConfigExport, EmptySavedPasswordStaysEmpty) { RunCases("config_export_empty_password.cases"); }

// The record's texts go to a fixed buffer; each template is cut at the room left.
TEST_F(ConfigExport, FormatterCutsAtTheRoomLeft) {
  cdata r{};
  r.eap_type = kEapTypeSim;
  CopyTextField(r.identity, "decorative");
  char text[40] = "#######################################";
  EXPECT_EQ(xml::build_eap_sim_aka_xml(&r, text, 32), 31u);
  EXPECT_EQ(std::strlen(text), 31u);
  EXPECT_EQ(text[32], '#');
}

// Fields filled to the last byte are written whole and read no further: the record
// has a block of its own size, so a read past it is a sanitizer finding.
TEST_F(ConfigExport, FieldsFilledToTheirEndAreReadWithinTheRecord) {
  MallocPtr<cdata> record(static_cast<cdata*>(std::malloc(sizeof(cdata))));
  std::memset(record.get(), 'a', sizeof(cdata));  // flags 0x61616161: the stored form
  record->eap_type = kEapTypeTtls;
  record->phase2_type = record->cred_source = 0;  // saved
  const std::string xml = Export(record.get()).xml;
  for (const std::string end : {"</anonymousIdentity>", "</subjectMatchString>", "</serverCertificateHash>"}) {
    EXPECT_THAT(xml, HasSubstr(">" + std::string(end[3] == 'e' ? 64 : 128, 'a') + end));
  }
}
const std::string kDir = VELTO_VECTORS_DIR "/config/";

std::vector<std::string> VectorNames() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(kDir, ec)) {
    if (entry.path().extension() == ".xml") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}
class ConfigVector : public ConfigExport, public testing::WithParamInterface<std::string> {};

TEST_P(ConfigVector, ImportGivesTheExpectedRecord) {
  test::Case expect = test::ParseCases(test::ReadFile(kDir + GetParam() + ".expect")).at(0);
  test::XmlDocument document = test::ParseXml(Expand(test::ReadFile(kDir + GetParam() + ".xml")));
  ASSERT_TRUE(document) << "the vector does not parse";
  const std::string before = test::SerializeXml(document.get());

  const std::string method = expect["method"];
  EAP_METHOD_TYPE type{};
  type.eapType.type = method == "ttls" ? kEapTypeTtls : method == "sim" ? kEapTypeSim
                      : method == "aka" ? kEapTypeAka : static_cast<uint8_t>(Number(method));
  type.eapType.dwVendorId = 0x1234;  // ignored
  BYTE* out = reinterpret_cast<BYTE*>(0x1);
  DWORD size = 0xFFFF;
  EAP_ERROR* error = reinterpret_cast<EAP_ERROR*>(0x2);
  const DWORD status = EapPeerConfigXml2Blob(0, type, document.get(), &out, &size, &error);
  ASSERT_EQ(status, Number(expect.at("status")));
  EXPECT_EQ(error, reinterpret_cast<EAP_ERROR*>(0x2)) << "the error record is never touched";
  if (status != 0) {
    EXPECT_TRUE(out == reinterpret_cast<BYTE*>(0x1) && size == 0xFFFF) << "a failure hands out nothing";
    EXPECT_EQ(test::SerializeXml(document.get()), before) << "the document changed on failure";
    return;
  }
  ASSERT_EQ(size, kCdataSize);
  MallocPtr<cdata> r(reinterpret_cast<cdata*>(out));
  const std::string password = expect["password"];  // empty, custom:PLAIN or asis:TEXT
  const size_t colon = password.find(':');
  EXPECT_EQ(colon == 6 ? Open(r->password, true) : std::string(r->password),
            colon == std::string::npos ? "" : password.substr(colon + 1)) << password;
  EXPECT_EQ(r->eap_type, type.eapType.type);
  const std::pair<const char*, std::string> fields[] = {
      {"phase2_type", std::to_string(r->phase2_type)}, {"cred_source", std::to_string(r->cred_source)},
      {"flags", std::to_string(r->flags)}, {"anon_identity", r->anon_identity}, {"ca_hash", r->ca_hash},
      {"identity", r->identity}, {"alternative_identity", r->alternative_identity},
      {"subject_match", r->subject_match}};
  for (size_t i = 0; i < std::size(fields); ++i) {
    const std::string& want = expect[fields[i].first];
    EXPECT_EQ(fields[i].second, i < 3 ? std::to_string(Number(want)) : want) << fields[i].first;
  }
  const cdata zero{};
  EXPECT_EQ(std::memcmp(r->pin, zero.pin, sizeof zero.pin + sizeof zero.sim_imsi), 0);

  const std::string in_document = expect["document_password"], after = test::SerializeXml(document.get());
  if (in_document == "unchanged") { EXPECT_EQ(after, before); }
  if (in_document.rfind("sealed", 0) != 0) return;
  const std::string tag = "<password encrypted=\"true\">";
  ASSERT_NE(after.find(tag), std::string::npos) << after;
  const size_t at = after.find(tag) + tag.size();
  const std::string text = after.substr(at, after.find("</password>", at) - at);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(Open(text, false), in_document == "sealed-empty" ? "<does not open>" : in_document.substr(7));
}

INSTANTIATE_TEST_SUITE_P(Vectors, ConfigVector, testing::ValuesIn(VectorNames()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

TEST(ConfigVectors, AreThere) { EXPECT_GE(VectorNames().size(), 20u); }
}  // namespace
}  // namespace velto
