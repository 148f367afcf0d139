// Profile files as administrators have them: UTF-8 with or without a byte
// order mark, UTF-16 with one, and the configuration either alone (a Config
// element) or inside an EapHostConfig document or a WLAN profile.
#pragma once

#include <string>
#include <string_view>

#include "base/secret_string.h"

namespace velto::tools {

// The file's bytes as UTF-8 text, its byte order mark and XML declaration
// left out. False, with the reason, when the bytes are not text in the
// encoding their mark names.
bool DecodeProfile(std::string_view bytes, SecretString* text, std::string* error);

struct ProfileConfig {
  // What the module is handed: the Config element alone, with the namespace
  // declarations it inherits from the elements around it; the whole text
  // when no Config element was found. It may hold a plain password.
  SecretString document;
  // Text of EapHostConfig/EapMethod/Type, trimmed; empty when absent.
  std::string method_type;
  bool found = false;
};

// Finds the Config element of a decoded profile: the root element when it is
// named Config, else the first Config directly inside an EapHostConfig
// element, at any depth. Names are matched without their prefix.
ProfileConfig FindConfig(std::string_view text);

}  // namespace velto::tools
