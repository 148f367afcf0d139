// The shared configuration vectors: each tests/vectors/config/NAME.xml is
// imported with the EAP type its NAME.expect names, and the status and record
// must be what NAME.expect says. The same files run against libxml2 on Linux
// and MSXML 6 on Windows.
//
// NAME.expect holds "key = value" lines:
//   method              ttls | sim | aka | a type number
//   status              the export's status
//   phase2_type, cred_source, flags, eap_type          numbers (0x.. allowed)
//   anon_identity, ca_hash, alternative_identity, subject_match, identity
//                       exact texts; a field not named must be empty / zero
//   password            empty | custom:PLAIN (the stored sealed form of
//                       PLAIN) | asis:TEXT (the field holds TEXT)
//   document_password   sealed:PLAIN (the document's password element now
//                       holds the profile form of PLAIN, encrypted="true")
//                       | sealed-empty (encrypted="true", and the sealed
//                       text opens to nothing) | unchanged
// In the XML, {{SEALED:TEXT}} stands for the profile form of TEXT, made by
// this user when the test runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "frame/cdata.h"
#include "frame/exports.h"
#include "base/memory.h"
#include "protect/custom_protect.h"
#include "protect/profile_protect.h"
#include "support/test_env.h"
#include "support/vectors.h"
#include "support/xml_test_util.h"
#include "xmlconfig/xml_access.h"

namespace velto {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> VectorNames() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(VELTO_VECTORS_DIR "/config", ec)) {
    if (entry.path().extension() == ".xml") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

uint32_t Number(const std::string& text) {
  return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 0));
}

uint8_t MethodType(const std::string& method) {
  if (method == "ttls") return kEapTypeTtls;
  if (method == "sim") return kEapTypeSim;
  if (method == "aka") return kEapTypeAka;
  return static_cast<uint8_t>(Number(method));
}

// Replaces every {{SEALED:TEXT}} by the profile form of TEXT.
std::string SealPlaceholders(std::string xml) {
  const std::string open = "{{SEALED:";
  for (size_t at; (at = xml.find(open)) != std::string::npos;) {
    size_t end = xml.find("}}", at);
    std::string plain = xml.substr(at + open.size(), end - at - open.size());
    char* sealed = EncryptProfileIdentityData(plain.c_str());
    EXPECT_NE(sealed, nullptr);
    xml.replace(at, end + 2 - at, sealed != nullptr ? sealed : "");
    std::free(sealed);
  }
  return xml;
}

std::string OpenCustom(const char* text) {
  char* plain = CryptUnprotectCustom(text);
  std::string result = plain != nullptr ? plain : "<does not open>";
  WipeAndFreeText(plain);
  return result;
}

std::string OpenProfile(const std::string& text) {
  std::string copy = text;
  char* plain = DecryptProfileIdentityData(copy.data());
  std::string result = plain != nullptr ? plain : "<does not open>";
  WipeAndFreeText(plain);
  return result;
}

class ConfigVector : public testing::TestWithParam<std::string> {
 protected:
  static void SetUpTestSuite() { test::InitComForThisThread(); }
};

TEST_P(ConfigVector, ImportGivesTheExpectedRecord) {
  const fs::path dir = fs::path(VELTO_VECTORS_DIR) / "config";
  auto cases = test::ParseCases(test::ReadFile((dir / (GetParam() + ".expect")).string()));
  ASSERT_EQ(cases.size(), 1u) << GetParam();
  test::Case& expect = cases[0];
  ASSERT_TRUE(expect.count("method") && expect.count("status")) << GetParam();

  test::XmlDocument document = test::ParseXml(SealPlaceholders(test::ReadFile((dir / (GetParam() + ".xml")).string())));
  ASSERT_TRUE(document) << "the vector does not parse";
  std::string before = test::SerializeXml(document.get());

  EAP_METHOD_TYPE type{};
  type.eapType.type = MethodType(expect["method"]);
  type.eapType.dwVendorId = 0x1234;  // ignored
  BYTE* out = reinterpret_cast<BYTE*>(0x1);
  DWORD size = 0xFFFF;
  EAP_ERROR* error = reinterpret_cast<EAP_ERROR*>(0x2);
  DWORD status = EapPeerConfigXml2Blob(0, type, document.get(), &out, &size, &error);
  ASSERT_EQ(status, Number(expect["status"]));
  EXPECT_EQ(error, reinterpret_cast<EAP_ERROR*>(0x2)) << "the error record is never touched";
  if (status != 0) {
    EXPECT_EQ(out, reinterpret_cast<BYTE*>(0x1));
    EXPECT_EQ(size, 0xFFFFu);
    EXPECT_EQ(test::SerializeXml(document.get()), before) << "the document changed on failure";
    return;
  }
  ASSERT_EQ(size, kCdataSize);
  MallocPtr<cdata> record(reinterpret_cast<cdata*>(out));

  EXPECT_EQ(record->eap_type, expect.count("eap_type") ? Number(expect["eap_type"]) : type.eapType.type);
  EXPECT_EQ(record->phase2_type, Number(expect["phase2_type"]));
  EXPECT_EQ(record->cred_source, Number(expect["cred_source"]));
  EXPECT_EQ(record->flags, Number(expect["flags"]));
  EXPECT_EQ(std::string(record->anon_identity), expect["anon_identity"]);
  EXPECT_EQ(std::string(record->ca_hash), expect["ca_hash"]);
  EXPECT_EQ(std::string(record->alternative_identity), expect["alternative_identity"]);
  EXPECT_EQ(std::string(record->subject_match), expect["subject_match"]);
  EXPECT_EQ(std::string(record->identity), expect["identity"]);
  const cdata zero{};
  EXPECT_EQ(std::memcmp(record->pin, zero.pin, sizeof zero.pin + sizeof zero.sim_imsi), 0);

  const std::string& password = expect["password"];
  if (password.empty() || password == "empty") {
    EXPECT_STREQ(record->password, "");
  } else if (password.rfind("custom:", 0) == 0) {
    EXPECT_EQ(OpenCustom(record->password), password.substr(7));
  } else if (password.rfind("asis:", 0) == 0) {
    EXPECT_EQ(std::string(record->password), password.substr(5));
  } else {
    ADD_FAILURE() << "unknown password expectation " << password;
  }

  const std::string& in_document = expect["document_password"];
  if (in_document == "unchanged") {
    EXPECT_EQ(test::SerializeXml(document.get()), before);
  } else if (in_document.rfind("sealed", 0) == 0) {
    xml::NodeRef config(xml::g_dom->first_child(document.get()));
    xml::NodeRef method = xml::find_child_node(config.get(), "EapTtls");
    xml::NodeRef saved = xml::find_child_node(method.get(), "credSaved");
    xml::NodeRef node = xml::find_child_node(saved.get(), "password");
    ASSERT_TRUE(node);
    char* attribute = xml::get_encrypted_attribute(node.get());
    EXPECT_STREQ(attribute, "true");
    std::free(attribute);
    char* text = xml::node_text_utf8(node.get());
    ASSERT_NE(text, nullptr);
    if (in_document == "sealed-empty") {
      EXPECT_EQ(OpenProfile(text), "<does not open>");
      EXPECT_GT(std::strlen(text), 0u);
    } else {
      EXPECT_EQ(OpenProfile(text), in_document.substr(7));
    }
    std::free(text);
  }
}

INSTANTIATE_TEST_SUITE_P(Vectors, ConfigVector, testing::ValuesIn(VectorNames()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

TEST(ConfigVectors, AreThere) { EXPECT_GE(VectorNames().size(), 20u); }

}  // namespace
}  // namespace velto
