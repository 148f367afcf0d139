#include "support/vectors.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace velto::test {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

namespace {

std::string Unescape(const std::string& in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\\' || i + 1 == in.size()) {
      out += in[i];
      continue;
    }
    switch (char c = in[++i]) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case '0':
        out += '\0';
        break;
      case 'x':
        out += static_cast<char>(std::stoi(in.substr(i + 1, 2), nullptr, 16));
        i += 2;
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::vector<std::string> Split(const std::string& row) {
  std::vector<std::string> cells;
  size_t from = 0;
  for (size_t bar; (bar = row.find(" | ", from)) != std::string::npos; from = bar + 3) {
    cells.push_back(row.substr(from, bar - from));
  }
  cells.push_back(row.substr(from));
  return cells;
}

}  // namespace

std::vector<Case> ParseCases(const std::string& text) {
  std::vector<Case> cases(1);
  std::vector<std::string> columns;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') {
      if (line.empty() && !cases.back().empty()) cases.emplace_back();
      continue;
    }
    const size_t eq = line.find(" =");
    if (line.rfind("columns = ", 0) == 0) {
      columns = Split(line.substr(10));
    } else if (!columns.empty()) {  // a row of the table
      const std::vector<std::string> cells = Split(line);
      if (cells.size() != columns.size()) {
        throw std::runtime_error("line " + std::to_string(number) + ": not one cell a column");
      }
      if (!cases.back().empty()) cases.emplace_back();
      for (size_t i = 0; i < cells.size(); ++i) {
        cases.back()[columns[i]] = cells[i] == "\"\"" ? "" : Unescape(cells[i]);
      }
      cases.back()["line"] = std::to_string(number);
    } else if (eq != std::string::npos) {
      if (cases.back().empty()) cases.back()["line"] = std::to_string(number);
      cases.back()[line.substr(0, eq)] = Unescape(line.substr(std::min(line.size(), eq + 3)));
    }
  }
  if (cases.back().empty()) cases.pop_back();
  return cases;
}

std::vector<Case> ReadCases(const std::string& name) {
  std::vector<Case> cases = ParseCases(ReadFile(std::string(VELTO_VECTORS_DIR) + "/" + name));
  if (cases.empty()) throw std::runtime_error("no cases in tests/vectors/" + name);
  return cases;
}

std::string Get(const Case& c, const std::string& key, const std::string& fallback) {
  auto at = c.find(key);
  return at != c.end() ? at->second : fallback;
}

}  // namespace velto::test
