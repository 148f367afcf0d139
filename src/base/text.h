// Texts in the fixed fields of the binary records, and the longest text the
// module reads. A record may come from the host or a sibling library, which
// may fill a text field to its last byte: such a field is read only through
// FieldLength, FieldView or FieldText, and written only through
// CopyTextField or ReplaceTextField, which always leave a terminator.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "base/memory.h"

namespace velto {

// A text is read no further than this many characters (bytes, or UTF-16
// units for the document's texts): sealing, opening, Base64, the identity
// templates and the configuration document's element texts all stop here.
inline constexpr size_t kMaxTextScan = 4096;

// The length of the text in a field: N for a field filled to its last byte.
template <size_t N>
size_t FieldLength(const char (&field)[N]) {
  return strnlen(field, N);
}

// The text in a field, without its terminator; never reaches past the field.
template <size_t N>
std::string_view FieldView(const char (&field)[N]) {
  return std::string_view(field, FieldLength(field));
}

// The field as a terminated text in `text`, one byte larger: all N bytes are
// copied, so a full field keeps its last character.
template <size_t N>
void FieldText(const char (&field)[N], char (&text)[N + 1]) {
  std::memcpy(text, field, N);
  text[N] = '\0';
}

// Copies `length` bytes (NULs included) into a field of `size` bytes, cut
// to size - 1 bytes, and puts a terminator behind them. Bytes after the
// terminator are left as they were. Null bytes copy as the empty text; a
// null field or size 0 writes nothing.
inline void CopyTextField(char* field, size_t size, const void* bytes, size_t length) {
  if (field == nullptr || size == 0) return;
  if (bytes == nullptr) length = 0;
  if (length > size - 1) length = size - 1;
  if (length != 0) std::memcpy(field, bytes, length);
  field[length] = '\0';
}

// Copies a terminated text into a field of `size` bytes, as above: the text
// is cut at size - 1 characters and never read further; null copies as the
// empty text.
inline void CopyTextField(char* field, size_t size, const char* text) {
  CopyTextField(field, size, text, text != nullptr && size != 0 ? strnlen(text, size - 1) : 0);
}

template <size_t N>
void CopyTextField(char (&field)[N], const char* text) {
  CopyTextField(field, N, text);
}

template <size_t N>
void CopyTextField(char (&field)[N], std::string_view text) {
  CopyTextField(field, N, text.data(), text.size());
}

// Wipes the whole field, then copies `text` in as CopyTextField does: nothing
// of what the field held (a password) stays behind the new text.
template <size_t N>
void ReplaceTextField(char (&field)[N], std::string_view text) {
  SecureWipe(field, N);
  CopyTextField(field, N, text.data(), text.size());
}

// The value of a hex digit (either case), or -1 for any other character.
inline int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace velto
