#include "protect/base64.h"

#include <bit>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "base/memory.h"
#include "base/text.h"

namespace velto {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kNotSymbol = 0xFF;
constexpr unsigned kWrappedLine = 72;  // characters per line of the wrapped codec

struct SymbolTable {
  uint8_t value[256];
};

constexpr SymbolTable MakeSymbolTable() {
  SymbolTable table{};
  for (uint8_t& v : table.value) v = kNotSymbol;
  for (int i = 0; i < 64; ++i)
    table.value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<uint8_t>(i);
  return table;
}

constexpr SymbolTable kSymbols = MakeSymbolTable();

// The alphabet value of `c`, or kNotSymbol ('=' included).
uint8_t SymbolValue(char c) { return kSymbols.value[static_cast<unsigned char>(c)]; }

// The wrapped decoder counts '=' as a symbol worth 0.
uint8_t WrappedValue(char c) { return c == '=' ? 0 : SymbolValue(c); }

// The two characters of every 12-bit value, so that a group of three bytes
// takes two look-ups.
struct PairTable {
  char pair[4096][2];
};

constexpr PairTable MakePairTable() {
  PairTable table{};
  for (int i = 0; i < 4096; ++i) {
    table.pair[i][0] = kAlphabet[i >> 6];
    table.pair[i][1] = kAlphabet[i & 63];
  }
  return table;
}

constexpr PairTable kPairs = MakePairTable();

void EncodeGroup(const uint8_t* in, char* out) {
  const uint32_t bits = uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
  std::memcpy(out, kPairs.pair[bits >> 12], 2);
  std::memcpy(out + 2, kPairs.pair[bits & 0xFFF], 2);
}

// The wide steps below load and store whole words in memory order.
static_assert(std::endian::native == std::endian::little);

uint64_t PairAt(uint64_t index) {
  uint16_t pair;
  std::memcpy(&pair, kPairs.pair[index & 0xFFF], 2);
  return pair;
}

// Two groups (six bytes, eight characters) at once. Reads eight bytes: the
// caller makes sure that they are there.
void EncodeTwoGroups(const uint8_t* in, char* out) {
  uint64_t word;
  std::memcpy(&word, in, 8);
  word = __builtin_bswap64(word);  // the first byte in the top bits
  const uint64_t chars = PairAt(word >> 52) | PairAt(word >> 40) << 16 | PairAt(word >> 28) << 32 |
                         PairAt(word >> 16) << 48;
  std::memcpy(out, &chars, 8);
}

// Encodes `groups` whole groups; returns the end of the characters written.
char* EncodeGroups(const uint8_t* in, size_t groups, char* out) {
  for (; groups >= 3; groups -= 2, in += 6, out += 8) EncodeTwoGroups(in, out);
  for (; groups != 0; --groups, in += 3, out += 4) EncodeGroup(in, out);
  return out;
}

// Whole groups of four symbols decode through four tables that hold each
// character's value already in its place of the 24 bits; a character the
// codec does not take as a symbol sets the top bit instead, so one test
// tells whether the group can take the fast way.
constexpr uint32_t kBadGroup = 0x80000000u;

struct GroupTables {
  uint32_t place[4][256];
};

constexpr GroupTables MakeGroupTables(bool pad_is_zero) {
  GroupTables tables{};
  for (int c = 0; c < 256; ++c) {
    uint8_t value = kSymbols.value[c];
    if (pad_is_zero && c == '=') value = 0;
    for (int k = 0; k < 4; ++k) {
      tables.place[k][c] = value == kNotSymbol ? kBadGroup : uint32_t{value} << (18 - 6 * k);
    }
  }
  return tables;
}

constexpr GroupTables kFlatGroups = MakeGroupTables(false);
constexpr GroupTables kWrappedGroups = MakeGroupTables(true);

// The 24 bits of four characters, or a value with kBadGroup set.
uint32_t GroupBits(const GroupTables& tables, const char* text) {
  const auto* t = reinterpret_cast<const unsigned char*>(text);
  return tables.place[0][t[0]] | tables.place[1][t[1]] | tables.place[2][t[2]] |
         tables.place[3][t[3]];
}

void PutGroup(uint32_t bits, uint8_t* out) {
  out[0] = static_cast<uint8_t>(bits >> 16);
  out[1] = static_cast<uint8_t>(bits >> 8);
  out[2] = static_cast<uint8_t>(bits);
}

// Decodes at most `groups` groups of four symbols, stopping before the first
// group that holds any other character. Returns the groups decoded.
size_t DecodeGroups(const GroupTables& tables, const char* text, size_t groups, uint8_t* out) {
  size_t done = 0;
  for (; done + 2 <= groups; done += 2, text += 8, out += 6) {
    const uint32_t first = GroupBits(tables, text);
    const uint32_t second = GroupBits(tables, text + 4);
    if ((first | second) & kBadGroup) break;
    const uint64_t bytes = __builtin_bswap64((uint64_t{first} << 24 | second) << 16);
    std::memcpy(out, &bytes, 6);
  }
  for (; done < groups; ++done, text += 4, out += 3) {
    const uint32_t bits = GroupBits(tables, text);
    if (bits & kBadGroup) break;
    PutGroup(bits, out);
  }
  return done;
}

// One or two trailing bytes: their characters with the missing low bits zero,
// then '=' up to four.
void EncodeTail(const uint8_t* in, size_t count, char* out) {
  const uint32_t bits = uint32_t{in[0]} << 16 | (count == 2 ? uint32_t{in[1]} << 8 : 0u);
  out[0] = kAlphabet[bits >> 18 & 63];
  out[1] = kAlphabet[bits >> 12 & 63];
  out[2] = count == 2 ? kAlphabet[bits >> 6 & 63] : '=';
  out[3] = '=';
}

// Callers get a non-null array even for zero bytes.
void* AllocAtLeastOne(size_t size) { return std::malloc(size == 0 ? 1 : size); }

// Stored texts stand in '*' for a line break: the '*' becomes CR and the
// character after it LF. A '*' right before the terminator becomes CR alone.
void RestoreLineBreaks(char* text) {
  for (size_t i = 0; text[i] != '\0';) {
    if (text[i] != '*') {
      ++i;
      continue;
    }
    text[i] = '\r';
    if (text[i + 1] == '\0') break;
    text[i + 1] = '\n';
    i += 2;
  }
}

}  // namespace

char* Base64EncodeWrapped(const uint8_t* data, uint64_t length, uint64_t* out_length) {
  if (data == nullptr && length != 0) return nullptr;
  if (length > std::numeric_limits<uint64_t>::max() / 4) return nullptr;
  // Generous on purpose: room for every group, one LF per line and the NUL.
  const uint64_t chars = 4 * length / 3 + 4;
  const uint64_t size = chars + chars / kWrappedLine + 1;
  if (static_cast<size_t>(size) != size) return nullptr;
  char* const text = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
  if (text == nullptr) return nullptr;

  char* out = text;
  unsigned line = 0;
  uint64_t left = length;
  const uint8_t* in = data;
  constexpr unsigned kLineBytes = kWrappedLine / 4 * 3;
  for (; left >= kLineBytes; left -= kLineBytes, in += kLineBytes) {
    out = EncodeGroups(in, kWrappedLine / 4, out);
    *out++ = '\n';
  }
  // Less than a line is left.
  const size_t groups = static_cast<size_t>(left / 3);
  out = EncodeGroups(in, groups, out);
  in += 3 * groups;
  left -= 3 * groups;
  line = 4 * static_cast<unsigned>(groups);
  if (left != 0) {
    EncodeTail(in, static_cast<size_t>(left), out);
    out += 4;
    line += 4;
  }
  if (line != 0) *out++ = '\n';
  *out = '\0';
  if (out_length != nullptr) *out_length = static_cast<uint64_t>(out - text);
  return text;
}

uint8_t* Base64DecodeWrapped(const char* text, uint64_t length, uint64_t* out_length) {
  if (text == nullptr && length != 0) return nullptr;
  // One pass: room for as many groups as the text could hold; a text whose
  // symbols do not come to whole groups is refused at the end.
  const uint64_t room = length / 4 * 3;
  if (static_cast<size_t>(room) != room) return nullptr;
  uint8_t* const bytes = static_cast<uint8_t*>(AllocAtLeastOne(static_cast<size_t>(room)));
  if (bytes == nullptr) return nullptr;

  uint8_t* out = bytes;
  char group[4] = {};
  unsigned have = 0;
  uint64_t symbols = 0;
  uint64_t i = 0;
  while (i < length) {
    // Four symbols in a row, the common case, in one step.
    if (have == 0 && length - i >= 4) {
      const size_t done =
          DecodeGroups(kWrappedGroups, text + i, static_cast<size_t>((length - i) / 4), out);
      if (done != 0) {
        out += 3 * done;
        i += 4 * done;
        symbols += 4 * done;
        std::memcpy(group, text + i - 4, 4);
        continue;
      }
    }
    const char c = text[i++];
    if (WrappedValue(c) == kNotSymbol) continue;
    ++symbols;
    group[have++] = c;
    if (have < 4) continue;
    const uint32_t bits = uint32_t{WrappedValue(group[0])} << 18 |
                          uint32_t{WrappedValue(group[1])} << 12 |
                          uint32_t{WrappedValue(group[2])} << 6 | WrappedValue(group[3]);
    PutGroup(bits, out);
    out += 3;
    have = 0;
  }
  if (symbols % 4 != 0) {
    std::free(bytes);
    return nullptr;
  }
  uint64_t written = static_cast<uint64_t>(out - bytes);
  // Only padding in the last group shortens the result; a '=' anywhere else
  // has already been decoded as 0.
  if (written != 0) {
    if (group[2] == '=') {
      written -= 2;
    } else if (group[3] == '=') {
      written -= 1;
    }
  }
  if (out_length != nullptr) *out_length = written;
  return bytes;
}

bool Base64EncodeFlat(const uint8_t* data, int32_t length, char* dst, int32_t* capacity) {
  if (data == nullptr || dst == nullptr || capacity == nullptr || length < 0) return false;
  if (length > std::numeric_limits<int32_t>::max() / 4) throw CHResultException(kEFail);
  const int32_t required = (length + 2) / 3 * 4;
  if (*capacity < required) return false;

  const size_t groups = static_cast<size_t>(length / 3);
  char* out = EncodeGroups(data, groups, dst);
  const int32_t left = length % 3;
  if (left != 0) EncodeTail(data + 3 * groups, static_cast<size_t>(left), out);
  *capacity = required;
  return true;
}

bool Base64DecodeFlat(const char* text, int32_t length, uint8_t* dst, int32_t* capacity) {
  if (text == nullptr || capacity == nullptr) return false;
  const int32_t room = *capacity > 0 ? *capacity : 0;
  // Without a destination the routine only counts.
  bool overflow = dst == nullptr;
  int32_t count = 0;
  int32_t pos = 0;
  // A NUL ends the text only where a group would begin; inside a group it is
  // skipped like any other character outside the alphabet.
  while (pos < length && text[pos] != '\0') {
    // Whole groups of symbols that fit the room, the common case, in one step.
    if (!overflow) {
      int32_t groups = (length - pos) / 4;
      const int32_t fit = (room - count) / 3;
      if (groups > fit) groups = fit;
      const auto done = static_cast<int32_t>(
          DecodeGroups(kFlatGroups, text + pos, static_cast<size_t>(groups), dst + count));
      if (done != 0) {
        count += 3 * done;
        pos += 4 * done;
        continue;
      }
    }
    uint32_t bits = 0;
    int symbols = 0;
    while (symbols < 4 && pos < length) {
      const uint8_t value = SymbolValue(text[pos++]);
      if (value == kNotSymbol) continue;
      bits = bits << 6 | value;
      ++symbols;
    }
    // A short last group keeps only its whole bytes; a single symbol gives none.
    const int32_t n = symbols * 6 / 8;
    bits <<= 6 * (4 - symbols);
    if (!overflow && count + n > room) overflow = true;
    if (!overflow) {
      for (int32_t k = 0; k < n; ++k) dst[count + k] = static_cast<uint8_t>(bits >> (16 - 8 * k));
    }
    count += n;
  }
  *capacity = count;
  return !overflow;
}

bool Base64EncodeFlatText(const uint8_t* data, uint32_t length, char** out_text) {
  if (data == nullptr || length == 0 || out_text == nullptr) return false;
  if (length > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) return false;
  // At most 4 x ceil((2^31 - 1) / 3), which fits 32 bits unsigned.
  const size_t work_size = (static_cast<size_t>(length) / 3 + (length % 3 != 0 ? 1 : 0)) * 4;
  const MallocPtr<char> work(static_cast<char*>(std::calloc(work_size, 1)));
  const ScopedWipe wipe_work(work.get(), work_size);
  if (!work) return false;
  // Lengths whose work size would not fit in the capacity make the encoder throw anyway.
  int32_t written = work_size > static_cast<size_t>(std::numeric_limits<int32_t>::max())
                        ? std::numeric_limits<int32_t>::max()
                        : static_cast<int32_t>(work_size);
  if (!Base64EncodeFlat(data, static_cast<int32_t>(length), work.get(), &written))
    return false;
  char* const text = static_cast<char*>(std::calloc(static_cast<size_t>(written) + 1, 1));
  if (text == nullptr) return false;
  std::memcpy(text, work.get(), static_cast<size_t>(written));
  *out_text = text;
  return true;
}

bool Base64DecodeFlatText(char* text, uint8_t** out_bytes, uint32_t* out_length) {
  if (text == nullptr || out_bytes == nullptr || out_length == nullptr) return false;
  size_t length = 0;
  while (length < kMaxTextScan && text[length] != '\0') ++length;
  if (length == 0) return false;
  const MallocPtr<uint8_t> work(static_cast<uint8_t*>(std::malloc(length)));
  const ScopedWipe wipe_work(work.get(), length);
  if (!work) return false;

  RestoreLineBreaks(text);
  int32_t size = static_cast<int32_t>(length);
  if (!Base64DecodeFlat(text, static_cast<int32_t>(length), work.get(), &size))
    return false;
  uint8_t* const bytes = static_cast<uint8_t*>(AllocAtLeastOne(static_cast<size_t>(size)));
  if (bytes == nullptr) return false;
  std::memcpy(bytes, work.get(), static_cast<size_t>(size));
  *out_bytes = bytes;
  *out_length = static_cast<uint32_t>(size);
  return true;
}

}  // namespace velto
