#include "protect/base64.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "frame/memory.h"

namespace velto {
namespace {

using namespace std::string_literals;
using Bytes = std::vector<uint8_t>;

Bytes ToBytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

Bytes RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes out(size);
  for (uint8_t& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

std::string EncodeWrapped(const Bytes& in) {
  uint64_t length = ~0ull;
  MallocPtr<char> text(Base64EncodeWrapped(in.data(), in.size(), &length));
  if (text == nullptr) {
    ADD_FAILURE() << "wrapped encoder failed for " << in.size() << " bytes";
    return {};
  }
  EXPECT_EQ(length, std::strlen(text.get()));
  return text.get();
}

// Null result as nullopt; then *out_length must not have been touched.
std::optional<Bytes> DecodeWrapped(std::string_view text) {
  constexpr uint64_t kUntouched = 0xDEADBEEF;
  uint64_t length = kUntouched;
  MallocPtr<uint8_t> bytes(Base64DecodeWrapped(text.data(), text.size(), &length));
  if (bytes == nullptr) {
    EXPECT_EQ(length, kUntouched);
    return std::nullopt;
  }
  return Bytes(bytes.get(), bytes.get() + length);
}

// Gives the encoder more room than it needs and checks it stays inside its count.
std::string EncodeFlat(const Bytes& in) {
  std::string out((in.size() + 2) / 3 * 4 + 8, '#');
  int32_t capacity = static_cast<int32_t>(out.size());
  const uint8_t none = 0;
  EXPECT_TRUE(Base64EncodeFlat(in.empty() ? &none : in.data(), static_cast<int32_t>(in.size()),
                               out.data(), &capacity));
  EXPECT_EQ(out.find_first_not_of('#', capacity), std::string::npos);
  out.resize(capacity);
  return out;
}

std::optional<Bytes> DecodeFlat(std::string_view text) {
  Bytes out(text.size() + 1);
  int32_t capacity = static_cast<int32_t>(out.size());
  if (!Base64DecodeFlat(text.data(), static_cast<int32_t>(text.size()), out.data(), &capacity))
    return std::nullopt;
  out.resize(capacity);
  return out;
}

TEST(Base64Test, KnownVectorsInBothCodecs) {
  const struct {
    std::string plain;
    std::string encoded;
  } kCases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {"abc", "YWJj"},
      {"\0"s, "AA=="},
      {"\0\0"s, "AAA="},
      {"\xfb\xff", "+/8="},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.encoded);
    const Bytes plain = ToBytes(c.plain);
    EXPECT_EQ(EncodeFlat(plain), c.encoded);
    EXPECT_EQ(EncodeWrapped(plain), plain.empty() ? "" : c.encoded + "\n");
    EXPECT_EQ(DecodeFlat(c.encoded), plain);
    EXPECT_EQ(DecodeWrapped(c.encoded), plain);
    EXPECT_EQ(DecodeWrapped(c.encoded + "\n"), plain);
  }
}

// Every length through every encoder/decoder pairing, and the wrapped layout:
// full lines of 72, a last line of 1 to 72, every line ended by LF.
TEST(Base64Test, RoundTripsAndLineLayout) {
  for (size_t n = 0; n <= 400; ++n) {
    SCOPED_TRACE(n);
    const Bytes data = RandomBytes(n, static_cast<uint32_t>(n));
    const std::string wrapped = EncodeWrapped(data);
    const std::string flat = EncodeFlat(data);
    EXPECT_EQ(DecodeWrapped(wrapped), data);
    EXPECT_EQ(DecodeFlat(flat), data);
    EXPECT_EQ(DecodeFlat(wrapped), data);
    EXPECT_EQ(DecodeWrapped(flat), data);

    std::string joined;
    size_t start = 0;
    for (size_t lf = wrapped.find('\n'); lf != std::string::npos; lf = wrapped.find('\n', start)) {
      const size_t line = lf - start;
      const bool last = lf + 1 == wrapped.size();
      EXPECT_TRUE(last ? line >= 1 && line <= 72 : line == 72) << "line at " << start;
      joined += wrapped.substr(start, line);
      start = lf + 1;
    }
    EXPECT_EQ(start, wrapped.size()) << "text does not end in LF";
    EXPECT_EQ(joined, flat);
  }
  EXPECT_EQ(EncodeWrapped(Bytes(54)).size(), 73u);  // no extra LF after a full line
  EXPECT_EQ(EncodeWrapped(Bytes(55)).size(), 78u);
}

TEST(Base64WrappedTest, Decode) {
  const struct {
    std::string text;
    std::optional<std::string> plain;
  } kCases[] = {
      {"A=AA", "\0\0\0"s},        // '=' outside the padding place decodes as 0
      {"YQ==YWJj", "a\0\0abc"s},  // only the last group's padding is dropped
      {"YQ==\n", "a"},           {"YWI=", "ab"}, {"====", "\0"s}, {" Y\r\nWJ\tj\n", "abc"},
      {"YW\0Jj"s, "abc"},        {"", ""},       {"\n\n", ""},    {"YWJ", std::nullopt},
      {"YWJjYQ=", std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    const std::optional<Bytes> expected = c.plain ? std::optional(ToBytes(*c.plain)) : std::nullopt;
    EXPECT_EQ(DecodeWrapped(c.text), expected);
  }
  // Only the given length counts: six symbols in all, four within it.
  const std::string text = "YWJjYQ";
  EXPECT_EQ(DecodeWrapped(std::string_view(text.data(), 4)), ToBytes("abc"));
}

TEST(Base64FlatTest, EncodeNeedsRoomForWholeGroups) {
  // 100 bytes need 136 characters.
  for (int32_t n : {0, 1, 2, 3, 4, 5, 6, 7, 56, 57, 58, 100}) {
    SCOPED_TRACE(n);
    const Bytes data = RandomBytes(n + 1, 3);
    const int32_t required = (n + 2) / 3 * 4;
    std::string dst(required + 4, '#');

    int32_t capacity = required - 1;
    EXPECT_FALSE(Base64EncodeFlat(data.data(), n, dst.data(), &capacity));
    EXPECT_EQ(capacity, required - 1);
    EXPECT_EQ(dst, std::string(required + 4, '#'));

    capacity = required;
    EXPECT_TRUE(Base64EncodeFlat(data.data(), n, dst.data(), &capacity));
    EXPECT_EQ(capacity, required);
    EXPECT_EQ(dst.substr(required), "####");
  }
}

TEST(Base64FlatTest, RejectsBadArguments) {
  const uint8_t data[3] = {1, 2, 3};
  char text[8];
  int32_t capacity = sizeof text;
  EXPECT_FALSE(Base64EncodeFlat(nullptr, 3, text, &capacity));
  EXPECT_FALSE(Base64EncodeFlat(data, 3, nullptr, &capacity));
  EXPECT_FALSE(Base64EncodeFlat(data, 3, text, nullptr));
  EXPECT_FALSE(Base64EncodeFlat(data, -1, text, &capacity));
  uint8_t bytes[4];
  EXPECT_FALSE(Base64DecodeFlat(nullptr, 4, bytes, &capacity));
  EXPECT_FALSE(Base64DecodeFlat("YWJj", 4, bytes, nullptr));
}

TEST(Base64FlatTest, EncodeThrowsWhenFourTimesLengthOverflows) {
  // The length is checked before any byte is read, so a short buffer will do.
  const uint8_t data[3] = {};
  char dst[4];
  for (int32_t n : {0x20000000, 0x7FFFFFFF}) {
    int32_t capacity = sizeof dst;
    try {
      Base64EncodeFlat(data, n, dst, &capacity);
      ADD_FAILURE() << "no exception for " << n;
    } catch (const CHResultException& e) {
      EXPECT_EQ(e.hr(), kEFail);
    }
  }
  // One below the limit is a plain capacity refusal.
  int32_t capacity = sizeof dst;
  EXPECT_FALSE(Base64EncodeFlat(data, 0x1FFFFFFF, dst, &capacity));
}

TEST(Base64FlatTest, DecodeIsLenient) {
  const struct {
    std::string text;
    std::string plain;
  } kCases[] = {
      {"YQ", "a"},          {"YQ=", "a"},
      {"Y Q = =", "a"},     {"YWJjZA", "abcd"},
      {"YWJjZ", "abc"},  // a single trailing symbol holds no whole byte
      {"=Y=W=J=j=", "abc"}, {"YW\r\nJj\n", "abc"},
      {"YWJj\0ZA"s, "abc"},  // NUL where a group begins ends the text
      {"YW\0Jj"s, "abc"},    // inside a group it is skipped
      {"====", ""},         {"", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(DecodeFlat(c.text), ToBytes(c.plain));
  }
  EXPECT_EQ(DecodeFlat(std::string_view("YWJjZA==", 4)), ToBytes("abc"));
}

TEST(Base64FlatTest, DecodeCountsPastTheCapacityWithoutWriting) {
  const std::string text = "YWJjZGVm";  // "abcdef"
  const struct {
    int32_t capacity;
    bool with_dst;
    bool ok;
    size_t written;
  } kCases[] = {
      {6, true, true, 6},  {5, true, false, 3},  {3, true, false, 3},    {2, true, false, 0},
      {0, true, false, 0}, {-1, true, false, 0}, {100, false, false, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.capacity);
    Bytes dst(8, 0xA5);
    int32_t capacity = c.capacity;
    EXPECT_EQ(Base64DecodeFlat(text.data(), static_cast<int32_t>(text.size()),
                               c.with_dst ? dst.data() : nullptr, &capacity),
              c.ok);
    EXPECT_EQ(capacity, 6);
    Bytes expected(8, 0xA5);
    std::memcpy(expected.data(), "abcdef", c.written);
    EXPECT_EQ(dst, expected);
  }
  // A negative capacity is no room, not an error: a lone symbol yields no byte.
  int32_t capacity = -1;
  uint8_t byte = 0xA5;
  EXPECT_TRUE(Base64DecodeFlat("Y", 1, &byte, &capacity));
  EXPECT_EQ(capacity, 0);
}

TEST(Base64FlatTextTest, Encode) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  char* text = nullptr;
  ASSERT_TRUE(Base64EncodeFlatText(abc, 3, &text));
  EXPECT_STREQ(text, "YWJj");
  std::free(text);

  text = nullptr;
  EXPECT_FALSE(Base64EncodeFlatText(nullptr, 3, &text));
  EXPECT_FALSE(Base64EncodeFlatText(abc, 0, &text));
  EXPECT_FALSE(Base64EncodeFlatText(abc, 0x80000000u, &text));  // refused before reading
  EXPECT_EQ(text, nullptr);
}

// Decodes a copy of `text` followed by a sentinel; returns the bytes and
// leaves the (possibly rewritten) buffer in *buffer.
std::optional<Bytes> DecodeFlatText(const std::string& text, std::string* buffer) {
  *buffer = text + "\0#"s;
  uint8_t* bytes = nullptr;
  uint32_t length = 0;
  if (!Base64DecodeFlatText(buffer->data(), &bytes, &length)) return std::nullopt;
  MallocPtr<uint8_t> owned(bytes);
  if (bytes == nullptr) {
    ADD_FAILURE() << "success without an array";
    return std::nullopt;
  }
  return Bytes(bytes, bytes + length);
}

TEST(Base64FlatTextTest, RoundTripsUpToTheLengthLimit) {
  // 3072 bytes make exactly 4096 characters, the most the decoder reads.
  for (uint32_t n : {1u, 2u, 3u, 4u, 57u, 58u, 1000u, 3071u, 3072u}) {
    SCOPED_TRACE(n);
    const Bytes data = RandomBytes(n, n);
    char* text = nullptr;
    ASSERT_TRUE(Base64EncodeFlatText(data.data(), n, &text));
    const std::string encoded = text;
    std::free(text);
    EXPECT_EQ(encoded, EncodeFlat(data));
    std::string buffer;
    EXPECT_EQ(DecodeFlatText(encoded, &buffer), data);
  }
}

TEST(Base64FlatTextTest, DecodeRestoresLineBreaks) {
  const struct {
    std::string text;
    std::string rewritten;
    std::string plain;
  } kCases[] = {
      {"YW*xJj", "YW\r\nJj", "abc"},  // the character after '*' is overwritten
      {"YW**Jj", "YW\r\nJj", "abc"},
      {"*QYWJj", "\r\nYWJj", "abc"},
      {"YWJj*", "YWJj\r", "abc"},  // the terminator stays
      {"*", "\r", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    std::string buffer;
    EXPECT_EQ(DecodeFlatText(c.text, &buffer), ToBytes(c.plain));
    EXPECT_EQ(buffer, c.rewritten + "\0#"s);
  }
}

TEST(Base64FlatTextTest, DecodeStopsAfter4096Characters) {
  const std::string text = std::string(4096, 'A') + "YWJj*Q";
  std::string buffer;
  EXPECT_EQ(DecodeFlatText(text, &buffer), Bytes(3072, 0));
  // The line breaks are restored over the whole text all the same.
  EXPECT_EQ(buffer.substr(4096), "YWJj\r\n\0#"s);
}

TEST(Base64FlatTextTest, DecodeEmptyAndSymbolFreeTexts) {
  std::string buffer;
  EXPECT_EQ(DecodeFlatText("", &buffer), std::nullopt);
  EXPECT_EQ(DecodeFlatText("\n\n", &buffer), Bytes{});

  uint8_t* bytes = nullptr;
  uint32_t length = 0;
  EXPECT_FALSE(Base64DecodeFlatText(nullptr, &bytes, &length));
}

}  // namespace
}  // namespace velto
