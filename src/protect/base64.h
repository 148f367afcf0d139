// The two Base64 codecs (RFC 4648 alphabet, '=' padding). They are not
// interchangeable:
//  - the wrapped codec writes lines of at most 72 characters, each ended by a
//    LF (the last one too); stored passwords use it;
//  - the flat codec writes one unbroken line; protected identity data uses it.
// Every returned text or byte array is malloc'd and belongs to the caller.
#pragma once

#include <cstdint>
#include <stdexcept>

namespace velto {

inline constexpr int32_t kEFail = static_cast<int32_t>(0x80004005u);

// Raised by the flat encoder when 4 x length does not fit in 32 bits.
class CHResultException : public std::runtime_error {
 public:
  explicit CHResultException(int32_t hr) : std::runtime_error("HRESULT failure"), hr_(hr) {}
  int32_t hr() const { return hr_; }

 private:
  int32_t hr_;
};

// A new NUL-terminated text, or null when memory runs out (or the length is
// too large to size). *out_length, if given, receives the characters before
// the NUL, line feeds included. An empty input gives the empty text.
char* Base64EncodeWrapped(const uint8_t* data, uint64_t length, uint64_t* out_length);

// Decodes `length` bytes of `text`, skipping every byte that is neither in the
// alphabet nor '='. A '=' counts as 0; only in the third or fourth place of
// the last group does it drop the padding bytes. Null when the counted symbols
// are not a multiple of four, or memory runs out; *out_length untouched then.
// A text without symbols gives a non-null, zero-length array.
uint8_t* Base64DecodeWrapped(const char* text, uint64_t length, uint64_t* out_length);

// Encodes into `dst` without terminator. False for a null argument, a negative
// length, or a capacity below 4 x ceil(length / 3) (nothing written then); on
// true *capacity becomes the characters written. Throws CHResultException
// (E_FAIL) when 4 x length does not fit in a signed 32-bit integer.
bool Base64EncodeFlat(const uint8_t* data, int32_t length, char* dst, int32_t* capacity);

// Decodes what it can: characters outside the alphabet ('=' included) are
// skipped, a NUL where a group would begin ends the text. *capacity always
// becomes the decoded size. False for a null text or capacity pointer, and
// when the bytes do not fit (`dst` null or a negative capacity counts as no
// room; nothing past the capacity is written). Padding is optional and a
// trailing single character gives no byte.
bool Base64DecodeFlat(const char* text, int32_t length, uint8_t* dst, int32_t* capacity);

// Encodes into a new NUL-terminated text. False for null bytes or a zero
// length, a length above INT32_MAX, or when memory runs out; throws as the
// flat encoder does.
bool Base64EncodeFlatText(const uint8_t* data, uint32_t length, char** out_text);

// Decodes at most the first 4096 characters of `text` into a new array.
// Changes `text` in place: every '*' becomes CR and the character after it LF
// (a '*' just before the terminator becomes CR alone). False for a null or
// empty text, or when memory runs out. A text without symbols gives a
// non-null, zero-length array.
bool Base64DecodeFlatText(char* text, uint8_t** out_bytes, uint32_t* out_length);

}  // namespace velto
