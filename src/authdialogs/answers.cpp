#include "authdialogs/answers.h"

#include "authdialogs/dialog_model.h"

namespace velto::dialogs {
namespace {

// Rows are looked at in place: only a value is copied, into a secret text.
std::string_view Trimmed(std::string_view text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace

bool ParseAnswers(std::string_view text, std::vector<AnswerSection>* sections,
                  std::string* error) {
  sections->clear();
  size_t start = 0;
  for (int line = 1; start < text.size(); ++line) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view row = text.substr(start, end - start);
    start = end + 1;
    if (!row.empty() && row.back() == '\r') row.remove_suffix(1);
    size_t first = row.find_first_not_of(" \t");
    if (first == std::string_view::npos || row[first] == '#' || row[first] == ';') continue;
    if (row[first] == '[') {
      std::string_view name = Trimmed(row);
      if (name.back() != ']' || name.size() < 3) {
        *error = "line " + std::to_string(line) + ": a section is [name]";
        return false;
      }
      sections->push_back({std::string(Trimmed(name.substr(1, name.size() - 2))), line, {}});
      continue;
    }
    size_t equals = row.find('=');
    bool bad = equals == std::string_view::npos || Trimmed(row.substr(0, equals)).empty();
    if (bad || sections->empty()) {
      *error = "line " + std::to_string(line) +
               (bad ? ": expected key=value" : ": key=value before the first [section]");
      return false;
    }
    sections->back().answers.push_back(
        {std::string(Trimmed(row.substr(0, equals))), SecretString(row.substr(equals + 1)), line});
  }
  return true;
}

void Wipe(std::vector<AnswerSection>* sections) {
  for (AnswerSection& section : *sections) {
    for (Answer& answer : section.answers) Wipe(&answer.value);
  }
  sections->clear();
}

}  // namespace velto::dialogs
