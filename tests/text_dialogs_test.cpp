// The terminal dialogs on a scripted console, and answers files (tests/vectors/answers/cases.txt).
#include <gtest/gtest.h>
#include <deque>
#include <sstream>
#include <string>
#include <vector>
#include "authdialogs/answers.h"
#include "authdialogs/text_dialogs.h"
#include "base/text.h"
#include "frame/cdata.h"
#include "support/vectors.h"

namespace velto::dialogs {
namespace {

constexpr char kChanged[] = "<lists changed>";

// Answers lines in order (kChanged: a list change while waiting); records the output and secret reads.
struct ScriptedConsole : Console {
  explicit ScriptedConsole(std::deque<std::string> lines) : lines(std::move(lines)) {}
  void Write(const std::string& text) override { output += text; }
  ReadResult ReadLine(SecretString* line, bool secret, const std::function<bool()>& changed) override {
    if (lines.empty()) return ReadResult::kEnd;
    std::string next = lines.front();
    lines.pop_front();
    if (next == kChanged) {
      EXPECT_TRUE(changed) << "a list change while nothing watches the lists";
      return changed && changed() ? ReadResult::kChanged : ReadLine(line, secret, changed);
    }
    if (secret) secret_reads.push_back(next);
    line->assign(next);
    return ReadResult::kLine;
  }
  void ExpectShown(std::initializer_list<const char*> texts) {
    for (const char* text : texts) EXPECT_NE(output.find(text), std::string::npos) << text << "\n" << output;
  }
  std::deque<std::string> lines;
  std::string output;
  std::vector<std::string> secret_reads;
};

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
  EXPECT_EQ(form.user_name + "|" + form.domain + "|" + std::string(form.password) + "|" + form.roaming_identity,
            "alice|CORP|hunter22|");
  EXPECT_TRUE(form.inner_method == 5u && form.password_edited && form.subject_is_domain &&
              form.validation == ServerValidation::kThumbprint);
  EXPECT_EQ(console.secret_reads, (std::vector<std::string>{"hunter22", ""}));
  // A refused value is offered back; a password is never shown.
  console.ExpectShown({"  ! Type a number from 1 to 7.", "  ! The domain cannot contain a backslash.\nDomain: ",
                       "  ! Type another value", "  ! Answer y (save), e (edit) or c (cancel).",
                       "  ! Enter the certificate's thumbprint", "Password [(set)]: ", "Password: (set)"});
  EXPECT_TRUE(console.output.find("hunter22") == std::string::npos && console.output.find("stored") == std::string::npos);
}

TEST(ConsoleDialogs, CancelAndEndOfInput) {
  for (std::deque<std::string> lines : {std::deque<std::string>{"cancel"}, {"", "", "", "", "", "", "", "", "c"}, {"", ""}}) {
    ConfigForm form = TtlsForm();
    ScriptedConsole console(lines);
    EXPECT_FALSE(AskConfigForm(console, &form)) << lines.size();
  }
  // Dialog 3: an empty user name is asked again; a password kept is unchanged.
  CredentialForm form;
  ScriptedConsole console({"", "bob", "", "", ""});
  ASSERT_TRUE(AskCredentialForm(console, &form)) << console.output;
  EXPECT_EQ(form.user_name, "bob");
  console.ExpectShown({"  ! Enter a user name.", "Password: (empty)"});
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
  EXPECT_TRUE(form.selected == 0 && form.pin == "1234");
  console.ExpectShown({"(none yet", "Choice [none]: ", "1) Reader 1  (SIM, PIN on)\nChoice [1]: ",
                       "  ! The PIN is 4 to 8 digits."});
  EXPECT_EQ(console.output.find("1234"), std::string::npos);
}

// The cases of vectors/answers/cases.txt, one answers section each.
TEST(AnswersDialogs, ApplyCheckOrRefuse) {
  const std::string all = test::ReadFile(VELTO_VECTORS_DIR "/answers/cases.txt");
  int cases = 0;
  for (size_t at = all.find("\n== "); at != std::string::npos; ++cases) {
    size_t body = all.find('\n', at + 1) + 1, next = all.find("\n== ", body);
    std::istringstream header(all.substr(at + 4, body - at - 5));
    std::string dialog, arrives, result, message, error;
    header >> dialog >> arrives >> result;
    std::getline(header >> std::ws, message);
    SCOPED_TRACE(all.substr(at + 1, body - at - 2));
    std::vector<AnswerSection> sections;
    bool confirmed = ParseAnswers(all.substr(body, next == std::string::npos ? next : next + 1 - body), &sections,
                                  &error) && sections.size() == 1;
    ASSERT_EQ(confirmed, dialog != "parse") << error;
    if (dialog == "config") {
      ConfigForm form = TtlsForm();
      confirmed = AnswerConfigForm(sections[0], &form, &error);
      EXPECT_TRUE(!confirmed || (form.source == CredentialSource::kPrompt && form.inner_method == 4u &&
                                 form.password_edited && form.password.empty()));
    } else if (dialog == "smartcard") {
      ArrivingSim lists{std::stoi(arrives)};
      SmartCardForm form;
      confirmed = AnswerSmartCardForm(sections[0], &form, [&](SmartCardForm* f) { return lists.Refresh(f); },
                                      &error);
      EXPECT_TRUE(!confirmed || form.selected == 0);
    }
    EXPECT_EQ(confirmed, result == "ok") << error;
    EXPECT_NE(error.find(message), std::string::npos) << error;
    at = next;
  }
  EXPECT_EQ(cases, 18);
}

}  // namespace
}  // namespace velto::dialogs
