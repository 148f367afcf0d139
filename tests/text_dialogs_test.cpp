// The terminal twin's dialogs: questions asked on a scripted console, and
// answers files.
#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "base/text.h"
#include "frame/cdata.h"
#include "authdialogs/answers.h"
#include "authdialogs/text_dialogs.h"

namespace velto::dialogs {
namespace {

constexpr char kChanged[] = "<lists changed>";

// Answers lines in order; kChanged stands for a list change while waiting.
// Records everything written and which reads were secret.
class ScriptedConsole : public Console {
 public:
  explicit ScriptedConsole(std::deque<std::string> lines) : lines_(std::move(lines)) {}
  void Write(const std::string& text) override { output += text; }
  ReadResult ReadLine(SecretString* line, bool secret, const std::function<bool()>& changed) override {
    if (lines_.empty()) return ReadResult::kEnd;
    std::string next = lines_.front();
    lines_.pop_front();
    if (next == kChanged) {
      EXPECT_TRUE(changed) << "a list change while nothing watches the lists";
      if (changed && changed()) return ReadResult::kChanged;
      return ReadLine(line, secret, changed);
    }
    if (secret) secret_reads.push_back(next);
    line->assign(next);
    return ReadResult::kLine;
  }
  std::string output;
  std::vector<std::string> secret_reads;

 private:
  std::deque<std::string> lines_;
};

TEST(AnswersFile, Parses) {
  std::vector<AnswerSection> sections;
  std::string error;
  ASSERT_TRUE(ParseAnswers("# c\r\n[config]\r\n user = alice\r\npassword= a=b \n\n; c\n[ smartcard ]\n", &sections, &error))
      << error;
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[0].name, "config");
  ASSERT_EQ(sections[0].answers.size(), 2u);
  EXPECT_EQ(sections[0].answers[0].key + "|" + std::string(sections[0].answers[0].value), "user| alice");
  EXPECT_EQ(sections[0].answers[1].value, " a=b ") << "values are taken as written";
  EXPECT_EQ(sections[0].answers[1].line, 4);
  EXPECT_EQ(sections[1].name, "smartcard");
  EXPECT_EQ(sections[1].line, 7);

  struct Case {
    const char* text;
    const char* error;
  } refused[] = {{"user=a\n", "line 1: key=value before the first [section]"},
                 {"[config]\nuser\n", "line 2: expected key=value"},
                 {"[config]\n=x\n", "line 2: expected key=value"},
                 {"[]\n", "line 1: a section is [name]"},
                 {"[config\n", "line 1: a section is [name]"}};
  for (const Case& c : refused) {
    EXPECT_FALSE(ParseAnswers(c.text, &sections, &error)) << c.text;
    EXPECT_EQ(error, c.error);
  }
}

ConfigForm TtlsForm() {
  ConfigForm form;
  form.method_kind = kProfileMethodTtls;
  form.source = CredentialSource::kSaved;
  form.user_name = "alice";
  form.password = "stored";
  return form;
}

TEST(ConsoleDialogs, ConfigAsksEachFieldAndReasksWhatIsRefused) {
  ConfigForm form = TtlsForm();
  ScriptedConsole console({"",                    // credentials: kept
                           "9", "5",              // inner method: no such number, then PAP
                           "",                    // user name kept
                           "A\\B", "", "CORP",    // domain: refused, not kept by Enter, fixed
                           "hunter22",            // password
                           "-",                   // outer identity cleared
                           "3", "xyz", "0123456789abcdef0123456789abcdef01234567",
                           "radius", "2",         // subject, as a domain
                           "e",                   // edit again: everything kept
                           "", "", "", "", "", "", "", "", "", "",
                           "later", ""});         // save: not an answer, then yes
  ASSERT_TRUE(AskConfigForm(console, &form)) << console.output;
  EXPECT_EQ(form.inner_method, 5u);
  EXPECT_EQ(form.user_name + "|" + form.domain + "|" + std::string(form.password), "alice|CORP|hunter22");
  EXPECT_TRUE(form.password_edited);
  EXPECT_EQ(form.roaming_identity, "");
  EXPECT_EQ(form.validation, ServerValidation::kThumbprint);
  EXPECT_TRUE(form.subject_is_domain);
  EXPECT_EQ(console.secret_reads, (std::vector<std::string>{"hunter22", ""}));
  EXPECT_NE(console.output.find("  ! Type a number from 1 to 7."), std::string::npos);
  EXPECT_NE(console.output.find("  ! The domain cannot contain a backslash.\nDomain: "),
            std::string::npos)
      << "a refused value is offered back";
  EXPECT_NE(console.output.find("  ! Type another value"), std::string::npos);
  EXPECT_NE(console.output.find("  ! Answer y (save), e (edit) or c (cancel)."), std::string::npos);
  EXPECT_NE(console.output.find("  ! Enter the certificate's thumbprint"), std::string::npos);
  EXPECT_NE(console.output.find("Password [(set)]: "), std::string::npos);
  EXPECT_NE(console.output.find("Password: (set)"), std::string::npos);
  EXPECT_EQ(console.output.find("hunter22"), std::string::npos) << "a password was shown";
  EXPECT_EQ(console.output.find("stored"), std::string::npos) << "a password was shown";
}

TEST(ConsoleDialogs, CancelAndEndOfInput) {
  struct Case {
    std::deque<std::string> lines;
  } cases[] = {{{"cancel"}}, {{"", "", "", "", "", "", "", "", "c"}}, {{"", ""}}};
  for (const Case& c : cases) {
    ConfigForm form = TtlsForm();
    ScriptedConsole console(c.lines);
    EXPECT_FALSE(AskConfigForm(console, &form)) << c.lines.size();
  }
  // Dialog 3: an empty user name is asked again; a password kept is unchanged.
  CredentialForm form;
  ScriptedConsole console({"", "bob", "", "", ""});
  ASSERT_TRUE(AskCredentialForm(console, &form)) << console.output;
  EXPECT_EQ(form.user_name, "bob");
  EXPECT_NE(console.output.find("  ! Enter a user name."), std::string::npos);
  EXPECT_NE(console.output.find("Password: (empty)"), std::string::npos);
}

// Lists that gain a PIN-locked SIM after `after` looks.
struct ArrivingSim {
  int after;
  int looks = 0;
  bool Refresh(SmartCardForm* form) {
    if (++looks != after) return false;
    VELTO_SIM_LIST sim{};
    sim.count = 1;
    CopyTextField(sim.entries[0].reader_name, "Reader 1");
    sim.entries[0].pin_enabled = 1;
    RefreshSmartCardForm(form, nullptr, &sim);
    return true;
  }
};

TEST(ConsoleDialogs, SmartCardListChangesWhileAsking) {
  ArrivingSim lists{1};
  SmartCardForm form;
  ScriptedConsole console({kChanged, "", "", "12", "1234", ""});
  ASSERT_TRUE(AskSmartCardForm(console, &form, [&](SmartCardForm* f) { return lists.Refresh(f); }))
      << console.output;
  EXPECT_EQ(form.selected, 0);
  EXPECT_EQ(form.pin, "1234");
  EXPECT_NE(console.output.find("(none yet"), std::string::npos);
  EXPECT_NE(console.output.find("1) Reader 1  (SIM, PIN on)"), std::string::npos);
  EXPECT_NE(console.output.find("  ! The PIN is 4 to 8 digits."), std::string::npos);
  EXPECT_EQ(console.output.find("1234"), std::string::npos);
}

AnswerSection Section(const char* text) {
  std::vector<AnswerSection> sections;
  std::string error;
  EXPECT_TRUE(ParseAnswers(text, &sections, &error)) << error;
  return sections.empty() ? AnswerSection{} : sections[0];
}

TEST(AnswersDialogs, ApplyCheckOrRefuse) {
  struct Case {
    const char* text;
    bool confirmed;
    const char* error;  // a part of it
  } cases[] = {
      {"[config]\nsource=prompt\ninner=mschapv2\npassword=\naction=ok\n", true, ""},
      {"[config]\nuser=x\naction=cancel\n", false, ""},
      {"[config]\ninner=NTLM\n", false, "line 2: inner is one of CHAP, EAP-MD5"},
      {"[config]\ntemplate=x\n", false, "line 2: [config] has no \"template\" here"},
      {"[config]\naction=maybe\n", false, "line 2: action is ok or cancel"},
      {"[config]\ndomain=0123456789012345678\n", false, "The domain is too long: at most 18"},
  };
  for (const Case& c : cases) {
    ConfigForm form = TtlsForm();
    std::string error;
    EXPECT_EQ(AnswerConfigForm(Section(c.text), &form, &error), c.confirmed) << c.text;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.text << "\n" << error;
    if (c.confirmed) {
      EXPECT_EQ(form.source, CredentialSource::kPrompt);
      EXPECT_EQ(form.inner_method, 4u);
      EXPECT_TRUE(form.password_edited && form.password.empty());
    }
  }
}

TEST(AnswersDialogs, SmartCardWaitsForItsReader) {
  struct Case {
    const char* text;
    int arrives_after;
    bool confirmed;
    const char* error;
  } cases[] = {
      {"[smartcard]\nreader=Reader 1\nwait=5\npin=4321\n", 4, true, ""},
      {"[smartcard]\nwait=5\npin=4321\n", 3, true, ""},  // any reader
      {"[smartcard]\nreader=Reader 1\nwait=0.1\n", 1000, false, "no card in reader \"Reader 1\""},
      {"[smartcard]\nreader=Reader 2\nwait=1\n", 2, false, "no card in reader \"Reader 2\""},
      {"[smartcard]\nreader=Reader 1\nwait=2\n", 2, false, "The PIN is 4 to 8 digits."},
      {"[smartcard]\nwait=121\n", 1, false, "wait is a number of seconds, 0 to 120"},
  };
  for (const Case& c : cases) {
    ArrivingSim lists{c.arrives_after};
    SmartCardForm form;
    std::string error;
    EXPECT_EQ(AnswerSmartCardForm(Section(c.text), &form,
                                  [&](SmartCardForm* f) { return lists.Refresh(f); }, &error),
              c.confirmed)
        << c.text;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.text << "\n" << error;
    if (c.confirmed) {
      EXPECT_EQ(form.selected, 0);
    }
  }
}

}  // namespace
}  // namespace velto::dialogs
