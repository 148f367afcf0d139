// Test data under tests/vectors, the same files on both targets.
#pragma once
#include <map>
#include <string>
#include <vector>

namespace velto::test {
using Case = std::map<std::string, std::string>;  // "line": where the case starts

std::string ReadFile(const std::string& path);

// Blocks of "key = value" lines apart by blank lines, or tables: a "columns =
// KEY | KEY ..." line names the cells (apart by " | ", "" for empty) of each
// row after it. '#' lines are left out. Values take the escapes \n \r \t \0 \\ \xHH.
std::vector<Case> ParseCases(const std::string& text);
std::vector<Case> ReadCases(const std::string& name);  // of tests/vectors/NAME

std::string Get(const Case& c, const std::string& key, const std::string& fallback = "");
}  // namespace velto::test
