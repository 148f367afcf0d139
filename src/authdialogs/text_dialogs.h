// The three dialogs as questions in text: asked one by one on a console, or
// answered from a section of an answers file. Both fill the same forms as
// the Win32 dialogs and hand back only a checked form; storing it into the
// profile is the caller's.
#pragma once

#include <functional>
#include <string>

#include "authdialogs/answers.h"
#include "authdialogs/dialog_model.h"

namespace velto::dialogs {

enum class ReadResult { kLine, kEnd, kChanged };

// Where the questions are asked. The terminal on Linux; a script in tests.
class Console {
 public:
  virtual ~Console() = default;
  virtual void Write(const std::string& text) = 0;
  // One line without its end (any line may be a secret, so it is read into
  // a secret text). A `secret` line is not echoed. While it waits,
  // `changed` (when given) is polled a few times a second; when it returns
  // true the wait ends with kChanged and the partly typed line stays
  // pending. kEnd: end of input.
  virtual ReadResult ReadLine(SecretString* line, bool secret,
                              const std::function<bool()>& changed) = 0;
};

// The smart-card dialog's view of the library's current lists: refreshes
// the form from them and says whether they changed since the last call.
using RefreshLists = std::function<bool(SmartCardForm*)>;

// True when the user confirmed; the form then passes its checks. False when
// the user cancelled (typed "cancel", or the input ended).
bool AskConfigForm(Console& console, ConfigForm* form);
bool AskCredentialForm(Console& console, CredentialForm* form);
bool AskSmartCardForm(Console& console, SmartCardForm* form, const RefreshLists& refresh);

// The same dialogs answered from one section of an answers file. True when
// the section confirms (action=ok, the default) and the answered form passes
// its checks; otherwise false with the reasons in *error (empty for
// action=cancel). The smart-card section's wait=SECONDS waits at most that
// long (at most 120 s) for its reader=NAME, or for any reader, to appear.
bool AnswerConfigForm(const AnswerSection& section, ConfigForm* form, std::string* error);
bool AnswerCredentialForm(const AnswerSection& section, CredentialForm* form, std::string* error);
bool AnswerSmartCardForm(const AnswerSection& section, SmartCardForm* form,
                         const RefreshLists& refresh, std::string* error);

}  // namespace velto::dialogs
