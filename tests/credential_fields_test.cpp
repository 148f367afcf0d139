// The credential input fields and the user record built back from them, with SIMs from the simcore
// double and a registry seam logging every call (over a private folder, or Wine's registry).
#include <gtest/gtest.h>
#include <cctype>
#include <cstring>
#include <list>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>
#include "abi/udata.h"
#include "base/memory.h"
#include "doubles/sibling_doubles_client.h"
#include "frame/cdata.h"
#include "frame/exports.h"
#include "frame/registry.h"
#include "protect/custom_protect.h"
#include "protect/data_protection.h"
#include "sim/card_lists.h"
#include "support/test_env.h"
#include "support/vectors.h"
#include "ui/module_strings.h"

namespace velto {
namespace {

using platform::RegAccess;
using platform::RegistryKey;
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
      uint32_t status = g_script.query != 0 ? g_script.query : Real().query_value(key, name, type, data, size);
      if (g_script.type != 0) *type = g_script.type;
      return status;
    },
    [](RegistryKey* key, const char* name, uint32_t type, const uint8_t* data, uint32_t size) {
      g_script.log += std::string("set(") + name + ") ";
      g_script.written.assign(reinterpret_cast<const char*>(data), size);
      return g_script.set != 0 ? g_script.set : Real().set_value(key, name, type, data, size);
    },
    [](RegistryKey* key, const char* name) { g_script.log += std::string("delete(") + name + ") "; return Real().delete_value(key, name); },
    [](RegistryKey* key) { g_script.log += "close "; Real().close_key(key); },
    [](const char* subkey, RegistryKey** key) { return Real().create_machine_key(subkey, key); }};

// Writes the reader value as given, or removes it; says whether it was there.
bool SetReader(const std::optional<std::string>& bytes) {
  RegistryKey* key = nullptr;
  EXPECT_EQ(Real().create_machine_key(platform::kVeltoWirelessKey, &key), 0u);
  uint8_t data[512];
  uint32_t size = sizeof data;
  bool stored = Real().query_value(key, kReader, nullptr, data, &size) == 0;
  if (bytes) Real().set_value(key, kReader, platform::kRegSz, reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size());
  else Real().delete_value(key, kReader);
  Real().close_key(key);
  return stored;
}

bool AllZero(const void* p, size_t size) { return std::string(static_cast<const char*>(p), size) == std::string(size, '\0'); }

// What the fields export writes, released as the host does; a pattern until then.
struct OutFields {
  EapConfigInputFieldArray array;
  OutFields() { std::memset(&array, 0xA5, sizeof array); }
  ~OutFields() {
    if (Untouched()) return;
    for (DWORD i = 0; i < array.dwNumberOfFields; ++i) EapPeerFreeMemory(array.pFields[i].pwszLabel);
    EapPeerFreeMemory(array.pFields);
  }
  bool Untouched() const { return array.dwVersion == 0xA5A5A5A5 && uintptr_t(array.pFields) == uintptr_t(0xA5A5A5A5A5A5A5A5); }
  // "label:type:flags:max" apart by ",", or "-" for an output left untouched.
  std::string Fields() const {
    if (Untouched()) return "-";
    EXPECT_EQ(array.dwVersion, 0u);
    std::string fields;
    for (const EAP_CONFIG_INPUT_FIELD_DATA& f : std::span(array.pFields, array.dwNumberOfFields)) {
      EXPECT_TRUE(f.dwSize == 40 && f.pwszData == nullptr && f.dwMinDataLength == 0);
      fields += fields.empty() ? "" : ",";
      for (const WCHAR* c = f.pwszLabel; *c != 0; ++c) fields += static_cast<char>(*c);
      fields += ":" + std::to_string(f.Type) + ":" + std::to_string(f.dwFlagProps) + ":" + std::to_string(f.dwMaxDataLength);
    }
    return fields;
  }
};

// "x*N": N times x.
std::string Text(const std::string& v) {
  return v.size() > 2 && v[1] == '*' && std::isdigit(static_cast<unsigned char>(v[2])) ? std::string(std::stoul(v.substr(2)), v[0]) : v;
}

// The fields as the host hands them back, from "Label=text;Label..." (no "=": no text).
struct HostFields {
  explicit HostFields(const std::string& spec) {
    auto wide = [&](const std::string& text) {
      std::basic_string<WCHAR>& w = texts.emplace_back();
      for (unsigned char c : text) w += c;
      return w.data();
    };
    std::istringstream items(spec);
    for (std::string item; std::getline(items, item, ';');) {
      size_t eq = item.find('=');
      WCHAR* label = wide(item.substr(0, eq));
      fields.push_back({40, {}, 0, label, eq == std::string::npos ? nullptr : wide(Text(item.substr(eq + 1))), 0, 0});
    }
    array = {1, static_cast<DWORD>(fields.size()), fields.empty() ? nullptr : fields.data()};
  }
  std::list<std::basic_string<WCHAR>> texts;
  std::vector<EAP_CONFIG_INPUT_FIELD_DATA> fields;
  EapConfigInputFieldArray array;
};

cdata g_record{};

struct Blob { DWORD status; udata user; };
Blob QueryBlob(uint8_t type, const std::string& fields, cdata* record = &g_record, DWORD size = kCdataSize) {
  DWORD out_size = 7;
  BYTE* out = nullptr;
  HostFields host(fields);
  Blob blob{EapPeerQueryUserBlobFromCredentialInputFields(nullptr, Method(type), 0, size, reinterpret_cast<BYTE*>(record),
                                                          &host.array, &out_size, &out, nullptr), {}};
  EXPECT_EQ(out_size, blob.status == 0 ? kUdataSize : 7u);
  EXPECT_EQ(out == nullptr, blob.status != 0);
  if (out != nullptr) std::memcpy(&blob.user, out, sizeof blob.user);
  WipeAndFree(out, kUdataSize);
  return blob;
}

class CredentialFieldsTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(doubles_.SetUp(&error)) << error;
    test::SetEnvVar("VELTOEAP_REGISTRY_ROOT", root_.c_str());
    SetReader(std::nullopt);  // the installer's key, without the value
    platform::g_registry.Override(&kLogged);
    g_script = {};
  }
  void TearDown() override {
    platform::g_registry.Override(nullptr);
    ClearCardLists();
    test::SetEnvVar("VELTOEAP_REGISTRY_ROOT", nullptr);
    test::RemoveTree(root_);
  }
  void AddSim(const char* reader, bool pin) {
    VELTO_CARD_EVENT event{};
    event.kind = kCardInserted;
    event.card_data_length = 10;
    event.flags = kCardHasData1 | (pin ? kCardPinEnabled : 0);
    std::strncpy(event.reader_name, reader, sizeof event.reader_name - 1);
    doubles_.simcore().add_present_card(&event);
  }
  DWORD QueryFields(uint8_t type, OutFields* out, cdata* record = &g_record, DWORD size = kCdataSize) {
    return EapPeerQueryCredentialInputFields(nullptr, Method(type), 0, size, reinterpret_cast<BYTE*>(record), &out->array,
                                             nullptr);
  }

  test::SiblingDoubles doubles_;
  std::string root_ = test::MakeTempDir();
};

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

// The fields each configuration offers; with SIMs the first one decides, and its reader is written
// down for the record built later (its characters, no terminator) or nothing is offered.
TEST_F(CredentialFieldsTest, FieldsOfferedOrRefused) {
  for (const test::Case& c : test::ReadCases("credential_fields.cases")) {
    if (!c.count("offered")) continue;
    SCOPED_TRACE("credential_fields.cases:" + c.at("line"));
    doubles_.simcore().reset();
    if (c.at("sims") != "-") { AddSim("Reader One", c.at("sims") == "pin"); AddSim("Reader Two", c.at("sims") != "pin"); }
    g_script = {};
    if (!c.at("fail").empty()) (c.at("fail")[0] == 'o' ? g_script.open_w : g_script.set) = std::stoul(c.at("fail").substr(2));
    cdata record{};
    record.cred_source = std::stoul(c.at("source"));
    cdata* in = c.at("record") == "1" ? &record : nullptr;
    const uint8_t type = std::stoul(c.at("type"));
    const DWORD size = std::stoul(c.at("size")), status = std::stoul(c.at("status"));
    OutFields out;
    EXPECT_EQ(QueryFields(type, &out, in, size), status);
    EXPECT_EQ(out.Fields(), c.at("offered"));
    EXPECT_EQ(g_script.log, c.at("log").empty() ? "" : c.at("log") + " ");
    EXPECT_EQ(g_script.written, c.at("log").find("set(") != std::string::npos ? "Reader One" : "");
    if (status == 87 && size <= kCdataSize) { EXPECT_EQ(QueryBlob(type, "", in, size).status, 87u); }
    if (type == kEapTypeTtls || status == 87) { EXPECT_EQ(doubles_.simcore().Calls(), "") << "a card watch"; }
  }
}

TEST_F(CredentialFieldsTest, TtlsCredentials) {
  platform::DataProtectionApi refusing = platform::g_data_protection.platform();
  refusing.protect = [](const uint8_t*, uint32_t, const uint8_t*, uint32_t, platform::ProtectedBlob*) { return false; };
  for (const test::Case& c : test::ReadCases("credential_fields.cases")) {
    if (!c.count("stored_identity")) continue;
    SCOPED_TRACE("credential_fields.cases:" + c.at("line"));
    cdata record{};
    record.cred_source = std::stoul(c.at("source"));
    const std::string identity = Text(c.at("stored_identity")), password = Text(c.at("stored_password"));
    std::memcpy(record.identity, identity.data(), identity.size());
    std::memcpy(record.password, password.data(), password.size());
    std::optional<ScopedSeamOverride<platform::DataProtectionApi>> refuse;
    if (c.at("sealing") == "0") refuse.emplace(platform::g_data_protection, &refusing);
    Blob blob = QueryBlob(kEapTypeTtls, c.at("fields"), &record);
    ASSERT_EQ(blob.status, 0u);
    EXPECT_EQ(blob.user.user_identity, Text(c.at("identity")));
    EXPECT_TRUE(!c.at("identity").empty() || AllZero(blob.user.user_identity, 128));
    if (c.at("sealed") != "-") {
      ASSERT_EQ(uint32_t{blob.user.user_flags}, kUserPasswordCustomProtected);
      char* plain = CryptUnprotectCustom(blob.user.user_password);
      EXPECT_EQ(plain != nullptr ? plain : "<does not open>", c.at("sealed"));
      WipeAndFreeText(plain);
      continue;
    }
    EXPECT_EQ(blob.user.user_password, Text(c.at("plain")));
    EXPECT_EQ(uint32_t{blob.user.user_flags}, 0u);  // a copy: the record is packed
    EXPECT_TRUE(!c.at("plain").empty() || AllZero(blob.user.user_password, 512));
  }
}

TEST_F(CredentialFieldsTest, SimRecordCases) {
  const std::string read_then_delete = "open(r) query(SsoSimReader) close open(w) delete(SsoSimReader) close ";
  for (const test::Case& c : test::ReadCases("credential_fields.cases")) {
    if (!c.count("reader")) continue;
    SCOPED_TRACE("credential_fields.cases:" + c.at("line"));
    const bool none = c.at("reader") == "-";
    const std::string& fail = c.at("fail");
    SetReader(none ? std::nullopt : std::optional(Text(c.at("reader"))));
    g_script = {};
    (fail == "open_r" ? g_script.open_r : fail == "query" ? g_script.query : g_script.type) = fail.empty() ? 0 : fail == "type" ? 3 : 5;
    Blob blob = QueryBlob(kEapTypeAka, c.at("fields"));
    EXPECT_EQ(blob.status, std::stoul(c.at("status")));
    EXPECT_EQ(blob.user.sim_reader, Text(c.at("sim_reader")));
    EXPECT_EQ(blob.user.user_pin, Text(c.at("pin")));
    EXPECT_TRUE(!none || AllZero(&blob.user, sizeof blob.user));
    if (!none) { EXPECT_EQ(g_script.log, fail == "open_r" ? "open(r) " : read_then_delete); }
    g_script = {};
    EXPECT_EQ(SetReader(std::nullopt), fail == "open_r");
  }
}

}  // namespace
}  // namespace velto
