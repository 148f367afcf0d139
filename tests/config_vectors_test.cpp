// The import of each document of tests/vectors/config (see its README).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/memory.h"
#include "frame/cdata.h"
#include "frame/exports.h"
#include "protect/custom_protect.h"
#include "protect/profile_protect.h"
#include "support/test_env.h"
#include "support/vectors.h"
#include "support/xml_test_util.h"
#include "xmlconfig/xml_access.h"

namespace velto {
namespace {

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

uint32_t Number(const std::string& text) { return std::strtoul(text.c_str(), nullptr, 0); }

// The plain text of the stored (custom) or the profile sealed form.
std::string Open(std::string text, bool custom) {
  char* plain = custom ? CryptUnprotectCustom(text.c_str()) : DecryptProfileIdentityData(text.data());
  std::string result = plain != nullptr ? plain : "<does not open>";
  WipeAndFreeText(plain);
  return result;
}

std::string SealPlaceholders(std::string xml) {
  const std::string open = "{{SEALED:";
  for (size_t at; (at = xml.find(open)) != std::string::npos;) {
    const size_t end = xml.find("}}", at);
    MallocPtr<char> sealed(EncryptProfileIdentityData(xml.substr(at + 9, end - at - 9).c_str()));
    EXPECT_NE(sealed, nullptr);
    xml.replace(at, end + 2 - at, sealed != nullptr ? sealed.get() : "");
  }
  return xml;
}

class ConfigVector : public testing::TestWithParam<std::string> {
 protected:
  static void SetUpTestSuite() { test::InitComForThisThread(); }
};

TEST_P(ConfigVector, ImportGivesTheExpectedRecord) {
  auto cases = test::ParseCases(test::ReadFile(kDir + GetParam() + ".expect"));
  ASSERT_EQ(cases.size(), 1u);
  test::Case& expect = cases[0];
  test::XmlDocument document = test::ParseXml(SealPlaceholders(test::ReadFile(kDir + GetParam() + ".xml")));
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
    EXPECT_EQ(out, reinterpret_cast<BYTE*>(0x1));
    EXPECT_EQ(size, 0xFFFFu);
    EXPECT_EQ(test::SerializeXml(document.get()), before) << "the document changed on failure";
    return;
  }
  ASSERT_EQ(size, kCdataSize);
  MallocPtr<cdata> r(reinterpret_cast<cdata*>(out));
  EXPECT_EQ(r->eap_type, type.eapType.type);
  const std::pair<const char*, uint32_t> numbers[] = {
      {"phase2_type", r->phase2_type}, {"cred_source", r->cred_source}, {"flags", r->flags}};
  for (const auto& [key, value] : numbers) EXPECT_EQ(value, Number(expect[key])) << key;
  const std::pair<const char*, std::string> texts[] = {
      {"anon_identity", r->anon_identity}, {"ca_hash", r->ca_hash}, {"identity", r->identity},
      {"alternative_identity", r->alternative_identity}, {"subject_match", r->subject_match}};
  for (const auto& [key, value] : texts) EXPECT_EQ(value, expect[key]) << key;
  const cdata zero{};
  EXPECT_EQ(std::memcmp(r->pin, zero.pin, sizeof zero.pin + sizeof zero.sim_imsi), 0);

  const std::string password = expect["password"];
  if (password.rfind("custom:", 0) == 0) {
    EXPECT_EQ(Open(r->password, true), password.substr(7));
  } else if (password.rfind("asis:", 0) == 0) {
    EXPECT_EQ(std::string(r->password), password.substr(5));
  } else {
    EXPECT_STREQ(r->password, "") << password;  // "empty" or not named
  }

  const std::string in_document = expect["document_password"];
  if (in_document == "unchanged") { EXPECT_EQ(test::SerializeXml(document.get()), before); }
  if (in_document.rfind("sealed", 0) != 0) return;
  xml::NodeRef node(xml::g_dom->first_child(document.get()));
  for (const char* name : {"EapTtls", "credSaved", "password"}) node = xml::find_child_node(node.get(), name);
  ASSERT_TRUE(node);
  MallocPtr<char> encrypted(xml::get_encrypted_attribute(node.get())), text(xml::node_text_utf8(node.get()));
  EXPECT_STREQ(encrypted.get(), "true");
  ASSERT_NE(text, nullptr);
  EXPECT_GT(std::strlen(text.get()), 0u);
  EXPECT_EQ(Open(text.get(), false), in_document == "sealed-empty" ? "<does not open>" : in_document.substr(7));
}

INSTANTIATE_TEST_SUITE_P(Vectors, ConfigVector, testing::ValuesIn(VectorNames()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

TEST(ConfigVectors, AreThere) { EXPECT_GE(VectorNames().size(), 20u); }

}  // namespace
}  // namespace velto
