#include "support/vectors.h"
#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace velto::test {
std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}
namespace {
std::string Unescape(const std::string& in) {
  const std::string from = "nrt0", to("\n\r\t\0", 4);
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\\' || i + 1 == in.size()) {
      out += in[i];
    } else if (const char c = in[++i]; c == 'x') {
      out += static_cast<char>(std::stoi(in.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += from.find(c) != std::string::npos ? to[from.find(c)] : c;
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
    const size_t eq = line.find(" =");
    if (line.empty() && !cases.back().empty()) cases.emplace_back();
    if (line.empty() || line[0] == '#' || (columns.empty() && eq == std::string::npos)) continue;
    if (line.rfind("columns = ", 0) == 0) {
      columns = Split(line.substr(10));
      continue;
    }
    if (!columns.empty()) {  // a row of the table
      const std::vector<std::string> cells = Split(line);
      if (cells.size() != columns.size()) throw std::runtime_error("line " + std::to_string(number));
      if (!cases.back().empty()) cases.emplace_back();
      for (size_t i = 0; i < cells.size(); ++i) {
        cases.back()[columns[i]] = cells[i] == "\"\"" ? "" : Unescape(cells[i]);
      }
    } else {
      cases.back()[line.substr(0, eq)] = Unescape(line.substr(std::min(line.size(), eq + 3)));
    }
    cases.back().emplace("line", std::to_string(number));
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
  return c.count(key) ? c.at(key) : fallback;
}
}  // namespace velto::test
