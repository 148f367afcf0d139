#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "base/text.h"
#include "frame/cdata.h"
#include "abi/eap_abi.h"
#include "frame/user_name.h"

namespace velto {
namespace {

// Each write into an 8-byte field that held "########": what the field holds
// after it, and the byte behind the field untouched.
TEST(TextField, WritesStayInTheFieldAndLeaveATerminator) {
  using F = char[8];
  const struct {
    const char* what;
    void (*write)(F&);
    std::string_view after;
  } cases[] = {
      {"short", [](F& f) { CopyTextField(f, "ab"); }, {"ab\0#####", 8}},
      {"fits", [](F& f) { CopyTextField(f, "abcdefg"); }, {"abcdefg\0", 8}},
      {"too long", [](F& f) { CopyTextField(f, "abcdefgh"); }, {"abcdefg\0", 8}},
      {"null", [](F& f) { CopyTextField(f, nullptr); }, {"\0#######", 8}},
      {"size 0", [](F& f) { CopyTextField(f, 0, "ab"); }, "########"},
      {"size 1", [](F& f) { CopyTextField(f, 1, "ab"); }, {"\0#######", 8}},
      {"bytes", [](F& f) { CopyTextField(f, std::string_view("a\0b", 3)); }, {"a\0b\0####", 8}},
      {"long bytes", [](F& f) { CopyTextField(f, std::string_view("abcdefghij")); }, {"abcdefg\0", 8}},
      {"null bytes", [](F& f) { CopyTextField(f, 8, nullptr, 5); }, {"\0#######", 8}},
      {"replace", [](F& f) { ReplaceTextField(f, "ab"); }, {"ab\0\0\0\0\0\0", 8}},
      {"replace empty", [](F& f) { ReplaceTextField(f, {}); }, {"\0\0\0\0\0\0\0\0", 8}},
  };
  for (const auto& c : cases) {
    struct {
      char field[8];
      char after;
    } b;
    std::memset(&b, '#', sizeof b);
    c.write(b.field);
    EXPECT_EQ(std::string_view(b.field, 8), c.after) << c.what;
    EXPECT_EQ(b.after, '#') << c.what << ": wrote past the field";
  }
}

TEST(TextField, AFullFieldIsReadToItsLastByteAndNoFurther) {
  const struct {
    char field[4];
    char after;
    std::string_view text;
  } cases[] = {{{'a', 'b', 'c', 'd'}, 'X', "abcd"}, {{'a', '\0', 'c'}, 'X', "a"}, {{}, 'X', ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(FieldLength(c.field), c.text.size());
    EXPECT_EQ(FieldView(c.field), c.text);
    char text[5];
    FieldText(c.field, text);
    EXPECT_EQ(std::string_view(text), c.text);
  }
}

TEST(TextField, HexValue) {
  const std::pair<char, int> cases[] = {{'0', 0},   {'9', 9},   {'a', 10},  {'f', 15},  {'A', 10},
                                        {'F', 15},  {'/', -1},  {':', -1},  {'@', -1},  {'G', -1},
                                        {'`', -1},  {'g', -1},  {'\xC2', -1}};
  for (const auto& [c, value] : cases) EXPECT_EQ(HexValue(c), value) << c;
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
