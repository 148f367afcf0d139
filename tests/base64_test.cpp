#include "protect/base64.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "base/memory.h"
#include "support/vectors.h"

namespace velto {
namespace {

using namespace std::string_literals;
constexpr std::nullopt_t kRefused = std::nullopt;
constexpr char kAlphabetAndPad[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

// Byte arrays are held in strings, whose literals read better.
const uint8_t* U8(std::string_view bytes) { return reinterpret_cast<const uint8_t*>(bytes.data()); }

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string out(size, '\0');
  for (char& b : out) b = static_cast<char>(gen());
  return out;
}

std::string EncodeWrapped(std::string_view in) {
  uint64_t length = ~0ull;
  MallocPtr<char> text(Base64EncodeWrapped(U8(in), in.size(), &length));
  if (text == nullptr) return "<null>";  // equals no encoding
  EXPECT_EQ(length, std::strlen(text.get()));
  return text.get();
}

// A null result as kRefused; *out_length must then be untouched.
std::optional<std::string> DecodeWrapped(std::string_view text) {
  uint64_t length = 0xDEADBEEF;
  MallocPtr<uint8_t> bytes(Base64DecodeWrapped(text.data(), text.size(), &length));
  if (bytes == nullptr) {
    EXPECT_EQ(length, 0xDEADBEEF);
    return kRefused;
  }
  return std::string(reinterpret_cast<char*>(bytes.get()), length);
}

// With more room than needed; the encoder must stay inside the count it gives.
std::string EncodeFlat(std::string_view in) {
  std::string out(in.size() / 3 * 4 + 12, '#');
  int32_t capacity = static_cast<int32_t>(out.size());
  EXPECT_TRUE(Base64EncodeFlat(U8(in), static_cast<int32_t>(in.size()), out.data(), &capacity));
  EXPECT_EQ(out.find_first_not_of('#', capacity), std::string::npos);
  return out.substr(0, capacity);
}

std::string DecodeFlat(std::string_view text) {
  std::string out(text.size() + 1, '\0');
  int32_t capacity = static_cast<int32_t>(out.size());
  EXPECT_TRUE(Base64DecodeFlat(text.data(), static_cast<int32_t>(text.size()),
                               reinterpret_cast<uint8_t*>(out.data()), &capacity));
  return out.substr(0, capacity);
}

std::string EncodeFlatText(std::string_view in) {
  char* text = nullptr;
  if (!Base64EncodeFlatText(U8(in), static_cast<uint32_t>(in.size()), &text)) return "<refused>";
  MallocPtr<char> owned(text);
  return text;
}

// Decodes a copy of `text` followed by a sentinel, and leaves that copy,
// rewritten or not, in *buffer.
std::optional<std::string> DecodeFlatText(const std::string& text, std::string* buffer) {
  *buffer = text + "\0#"s;
  uint8_t* bytes = nullptr;
  uint32_t length = 0;
  if (!Base64DecodeFlatText(buffer->data(), &bytes, &length)) return kRefused;
  MallocPtr<uint8_t> owned(bytes);
  if (bytes == nullptr) return "<success without an array>";  // equals no result
  return std::string(reinterpret_cast<char*>(bytes), length);
}

// Every length through every encoder and decoder, and the wrapped layout: full
// lines of 72, a last line of 1 to 72, every line ended by LF.
TEST(Base64Test, RoundTripsAndLineLayout) {
  // Known vectors pin the alphabet and the padding; all else must agree.
  EXPECT_EQ(EncodeFlat("f"), "Zg==");
  EXPECT_EQ(EncodeFlat("fo"), "Zm8=");
  EXPECT_EQ(EncodeFlat("foobar\xfb\xff"), "Zm9vYmFy+/8=");
  for (size_t n = 0; n <= 400; ++n) {
    SCOPED_TRACE(n);
    const std::string data = RandomBytes(n, static_cast<uint32_t>(n));
    const std::string wrapped = EncodeWrapped(data), flat = EncodeFlat(data);
    EXPECT_EQ(DecodeWrapped(wrapped), data);
    EXPECT_EQ(DecodeWrapped(flat), data);
    EXPECT_EQ(DecodeFlat(flat), data);
    EXPECT_EQ(DecodeFlat(wrapped), data);
    // The text codec refuses the empty array and the empty text.
    std::string buffer;
    EXPECT_EQ(EncodeFlatText(data), n == 0 ? "<refused>" : flat);
    EXPECT_EQ(DecodeFlatText(flat, &buffer), n == 0 ? kRefused : std::optional(data));

    std::string joined;
    size_t start = 0;
    for (size_t lf = wrapped.find('\n'); lf != std::string::npos; lf = wrapped.find('\n', start)) {
      const size_t line = lf - start;
      EXPECT_TRUE(lf + 1 == wrapped.size() ? line >= 1 && line <= 72 : line == 72) << start;
      joined += wrapped.substr(start, line);
      start = lf + 1;
    }
    EXPECT_EQ(start, wrapped.size()) << "text does not end in LF";
    EXPECT_EQ(joined, flat);
  }
}

// The cases of tests/vectors/base64.cases.
TEST(Base64Test, Vectors) {
  auto bytes = [](const test::Case& c, const char* key) {
    const std::string value = c.at(key);
    return value == "refused" ? kRefused : std::optional(value);
  };
  for (const test::Case& c : test::ReadCases("base64.cases")) {
    SCOPED_TRACE("base64.cases:" + c.at("line"));
    const std::string& text = c.at("text");
    if (c.count("wrapped")) {
      EXPECT_EQ(DecodeWrapped(text), bytes(c, "wrapped"));
    }
    if (c.count("flat")) {
      EXPECT_EQ(DecodeFlat(text), c.at("flat"));
    }
    if (c.count("room")) {
      std::string dst(8, '#');
      int32_t capacity = std::stoi(c.at("room"));
      EXPECT_EQ(Base64DecodeFlat(text.data(), static_cast<int32_t>(text.size()),
                                 c.count("no_dst") ? nullptr : reinterpret_cast<uint8_t*>(dst.data()),
                                 &capacity),
                c.at("ok") == "1");
      EXPECT_EQ(capacity, std::stoi(c.at("count")));
      EXPECT_EQ(dst, c.at("written") + std::string(8 - c.at("written").size(), '#'));
    }
    if (c.count("rewritten")) {
      std::string buffer;
      EXPECT_EQ(DecodeFlatText(text, &buffer), bytes(c, "plain"));
      EXPECT_EQ(buffer, c.at("rewritten") + "\0#"s);
    }
  }
  // Only the given length counts.
  EXPECT_EQ(DecodeWrapped(std::string_view("YWJjYQ", 4)), "abc");
  EXPECT_EQ(DecodeFlat(std::string_view("YWJjZA==", 4)), "abc");
  int32_t capacity = 8;
  uint8_t out[8];
  EXPECT_FALSE(Base64DecodeFlat(nullptr, 4, out, &capacity));
  EXPECT_FALSE(Base64DecodeFlat("YWJj", 4, out, nullptr));
}

// Too little room refuses the whole text: nothing written, the capacity kept.
// Enough room takes no more than 4 characters per started group of 3 bytes.
TEST(Base64FlatTest, EncodeNeedsRoomForWholeGroups) {
  const std::string data = RandomBytes(100, 3);
  for (int32_t n : {0, 1, 2, 3, 4, 5, 57, 100}) {
    const int32_t required = (n + 2) / 3 * 4;  // 136 for 100 bytes
    for (int32_t room : {required - 1, required}) {
      std::string dst(required + 4, '#');
      int32_t capacity = room;
      EXPECT_EQ(Base64EncodeFlat(U8(data), n, dst.data(), &capacity), room == required) << n;
      EXPECT_EQ(capacity, room) << n;
      EXPECT_EQ(dst.find_first_not_of('#', room == required ? required : 0), std::string::npos)
          << n;
    }
  }
  char text[8];
  int32_t capacity = sizeof text;
  EXPECT_FALSE(Base64EncodeFlat(nullptr, 3, text, &capacity));
  EXPECT_FALSE(Base64EncodeFlat(U8(data), 3, nullptr, &capacity));
  EXPECT_FALSE(Base64EncodeFlat(U8(data), 3, text, nullptr));
  EXPECT_FALSE(Base64EncodeFlat(U8(data), -1, text, &capacity));
}

TEST(Base64FlatTest, EncodeThrowsEFailWhenFourTimesLengthOverflows) {
  const uint8_t data[3] = {};  // the length is checked before any byte is read
  char dst[4];
  int32_t capacity = sizeof dst;
  for (int32_t n : {0x20000000, 0x7FFFFFFF}) {
    EXPECT_THAT(
        [&] { Base64EncodeFlat(data, n, dst, &capacity); },
        testing::Throws<CHResultException>(testing::Property(&CHResultException::hr, kEFail)))
        << n;
  }
  EXPECT_FALSE(Base64EncodeFlat(data, 0x1FFFFFFF, dst, &capacity)) << "one below: no room only";
}

// The decoders take runs of whole groups in one step and anything else one
// character at a time. Texts that mix both, at every place, must decode as
// the character-by-character rules (written out here) say.
int SymbolOf(char c) {
  const char* at = c != '\0' ? std::strchr(kAlphabetAndPad, c) : nullptr;
  return at != nullptr && *at != '=' ? static_cast<int>(at - kAlphabetAndPad) : -1;
}

std::optional<std::string> ReferenceWrapped(std::string_view text) {
  std::string group, out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (SymbolOf(text[i]) < 0 && text[i] != '=') continue;
    group += text[i];
    if (group.size() < 4) continue;
    uint32_t bits = 0;
    for (char g : group) bits = bits << 6 | static_cast<uint32_t>(g == '=' ? 0 : SymbolOf(g));
    out += {static_cast<char>(bits >> 16), static_cast<char>(bits >> 8), static_cast<char>(bits)};
    if (text.find_first_of(kAlphabetAndPad, i + 1) == std::string_view::npos) {
      out.resize(out.size() - (group[2] == '=' ? 2 : group[3] == '=' ? 1 : 0));
    }
    group.clear();
  }
  if (!group.empty()) return kRefused;
  return out;
}

// The bytes written within `room` and the full count.
std::pair<std::string, int32_t> ReferenceFlat(std::string_view text, int32_t room) {
  std::string out;
  int32_t count = 0;
  size_t pos = 0;
  while (pos < text.size() && text[pos] != '\0') {
    uint32_t bits = 0;
    int symbols = 0;
    for (; symbols < 4 && pos < text.size(); ++pos) {
      if (SymbolOf(text[pos]) < 0) continue;
      bits = bits << 6 | static_cast<uint32_t>(SymbolOf(text[pos]));
      ++symbols;
    }
    const int n = symbols * 6 / 8;
    bits <<= 6 * (4 - symbols);
    if (count == static_cast<int32_t>(out.size()) && count + n <= room) {
      for (int k = 0; k < n; ++k) out += static_cast<char>(bits >> (16 - 8 * k));
    }
    count += n;
  }
  return {out, count};
}

TEST(Base64Test, DecodersAgreeWithTheRulesWhateverStandsBetweenGroups) {
  std::mt19937 gen(7);
  const char kJunk[] = {'\n', '\r', ' ', '=', '*', '-', '\0', '\xC3'};
  for (int round = 0; round < 600; ++round) {
    SCOPED_TRACE(round);
    std::string text = EncodeFlat(RandomBytes(gen() % 120, static_cast<uint32_t>(round)));
    for (unsigned n = gen() % 6; n > 0 && !text.empty(); --n) {
      text.insert(gen() % (text.size() + 1), 1, kJunk[gen() % sizeof kJunk]);
    }
    EXPECT_EQ(DecodeWrapped(text), ReferenceWrapped(text));
    const int32_t room = static_cast<int32_t>(gen() % (text.size() + 2));
    std::string dst(text.size() + 8, '#');
    int32_t capacity = room;
    const bool ok = Base64DecodeFlat(text.data(), static_cast<int32_t>(text.size()),
                                     reinterpret_cast<uint8_t*>(dst.data()), &capacity);
    const auto [written, count] = ReferenceFlat(text, room);
    EXPECT_EQ(ok, count <= room);
    EXPECT_EQ(capacity, count);
    EXPECT_EQ(dst, written + std::string(dst.size() - written.size(), '#'));
  }
}

// The flat text decoder reads at most 4096 characters.
TEST(Base64FlatTextTest, DecodeReadsAtMost4096CharactersAndRefusesNull) {
  const std::string a4096(4096, 'A');  // 3072 zero bytes
  std::string buffer;
  EXPECT_EQ(DecodeFlatText(a4096 + "YWJj*Q", &buffer), std::string(3072, '\0'));
  EXPECT_EQ(buffer, a4096 + "YWJj\r\n\0#"s);
  uint8_t* bytes = nullptr;
  uint32_t length = 0;
  char* text = nullptr;
  EXPECT_FALSE(Base64DecodeFlatText(nullptr, &bytes, &length));
  EXPECT_FALSE(Base64EncodeFlatText(nullptr, 3, &text));
  EXPECT_FALSE(Base64EncodeFlatText(U8("abc"), 0x80000000u, &text));  // refused before reading
  EXPECT_EQ(text, nullptr);
}

}  // namespace
}  // namespace velto
