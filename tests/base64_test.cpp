#include "protect/base64.h"
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <algorithm>
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
using Bytes = std::optional<std::string>;  // nullopt: refused
constexpr char kAlphabetAndPad[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

const uint8_t* U8(std::string_view bytes) { return reinterpret_cast<const uint8_t*>(bytes.data()); }
Bytes Take(uint8_t* bytes, size_t length) {
  return bytes ? Bytes(std::string(reinterpret_cast<char*>(MallocPtr<uint8_t>(bytes).get()), length)) : std::nullopt;
}
std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string out(size, '\0');
  for (char& b : out) b = static_cast<char>(gen());
  return out;
}
std::string EncodeWrapped(std::string_view in) {
  uint64_t length = ~0ull;
  MallocPtr<char> text(Base64EncodeWrapped(U8(in), in.size(), &length));
  EXPECT_EQ(length, text ? std::strlen(text.get()) : ~0ull);
  return text ? text.get() : "<null>";
}
Bytes DecodeWrapped(std::string_view text) {
  uint64_t length = 0xDEADBEEF;
  uint8_t* bytes = Base64DecodeWrapped(text.data(), text.size(), &length);
  if (bytes == nullptr) { EXPECT_EQ(length, 0xDEADBEEF) << "a refusal leaves the length alone"; }
  return Take(bytes, length);
}
// Into `room` bytes of a buffer of '#'s, kept whole so a write past the room shows.
struct Flat { bool ok; int32_t capacity; std::string buffer; };
Flat EncodeFlat(std::string_view in, int32_t room) {
  Flat out{false, room, std::string(in.size() / 3 * 4 + 12, '#')};
  out.ok = Base64EncodeFlat(U8(in), static_cast<int32_t>(in.size()), out.buffer.data(), &out.capacity);
  return out;
}
Flat DecodeFlat(std::string_view text, int32_t room, bool dst = true) {
  Flat out{false, room, std::string(text.size() + 8, '#')};
  out.ok = Base64DecodeFlat(text.data(), static_cast<int32_t>(text.size()),
                            dst ? reinterpret_cast<uint8_t*>(out.buffer.data()) : nullptr, &out.capacity);
  return out;
}
std::string Flat1(std::string_view in) {  // with room to spare
  const Flat f = EncodeFlat(in, static_cast<int32_t>(in.size() / 3 * 4 + 12));
  EXPECT_TRUE(f.ok);
  EXPECT_EQ(f.buffer.find_first_not_of('#', f.capacity), std::string::npos) << "written past its count";
  return f.buffer.substr(0, f.capacity);
}
// Decodes a copy of `text` and a sentinel, and leaves that copy in *buffer.
Bytes DecodeFlatText(const std::string& text, std::string* buffer) {
  *buffer = text + "\0#"s;
  uint8_t* bytes = nullptr;
  uint32_t length = 0;
  const bool ok = Base64DecodeFlatText(buffer->data(), &bytes, &length);
  return !ok ? std::nullopt : bytes ? Take(bytes, length) : "<no array>"s;
}

// The cases of tests/vectors/base64.cases.
TEST(Base64Test, Vectors) {
  auto bytes = [](const std::string& value) { return value == "refused" ? std::nullopt : Bytes(value); };
  for (const test::Case& c : test::ReadCases("base64.cases")) {
    SCOPED_TRACE("base64.cases:" + c.at("line"));
    const std::string text = c.at("text").substr(0, std::stoul(test::Get(c, "length", "100000")));
    if (c.count("encoded")) { EXPECT_EQ(Flat1(text), c.at("encoded")); }
    if (c.count("encoded_wrapped")) { EXPECT_EQ(EncodeWrapped(text), c.at("encoded_wrapped")); }
    if (c.count("wrapped")) { EXPECT_EQ(DecodeWrapped(text), bytes(c.at("wrapped"))); }
    if (c.count("room") || c.count("flat")) {  // flat: as `written`, with the room it needs
      const std::string written = test::Get(c, "written", test::Get(c, "flat"));
      const int32_t room = std::stoi(test::Get(c, "room", std::to_string(written.size())));
      const Flat f = c.count("encode") ? EncodeFlat(text, room) : DecodeFlat(text, room, !c.count("no_dst"));
      EXPECT_EQ(f.ok, test::Get(c, "ok", "1") == "1");
      EXPECT_EQ(f.capacity, std::stoi(test::Get(c, "count", std::to_string(written.size()))));
      EXPECT_EQ(f.buffer, written + std::string(f.buffer.size() - written.size(), '#'));
    }
    if (std::string buffer; c.count("rewritten")) {
      EXPECT_EQ(DecodeFlatText(text, &buffer), bytes(c.at("plain")));
      EXPECT_EQ(buffer, c.at("rewritten") + "\0#"s);
    }
  }
  const std::string a4096(4096, 'A');  // the flat text decoder reads at most 4096 characters
  std::string buffer;
  EXPECT_EQ(DecodeFlatText(a4096 + "YWJj*Q", &buffer), std::string(3072, '\0'));
  EXPECT_EQ(buffer, a4096 + "YWJj\r\n\0#"s);
}

// Null arguments and lengths that cannot be sized are refused before a byte is read.
TEST(Base64Test, RefusesNullAndOversizedArguments) {
  const uint8_t data[3] = {};
  char text[8], *out = nullptr;
  int32_t capacity = sizeof text;
  uint32_t length = 0;
  uint8_t *bytes = nullptr, room[8];
  EXPECT_FALSE(Base64EncodeFlat(nullptr, 3, text, &capacity));
  EXPECT_FALSE(Base64EncodeFlat(data, 3, nullptr, &capacity));
  EXPECT_FALSE(Base64EncodeFlat(data, 3, text, nullptr));
  EXPECT_FALSE(Base64EncodeFlat(data, -1, text, &capacity));
  EXPECT_FALSE(Base64DecodeFlat(nullptr, 4, room, &capacity));
  EXPECT_FALSE(Base64DecodeFlat("YWJj", 4, room, nullptr));
  EXPECT_FALSE(Base64DecodeFlatText(nullptr, &bytes, &length));
  EXPECT_FALSE(Base64EncodeFlatText(nullptr, 3, &out));
  EXPECT_FALSE(Base64EncodeFlatText(data, 0x80000000u, &out));
  EXPECT_EQ(out, nullptr);
  EXPECT_FALSE(Base64EncodeFlat(data, 0x1FFFFFFF, text, &capacity)) << "one below: no room only";
  for (int32_t n : {0x20000000, 0x7FFFFFFF}) {  // 4 x n overflows: E_FAIL
    EXPECT_THAT([&] { Base64EncodeFlat(data, n, text, &capacity); },
                testing::Throws<CHResultException>(testing::Property(&CHResultException::hr, kEFail)));
  }
}
// The decoders' fast steps over whole groups must agree with these character rules.
int SymbolOf(char c) {
  const char* at = c != '\0' ? std::strchr(kAlphabetAndPad, c) : nullptr;
  return at != nullptr && *at != '=' ? static_cast<int>(at - kAlphabetAndPad) : -1;
}
Bytes ReferenceWrapped(std::string_view text) {
  std::string symbols, out;
  for (char c : text) symbols += SymbolOf(c) >= 0 || c == '=' ? std::string(1, c) : "";
  if (symbols.size() % 4 != 0) return std::nullopt;
  for (size_t i = 0; i < symbols.size(); i += 4) {
    uint32_t bits = 0;
    for (char g : symbols.substr(i, 4)) bits = bits << 6 | static_cast<uint32_t>(g == '=' ? 0 : SymbolOf(g));
    out += {static_cast<char>(bits >> 16), static_cast<char>(bits >> 8), static_cast<char>(bits)};
  }
  const size_t n = symbols.size();  // only the last group's padding drops bytes
  out.resize(out.size() - (n == 0 ? 0 : symbols[n - 2] == '=' ? 2 : symbols[n - 1] == '=' ? 1 : 0));
  return out;
}
// The bytes written within `room`, and the full count.
std::pair<std::string, int32_t> ReferenceFlat(std::string_view text, int32_t room) {
  std::string out;
  int32_t count = 0;
  for (size_t pos = 0; pos < text.size() && text[pos] != '\0';) {
    uint32_t bits = 0;
    int symbols = 0;
    for (; symbols < 4 && pos < text.size(); ++pos) {
      if (SymbolOf(text[pos]) >= 0) bits = bits << 6 | static_cast<uint32_t>(SymbolOf(text[pos])), ++symbols;
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

// Random data round trips through every codec (wrapped: a LF every 72 characters
// and at the end); then junk goes into the flat text.
TEST(Base64Test, DecodersAgreeWithTheRulesWhateverStandsBetweenGroups) {
  std::mt19937 gen(7);
  const char kJunk[] = {'\n', '\r', ' ', '=', '*', '-', '\0', '\xC3'};
  for (int round = 0; round < 600; ++round) {
    SCOPED_TRACE(round);
    const size_t n = round < 200 ? round : gen() % 120;
    const std::string data = RandomBytes(n, static_cast<uint32_t>(round)), wrapped = EncodeWrapped(data);
    std::string text = Flat1(data), buffer;
    EXPECT_EQ(DecodeWrapped(wrapped), data);
    EXPECT_EQ(DecodeFlat(wrapped, static_cast<int32_t>(n)).buffer.substr(0, n), data);
    EXPECT_EQ(std::count(wrapped.begin(), wrapped.end(), '\n'), (text.size() + 71) / 72);
    EXPECT_TRUE(n == 0 || wrapped.back() == '\n');
    char* encoded = nullptr;
    EXPECT_EQ(Base64EncodeFlatText(U8(data), static_cast<uint32_t>(n), &encoded), n != 0);
    EXPECT_EQ(MallocPtr<char>(encoded) ? std::string(encoded) : "", n != 0 ? text : "");
    EXPECT_EQ(DecodeFlatText(text, &buffer), n == 0 ? std::nullopt : Bytes(data));
    for (unsigned n = gen() % 6; n > 0 && !text.empty(); --n) {
      text.insert(gen() % (text.size() + 1), 1, kJunk[gen() % sizeof kJunk]);
    }
    EXPECT_EQ(DecodeWrapped(text), ReferenceWrapped(text));
    const int32_t room = static_cast<int32_t>(gen() % (text.size() + 2));
    const Flat f = DecodeFlat(text, room);
    const auto [written, count] = ReferenceFlat(text, room);
    EXPECT_EQ(f.ok, count <= room);
    EXPECT_EQ(f.capacity, count);
    EXPECT_EQ(f.buffer, written + std::string(f.buffer.size() - written.size(), '#'));
  }
}
}  // namespace
}  // namespace velto
