// Names and fixed texts of the configuration XML, shared by the reader and
// the writer.
#pragma once

#include <cstdint>

namespace velto::xml {

// The platform's EapHostConfig namespace, and the methods' own.
inline constexpr char kEapHostConfigNamespace[] =
    "http://www.microsoft.com/provisioning/EapHostConfig";
inline constexpr char kVendorNamespace[] = "http://schemas.velto.example/WiFi";

// Written when the record has no outer identity.
inline constexpr char kDefaultAnonymousIdentity[] = "anonymous@velto.example";

// The method element's name for an EAP type; "Unknown" for any other type.
const char* MethodElementName(uint32_t eap_type);

// The inner-method code of a Phase2Type text (exact, case-sensitive);
// 0xFFFFFFFF for any other text.
uint32_t Phase2CodeFromText(const char* text);

// The Phase2Type text of a code; "UNKNOWN" for a code without a name.
const char* Phase2TextFromCode(uint32_t code);

}  // namespace velto::xml
