#include "xmlconfig/xml_access.h"

#include <cstdlib>
#include <cstring>

#include "base/memory.h"
#include "base/text.h"
#include "frame/text_convert.h"

namespace velto::xml {
namespace {

using WText = MallocPtr<WCHAR>;

// Widens an ASCII literal of the program for the DOM (thread ANSI code page).
WText Widen(const char* text) {
  int n = platform::MultiByteToWide(platform::CodePage::kAnsi, text, -1, nullptr, 0);
  if (n <= 0) return nullptr;
  WText wide(static_cast<WCHAR*>(std::malloc(sizeof(WCHAR) * static_cast<size_t>(n))));
  if (!wide) return nullptr;
  if (platform::MultiByteToWide(platform::CodePage::kAnsi, text, -1, wide.get(), n) != n) {
    return nullptr;
  }
  return wide;
}

// A literal widened for one DOM call. Names are short: a buffer on the stack
// takes them, and only a longer one goes to the heap.
class WideLiteral {
 public:
  explicit WideLiteral(const char* text) {
    if (platform::MultiByteToWide(platform::CodePage::kAnsi, text, -1, small_, kSmallUnits) > 0) {
      units_ = small_;
    } else {
      heap_ = Widen(text);
      units_ = heap_.get();
    }
  }
  WideLiteral(const WideLiteral&) = delete;
  WideLiteral& operator=(const WideLiteral&) = delete;

  const WCHAR* get() const { return units_; }
  explicit operator bool() const { return units_ != nullptr; }

 private:
  static constexpr int kSmallUnits = 64;
  WCHAR small_[kSmallUnits];
  WText heap_;
  const WCHAR* units_ = nullptr;
};

// n + 1 bytes for a string of n units (counted up to kMaxTextScan) and its
// terminator: the conversion fails unless every unit is one UTF-8 byte.
char* ToUtf8Bounded(const WCHAR* text) {
  size_t n = 0;
  while (n < kMaxTextScan && text[n] != 0) ++n;
  if (text[n] != 0) return nullptr;  // longer than kMaxTextScan units
  char* out = static_cast<char*>(std::malloc(n + 1));
  if (out == nullptr) return nullptr;
  // The length is known: the terminator at text[n] is converted with the rest.
  const int units = static_cast<int>(n + 1);
  int written = platform::WideToMultiByte(platform::CodePage::kUtf8, text, units, out, units);
  if (written != static_cast<int>(n + 1)) {
    WipeAndFree(out, n + 1);
    return nullptr;
  }
  return out;
}

}  // namespace

void NodeReleaser::operator()(DomNode* node) const {
  if (node != nullptr) g_dom->release_node(node);
}

NodeRef find_child_node(DomNode* parent, const char* name) {
  if (parent == nullptr || name == nullptr) return nullptr;
  WideLiteral wanted(name);
  if (!wanted) return nullptr;
  const DomApi& dom = *g_dom;
  // Sibling after sibling: a child looked up by index is found by walking
  // the list from its start, quadratic over a long list.
  for (NodeRef child(dom.first_child_of(parent)); child;
       child.reset(dom.next_sibling(child.get()))) {
    int same = dom.name_is(child.get(), wanted.get());
    if (same < 0) return nullptr;
    if (same == 1) return child;
  }
  return nullptr;
}

char* node_text_utf8(DomNode* node) {
  if (node == nullptr) return nullptr;
  WText text(g_dom->node_text(node));
  if (!text) return nullptr;
  char* utf8 = ToUtf8Bounded(text.get());
  // The text may be a password: its UTF-16 copy does not outlive the call.
  size_t units = 0;
  while (text.get()[units] != 0) ++units;
  SecureWipe(text.get(), units * sizeof(WCHAR));
  return utf8;
}

char* get_encrypted_attribute(DomNode* node) {
  if (node == nullptr) return nullptr;
  WideLiteral name("encrypted");
  if (!name) return nullptr;
  WCHAR* raw = nullptr;
  if (!g_dom->get_attribute(node, name.get(), &raw)) return nullptr;
  WText value(raw);
  if (!value || value.get()[0] == 0) return nullptr;
  return ToUtf8Bounded(value.get());
}

void set_encrypted_attribute(DomNode* node) {
  if (node == nullptr) return;
  WideLiteral name("encrypted");
  WideLiteral value("true");
  if (name && value) g_dom->set_attribute(node, name.get(), value.get());
}

}  // namespace velto::xml
