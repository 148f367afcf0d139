// Text conversion between the thread's ANSI code page, UTF-8 and UTF-16.
// On Linux the ANSI code page is UTF-8.
#pragma once

#include <cstddef>

#include "abi/eap_abi.h"

namespace velto::platform {

enum class CodePage { kAnsi, kUtf8 };

// MultiByteToWideChar's contract: `src_len` -1 converts up to and including
// the NUL; `dst_cap` 0 asks for the size needed. Returns the UTF-16 units
// written (or needed), 0 on failure: null source, a destination too small.
// Malformed input becomes U+FFFD.
int MultiByteToWide(CodePage cp, const char* src, int src_len, WCHAR* dst, int dst_cap);

// WideCharToMultiByte's contract, likewise; a lone surrogate becomes U+FFFD
// in UTF-8 and the platform's default character in the ANSI code page.
int WideToMultiByte(CodePage cp, const WCHAR* src, int src_len, char* dst, int dst_cap);

// ASCII, nearly every text here, is the same units in both code pages and
// in UTF-16, so it needs no conversion: the length of the ASCII run that
// starts `text`; the length of a NUL-terminated UTF-16 text and whether it
// is all ASCII; and unit-for-unit copies of ASCII (no terminator written).
size_t AsciiPrefix(const char* text, size_t length);
size_t WideLength(const WCHAR* text, bool* ascii);
void AsciiToWide(const char* text, size_t length, WCHAR* out);
void AsciiFromWide(const WCHAR* text, size_t length, char* out);

}  // namespace velto::platform
