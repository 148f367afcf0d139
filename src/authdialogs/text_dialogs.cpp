#include "authdialogs/text_dialogs.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <cstdlib>
#include <thread>
#include <vector>

namespace velto::dialogs {
namespace {

struct Option {
  std::string key;    // what an answers file names it by
  std::string label;  // what the console shows
};

enum class Kind { kText, kSecret, kChoice };

// One question of a dialog: a form field asked as text, as a secret (never
// echoed, never shown) or as a choice among numbered options.
template <typename Form>
struct Question {
  std::string key;
  std::string label;
  Field field = Field::kUserName;
  Kind kind = Kind::kText;
  std::function<bool(const Form&)> asked;  // null: always asked
  std::function<std::string(const Form&)> text;  // shown; null for a secret
  std::function<void(Form*, const SecretString&)> set_text;
  std::function<std::vector<Option>(const Form&)> options;
  std::function<int(const Form&)> choice;  // -1: none of the options
  std::function<void(Form*, int)> set_choice;
  std::function<std::string(const Form&)> secret_state;  // "(set)", "(unchanged)", ...
  // False for a question that only decides how another field is read (its
  // field's checks are about that other field).
  bool checked = true;
};

template <typename Form>
using Questions = std::vector<Question<Form>>;
template <typename Form>
using Check = std::function<std::vector<FieldError>(const Form&)>;

template <typename Form>
Question<Form> NewQuestion(const char* key, const char* label, Field field, Kind kind) {
  Question<Form> q;
  q.key = key;
  q.label = label;
  q.field = field;
  q.kind = kind;
  return q;
}

template <typename Form, typename Text>
Question<Form> TextQuestion(const char* key, const char* label, Field field, Text Form::*member,
                            std::function<bool(const Form&)> asked = nullptr) {
  Question<Form> q = NewQuestion<Form>(key, label, field, Kind::kText);
  q.asked = std::move(asked);
  q.text = [member](const Form& f) { return std::string(f.*member); };
  q.set_text = [member](Form* f, const SecretString& v) {
    Wipe(&(f->*member));
    (f->*member).assign(v.data(), v.size());
  };
  return q;
}

template <typename Form>
Question<Form> SecretQuestion(const char* key, const char* label, Field field,
                              SecretString Form::*member,
                              std::function<bool(const Form&)> asked = nullptr) {
  Question<Form> q = TextQuestion<Form>(key, label, field, member, std::move(asked));
  q.kind = Kind::kSecret;
  q.text = nullptr;
  q.secret_state = [member](const Form& f) { return (f.*member).empty() ? "(empty)" : "(set)"; };
  return q;
}

template <typename Form>
Question<Form> ChoiceQuestion(const char* key, const char* label, Field field,
                              std::vector<Option> options, std::function<int(const Form&)> get,
                              std::function<void(Form*, int)> set,
                              std::function<bool(const Form&)> asked = nullptr) {
  Question<Form> q = NewQuestion<Form>(key, label, field, Kind::kChoice);
  q.asked = std::move(asked);
  q.options = [options](const Form&) { return options; };
  q.choice = std::move(get);
  q.set_choice = std::move(set);
  return q;
}

template <typename Form>
Question<Form> Unchecked(Question<Form> q) {
  q.checked = false;
  return q;
}

std::string Lower(std::string_view view) {
  std::string text(view);
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

// An option by its number (from 1) or its key (exactly, else ignoring case).
int OptionIndex(const std::vector<Option>& options, std::string_view value) {
  if (!value.empty() && std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    unsigned long n = value.size() > 3 ? 0 : std::strtoul(std::string(value).c_str(), nullptr, 10);
    return n >= 1 && n <= options.size() ? static_cast<int>(n - 1) : -1;
  }
  for (size_t i = 0; i < options.size(); ++i) {
    if (options[i].key == value) return static_cast<int>(i);
  }
  for (size_t i = 0; i < options.size(); ++i) {
    if (Lower(options[i].key) == Lower(value)) return static_cast<int>(i);
  }
  return -1;
}

std::string OptionKeys(const std::vector<Option>& options) {
  std::string keys;
  for (const Option& o : options) keys += (keys.empty() ? "" : ", ") + o.key;
  return keys;
}

// ---- the questions of each dialog

bool SavedCredentials(const ConfigForm& f) {
  return f.source != CredentialSource::kPrompt && f.source != CredentialSource::kSingleSignOn;
}

Questions<ConfigForm> ConfigQuestions(const ConfigForm& form) {
  using F = ConfigForm;
  Questions<F> q;
  if (form.method_kind == kProfileMethodSim || form.method_kind == kProfileMethodAka) {
    // The module keeps the outer identity only for EAP-TTLS: not asked here.
    q.push_back(TextQuestion<F>("template", "Identity template ({imsi}, {mcc}, {mnc})",
                                Field::kIdentityTemplate, &F::user_name));
    return q;
  }
  q.push_back(ChoiceQuestion<F>(
      "source", "Credentials", Field::kCredentialSource,
      {{"saved", "Saved user name and password"},
       {"prompt", "Ask for them when connecting"},
       {"sso", "Single sign-on"}},
      [](const F& f) {
        auto v = static_cast<uint32_t>(f.source);
        return v <= 2 ? static_cast<int>(v) : -1;
      },
      [](F* f, int i) { f->source = static_cast<CredentialSource>(i); }));
  std::vector<Option> inner;
  for (uint32_t i = 1; InnerMethodName(i) != nullptr; ++i) inner.push_back({InnerMethodName(i), InnerMethodName(i)});
  q.push_back(ChoiceQuestion<F>(
      "inner", "Inner method", Field::kInnerMethod, inner,
      [](const F& f) { return InnerMethodName(f.inner_method) ? static_cast<int>(f.inner_method) - 1 : -1; },
      [](F* f, int i) { f->inner_method = static_cast<uint32_t>(i + 1); }));
  q.push_back(TextQuestion<F>("user", "User name", Field::kUserName, &F::user_name, SavedCredentials));
  q.push_back(TextQuestion<F>("domain", "Domain", Field::kDomain, &F::domain, SavedCredentials));
  Question<F> password = SecretQuestion<F>("password", "Password", Field::kPassword, &F::password,
                                           SavedCredentials);
  password.set_text = [](F* f, const SecretString& v) {
    Wipe(&f->password);
    f->password = v;
    f->password_edited = true;
  };
  password.secret_state = [](const F& f) {
    return !f.password_edited ? "(unchanged)" : f.password.empty() ? "(cleared)" : "(set)";
  };
  q.push_back(std::move(password));
  q.push_back(TextQuestion<F>("outer", "Outer identity", Field::kRoamingIdentity, &F::roaming_identity));
  q.push_back(Unchecked(ChoiceQuestion<F>(
      "validation", "Server validation", Field::kThumbprint,
      {{"none", "Do not validate the server"},
       {"any", "Any trusted server"},
       {"thumbprint", "Only the certificate with this thumbprint"}},
      [](const F& f) { return static_cast<int>(f.validation); },
      [](F* f, int i) { f->validation = static_cast<ServerValidation>(i); })));
  q.push_back(TextQuestion<F>("thumbprint", "Thumbprint (40 hex digits)", Field::kThumbprint,
                              &F::thumbprint,
                              [](const F& f) { return f.validation == ServerValidation::kThumbprint; }));
  q.push_back(TextQuestion<F>("subject", "Server name match (empty: none)", Field::kSubject, &F::subject));
  q.push_back(Unchecked(ChoiceQuestion<F>(
      "subject_kind", "Match the server name as", Field::kSubject,
      {{"server", "Exactly this server name"}, {"domain", "Any server in this domain"}},
      [](const F& f) { return f.subject_is_domain ? 1 : 0; },
      [](F* f, int i) { f->subject_is_domain = i == 1; },
      [](const F& f) { return !f.subject.empty(); })));
  return q;
}

Questions<CredentialForm> CredentialQuestions() {
  using F = CredentialForm;
  return {TextQuestion<F>("user", "User name", Field::kUserName, &F::user_name),
          TextQuestion<F>("domain", "Domain (empty: none)", Field::kDomain, &F::domain),
          SecretQuestion<F>("password", "Password", Field::kPassword, &F::password)};
}

std::string ReaderLabel(const ReaderChoice& r) {
  std::string label = r.reader_name + "  (";
  if (r.is_sim) {
    label += "SIM";
    if (!r.card_name.empty()) label += " " + r.card_name;
    label += r.pin_enabled ? ", PIN on" : ", no PIN";
  } else {
    label += "card";
    if (!r.card_name.empty()) label += " " + r.card_name;
    label += ", " + std::to_string(r.identifiers.size()) + " items";
  }
  return label + ")";
}

Questions<SmartCardForm> SmartCardQuestions() {
  using F = SmartCardForm;
  Question<F> reader = NewQuestion<F>("reader", "Card reader", Field::kReader, Kind::kChoice);
  reader.options = [](const F& f) {
    std::vector<Option> options;
    for (const ReaderChoice& r : f.readers) options.push_back({r.reader_name, ReaderLabel(r)});
    return options;
  };
  reader.choice = [](const F& f) { return f.selected; };
  reader.set_choice = [](F* f, int i) { f->selected = i; };
  return {std::move(reader),
          TextQuestion<F>("template", "Identity template ({imsi}, {mcc}, {mnc})",
                          Field::kIdentityTemplate, &F::identity_template),
          SecretQuestion<F>("pin", "PIN", Field::kPin, &F::pin, SmartCardFormNeedsPin)};
}

// ---- asking on a console

template <typename Form>
std::string Shown(const Question<Form>& q, const Form& form) {
  switch (q.kind) {
    case Kind::kSecret: return q.secret_state(form);
    case Kind::kChoice: {
      int c = q.choice(form);
      std::vector<Option> options = q.options(form);
      return c >= 0 && static_cast<size_t>(c) < options.size() ? options[c].label : "(unchanged)";
    }
    case Kind::kText: break;
  }
  return q.text(form);
}

bool HasError(const std::vector<FieldError>& errors, Field field) {
  return std::any_of(errors.begin(), errors.end(), [&](const FieldError& e) { return e.field == field; });
}

// Asks until the answer passes the field's own checks. False: cancelled.
// `correcting`: asked again after the whole form was refused.
template <typename Form>
bool AskOne(Console& console, Form* form, const Question<Form>& q, const Check<Form>& check,
            const std::function<bool()>& changed, bool correcting) {
  // The form holds an answer its checks refused.
  bool refused = correcting && q.checked && HasError(check(*form), q.field);
  for (;;) {
    std::vector<Option> options;
    std::string prompt;
    if (q.kind == Kind::kChoice) {
      options = q.options(*form);
      console.Write(q.label + ":\n");
      if (options.empty()) console.Write("  (none yet; the list is shown again when it changes)\n");
      for (size_t i = 0; i < options.size(); ++i) {
        console.Write("  " + std::to_string(i + 1) + ") " + options[i].label + "\n");
      }
      int c = q.choice(*form);
      prompt = "Choice [" + (c >= 0 ? std::to_string(c + 1) : options.empty() ? "none" : "unchanged") + "]: ";
    } else if (refused) {
      prompt = q.label + ": ";  // a refused answer is not offered back
    } else {
      prompt = q.label + " [" + (q.kind == Kind::kSecret ? q.secret_state(*form) : q.text(*form)) + "]: ";
    }
    console.Write(prompt);
    SecretString line;
    ReadResult read = console.ReadLine(&line, q.kind == Kind::kSecret,
                                       q.kind == Kind::kChoice ? changed : nullptr);
    if (read == ReadResult::kChanged) {
      console.Write("\n");
      continue;
    }
    if (read == ReadResult::kEnd || line == "cancel") {
      if (read == ReadResult::kEnd) console.Write("\n");
      Wipe(&line);
      return false;
    }
    if (line.empty() && refused) {
      console.Write("  ! Type another value, '-' to clear it or 'cancel'.\n");
      continue;
    }
    if (!line.empty() && q.kind == Kind::kChoice) {
      int index = OptionIndex(options, line);
      if (index < 0) {
        console.Write("  ! Type a number from 1 to " + std::to_string(options.size()) + ".\n");
        continue;
      }
      q.set_choice(form, index);
    } else if (!line.empty()) {
      static const SecretString kCleared;
      q.set_text(form, line == "-" ? kCleared : line);  // no copy of a secret left behind
    }
    Wipe(&line);
    if (!q.checked) return true;
    refused = false;
    for (const FieldError& e : check(*form)) {
      if (e.field != q.field) continue;
      console.Write("  ! " + e.message + "\n");
      refused = true;
    }
    if (!refused) return true;
  }
}

template <typename Form>
bool AskForm(Console& console, const std::string& title, Form* form,
             const std::function<Questions<Form>(const Form&)>& questions, const Check<Form>& check,
             const std::function<bool()>& changed = nullptr) {
  console.Write("\n" + title + "\n" +
                "Enter keeps the value in [brackets], '-' clears it, 'cancel' cancels.\n\n");
  std::vector<Field> only;  // after a failed check: just the fields to correct
  for (;;) {
    for (const Question<Form>& q : questions(*form)) {
      bool asked = !q.asked || q.asked(*form);
      // A field to correct is asked even where it is not shown otherwise, as
      // long as it is still wrong.
      bool wanted = only.empty() ? asked
                                 : std::find(only.begin(), only.end(), q.field) != only.end() &&
                                       (asked || HasError(check(*form), q.field));
      if (wanted && !AskOne(console, form, q, check, changed, !only.empty())) return false;
    }
    if (changed) changed();  // the lists as they are now
    std::vector<FieldError> errors = check(*form);
    only.clear();
    if (!errors.empty()) {
      console.Write("\nTo correct:\n");
      for (const FieldError& e : errors) {
        console.Write("  ! " + e.message + "\n");
        only.push_back(e.field);
      }
      continue;
    }
    console.Write("\n");
    for (const Question<Form>& q : questions(*form)) {
      if (!q.asked || q.asked(*form)) console.Write("  " + q.label + ": " + Shown(q, *form) + "\n");
    }
    for (;;) {
      console.Write("Save? [Y]es, [e]dit, [c]ancel: ");
      SecretString read;
      if (console.ReadLine(&read, false, nullptr) == ReadResult::kEnd) {
        console.Write("\n");
        return false;
      }
      std::string line = Lower(read);
      if (line.empty() || line == "y" || line == "yes") return true;
      if (line == "c" || line == "cancel" || line == "n" || line == "no") return false;
      if (line == "e" || line == "edit") break;
      console.Write("  ! Answer y (save), e (edit) or c (cancel).\n");
    }
  }
}

// ---- answering from a file

// Applies the section's answers to the form. Keys `extra` takes are left to
// it. Returns the problems found, one per line; *cancel for action=cancel.
template <typename Form>
std::string ApplyAnswers(const AnswerSection& section, Form* form, const Questions<Form>& questions,
                         bool* cancel, const std::function<bool(const Answer&)>& extra = nullptr) {
  std::string problems;
  *cancel = false;
  for (const Answer& a : section.answers) {
    std::string where = "line " + std::to_string(a.line) + ": ";
    if (a.key == "action") {
      if (a.value == "cancel") {
        *cancel = true;
      } else if (a.value != "ok") {
        problems += where + "action is ok or cancel\n";
      }
      continue;
    }
    if (extra && extra(a)) continue;
    auto q = std::find_if(questions.begin(), questions.end(),
                          [&](const Question<Form>& q) { return q.key == a.key; });
    if (q == questions.end()) {
      std::string keys;
      for (const Question<Form>& known : questions) keys += known.key + ", ";
      problems += where + "[" + section.name + "] has no \"" + a.key + "\" here (" + keys + "action)\n";
    } else if (q->kind == Kind::kChoice) {
      std::vector<Option> options = q->options(*form);
      int index = OptionIndex(options, a.value);
      if (index < 0) {
        problems += where + a.key + " is one of " + OptionKeys(options) + ", or 1 to " +
                    std::to_string(options.size()) + "\n";
      } else {
        q->set_choice(form, index);
      }
    } else {
      q->set_text(form, a.value);
    }
  }
  return problems;
}

template <typename Form>
bool Checked(const Form& form, const Check<Form>& check, std::string problems, std::string* error) {
  for (const FieldError& e : check(form)) problems += e.message + "\n";
  *error = problems;
  return problems.empty();
}

}  // namespace

bool AskConfigForm(Console& console, ConfigForm* form) {
  const char* method = form->method_kind == kProfileMethodSim   ? "EAP-SIM"
                       : form->method_kind == kProfileMethodAka ? "EAP-AKA"
                       : form->method_kind == kProfileMethodTtls ? "EAP-TTLS"
                                                                 : "EAP";
  return AskForm<ConfigForm>(console, std::string("802.1X settings: ") + method, form,
                             ConfigQuestions, CheckConfigForm);
}

bool AskCredentialForm(Console& console, CredentialForm* form) {
  return AskForm<CredentialForm>(console, "Sign in to the network (EAP-TTLS)", form,
                                 [](const CredentialForm&) { return CredentialQuestions(); },
                                 CheckCredentialForm);
}

bool AskSmartCardForm(Console& console, SmartCardForm* form, const RefreshLists& refresh) {
  std::string title = "SIM card for the network";
  if (form->retry) title += "\nThe SIM did not accept the PIN, or none was given. Check the PIN and try again.";
  return AskForm<SmartCardForm>(console, title, form,
                                [](const SmartCardForm&) { return SmartCardQuestions(); },
                                CheckSmartCardForm, [&] { return refresh(form); });
}

bool AnswerConfigForm(const AnswerSection& section, ConfigForm* form, std::string* error) {
  bool cancel = false;
  std::string problems = ApplyAnswers(section, form, ConfigQuestions(*form), &cancel);
  if (cancel) {
    *error = problems;
    return false;
  }
  return Checked<ConfigForm>(*form, CheckConfigForm, problems, error);
}

bool AnswerCredentialForm(const AnswerSection& section, CredentialForm* form, std::string* error) {
  bool cancel = false;
  std::string problems = ApplyAnswers(section, form, CredentialQuestions(), &cancel);
  if (cancel) {
    *error = problems;
    return false;
  }
  return Checked<CredentialForm>(*form, CheckCredentialForm, problems, error);
}

bool AnswerSmartCardForm(const AnswerSection& section, SmartCardForm* form,
                         const RefreshLists& refresh, std::string* error) {
  constexpr double kMaxWaitSeconds = 120;
  std::string reader;
  bool reader_named = false;
  double wait = 0;
  std::string problems;
  auto extra = [&](const Answer& a) {
    if (a.key == "reader") {
      reader.assign(a.value.data(), a.value.size());
      reader_named = true;
      return true;
    }
    if (a.key != "wait") return false;
    char* end = nullptr;
    wait = std::strtod(a.value.c_str(), &end);
    if (a.value.empty() || *end != '\0' || !(wait >= 0 && wait <= kMaxWaitSeconds)) {
      problems += "line " + std::to_string(a.line) + ": wait is a number of seconds, 0 to 120\n";
      wait = 0;
    }
    return true;
  };
  Questions<SmartCardForm> questions = SmartCardQuestions();
  bool cancel = false;
  problems += ApplyAnswers(section, form, questions, &cancel, extra);
  if (cancel) {
    *error = problems;
    return false;
  }
  // Cards are reported from the SIM library's thread, possibly only after
  // the dialog opened.
  auto present = [&] {
    if (!reader_named) return !form->readers.empty();
    return std::any_of(form->readers.begin(), form->readers.end(),
                       [&](const ReaderChoice& r) { return r.reader_name == reader; });
  };
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(wait);
  refresh(form);
  while (!present() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    refresh(form);
  }
  if (reader_named) {
    form->selected = -1;
    for (size_t i = 0; i < form->readers.size(); ++i) {
      if (form->readers[i].reader_name == reader) {
        form->selected = static_cast<int>(i);
        break;
      }
    }
    if (form->selected < 0) problems += "no card in reader \"" + reader + "\"\n";
  }
  if (!problems.empty()) {
    *error = problems;
    return false;
  }
  return Checked<SmartCardForm>(*form, CheckSmartCardForm, problems, error);
}

}  // namespace velto::dialogs
