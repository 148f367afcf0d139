#include "profile_text.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace velto::tools {
namespace {

void AppendUtf8(SecretString* out, uint32_t c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool FromUtf16(std::string_view bytes, size_t start, bool big_endian, SecretString* text,
               std::string* error) {
  if ((bytes.size() - start) % 2 != 0) {
    *error = "UTF-16 text of an odd number of bytes";
    return false;
  }
  auto unit = [&](size_t i) -> uint32_t {
    auto a = static_cast<uint8_t>(bytes[i]), b = static_cast<uint8_t>(bytes[i + 1]);
    return big_endian ? (a << 8 | b) : (b << 8 | a);
  };
  text->clear();
  for (size_t i = start; i < bytes.size(); i += 2) {
    uint32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 &&
        unit(i + 2) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (c >= 0xD800 && c < 0xE000) {
      *error = "UTF-16 text with an unpaired surrogate at byte " + std::to_string(i);
      return false;
    }
    AppendUtf8(text, c);
  }
  return true;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string LocalName(const std::string& name) {
  size_t colon = name.rfind(':');
  return colon == std::string::npos ? name : name.substr(colon + 1);
}

struct Attribute {
  std::string name, value;
  char quote;
};

struct Element {
  std::string name;
  std::vector<Attribute> namespaces;  // its xmlns and xmlns:p declarations
};

// Reads a start tag from `pos` (just past '<'). False when it is not one.
bool ReadStartTag(std::string_view s, size_t* pos, Element* element, size_t* name_end,
                  bool* empty) {
  size_t i = *pos;
  while (i < s.size() && !IsSpace(s[i]) && s[i] != '/' && s[i] != '>') ++i;
  if (i == *pos) return false;
  element->name = s.substr(*pos, i - *pos);
  *name_end = i;
  for (;;) {
    while (i < s.size() && IsSpace(s[i])) ++i;
    if (i >= s.size()) return false;
    if (s[i] == '>' || (s[i] == '/' && i + 1 < s.size() && s[i + 1] == '>')) {
      *empty = s[i] == '/';
      *pos = i + (*empty ? 2 : 1);
      return true;
    }
    size_t name_start = i;
    while (i < s.size() && !IsSpace(s[i]) && s[i] != '=' && s[i] != '>' && s[i] != '/') ++i;
    std::string name(s.substr(name_start, i - name_start));
    while (i < s.size() && IsSpace(s[i])) ++i;
    if (name.empty() || i >= s.size() || s[i] != '=') return false;
    ++i;
    while (i < s.size() && IsSpace(s[i])) ++i;
    if (i >= s.size() || (s[i] != '"' && s[i] != '\'')) return false;
    char quote = s[i];
    size_t end = s.find(quote, i + 1);
    if (end == std::string::npos) return false;
    if (name == "xmlns" || name.rfind("xmlns:", 0) == 0) {
      element->namespaces.push_back({name, std::string(s.substr(i + 1, end - i - 1)), quote});
    }
    i = end + 1;
  }
}

std::string Trimmed(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsSpace(text[begin])) ++begin;
  while (end > begin && IsSpace(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

}  // namespace

bool DecodeProfile(std::string_view bytes, SecretString* text, std::string* error) {
  auto starts = [&](const char* mark, size_t n) { return bytes.compare(0, n, mark, n) == 0; };
  if (starts("\xFF\xFE", 2) || (bytes.size() >= 2 && bytes[0] == '<' && bytes[1] == '\0')) {
    if (!FromUtf16(bytes, starts("\xFF\xFE", 2) ? 2 : 0, false, text, error)) return false;
  } else if (starts("\xFE\xFF", 2)) {
    if (!FromUtf16(bytes, 2, true, text, error)) return false;
  } else {
    text->assign(bytes.substr(starts("\xEF\xBB\xBF", 3) ? 3 : 0));
  }
  if (text->find('\0') != std::string::npos) {
    *error = "a NUL character in the text (a UTF-16 file without its byte order mark?)";
    return false;
  }
  // The host hands the module a document whose first child is the
  // configuration element, so an XML declaration is left out (it names the
  // file's encoding, which is no longer the text's).
  size_t start = text->find_first_not_of(" \t\r\n");
  if (start != std::string::npos && text->compare(start, 5, "<?xml") == 0 &&
      start + 5 < text->size() && (IsSpace((*text)[start + 5]) || (*text)[start + 5] == '?')) {
    size_t end = text->find("?>", start);
    if (end != std::string::npos) text->erase(0, end + 2);
  }
  return true;
}

ProfileConfig FindConfig(std::string_view s) {
  ProfileConfig result;
  result.document = s;
  std::vector<Element> open;
  bool seen_root = false;
  size_t config_depth = 0, config_begin = 0;
  std::string config_start;  // its start tag, with the inherited declarations
  size_t i = 0;
  for (;;) {
    size_t lt = s.find('<', i);
    if (lt == std::string::npos) return result;
    // The text of EapHostConfig/EapMethod/Type ends here.
    size_t depth = open.size();
    if (result.method_type.empty() && depth >= 3 && LocalName(open[depth - 1].name) == "Type" &&
        LocalName(open[depth - 2].name) == "EapMethod" &&
        LocalName(open[depth - 3].name) == "EapHostConfig") {
      result.method_type = Trimmed(s.substr(i, lt - i));
    }
    auto skip_to = [&](const char* end) {
      size_t found = s.find(end, lt);
      i = found == std::string::npos ? s.size() : found + std::char_traits<char>::length(end);
    };
    if (s.compare(lt, 4, "<!--") == 0) {
      skip_to("-->");
    } else if (s.compare(lt, 9, "<![CDATA[") == 0) {
      skip_to("]]>");
    } else if (s.compare(lt, 2, "<?") == 0) {
      skip_to("?>");
    } else if (s.compare(lt, 2, "<!") == 0) {
      skip_to(">");
    } else if (s.compare(lt, 2, "</") == 0) {
      size_t gt = s.find('>', lt);
      if (gt == std::string::npos || open.empty()) return result;
      open.pop_back();
      i = gt + 1;
      if (config_depth != 0 && open.size() + 1 == config_depth) {
        result.document.assign(config_start).append(s.substr(config_begin, i - config_begin));
        result.found = true;
        return result;
      }
    } else {
      Element element;
      size_t pos = lt + 1, name_end = 0;
      bool empty = false;
      if (!ReadStartTag(s, &pos, &element, &name_end, &empty)) return result;
      bool root = !seen_root;
      seen_root = true;
      if (config_depth == 0 && LocalName(element.name) == "Config" &&
          (root || (!open.empty() && LocalName(open.back().name) == "EapHostConfig"))) {
        // Declarations in scope, nearest first, unless the element makes its own.
        std::vector<Attribute> inherited;
        auto declared = [&](const std::string& name) {
          for (const Attribute& a : element.namespaces) if (a.name == name) return true;
          for (const Attribute& a : inherited) if (a.name == name) return true;
          return false;
        };
        for (size_t k = open.size(); k-- > 0;) {
          for (const Attribute& a : open[k].namespaces) {
            if (!declared(a.name)) inherited.push_back(a);
          }
        }
        config_start = s.substr(lt, name_end - lt);
        for (const Attribute& a : inherited) {
          config_start += " " + a.name + "=" + a.quote + a.value + a.quote;
        }
        config_begin = name_end;
        config_depth = open.size() + 1;
        if (empty) {
          result.document.assign(config_start).append(s.substr(config_begin, pos - config_begin));
          result.found = true;
          return result;
        }
      }
      if (!empty) open.push_back(std::move(element));
      i = pos;
    }
  }
}

}  // namespace velto::tools
