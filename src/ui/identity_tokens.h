// EAP-SIM / EAP-AKA identity templates: "{imsi}", "{mcc}" and "{mnc}" (or
// their "$...$" forms) stand for the IMSI, its country code and its network
// code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velto {

inline constexpr size_t kIdentityTemplateSize = 60;  // the dialog profile's user_name
inline constexpr size_t kIdentityOutputSize = 128;   // the user-data record's identity

// Normalises a template in its 60-byte buffer: an empty one becomes
// "0$imsi$" for EAP-AKA (method kind 8) and "1$imsi$" otherwise; in any other
// every '{' and '}' becomes '$', and the text is cut to 59 characters.
// Nothing for null.
void ReplaceIdentityTokens(char* identity_template, uint32_t method_kind);

// Expands a normalised template into `output` (128 bytes, zero-filled by the
// caller): "$imsi$" by the IMSI, "$mcc$" by its first three digits, "$mnc$"
// by the next three (always three places, fewer digits when the IMSI is
// short). A token that would take the identity past 127 characters is copied
// literally as far as room remains. An empty template leaves the output as it
// was. Always 1.
int ExpandIdentityTokens(const char* imsi, const char* identity_template, char* output);

}  // namespace velto
