// Answers files: the dialogs' answers written down in advance, for scripts
// and tests. A file is a list of sections, one per dialog shown, taken in
// order:
//
//   # comment
//   [config]            one of: config, credential, smartcard
//   user=alice          key=value; the value is everything after '='
//   action=ok           ok (default) or cancel
//
// Keys are trimmed; values are taken as written (only a trailing CR goes),
// so a password may begin or end with spaces.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/secret_string.h"

namespace velto::dialogs {

using velto::SecretString;

struct Answer {
  std::string key;
  SecretString value;  // may be a password or a PIN
  int line = 0;
};

struct AnswerSection {
  std::string name;
  int line = 0;
  std::vector<Answer> answers;
};

// False, with the line and the reason in *error, when the text is not an
// answers file.
bool ParseAnswers(std::string_view text, std::vector<AnswerSection>* sections,
                  std::string* error);

// Overwrites every value (answers may hold passwords and PINs).
void Wipe(std::vector<AnswerSection>* sections);

}  // namespace velto::dialogs
