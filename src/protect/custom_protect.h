// The stored form of a sealed password: the platform's per-user protection
// without entropy, as wrapped Base64 (72-character lines, each ended by LF).
// Flag 0x01 marks it in the configuration record and the user-data record.
#pragma once

#include <cstddef>

namespace velto {

// Seals a text's bytes (at most 4096 are looked at). Returns a new sealed
// text, or null for a null or empty text, a platform failure or memory
// exhausted.
char* CryptProtectCustom(const char* text);

// CryptProtectCustom for a fixed field of `field_size` bytes: null also when
// the sealed text and its terminator do not fit, since a sealed text cut to
// the field would never open again. Callers treat null as a failed sealing.
char* CryptProtectCustomForField(const char* text, size_t field_size);

// Opens a sealed text (at most 4096 characters are read). Returns a new plain
// text, or null for a null or empty text, a text that does not decode or
// decodes to nothing, another user's or a damaged text, an empty plain text,
// or memory exhausted. Callers wipe the result before freeing it.
char* CryptUnprotectCustom(const char* text);

}  // namespace velto
