#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frame/cdata.h"
#include "frame/exports.h"
#include "frame/memory.h"
#include "frame/user_name.h"
#include "protect/custom_protect.h"
#include "protect/profile_protect.h"
#include "support/test_env.h"
#include "support/xml_test_util.h"
#include "xmlconfig/config_export.h"
#include "xmlconfig/config_schema.h"
#include "xmlconfig/xml_access.h"

namespace velto {
namespace {

using test::XmlDocument;

class ConfigExport : public testing::Test {
 protected:
  static void SetUpTestSuite() { test::InitComForThisThread(); }
};

cdata Record(uint8_t type) {
  cdata r{};
  r.eap_type = type;
  return r;
}

std::string OpenProfile(const char* text) {
  std::string copy = text;
  char* plain = DecryptProfileIdentityData(copy.data());
  std::string result = plain != nullptr ? plain : "<does not open>";
  WipeAndFreeText(plain);
  return result;
}

// Exports a record (or the default record of `type` when null).
DWORD Export(cdata* record, XmlDocument* out, uint8_t type = 0, DWORD size = kCdataSize) {
  EAP_METHOD_TYPE method{};
  method.eapType.type = type;
  VeltoXmlDocument* document = nullptr;
  DWORD status = EapPeerConfigBlob2Xml(0, method, reinterpret_cast<BYTE*>(record),
                                       record != nullptr ? size : 0, &document, nullptr);
  out->reset(document);
  return status;
}

// "name=text" for each child of the method element, in order; text of a
// credSaved child element is listed as credSaved/name=text.
std::vector<std::string> MethodChildren(VeltoXmlDocument* document) {
  std::vector<std::string> out;
  const xml::DomApi& dom = *xml::g_dom;
  xml::NodeRef config(dom.first_child(document));
  if (!config) return {"<no config>"};
  xml::NodeRef method(dom.child_at(config.get(), 0));
  if (!method) return {"<no method>"};
  auto list = [&](xml::DomNode* parent, const std::string& prefix, auto& self) -> void {
    long count = 0;
    dom.child_count(parent, &count);
    for (long i = 0; i < count; ++i) {
      xml::NodeRef child(dom.child_at(parent, i));
      WCHAR* name = dom.node_name(child.get());
      std::string n = test::ToUtf8(name);
      std::free(name);
      if (n == "#text") continue;
      if (n == "credSaved") {
        out.push_back("credSaved");
        self(child.get(), "credSaved/", self);
        continue;
      }
      char* text = xml::node_text_utf8(child.get());
      out.push_back(prefix + n + "=" + (text != nullptr ? text : "<none>"));
      std::free(text);
    }
  };
  list(method.get(), "", list);
  return out;
}

TEST_F(ConfigExport, TtlsTemplatesAreWrittenExactly) {
  cdata r = Record(kEapTypeTtls);
  r.phase2_type = kPhase2Pap;
  r.cred_source = kCredSso;
  CopyTextField(r.anon_identity, "anon@x");
  CopyTextField(r.ca_hash, "hash://0011");
  CopyTextField(r.subject_match, "/sradius");
  char text[1024];
  size_t n = xml::build_eap_ttls_xml(&r, text, sizeof text);
  const std::string expected =
      std::string("<EapTtls xmlns='") + xml::kVendorNamespace +
      "'><Phase2Type>PAP</Phase2Type><credSSO /><anonymousIdentity>anon@x</anonymousIdentity>"
      "<serverCertificateHash>hash://0011</serverCertificateHash>"
      "<subjectMatchString>/sradius</subjectMatchString></EapTtls></Config>";
  EXPECT_EQ(std::string(text), expected);
  EXPECT_EQ(n, expected.size());
}

TEST_F(ConfigExport, FormatterCutsAtTheRoomLeft) {
  cdata r = Record(kEapTypeSim);
  CopyTextField(r.identity, "decorative");
  char text[40];
  std::memset(text, '#', sizeof text);
  size_t n = xml::build_eap_sim_aka_xml(&r, text, 32);
  EXPECT_EQ(n, 31u);
  EXPECT_EQ(std::strlen(text), 31u);
  EXPECT_EQ(text[32], '#');
}

TEST_F(ConfigExport, DefaultRecords) {
  char user[261] = {};
  uint32_t size = sizeof user;
  ASSERT_TRUE(platform::CurrentUserName(user, &size));
  XmlDocument document;
  ASSERT_EQ(Export(nullptr, &document, kEapTypeTtls), 0u);
  EXPECT_EQ(MethodChildren(document.get()),
            (std::vector<std::string>{"Phase2Type=MSCHAPV2", "credPrompt=",
                                      std::string("anonymousIdentity=") + std::string(user).substr(0, 127),
                                      "noServerValidation=", "noSubjectMatch="}));
  for (uint8_t type : {kEapTypeSim, kEapTypeAka}) {
    ASSERT_EQ(Export(nullptr, &document, type), 0u);
    EXPECT_EQ(MethodChildren(document.get()), std::vector<std::string>{});
    xml::NodeRef config(xml::g_dom->first_child(document.get()));
    EXPECT_TRUE(xml::find_child_node(config.get(), xml::MethodElementName(type)));
  }
}

TEST_F(ConfigExport, RefusesWhatItCannotUse) {
  XmlDocument document;
  cdata r = Record(kEapTypeTtls);
  for (DWORD size : {1u, 1519u, 1521u, 4096u}) {
    EXPECT_EQ(Export(&r, &document, 0, size), 87u) << size;
    EXPECT_EQ(Export(nullptr, &document, kEapTypeTtls, size), 0u) << "no record, size not read";
  }
  EAP_METHOD_TYPE method{};
  method.eapType.type = kEapTypeTtls;
  VeltoXmlDocument* out = reinterpret_cast<VeltoXmlDocument*>(0x1);
  EXPECT_EQ(EapPeerConfigBlob2Xml(0, method, nullptr, 1519, &out, nullptr), 87u);
  EXPECT_EQ(out, reinterpret_cast<VeltoXmlDocument*>(0x1));

  for (int type : {0, 19, 22, 25, 255}) {
    EXPECT_EQ(Export(nullptr, &document, static_cast<uint8_t>(type)), 87u) << type;
    cdata other = Record(static_cast<uint8_t>(type));
    EXPECT_EQ(Export(&other, &document, kEapTypeTtls), 87u) << type;
  }

  // Texts go in unescaped; the parser then refuses the document.
  for (const char* text : {"a<b", "a&b", "</EapTtls>"}) {
    cdata bad = Record(kEapTypeTtls);
    CopyTextField(bad.anon_identity, text);
    out = reinterpret_cast<VeltoXmlDocument*>(0x1);
    EAP_METHOD_TYPE m{};
    EXPECT_EQ(EapPeerConfigBlob2Xml(0, m, reinterpret_cast<BYTE*>(&bad), kCdataSize, &out, nullptr), 87u);
    EXPECT_EQ(out, reinterpret_cast<VeltoXmlDocument*>(0x1));
  }
}

TEST_F(ConfigExport, SizeZeroWithARecordReadsTheRecord) {
  cdata r = Record(kEapTypeSim);
  CopyTextField(r.identity, "deco");
  XmlDocument document;
  ASSERT_EQ(Export(&r, &document, 0, 0), 0u);
}

TEST_F(ConfigExport, SavedPlainPasswordTravelsSealedAndStaysSealedInTheRecord) {
  cdata r = Record(kEapTypeTtls);
  CopyTextField(r.identity, "alice");
  CopyTextField(r.password, "s3cret");
  XmlDocument document;
  ASSERT_EQ(Export(&r, &document), 0u);
  EXPECT_EQ(r.flags, kFlagPasswordProfileEncrypted);
  EXPECT_EQ(OpenProfile(r.password), "s3cret");

  auto children = MethodChildren(document.get());
  ASSERT_GE(children.size(), 3u);
  EXPECT_EQ(children[1], "credSaved/identity=alice");
  EXPECT_EQ(children[2], std::string("credSaved/password=") + r.password);
}

TEST_F(ConfigExport, PasswordThatCannotBeSealedIsWrittenAsNone) {
  cdata r = Record(kEapTypeTtls);
  CopyTextField(r.identity, "alice");
  std::string long_password(101, 'p');
  CopyTextField(r.password, long_password.c_str());
  XmlDocument document;
  ASSERT_EQ(Export(&r, &document), 0u);
  EXPECT_EQ(r.flags, 0u);
  EXPECT_EQ(std::string(r.password), long_password);
  auto children = MethodChildren(document.get());
  EXPECT_EQ(children[2], "credSaved/password=None");
  EXPECT_EQ(std::string(OpenProfile("x")), "<does not open>");
}

TEST_F(ConfigExport, StoredFormIsOpenedFirst) {
  // Prompt: the record leaves with its password in plain, bit 0x01 cleared.
  cdata r = Record(kEapTypeTtls);
  r.cred_source = kCredPrompt;
  char* sealed = CryptProtectCustom("pw");
  ASSERT_NE(sealed, nullptr);
  CopyTextField(r.password, sealed);
  std::free(sealed);
  r.flags = kFlagPasswordCustomProtected;
  XmlDocument document;
  ASSERT_EQ(Export(&r, &document), 0u);
  EXPECT_EQ(r.flags, 0u);
  EXPECT_STREQ(r.password, "pw");

  // A stored form that does not open (another user's) is written as "None":
  // it is too long for the profile form.
  cdata foreign = Record(kEapTypeTtls);
  CopyTextField(foreign.identity, "alice");
  CopyTextField(foreign.password, (std::string(72, 'A') + "\n" + std::string(72, 'A') + "\n").c_str());
  foreign.flags = kFlagPasswordCustomProtected;
  ASSERT_EQ(Export(&foreign, &document), 0u);
  EXPECT_EQ(foreign.flags, kFlagPasswordCustomProtected);
  EXPECT_EQ(MethodChildren(document.get())[2], "credSaved/password=None");
}

TEST_F(ConfigExport, Phase2AndServerValidationNames) {
  struct Case {
    uint32_t code;
    const char* text;  // null: no element
  } cases[] = {{0, nullptr},  {1, "EAP-GTC"},  {2, "EAP-MSCHAPV2"}, {4, "EAP-MD5"},
               {8, "EAP-GTC"}, {16, "MSCHAPV2"}, {32, "MSCHAP"},     {64, "CHAP"},
               {128, "EAP-TLS"}, {256, "PAP"},   {3, "UNKNOWN"},     {0xFFFFFFFF, "UNKNOWN"}};
  for (const Case& c : cases) {
    cdata r = Record(kEapTypeTtls);
    r.phase2_type = c.code;
    XmlDocument document;
    ASSERT_EQ(Export(&r, &document), 0u);
    auto children = MethodChildren(document.get());
    if (c.text == nullptr) {
      EXPECT_EQ(children.front(), "credPrompt=") << c.code;
    } else {
      EXPECT_EQ(children.front(), std::string("Phase2Type=") + c.text) << c.code;
    }
  }
  struct Hash {
    const char* ca_hash;
    const char* element;
  } hashes[] = {{"", "noServerValidation="}, {"any", "anyTrustedServer="},
                {"Any", "serverCertificateHash=Any"}};
  for (const Hash& h : hashes) {
    cdata r = Record(kEapTypeTtls);
    CopyTextField(r.ca_hash, h.ca_hash);
    CopyTextField(r.anon_identity, "a");
    XmlDocument document;
    ASSERT_EQ(Export(&r, &document), 0u);
    EXPECT_EQ(MethodChildren(document.get())[2], h.element);
  }
}

// Export, then import the document again.
cdata RoundTrip(cdata record) {
  XmlDocument document;
  EXPECT_EQ(Export(&record, &document), 0u);
  EAP_METHOD_TYPE method{};
  method.eapType.type = static_cast<uint8_t>(record.eap_type);
  BYTE* out = nullptr;
  DWORD size = 0;
  EXPECT_EQ(EapPeerConfigXml2Blob(0, method, document.get(), &out, &size, nullptr), 0u);
  cdata back{};
  if (out != nullptr) std::memcpy(&back, out, sizeof back);
  std::free(out);
  return back;
}

TEST_F(ConfigExport, RoundTripKeepsWhatTheSchemaCarries) {
  cdata r = Record(kEapTypeTtls);
  r.phase2_type = kPhase2EapMschapV2;
  r.cred_source = kCredSso;
  CopyTextField(r.anon_identity, "anon@corp");
  CopyTextField(r.ca_hash, "hash://00112233445566778899aabbccddeeff00112233");
  CopyTextField(r.subject_match, "/dcorp.example");
  cdata back = RoundTrip(r);
  EXPECT_EQ(std::memcmp(&back, &r, sizeof r), 0);

  cdata sim = Record(kEapTypeAka);
  sim.cred_source = kCredPrompt;
  CopyTextField(sim.alternative_identity, "alt@realm");
  CopyTextField(sim.identity, "1$imsi$@realm");
  back = RoundTrip(sim);
  EXPECT_EQ(std::memcmp(&back, &sim, sizeof sim), 0);
}

TEST_F(ConfigExport, RoundTripDifferences) {
  {
    cdata r = Record(kEapTypeTtls);
    r.phase2_type = kPhase2Gtc;
    EXPECT_EQ(RoundTrip(r).phase2_type, kPhase2EapGtc);
  }
  for (uint32_t source : {kCredSaved, kCredSavedUndecryptable}) {
    cdata r = Record(kEapTypeTtls);
    r.cred_source = source;  // saved with an empty identity, or undecryptable
    EXPECT_EQ(RoundTrip(r).cred_source, kCredPrompt) << source;
  }
  {
    cdata r = Record(kEapTypeTtls);
    EXPECT_STREQ(RoundTrip(r).anon_identity, xml::kDefaultAnonymousIdentity);
  }
  {
    cdata r = Record(kEapTypeTtls);
    CopyTextField(r.identity, "alice");
    CopyTextField(r.password, "pw");
    cdata back = RoundTrip(r);
    EXPECT_EQ(back.flags, kFlagPasswordCustomProtected);
    char* plain = CryptUnprotectCustom(back.password);
    EXPECT_STREQ(plain, "pw");
    WipeAndFreeText(plain);
  }
  {
    cdata r = Record(kEapTypeTtls);
    CopyTextField(r.identity, "alice");
    std::string long_password(101, 'p');
    CopyTextField(r.password, long_password.c_str());
    cdata back = RoundTrip(r);
    char* plain = CryptUnprotectCustom(back.password);
    EXPECT_STREQ(plain, "None");
    WipeAndFreeText(plain);
  }
  {
    cdata r = Record(kEapTypeSim);
    EXPECT_EQ(RoundTrip(r).cred_source, kCredPrompt);
  }
  {
    cdata r = Record(kEapTypeAka);
    CopyTextField(r.identity, "j\xC3\xBCrgen");  // not 7-bit ASCII: lost
    EXPECT_STREQ(RoundTrip(r).identity, "");
  }
}

}  // namespace
}  // namespace velto
