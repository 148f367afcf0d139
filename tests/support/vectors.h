// Test data under tests/vectors, the same files on both targets.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace velto::test {

// One case: "key = value" lines; "line" holds where the case starts.
using Case = std::map<std::string, std::string>;

std::string ReadFile(const std::string& path);

// The cases of a text: blocks of "key = value" lines apart by blank lines,
// or tables: a "columns = KEY | KEY ..." line names the cells of each row
// after it, cells apart by " | " ("" is an empty cell). '#' lines are left
// out. Values are taken as written, with the escapes \n \r \t \0 \\ \xHH
// (so a value may end in \x20).
std::vector<Case> ParseCases(const std::string& text);

// The cases of tests/vectors/NAME.
std::vector<Case> ReadCases(const std::string& name);

// A case's value, or `fallback` when the key is not there.
std::string Get(const Case& c, const std::string& key, const std::string& fallback = "");

}  // namespace velto::test
