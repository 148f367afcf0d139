// The credential input fields and the user record built back from them, with
// SIMs from the simcore double and the registry seam logging every call (the
// store behind it: a private folder on Linux, Wine's registry on Windows).
// Field arrays are built and read as raw bytes in the desktop layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "doubles/sibling_doubles_client.h"
#include "frame/cdata.h"
#include "frame/exports.h"
#include "base/memory.h"
#include "frame/registry.h"
#include "protect/custom_protect.h"
#include "protect/data_protection.h"
#include "sim/card_lists.h"
#include "support/test_env.h"
#include "ui/module_strings.h"
#include "abi/udata.h"

namespace velto {
namespace {

using platform::RegAccess;
using platform::RegistryKey;
using Field = std::tuple<std::string, int, DWORD, DWORD>;  // label, type, flags, max length
constexpr char kReader[] = "SsoSimReader";

EAP_METHOD_TYPE Method(uint8_t type) { return {{type, 0x1234, 0x56}, 311}; }  // type byte counts

struct Script {
  uint32_t open_w = 0, set = 0, open_r = 0, query = 0, type = 0;  // non-zero: the call's answer
  std::string log{}, written{};
} g_script;
const platform::RegistryApi& Real() { return platform::g_registry.platform(); }
const platform::RegistryApi kLogged = {
    [](const char* subkey, RegAccess access, RegistryKey** key) {
      g_script.log += access == RegAccess::kWrite ? "open(w) " : "open(r) ";
      uint32_t fail = access == RegAccess::kWrite ? g_script.open_w : g_script.open_r;
      return fail != 0 ? fail : Real().open_machine_key(subkey, access, key);
    },
    [](RegistryKey* key, const char* name, uint32_t* type, uint8_t* data, uint32_t* size) {
      g_script.log += std::string("query(") + name + ") ";
      if (g_script.query != 0) return g_script.query;
      uint32_t status = Real().query_value(key, name, type, data, size);
      if (g_script.type != 0) *type = g_script.type;
      return status;
    },
    [](RegistryKey* key, const char* name, uint32_t type, const uint8_t* data, uint32_t size) {
      g_script.log += std::string("set(") + name + ") ";
      g_script.written.assign(reinterpret_cast<const char*>(data), size);
      return g_script.set != 0 ? g_script.set : Real().set_value(key, name, type, data, size);
    },
    [](RegistryKey* key, const char* name) {
      g_script.log += std::string("delete(") + name + ") ";
      return Real().delete_value(key, name);
    },
    [](RegistryKey* key) { g_script.log += "close "; Real().close_key(key); },
    [](const char* subkey, RegistryKey** key) { return Real().create_machine_key(subkey, key); }};

// Writes the reader value as given, or removes it.
void SetReader(const std::optional<std::string>& bytes) {
  RegistryKey* key = nullptr;
  ASSERT_EQ(Real().create_machine_key(platform::kVeltoWirelessKey, &key), 0u);
  if (bytes) {
    Real().set_value(key, kReader, platform::kRegSz,
                     reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size());
  } else {
    Real().delete_value(key, kReader);
  }
  Real().close_key(key);
}
bool ReaderStored() {
  RegistryKey* key = nullptr;
  if (Real().open_machine_key(platform::kVeltoWirelessKey, RegAccess::kRead, &key) != 0) {
    return false;
  }
  uint8_t data[512];
  uint32_t size = sizeof data;
  bool stored = Real().query_value(key, kReader, nullptr, data, &size) == 0;
  Real().close_key(key);
  return stored;
}

bool RefuseProtect(const uint8_t*, uint32_t, const uint8_t*, uint32_t, platform::ProtectedBlob*) {
  return false;
}

// What the fields export writes, released as the host does; a pattern until then.
struct OutFields {
  alignas(8) unsigned char raw[16];
  OutFields() { std::memset(raw, 0xA5, sizeof raw); }
  ~OutFields() {
    if (Untouched()) return;
    for (DWORD i = 0; i < Get<DWORD>(4); ++i) EapPeerFreeMemory(Data()[i].pwszLabel);
    EapPeerFreeMemory(Data());
  }
  EapConfigInputFieldArray* array() { return reinterpret_cast<EapConfigInputFieldArray*>(raw); }
  template <typename T>
  T Get(size_t offset) const { T v; std::memcpy(&v, raw + offset, sizeof v); return v; }
  EAP_CONFIG_INPUT_FIELD_DATA* Data() const { return Get<EAP_CONFIG_INPUT_FIELD_DATA*>(8); }
  bool Untouched() const {
    return std::all_of(raw, raw + sizeof raw, [](unsigned char c) { return c == 0xA5; });
  }
  std::vector<Field> Fields() const {
    EXPECT_EQ(Get<DWORD>(0), 0u) << "version";
    std::vector<Field> fields;
    for (DWORD i = 0; i < Get<DWORD>(4); ++i) {
      const EAP_CONFIG_INPUT_FIELD_DATA& f = Data()[i];
      EXPECT_TRUE(f.dwSize == 40 && f.pwszData == nullptr && f.dwMinDataLength == 0);
      std::string label;
      for (const WCHAR* c = f.pwszLabel; *c != 0; ++c) label += static_cast<char>(*c);
      fields.emplace_back(label, f.Type, f.dwFlagProps, f.dwMaxDataLength);
    }
    return fields;
  }
};

// The fields as the host hands them back: label and typed text (null: none).
class HostFields {
 public:
  HostFields(std::initializer_list<std::pair<const char16_t*, const char16_t*>> typed) {
    auto wide = [&](const char16_t* t) {
      if (t == nullptr) return static_cast<WCHAR*>(nullptr);
      return texts_.emplace_back(t, t + std::char_traits<char16_t>::length(t)).data();
    };
    for (auto [label, data] : typed) fields_.push_back({40, {}, 0, wide(label), wide(data), 0, 0});
    DWORD head[2] = {1, static_cast<DWORD>(fields_.size())};
    EAP_CONFIG_INPUT_FIELD_DATA* data = fields_.empty() ? nullptr : fields_.data();
    std::memcpy(raw_, head, 8);
    std::memcpy(raw_ + 8, &data, 8);
  }
  HostFields(const HostFields&) = delete;
  const EapConfigInputFieldArray* array() const {
    return reinterpret_cast<const EapConfigInputFieldArray*>(raw_);
  }

 private:
  std::list<std::basic_string<WCHAR>> texts_;
  std::vector<EAP_CONFIG_INPUT_FIELD_DATA> fields_;
  alignas(8) unsigned char raw_[16];
};

cdata g_record{};

struct Blob {
  DWORD status;
  udata user;
};
Blob QueryBlob(uint8_t type, const HostFields& fields, cdata* record = &g_record,
               DWORD size = kCdataSize) {
  DWORD out_size = 7;
  BYTE* out = nullptr;
  Blob blob{EapPeerQueryUserBlobFromCredentialInputFields(nullptr, Method(type), 0, size,
                                                          reinterpret_cast<BYTE*>(record),
                                                          fields.array(), &out_size, &out, nullptr),
            {}};
  EXPECT_EQ(out_size, blob.status == 0 ? kUdataSize : 7u);
  EXPECT_EQ(out == nullptr, blob.status != 0);
  if (out != nullptr) std::memcpy(&blob.user, out, sizeof blob.user);
  WipeAndFree(out, kUdataSize);
  return blob;
}
bool AllZero(const char* p, size_t size) {
  return std::all_of(p, p + size, [](char c) { return c == 0; });
}

// The plain text of a sealed password, or "<plain>".
std::string Opened(const udata& user) {
  if ((user.user_flags & kUserPasswordCustomProtected) == 0) return "<plain>";
  char* plain = CryptUnprotectCustom(user.user_password);
  std::string text = plain != nullptr ? plain : "<does not open>";
  WipeAndFreeText(plain);
  return text;
}

class CredentialFieldsTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(doubles_.SetUp(&error)) << error;
    root_ = test::MakeTempDir();
    test::SetEnvVar("VELTOEAP_REGISTRY_ROOT", root_.c_str());
    SetReader(std::nullopt);  // the installer's key, without the value
    g_script = {};
    platform::g_registry.Override(&kLogged);
  }
  void TearDown() override {
    platform::g_registry.Override(nullptr);
    SetReader(std::nullopt);
    ClearCardLists();
    test::SetEnvVar("VELTOEAP_REGISTRY_ROOT", nullptr);
    test::RemoveTree(root_);
  }
  void AddSim(const char* reader, bool pin) {
    auto event = std::make_unique<VELTO_CARD_EVENT>();
    std::memset(event.get(), 0, sizeof *event);
    event->kind = kCardInserted;
    std::snprintf(event->reader_name, sizeof event->reader_name, "%s", reader);
    event->card_data_length = 10;
    event->flags = kCardHasData1 | (pin ? kCardPinEnabled : 0);
    doubles_.simcore().add_present_card(event.get());
  }
  DWORD QueryFields(uint8_t type, OutFields* out, cdata* record = &g_record,
                    DWORD size = kCdataSize) {
    return EapPeerQueryCredentialInputFields(nullptr, Method(type), 0, size,
                                             reinterpret_cast<BYTE*>(record), out->array(),
                                             nullptr);
  }

  test::SiblingDoubles doubles_;
  std::string root_;
};

// The labels themselves are checked with the fields below.
TEST(ModuleStrings, CutToTheBufferOrEmptyWhenMissing) {
  char text[64];
  ASSERT_TRUE(LoadModuleString(kIdsPassword, text, 5));
  EXPECT_STREQ(text, "Pass");
  EXPECT_FALSE(LoadModuleString(104, text, sizeof text));
  EXPECT_STREQ(text, "");
  char no_room = 'x';  // a buffer of no size is not written
  EXPECT_FALSE(LoadModuleString(kIdsPassword, &no_room, 0));
  EXPECT_EQ(no_room, 'x');
}

TEST_F(CredentialFieldsTest, TtlsFieldTypesFollowTheCredentialSource) {
  // cred_source, user name type, password type
  for (auto [source, user, password] : {std::tuple{kCredSaved, 0, 1}, {kCredPrompt, 2, 3},
                                        {kCredSso, 0, 1}, {3u, 2, 3}, {0xFFFFFFFFu, 2, 3}}) {
    cdata record{};
    record.cred_source = source;
    OutFields out;
    ASSERT_EQ(QueryFields(kEapTypeTtls, &out, &record), 0u);
    EXPECT_EQ(out.Fields(), (std::vector<Field>{{"Username", user, 0, 60},
                                                {"Password", password, 1, 100}}));
  }
  EXPECT_EQ(g_script.log + doubles_.simcore().Calls(), "") << "no registry, no card watch";
}

TEST_F(CredentialFieldsTest, SimFieldsFollowTheFirstSimAndNameItsReader) {
  for (uint8_t type : {kEapTypeSim, kEapTypeAka}) {
    for (bool pin : {true, false}) {
      doubles_.simcore().reset();
      g_script = {};
      AddSim("Reader One", pin);
      AddSim("Reader Two", !pin);
      OutFields out;
      ASSERT_EQ(QueryFields(type, &out), 0u);
      EXPECT_EQ(out.Fields(), (pin ? std::vector<Field>{{"PIN", 4, 1, 8}}
                                   : std::vector<Field>{{"Username", 0, 0, 60},
                                                        {"Password", 1, 1, 100}}));
      EXPECT_EQ(g_script.written, "Reader One") << "its characters, no terminator";
      EXPECT_EQ(g_script.log, "open(w) set(SsoSimReader) close ");
    }
  }
}

TEST_F(CredentialFieldsTest, NoSimOrARegistryFailureOffersNothing) {
  OutFields none;
  EXPECT_EQ(QueryFields(kEapTypeSim, &none), 0u);
  EXPECT_TRUE(none.Untouched());
  EXPECT_EQ(g_script.log, "");
  for (Script script : {Script{.open_w = 5}, Script{.open_w = 2}, Script{.set = 5}}) {
    AddSim("Reader One", true);
    g_script = script;
    OutFields out;
    EXPECT_EQ(QueryFields(kEapTypeAka, &out), 1359u);
    EXPECT_TRUE(out.Untouched());
    EXPECT_EQ(g_script.log, script.set != 0 ? "open(w) set(SsoSimReader) close " : "open(w) ");
  }
}

TEST_F(CredentialFieldsTest, MissingShortOrForeignConfigurationIs87) {
  // type, size, record
  for (auto [type, size, record] : {std::tuple<uint8_t, DWORD, cdata*>{kEapTypeTtls, 1520, nullptr},
                                    {kEapTypeSim, 1520, nullptr}, {kEapTypeTtls, 1519, &g_record},
                                    {kEapTypeAka, 0, &g_record}, {0, 1520, &g_record},
                                    {13, 1520, &g_record}, {25, 1520, &g_record}}) {
    OutFields out;
    EXPECT_EQ(QueryFields(type, &out, record, size), 87u) << int{type} << " " << size;
    EXPECT_TRUE(out.Untouched());
    EXPECT_EQ(QueryBlob(type, {}, record, size).status, 87u) << int{type} << " " << size;
  }
  OutFields longer;
  EXPECT_EQ(QueryFields(kEapTypeTtls, &longer, &g_record, 1521), 87u);
  EXPECT_EQ(g_script.log + doubles_.simcore().Calls(), "");
}

// Saved credentials come from the record, the password sealed once more;
// typed ones are taken by their labels. A password that cannot be sealed, or
// whose sealed form would not fit, stays plain.
TEST_F(CredentialFieldsTest, TtlsCredentials) {
  platform::DataProtectionApi refusing = platform::g_data_protection.platform();
  refusing.protect = RefuseProtect;
  const std::string i128(128, 'i'), p512(512, 'p');
  const std::u16string u127(127, u'u'), u128(128, u'u'), w400(400, u'p'), w512(512, u'p');
  const struct {
    uint32_t cred_source;
    std::string stored_identity, stored_password;
    HostFields fields;
    bool sealing_works;
    std::string identity, opened, plain;
  } cases[] = {
      {kCredSaved, "DOMAIN\\user", "stored form", {{u"Username", u"typed"}}, true, "DOMAIN\\user",
       "stored form", ""},
      {kCredSaved, "user", "", {{u"Username", u"typed"}}, true, "user", "<plain>", ""},
      {kCredSaved, "user", "stored form", {}, false, "user", "<plain>", "stored form"},
      // Unterminated fields are cut; a sealed form of 511 characters would not fit.
      {kCredSaved, i128, p512, {}, true, i128.substr(0, 127), "<plain>", p512.substr(1)},
      {kCredPrompt, "", "", {{u"Password", u"p\u00E4ss"}, {u"Username", u"j\u00FCrgen"}}, true,
       "j\xC3\xBCrgen", "p\xC3\xA4ss", ""},
      {kCredSso, "", "", {{u"User", u"a"}, {u"Passwort", u"b"}, {u"username", u"c"}}, true, "", "<plain>", ""},
      {7, "", "", {{u"Username", u127.c_str()}}, true, std::string(127, 'u'), "<plain>", ""},
      // Texts that do not fit, or no text: the field stays all zero.
      {kCredPrompt, "", "", {{u"Username", u128.c_str()}, {u"Password", w512.c_str()}}, true, "", "<plain>", ""},
      {kCredPrompt, "", "", {{u"Username", nullptr}, {u"Password", nullptr}}, true, "", "<plain>", ""},
      {kCredPrompt, "", "", {{u"Password", w400.c_str()}}, true, "", "<plain>", std::string(400, 'p')},
      {kCredPrompt, "", "", {{u"Password", u"secret"}}, false, "", "<plain>", "secret"},
      // The platform's converter turns a lone surrogate into U+FFFD.
      {kCredPrompt, "", "", {{u"Username", u"\xD800x"}}, true, "\xEF\xBF\xBDx", "<plain>", ""},
      {kCredPrompt, "", "", {}, true, "", "<plain>", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    cdata record{};
    record.cred_source = c.cred_source;
    std::memcpy(record.identity, c.stored_identity.data(), c.stored_identity.size());
    std::memcpy(record.password, c.stored_password.data(), c.stored_password.size());
    std::optional<ScopedSeamOverride<platform::DataProtectionApi>> refuse;
    if (!c.sealing_works) refuse.emplace(platform::g_data_protection, &refusing);
    Blob blob = QueryBlob(kEapTypeTtls, c.fields, &record);
    ASSERT_EQ(blob.status, 0u);
    EXPECT_EQ(blob.user.user_identity, c.identity);
    EXPECT_EQ(Opened(blob.user), c.opened);
    if (c.identity.empty()) {
      EXPECT_TRUE(AllZero(blob.user.user_identity, 128));
    }
    if (c.opened == "<plain>") {
      EXPECT_EQ(blob.user.user_password, c.plain);
      EXPECT_EQ(uint32_t{blob.user.user_flags}, 0u);  // a copy: the record is packed
    }
    if (c.opened == "<plain>" && c.plain.empty()) {
      EXPECT_TRUE(AllZero(blob.user.user_password, 512));
    }
  }
}

// The reader value the fields export wrote is read once and removed,
// whatever comes of it; a registry failure hands out nothing.
TEST_F(CredentialFieldsTest, SimRecordCases) {
  const std::u16string pin32(32, u'9');
  const std::string read_then_delete =
      "open(r) query(SsoSimReader) close open(w) delete(SsoSimReader) close ";
  const struct {
    std::optional<std::string> value;
    HostFields fields;
    DWORD status;
    std::string reader, pin;
    Script script;
  } cases[] = {
      {std::nullopt, {{u"PIN", u"1234"}}, 0, "", "", {}},  // and the record is all zero
      {"Reader One", {{u"PIN", u"1234"}}, 0, "Reader One", "1234", {}},
      {"R", {}, 0, "R", "", {}},
      {"R", {{u"Pin", u"1234"}, {u"PIN", u"1111"}, {u"PIN", u"2222"}}, 0, "R", "1111", {}},
      {std::string(200, 'r'), {{u"PIN", pin32.c_str() + 1}}, 0, std::string(127, 'r'),
       std::string(31, '9'), {}},
      {"R", {{u"PIN", pin32.c_str()}}, 1359, "", "", {}},
      {"R", {{u"PIN", nullptr}}, 1359, "", "", {}},
      {std::string(300, 'r'), {}, 1359, "", "", {}},  // more than the room for it
      {"R", {{u"PIN", u"1234"}}, 1359, "", "", {.open_r = 5}},
      {"R", {{u"PIN", u"1234"}}, 1359, "", "", {.query = 5}},
      {"R", {{u"PIN", u"1234"}}, 1359, "", "", {.type = 3}},
  };
  for (const auto& c : cases) {
    SetReader(c.value);
    g_script = c.script;
    Blob blob = QueryBlob(kEapTypeAka, c.fields);
    EXPECT_EQ(blob.status, c.status);
    EXPECT_EQ(blob.user.sim_reader, c.reader);
    EXPECT_EQ(blob.user.user_pin, c.pin);
    EXPECT_TRUE(c.value || AllZero(reinterpret_cast<char*>(&blob.user), sizeof blob.user));
    if (c.value) {
      EXPECT_EQ(g_script.log, c.script.open_r != 0 ? "open(r) " : read_then_delete);
    }
    EXPECT_EQ(ReaderStored(), c.script.open_r != 0);
  }
}

}  // namespace
}  // namespace velto
