// The conversions' ASCII shortcuts, the same on both platforms: nearly every
// text here is ASCII, which is the same units in every code page.
#include <bit>
#include <cstdint>
#include <cstring>

#include "frame/text_convert.h"

namespace velto::platform {

size_t AsciiPrefix(const char* text, size_t length) {
  size_t i = 0;
  // Eight bytes a step where the text has them.
  for (uint64_t bytes; i + 8 <= length; i += 8) {
    std::memcpy(&bytes, text + i, sizeof bytes);
    if ((bytes & 0x8080808080808080ull) != 0) break;
  }
  while (i < length && static_cast<unsigned char>(text[i]) < 0x80) ++i;
  return i;
}

size_t WideLength(const WCHAR* text, bool* ascii) {
  size_t n = 0;
  WCHAR seen = 0;
  for (;; n += 4) {  // four units a turn, each still tested for the terminator
    if (text[n] == 0) break;
    seen |= text[n];
    if (text[n + 1] == 0) {
      n += 1;
      break;
    }
    seen |= text[n + 1];
    if (text[n + 2] == 0) {
      n += 2;
      break;
    }
    seen |= text[n + 2];
    if (text[n + 3] == 0) {
      n += 3;
      break;
    }
    seen |= text[n + 3];
  }
  *ascii = seen < 0x80;
  return n;
}

void AsciiToWide(const char* text, size_t length, WCHAR* out) {
  for (size_t i = 0; i < length; ++i) out[i] = static_cast<unsigned char>(text[i]);
}

void AsciiFromWide(const WCHAR* text, size_t length, char* out) {
  size_t i = 0;
  // Four units a step: the low byte of each 16-bit lane, packed (the lanes
  // are in memory order on this little-endian target).
  static_assert(std::endian::native == std::endian::little);
  for (; i + 4 <= length; i += 4) {
    uint64_t lanes;
    std::memcpy(&lanes, text + i, sizeof lanes);
    lanes = (lanes | lanes >> 8) & 0x0000FFFF0000FFFFull;
    lanes = (lanes | lanes >> 16) & 0xFFFFFFFFull;
    const auto packed = static_cast<uint32_t>(lanes);
    std::memcpy(out + i, &packed, sizeof packed);
  }
  for (; i < length; ++i) out[i] = static_cast<char>(text[i]);
}

}  // namespace velto::platform
