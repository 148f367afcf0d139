// The profile identity form of a sealed password: the platform's per-user
// protection with the fixed identity entropy, as one line of flat Base64. It
// is the form the configuration XML carries with encrypted='true', and the
// form flag 0x10 marks in the configuration record.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velto {

inline constexpr size_t kIdentityEntropyBufferSize = 256;
inline constexpr size_t kIdentityEntropyLength = 32;
inline constexpr size_t kMaxProfileIdentityText = 100;

// Writes the identity entropy text (32 upper-case hex digits) into a buffer of
// 256 bytes. 0, or 87 when the buffer is null.
uint32_t BuildIdentityEntropy(char* buffer);

// Seals a text of at most 100 bytes (its terminator not included). Returns a
// new sealed text, or null for a null or longer text or any platform or
// memory failure.
char* EncryptProfileIdentityData(const char* text);

// Opens a sealed text (at most its first 4096 characters). The text is changed
// in place by the line-break convention of the flat decoder, so callers pass a
// copy they own. Returns a new plain text, or null when the text is null, does
// not decode, does not open (another user, another entropy, damaged), opens to
// nothing, or memory runs out. Callers wipe the result before freeing it.
char* DecryptProfileIdentityData(char* text);

}  // namespace velto
