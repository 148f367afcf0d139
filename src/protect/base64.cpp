#include "protect/base64.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "frame/memory.h"

namespace velto {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kNotSymbol = 0xFF;
constexpr unsigned kWrappedLine = 72;  // characters per line of the wrapped codec
constexpr size_t kMaxFlatText = 4096;  // the flat text decoder reads no further

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

void EncodeGroup(const uint8_t* in, char* out) {
  const uint32_t bits = uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
  out[0] = kAlphabet[bits >> 18 & 63];
  out[1] = kAlphabet[bits >> 12 & 63];
  out[2] = kAlphabet[bits >> 6 & 63];
  out[3] = kAlphabet[bits & 63];
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

// A working block that held secret material: wiped and freed on every path,
// exceptions included.
class WipedBlock {
 public:
  WipedBlock(void* data, size_t size) : data_(data), size_(size) {}
  ~WipedBlock() { WipeAndFree(data_, size_); }
  WipedBlock(const WipedBlock&) = delete;
  WipedBlock& operator=(const WipedBlock&) = delete;

  template <typename T>
  T* get() const {
    return static_cast<T*>(data_);
  }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  void* data_;
  size_t size_;
};

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
  for (; left >= 3; in += 3, left -= 3) {
    EncodeGroup(in, out);
    out += 4;
    line += 4;
    if (line == kWrappedLine) {
      *out++ = '\n';
      line = 0;
    }
  }
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
  uint64_t symbols = 0;
  for (uint64_t i = 0; i < length; ++i) {
    if (WrappedValue(text[i]) != kNotSymbol) ++symbols;
  }
  if (symbols % 4 != 0) return nullptr;
  const uint64_t size = symbols / 4 * 3;
  if (static_cast<size_t>(size) != size) return nullptr;
  uint8_t* const bytes = static_cast<uint8_t*>(AllocAtLeastOne(static_cast<size_t>(size)));
  if (bytes == nullptr) return nullptr;

  uint8_t* out = bytes;
  char group[4] = {};
  unsigned have = 0;
  for (uint64_t i = 0; i < length; ++i) {
    if (WrappedValue(text[i]) == kNotSymbol) continue;
    group[have++] = text[i];
    if (have < 4) continue;
    const uint32_t bits = uint32_t{WrappedValue(group[0])} << 18 |
                          uint32_t{WrappedValue(group[1])} << 12 |
                          uint32_t{WrappedValue(group[2])} << 6 | WrappedValue(group[3]);
    *out++ = static_cast<uint8_t>(bits >> 16);
    *out++ = static_cast<uint8_t>(bits >> 8);
    *out++ = static_cast<uint8_t>(bits);
    have = 0;
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

  const uint8_t* in = data;
  char* out = dst;
  int32_t left = length;
  for (; left >= 3; in += 3, left -= 3, out += 4) EncodeGroup(in, out);
  if (left != 0) EncodeTail(in, static_cast<size_t>(left), out);
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
  const WipedBlock work(std::calloc(work_size, 1), work_size);
  if (!work) return false;
  // Lengths whose work size would not fit in the capacity make the encoder throw anyway.
  int32_t written = work_size > static_cast<size_t>(std::numeric_limits<int32_t>::max())
                        ? std::numeric_limits<int32_t>::max()
                        : static_cast<int32_t>(work_size);
  if (!Base64EncodeFlat(data, static_cast<int32_t>(length), work.get<char>(), &written))
    return false;
  char* const text = static_cast<char*>(std::calloc(static_cast<size_t>(written) + 1, 1));
  if (text == nullptr) return false;
  std::memcpy(text, work.get<char>(), static_cast<size_t>(written));
  *out_text = text;
  return true;
}

bool Base64DecodeFlatText(char* text, uint8_t** out_bytes, uint32_t* out_length) {
  if (text == nullptr || out_bytes == nullptr || out_length == nullptr) return false;
  size_t length = 0;
  while (length < kMaxFlatText && text[length] != '\0') ++length;
  if (length == 0) return false;
  const WipedBlock work(std::malloc(length), length);
  if (!work) return false;

  RestoreLineBreaks(text);
  int32_t size = static_cast<int32_t>(length);
  if (!Base64DecodeFlat(text, static_cast<int32_t>(length), work.get<uint8_t>(), &size))
    return false;
  uint8_t* const bytes = static_cast<uint8_t*>(AllocAtLeastOne(static_cast<size_t>(size)));
  if (bytes == nullptr) return false;
  std::memcpy(bytes, work.get<uint8_t>(), static_cast<size_t>(size));
  *out_bytes = bytes;
  *out_length = static_cast<uint32_t>(size);
  return true;
}

}  // namespace velto
