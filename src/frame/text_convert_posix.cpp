// UTF-8 <-> UTF-16 with the Win32 conversion functions' contract. The ANSI code
// page is UTF-8 here, so both code pages take the same path.
#include <climits>
#include <cstdint>

#include "frame/text_convert.h"

namespace velto::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Collects output units: counts only when there is no destination, and never
// writes at or past the capacity.
template <typename Unit>
class Sink {
 public:
  Sink(Unit* dst, int cap) : dst_(dst), cap_(cap) {}

  void Put(Unit unit) {
    if (cap_ != 0) {
      if (count_ >= cap_) {
        overflow_ = true;
        return;
      }
      dst_[count_] = unit;
    }
    ++count_;
  }

  // Puts `n` ASCII units at once, with the same outcome as n calls of Put.
  template <typename From>
  void PutRun(const From* units, size_t n) {
    if (cap_ == 0) {
      count_ += static_cast<int64_t>(n);
      return;
    }
    int64_t room = cap_ - count_;
    size_t take = static_cast<int64_t>(n) > room ? static_cast<size_t>(room) : n;
    Unit* out = dst_ + count_;
    if constexpr (sizeof(From) == 2) {
      AsciiFromWide(units, take, out);
    } else {
      AsciiToWide(reinterpret_cast<const char*>(units), take, out);
    }
    count_ += static_cast<int64_t>(take);
    if (take < n) overflow_ = true;
  }

  // The count for the caller, or 0 on overflow or a result no int can hold.
  int Result() const { return overflow_ || count_ > INT_MAX ? 0 : static_cast<int>(count_); }
  bool Full() const { return overflow_ || count_ > INT_MAX; }

 private:
  Unit* dst_;
  int64_t cap_;
  int64_t count_ = 0;
  bool overflow_ = false;
};

// Shared argument checks of both directions; false means the call fails.
bool ValidArgs(const void* src, int src_len, const void* dst, int dst_cap) {
  if (src == nullptr || src_len == 0 || src_len < -1 || dst_cap < 0) return false;
  return dst_cap == 0 || dst != nullptr;
}

// Decodes one scalar value at `s[*pos]`, advancing *pos. Ill-formed input
// yields U+FFFD for each maximal subpart, the way Windows and the Unicode
// standard's recommended practice replace it.
char32_t DecodeUtf8(const unsigned char* s, size_t len, size_t* pos) {
  unsigned char lead = s[(*pos)++];
  if (lead < 0x80) return lead;

  int trail = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // valid range of the first trail byte
  char32_t cp = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trail = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) lo = 0xA0;  // overlong below
    if (lead == 0xED) hi = 0x9F;  // UTF-16 surrogates above
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) lo = 0x90;  // overlong below
    if (lead == 0xF4) hi = 0x8F;  // beyond U+10FFFF above
  } else {
    return kReplacement;  // a trail byte, C0/C1 or F5..FF cannot start a sequence
  }

  for (int i = 0; i < trail; ++i) {
    if (*pos >= len) return kReplacement;
    unsigned char c = s[*pos];
    if (c < lo || c > hi) return kReplacement;  // not consumed: it may start the next one
    cp = (cp << 6) | (c & 0x3F);
    ++*pos;
    lo = 0x80;
    hi = 0xBF;
  }
  return cp;
}

}  // namespace

int MultiByteToWide(CodePage, const char* src, int src_len, WCHAR* dst, int dst_cap) {
  if (!ValidArgs(src, src_len, dst, dst_cap)) return 0;
  const auto* s = reinterpret_cast<const unsigned char*>(src);
  size_t len = 0;
  if (src_len == -1) {
    while (s[len] != 0) ++len;
    ++len;  // the terminator is converted and counted too
  } else {
    len = static_cast<size_t>(src_len);
  }

  Sink<WCHAR> out(dst, dst_cap);
  size_t pos = 0;
  while (pos < len && !out.Full()) {
    // Runs of ASCII, nearly all of every text, convert unit for unit.
    size_t run = pos + AsciiPrefix(src + pos, len - pos);
    if (run != pos) {
      out.PutRun(s + pos, run - pos);
      pos = run;
      continue;
    }
    char32_t cp = DecodeUtf8(s, len, &pos);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.Put(static_cast<WCHAR>(0xD800 + (cp >> 10)));
      out.Put(static_cast<WCHAR>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.Put(static_cast<WCHAR>(cp));
    }
  }
  return out.Result();
}

int WideToMultiByte(CodePage, const WCHAR* src, int src_len, char* dst, int dst_cap) {
  if (!ValidArgs(src, src_len, dst, dst_cap)) return 0;
  size_t len = 0;
  if (src_len == -1) {
    while (src[len] != 0) ++len;
    ++len;
  } else {
    len = static_cast<size_t>(src_len);
  }

  Sink<char> out(dst, dst_cap);
  for (size_t i = 0; i < len && !out.Full(); ++i) {
    size_t run = i;
    while (run < len && src[run] < 0x80) ++run;
    if (run != i) {
      out.PutRun(src + i, run - i);
      i = run - 1;
      continue;
    }
    char32_t cp = src[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < len && src[i + 1] >= 0xDC00 &&
        src[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (src[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;  // a surrogate without its partner
    }

    if (cp < 0x80) {
      out.Put(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.Put(static_cast<char>(0xC0 | (cp >> 6)));
      out.Put(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.Put(static_cast<char>(0xE0 | (cp >> 12)));
      out.Put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.Put(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.Put(static_cast<char>(0xF0 | (cp >> 18)));
      out.Put(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.Put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.Put(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out.Result();
}

}  // namespace velto::platform
