#include "ui/authdialogs/answers.h"

#include "ui/authdialogs/dialog_model.h"

namespace velto::dialogs {
namespace {

std::string Trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace

bool ParseAnswers(const std::string& text, std::vector<AnswerSection>* sections,
                  std::string* error) {
  sections->clear();
  size_t start = 0;
  for (int line = 1; start < text.size(); ++line) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string row = text.substr(start, end - start);
    start = end + 1;
    if (!row.empty() && row.back() == '\r') row.pop_back();
    size_t first = row.find_first_not_of(" \t");
    if (first == std::string::npos || row[first] == '#' || row[first] == ';') {
      Wipe(&row);
      continue;
    }
    if (row[first] == '[') {
      std::string name = Trimmed(row);
      if (name.back() != ']' || name.size() < 3) {
        *error = "line " + std::to_string(line) + ": a section is [name]";
        return false;
      }
      sections->push_back({Trimmed(name.substr(1, name.size() - 2)), line, {}});
      continue;
    }
    size_t equals = row.find('=');
    bool bad = equals == std::string::npos || Trimmed(row.substr(0, equals)).empty();
    if (bad || sections->empty()) {
      Wipe(&row);
      *error = "line " + std::to_string(line) +
               (bad ? ": expected key=value" : ": key=value before the first [section]");
      return false;
    }
    sections->back().answers.push_back({Trimmed(row.substr(0, equals)), row.substr(equals + 1), line});
    Wipe(&row);
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
