#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "frame/cdata.h"
#include "abi/eap_abi.h"
#include "frame/user_name.h"

namespace velto {
namespace {

TEST(CopyTextField, CutsToFieldSizeLessOne) {
  struct Case {
    size_t field;
    size_t text;
    size_t stored;
  } cases[] = {{128, 127, 127}, {128, 128, 127}, {128, 500, 127}, {64, 63, 63},   {64, 64, 63},
               {256, 255, 255}, {256, 256, 255}, {512, 511, 511}, {512, 512, 511}, {1, 5, 0},
               {128, 0, 0}};
  for (const Case& c : cases) {
    std::string text(c.text, 'x');
    std::string field(c.field + 1, '#');  // one sentinel byte after the field
    CopyTextField(field.data(), c.field, text.c_str());
    EXPECT_EQ(std::strlen(field.c_str()), c.stored) << c.field << "/" << c.text;
    EXPECT_EQ(field[c.field], '#') << "wrote past the field";
  }
}

TEST(CopyTextField, NullTextStoresEmptyText) {
  char field[8];
  std::memset(field, 'x', sizeof field);
  CopyTextField(field, nullptr);
  EXPECT_STREQ(field, "");
}

// TTLS prompts for MSCHAPV2 credentials under the current user as the outer
// identity; SIM and AKA carry only their type; other types have no record.
// Every other byte is zero.
TEST(DefaultRecord, ByType) {
  char user[261] = {};
  uint32_t size = sizeof user;
  ASSERT_TRUE(platform::CurrentUserName(user, &size));
  for (int type : {int{kEapTypeTtls}, int{kEapTypeSim}, int{kEapTypeAka}, 0, 1, 13, 17, 19, 22,
                   25, 254, 255}) {
    cdata expected{}, r;
    expected.eap_type = static_cast<uint32_t>(type);
    if (type == kEapTypeTtls) {
      expected.phase2_type = 16;
      expected.cred_source = 1;
      CopyTextField(expected.anon_identity, user);
    }
    const bool made = type == kEapTypeTtls || type == kEapTypeSim || type == kEapTypeAka;
    if (!made) expected = cdata{};
    std::memset(&r, 0xAB, sizeof r);
    EXPECT_EQ(MakeDefaultRecord(static_cast<uint8_t>(type), &r), made) << type;
    EXPECT_EQ(std::memcmp(&r, &expected, sizeof r), 0) << type;
  }
}

// A platform whose user-name call fails, or names a very long user.
bool FailingUserName(char*, uint32_t*) { return false; }
bool LongUserName(char* buffer, uint32_t* size) {
  std::string name(200, 'u');
  if (*size < name.size() + 1) return false;
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  *size = static_cast<uint32_t>(name.size() + 1);
  return true;
}

TEST(DefaultRecord, TtlsOuterIdentityWhenTheUserNameIsUnusual) {
  const platform::UserNameApi failing{FailingUserName};
  {
    ScopedSeamOverride<platform::UserNameApi> use(platform::g_user_name, &failing);
    cdata r;
    ASSERT_TRUE(MakeDefaultRecord(kEapTypeTtls, &r));
    EXPECT_STREQ(r.anon_identity, "");
  }
  const platform::UserNameApi longer{LongUserName};
  {
    ScopedSeamOverride<platform::UserNameApi> use(platform::g_user_name, &longer);
    cdata r;
    ASSERT_TRUE(MakeDefaultRecord(kEapTypeTtls, &r));
    EXPECT_EQ(std::string(r.anon_identity), std::string(127, 'u'));
  }
}

}  // namespace
}  // namespace velto
