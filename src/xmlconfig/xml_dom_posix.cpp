// The DOM on libxml2, shaped after what a DOMDocument60 with its default
// properties shows the import:
//
// - A DOCTYPE fails the load ("DTD is prohibited"), so no entity is ever
//   expanded and nothing outside the text is read or fetched.
// - The XML declaration is the document's first child: a processing
//   instruction "xml" whose text is the declaration rewritten with double
//   quotes.
// - White-space-only text nodes (outside xml:space="preserve") are hidden:
//   they are in no child list and not serialised, but still count in the text
//   of their ancestors, as MSXML's stripped-white-space marks do.
// - The text of a text node, and the ends of an element's text where they come
//   from text nodes, are trimmed of XML white space; CDATA is never trimmed.
//   Inner white space is kept as it is.
// - The xml property ends every top-level node with CR LF and writes line
//   breaks in character data as CR LF. It adds no indentation.
//
// Nodes belong to the document: release_node does nothing, and every node
// handed out stays valid until release_document, also after a second load or
// after set_node_text replaced it.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/memory.h"
#include "base/no_throw.h"
#include "base/secret_string.h"
#include "frame/text_convert.h"
#include "xmlconfig/xml_dom.h"
#include "xmlconfig/xml_serialize_posix.h"

struct VeltoXmlDocument {
  xmlDocPtr doc = nullptr;            // the current content; null when empty
  std::vector<xmlDocPtr> retired;     // earlier contents, for nodes still held
  std::vector<xmlNodePtr> detached;   // nodes set_node_text took out of the tree
};

namespace velto::xml {
namespace {

// Marks a white-space-only text node the DOM hides (xmlNode::_private).
char kHiddenMark;

xmlNodePtr AsXml(DomNode* node) { return reinterpret_cast<xmlNodePtr>(node); }
DomNode* AsNode(xmlNodePtr node) { return reinterpret_cast<DomNode*>(node); }
const char* AsChars(const xmlChar* s) { return reinterpret_cast<const char*>(s); }
const xmlChar* AsXmlChars(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsBlank(const xmlChar* text) {
  if (text == nullptr) return true;
  for (; *text != 0; ++text) {
    if (!IsXmlSpace(static_cast<char>(*text))) return false;
  }
  return true;
}

bool IsHidden(const xmlNode* node) { return node->_private == &kHiddenMark; }

// A text of the document may be the password, and a string that grows
// leaves its earlier buffers behind: every buffer goes back wiped.
using Text = SecretBase;

// A text wiped when it goes.
using WipedText = SecretString;

// The value of the element's own xml:space attribute (the first one), or
// null; *owned is set when the value had to be copied out.
const xmlChar* OwnSpaceValue(const xmlNode* element, xmlChar** owned) {
  for (xmlAttrPtr attr = element->properties; attr != nullptr; attr = attr->next) {
    if (attr->ns == nullptr || !xmlStrEqual(attr->name, AsXmlChars("space")) ||
        !xmlStrEqual(attr->ns->href, XML_XML_NAMESPACE)) {
      continue;
    }
    xmlNodePtr value = attr->children;
    if (value != nullptr && value->next == nullptr && value->type == XML_TEXT_NODE) {
      return value->content;
    }
    *owned = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(attr));
    return *owned;
  }
  return nullptr;
}

// Whether xml:space="preserve" is in force for the content of `parent`: the
// nearest xml:space that says "preserve" or "default" decides, as
// xmlNodeGetSpacePreserve reads it, without copying any value that can be
// read in place (most elements have no attribute at all).
bool PreservesSpace(const xmlNode* parent) {
  if (parent == nullptr || parent->type != XML_ELEMENT_NODE) return false;
  for (const xmlNode* node = parent; node != nullptr; node = node->parent) {
    if (node->type != XML_ELEMENT_NODE || node->properties == nullptr) continue;
    xmlChar* owned = nullptr;
    const xmlChar* value = OwnSpaceValue(node, &owned);
    int says = value == nullptr                                     ? -1
               : xmlStrEqual(value, AsXmlChars("preserve")) ? 1
               : xmlStrEqual(value, AsXmlChars("default"))  ? 0
                                                                    : -1;
    WipeAndXmlFree(owned);
    if (says != -1) return says == 1;
  }
  return false;
}

// ------------------------------------------------------------ text transfer

// UTF-16 in, UTF-8 out. False when the text cannot be converted.
bool ToUtf8(const WCHAR* text, Text* out) {
  bool ascii = false;
  size_t n = platform::WideLength(text, &ascii);
  if (ascii) {
    out->resize(n);
    platform::AsciiFromWide(text, n, out->data());
    return true;
  }
  int size = platform::WideToMultiByte(platform::CodePage::kUtf8, text, -1, nullptr, 0);
  if (size <= 0) return false;
  out->assign(static_cast<size_t>(size), '\0');
  if (platform::WideToMultiByte(platform::CodePage::kUtf8, text, -1, out->data(), size) != size) {
    return false;
  }
  out->pop_back();  // the NUL the conversion wrote
  return true;
}

// A malloc'd UTF-16 copy of UTF-8 text, or null.
WCHAR* ToWide(std::string_view text) {
  if (text.size() >= static_cast<size_t>(INT32_MAX)) return nullptr;
  if (platform::AsciiPrefix(text.data(), text.size()) == text.size()) {
    auto* out = static_cast<WCHAR*>(std::malloc((text.size() + 1) * sizeof(WCHAR)));
    if (out == nullptr) return nullptr;
    platform::AsciiToWide(text.data(), text.size(), out);
    out[text.size()] = 0;
    return out;
  }
  int units = 0;
  if (!text.empty()) {
    units = platform::MultiByteToWide(platform::CodePage::kUtf8, text.data(),
                                      static_cast<int>(text.size()), nullptr, 0);
    if (units <= 0) return nullptr;
  }
  auto* out = static_cast<WCHAR*>(std::malloc((static_cast<size_t>(units) + 1) * sizeof(WCHAR)));
  if (out == nullptr) return nullptr;
  if (units != 0 &&
      platform::MultiByteToWide(platform::CodePage::kUtf8, text.data(),
                                static_cast<int>(text.size()), out, units) != units) {
    std::free(out);
    return nullptr;
  }
  out[units] = 0;
  return out;
}

WCHAR* ToWide(const xmlChar* text) { return ToWide(std::string_view(text ? AsChars(text) : "")); }

}  // namespace

// ------------------------------------------------------------- child lists

// xmlFree for a copy that libxml2 made of document content.
void WipeAndXmlFree(xmlChar* text) {
  if (text == nullptr) return;
  SecureWipe(text, static_cast<size_t>(xmlStrlen(text)));
  xmlFree(text);
}

xmlNodePtr FirstVisible(xmlNodePtr node) {
  while (node != nullptr && IsHidden(node)) node = node->next;
  return node;
}

xmlNodePtr NextVisible(xmlNodePtr node) { return FirstVisible(node->next); }

// The element's qualified name, the way the DOM spells it.
std::string QualifiedName(const xmlChar* prefix, const xmlChar* name) {
  std::string result;
  if (prefix != nullptr) {
    result = AsChars(prefix);
    result += ':';
  }
  result += AsChars(name);
  return result;
}

namespace {

// ------------------------------------------------------------------- parse

struct ParseState {
  bool failed = false;
  long line = 0;
  long column = 0;
  std::string reason;

  void Fail(long at_line, long at_column, std::string_view why) {
    if (failed) return;  // the first fault is the one a person needs
    failed = true;
    line = at_line;
    column = at_column;
    reason.assign(why);
    while (!reason.empty() && IsXmlSpace(reason.back())) reason.pop_back();
  }
};

ParseState* StateOf(void* user) {
  return static_cast<ParseState*>(static_cast<xmlParserCtxtPtr>(user)->_private);
}

// Errors go here instead of to stderr. Warnings (a relative namespace URI, an
// unknown version) do not fail the load.
void OnParseError(void* user, xmlErrorPtr error) {
  if (error == nullptr || error->level < XML_ERR_ERROR) return;
  NoThrow(0, [&] {
    StateOf(user)->Fail(error->line, error->int2,
                        error->message != nullptr ? error->message : "XML parse error");
    return 0;
  });
}

// Any DOCTYPE ends the parse before its subsets are read.
void OnDoctype(void* user, const xmlChar*, const xmlChar*, const xmlChar*) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(user);
  long line = ctxt->input != nullptr ? ctxt->input->line : 0;
  long column = ctxt->input != nullptr ? ctxt->input->col : 0;
  NoThrow(0, [&] {
    StateOf(user)->Fail(line, column, "DTD is prohibited.");
    return 0;
  });
  xmlStopParser(ctxt);
}

// Pseudo-attributes of the XML declaration at the start of `source`, which
// the parser has already accepted. Rebuilt as the DOM shows it.
std::string DeclarationText(std::string_view source) {
  if (source.substr(0, 3) == "\xEF\xBB\xBF") source.remove_prefix(3);
  if (source.substr(0, 5) != "<?xml") return "version=\"1.0\"";
  source.remove_prefix(5);
  size_t end = source.find("?>");
  source = source.substr(0, end);

  std::string version = "1.0", encoding, standalone;
  size_t i = 0;
  for (;;) {
    while (i < source.size() && IsXmlSpace(source[i])) ++i;
    size_t name_start = i;
    while (i < source.size() && source[i] != '=' && !IsXmlSpace(source[i])) ++i;
    std::string_view name = source.substr(name_start, i - name_start);
    while (i < source.size() && (IsXmlSpace(source[i]) || source[i] == '=')) ++i;
    if (name.empty() || i >= source.size()) break;
    char quote = source[i++];
    size_t close = source.find(quote, i);
    if (close == std::string_view::npos) break;
    std::string_view value = source.substr(i, close - i);
    i = close + 1;
    if (name == "version") version = value;
    if (name == "encoding") encoding = value;
    if (name == "standalone") standalone = value;
  }
  std::string text = "version=\"" + version + "\"";
  if (!encoding.empty()) text += " encoding=\"" + encoding + "\"";
  if (!standalone.empty()) text += " standalone=\"" + standalone + "\"";
  return text;
}

void HideBlankText(xmlNodePtr parent) {
  bool preserve = PreservesSpace(parent);
  for (xmlNodePtr child = parent->children; child != nullptr; child = child->next) {
    if (child->type == XML_TEXT_NODE && !preserve && IsBlank(child->content)) {
      child->_private = &kHiddenMark;
    } else if (child->type == XML_ELEMENT_NODE) {
      HideBlankText(child);
    }
  }
}

// The caller has reserved room in `retired`, so this cannot throw.
void Install(VeltoXmlDocument* document, xmlDocPtr content) {
  if (document->doc != nullptr) document->retired.push_back(document->doc);
  document->doc = content;
}

void InitLibxml() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

// ---------------------------------------------------------------- the text

struct TextPiece {
  std::string_view text;
  bool trimmable;  // from a text node outside xml:space="preserve"
};

void CollectText(xmlNodePtr node, std::vector<TextPiece>* pieces) {
  for (xmlNodePtr child = node->children; child != nullptr; child = child->next) {
    switch (child->type) {
      case XML_TEXT_NODE:
        if (child->content != nullptr) {
          pieces->push_back({AsChars(child->content), !PreservesSpace(node)});
        }
        break;
      case XML_CDATA_SECTION_NODE:
        if (child->content != nullptr) pieces->push_back({AsChars(child->content), false});
        break;
      case XML_ELEMENT_NODE:
      case XML_ENTITY_REF_NODE:
        CollectText(child, pieces);
        break;
      default:  // comments and processing instructions are no text
        break;
    }
  }
}

// Trims white space off both ends for as long as it comes from text nodes.
void TrimPieces(std::span<TextPiece> pieces) {
  for (auto it = pieces.begin(); it != pieces.end() && it->trimmable; ++it) {
    while (!it->text.empty() && IsXmlSpace(it->text.front())) it->text.remove_prefix(1);
    if (!it->text.empty()) break;
  }
  for (auto it = pieces.rbegin(); it != pieces.rend() && it->trimmable; ++it) {
    while (!it->text.empty() && IsXmlSpace(it->text.back())) it->text.remove_suffix(1);
    if (!it->text.empty()) break;
  }
}

// The text of a single piece, trimmed as above.
std::string_view TrimmedText(std::span<TextPiece> one) {
  TrimPieces(one);
  return one.front().text;
}

Text JoinText(std::vector<TextPiece>& pieces) {
  TrimPieces(pieces);
  Text result;
  for (const TextPiece& piece : pieces) result += piece.text;
  return result;
}

// ---------------------------------------------------------------- the table

DomNode* FirstChild(VeltoXmlDocument* document) {
  if (document == nullptr || document->doc == nullptr) return nullptr;
  return AsNode(FirstVisible(document->doc->children));
}

DomNode* FirstChildOf(DomNode* node) {
  if (node == nullptr) return nullptr;
  return AsNode(FirstVisible(AsXml(node)->children));
}

DomNode* NextSibling(DomNode* node) {
  if (node == nullptr) return nullptr;
  return AsNode(NextVisible(AsXml(node)));
}

// The node's name as the DOM spells it, in two parts: the prefix (null
// without one) and the rest. False for a kind of node that has no name here.
bool NameParts(xmlNodePtr n, const char** prefix, const char** local) {
  *prefix = nullptr;
  switch (n->type) {
    case XML_ELEMENT_NODE:
      if (n->ns != nullptr && n->ns->prefix != nullptr) *prefix = AsChars(n->ns->prefix);
      *local = AsChars(n->name);
      return true;
    case XML_TEXT_NODE: *local = "#text"; return true;
    case XML_CDATA_SECTION_NODE: *local = "#cdata-section"; return true;
    case XML_COMMENT_NODE: *local = "#comment"; return true;
    case XML_DOCUMENT_NODE: *local = "#document"; return true;
    case XML_PI_NODE:
    case XML_ENTITY_REF_NODE:
      *local = AsChars(n->name);
      return true;
    default:
      return false;
  }
}

WCHAR* NodeName(DomNode* node) {
  if (node == nullptr) return nullptr;
  const char* prefix = nullptr;
  const char* local = nullptr;
  if (!NameParts(AsXml(node), &prefix, &local)) return nullptr;
  return NoThrow<WCHAR*>(nullptr, [&]() -> WCHAR* {
    if (prefix == nullptr) return ToWide(std::string_view(local));
    return ToWide(QualifiedName(AsXmlChars(prefix), AsXmlChars(local)));
  });
}

// Whether `*wanted` starts with `part`, unit for byte; moves past it. Only
// for a wanted name in ASCII, which no byte of a longer UTF-8 sequence
// matches.
bool StartsWith(const WCHAR** wanted, const char* part) {
  const WCHAR* w = *wanted;
  for (; *part != 0; ++part, ++w) {
    if (*w != static_cast<unsigned char>(*part)) return false;
  }
  *wanted = w;
  return true;
}

int NameIs(DomNode* node, const WCHAR* wanted) {
  if (node == nullptr || wanted == nullptr) return -1;
  const WCHAR* end = wanted;
  while (*end != 0 && *end < 0x80) ++end;
  if (*end != 0) {  // not ASCII: compared on the UTF-16 copy
    WCHAR* name = NodeName(node);
    if (name == nullptr) return -1;
    const WCHAR* a = name;
    const WCHAR* b = wanted;
    while (*a != 0 && *a == *b) {
      ++a;
      ++b;
    }
    const int same = *a == *b ? 1 : 0;
    std::free(name);
    return same;
  }
  const char* prefix = nullptr;
  const char* local = nullptr;
  if (!NameParts(AsXml(node), &prefix, &local)) return -1;
  const WCHAR* at = wanted;
  if (prefix != nullptr && !(StartsWith(&at, prefix) && StartsWith(&at, ":"))) return 0;
  return StartsWith(&at, local) && *at == 0 ? 1 : 0;
}

WCHAR* NodeText(DomNode* node) {
  if (node == nullptr) return nullptr;
  return NoThrow<WCHAR*>(nullptr, [&]() -> WCHAR* {
    xmlNodePtr n = AsXml(node);
    switch (n->type) {
      case XML_TEXT_NODE: {
        std::vector<TextPiece> pieces;
        if (n->content != nullptr) {
          pieces.push_back({AsChars(n->content), !PreservesSpace(n->parent)});
        }
        Text joined = JoinText(pieces);
        WCHAR* wide = ToWide(joined);
        Wipe(&joined);
        return wide;
      }
      case XML_CDATA_SECTION_NODE:
      case XML_COMMENT_NODE:
      case XML_PI_NODE:
        return ToWide(n->content);
      case XML_ELEMENT_NODE:
      case XML_DOCUMENT_NODE:
      case XML_ENTITY_REF_NODE: {
        xmlNodePtr only = n->children;
        if (only != nullptr && only->next == nullptr && only->type == XML_TEXT_NODE &&
            only->content != nullptr) {
          // One text child, as an element with a value has: no list needed.
          TextPiece piece{AsChars(only->content), !PreservesSpace(n)};
          std::span<TextPiece> one(&piece, 1);
          return ToWide(TrimmedText(one));
        }
        std::vector<TextPiece> pieces;
        CollectText(n, &pieces);
        Text joined = JoinText(pieces);
        WCHAR* wide = ToWide(joined);
        Wipe(&joined);
        return wide;
      }
      default:
        return nullptr;
    }
  });
}

// The document record that owns `node`: the one whose tree it came from.
VeltoXmlDocument* OwnerOf(xmlNodePtr node) {
  return node->doc != nullptr ? static_cast<VeltoXmlDocument*>(node->doc->_private) : nullptr;
}

bool SetNodeText(DomNode* node, const WCHAR* text) {
  if (node == nullptr || text == nullptr) return false;
  return NoThrow(false, [&] {
    Text value;
    if (!ToUtf8(text, &value)) return false;
    xmlNodePtr n = AsXml(node);
    switch (n->type) {
      case XML_TEXT_NODE:
      case XML_CDATA_SECTION_NODE:
      case XML_COMMENT_NODE:
      case XML_PI_NODE:
        xmlNodeSetContent(n, AsXmlChars(value.c_str()));
        return true;
      case XML_ELEMENT_NODE:
        break;
      default:
        return false;
    }
    VeltoXmlDocument* owner = OwnerOf(n);
    if (owner == nullptr) return false;
    // Room for every child first, so that no child is unlinked and then lost.
    size_t children = 0;
    for (xmlNodePtr c = n->children; c != nullptr; c = c->next) ++children;
    owner->detached.reserve(owner->detached.size() + children);
    xmlNodePtr replacement = nullptr;
    if (!value.empty()) {
      // Taken literally: xmlNodeSetContent would read "&...;" as references.
      replacement = xmlNewDocText(n->doc, AsXmlChars(value.c_str()));
      if (replacement == nullptr) return false;
    }
    while (n->children != nullptr) {
      xmlNodePtr child = n->children;
      xmlUnlinkNode(child);
      owner->detached.push_back(child);
    }
    if (replacement != nullptr) xmlAddChild(n, replacement);
    return true;
  });
}

// Whether prefix:name (or name alone without a prefix) spells `wanted`.
bool IsQualifiedName(const xmlChar* prefix, const xmlChar* name, std::string_view wanted) {
  if (prefix != nullptr) {
    std::string_view p = AsChars(prefix);
    if (wanted.size() <= p.size() || wanted.substr(0, p.size()) != p || wanted[p.size()] != ':') {
      return false;
    }
    wanted.remove_prefix(p.size() + 1);
  }
  return wanted == AsChars(name);
}

// The attribute of `element` whose qualified name is `name`, or null.
xmlAttrPtr FindAttribute(xmlNodePtr element, std::string_view name) {
  for (xmlAttrPtr attr = element->properties; attr != nullptr; attr = attr->next) {
    if (IsQualifiedName(attr->ns ? attr->ns->prefix : nullptr, attr->name, name)) return attr;
  }
  return nullptr;
}

// "xmlns" or "xmlns:p" name a namespace declaration, which MSXML shows as an
// attribute. Sets *prefix (null for the default namespace).
bool IsNamespaceDeclaration(const Text& name, const xmlChar** prefix) {
  if (name == "xmlns") {
    *prefix = nullptr;
    return true;
  }
  if (name.compare(0, 6, "xmlns:") == 0) {
    *prefix = AsXmlChars(name.c_str() + 6);
    return true;
  }
  return false;
}

xmlNsPtr FindDeclaration(xmlNodePtr element, const xmlChar* prefix) {
  for (xmlNsPtr ns = element->nsDef; ns != nullptr; ns = ns->next) {
    if (xmlStrEqual(ns->prefix, prefix)) return ns;
  }
  return nullptr;
}

bool GetAttribute(DomNode* node, const WCHAR* name, WCHAR** value) {
  if (node == nullptr || name == nullptr || value == nullptr) return false;
  *value = nullptr;
  xmlNodePtr element = AsXml(node);
  if (element->type != XML_ELEMENT_NODE) return false;
  return NoThrow(false, [&] {
    Text key;
    if (!ToUtf8(name, &key)) return false;
    const xmlChar* prefix = nullptr;
    if (IsNamespaceDeclaration(key, &prefix)) {
      if (xmlNsPtr ns = FindDeclaration(element, prefix)) {
        *value = ToWide(ns->href);
        return *value != nullptr;
      }
      return true;
    }
    xmlAttrPtr attr = FindAttribute(element, key);
    if (attr == nullptr) return true;
    xmlChar* content = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(attr));
    *value = ToWide(content);
    WipeAndXmlFree(content);
    return *value != nullptr;
  });
}

bool SetAttribute(DomNode* node, const WCHAR* name, const WCHAR* value) {
  if (node == nullptr || name == nullptr || value == nullptr) return false;
  xmlNodePtr element = AsXml(node);
  if (element->type != XML_ELEMENT_NODE) return false;
  return NoThrow(false, [&] {
    Text key, text;
    if (!ToUtf8(name, &key) || !ToUtf8(value, &text)) return false;
    // MSXML refuses names that could not be written back as XML.
    if (xmlValidateQName(AsXmlChars(key.c_str()), 0) != 0) return false;

    const xmlChar* prefix = nullptr;
    if (IsNamespaceDeclaration(key, &prefix)) {
      if (xmlNsPtr ns = FindDeclaration(element, prefix)) {
        // Rebinding a prefix in use would change the names below it.
        return xmlStrEqual(ns->href, AsXmlChars(text.c_str())) != 0;
      }
      return xmlNewNs(element, AsXmlChars(text.c_str()), prefix) != nullptr;
    }
    if (xmlAttrPtr attr = FindAttribute(element, key)) {
      return xmlSetNsProp(element, attr->ns, attr->name, AsXmlChars(text.c_str())) != nullptr;
    }
    size_t colon = key.find(':');
    if (colon != std::string::npos) {
      Text ns_prefix = key.substr(0, colon);
      xmlNsPtr ns = xmlSearchNs(element->doc, element, AsXmlChars(ns_prefix.c_str()));
      if (ns != nullptr) {
        return xmlSetNsProp(element, ns, AsXmlChars(key.c_str() + colon + 1),
                            AsXmlChars(text.c_str())) != nullptr;
      }
    }
    // No namespace in scope: the attribute keeps the name it was given.
    return xmlSetNsProp(element, nullptr, AsXmlChars(key.c_str()), AsXmlChars(text.c_str())) !=
           nullptr;
  });
}

void ReleaseNode(DomNode*) {}

VeltoXmlDocument* CreateDocument() {
  InitLibxml();
  return new (std::nothrow) VeltoXmlDocument;
}

bool LoadXml(VeltoXmlDocument* document, const WCHAR* text, ParseError* error) {
  if (error != nullptr) *error = ParseError{};
  if (document == nullptr || text == nullptr) return false;
  return NoThrow(false, [&] {
    // Room to keep the current content for nodes still held, before
    // anything changes.
    if (document->doc != nullptr) document->retired.reserve(document->retired.size() + 1);
    ParseState state;
    // The document text may hold a plain password.
    WipedText source;
    if (!ToUtf8(text, &source)) {
      state.Fail(0, 0, "The text could not be converted to UTF-8.");
    } else if (source.size() > static_cast<size_t>(INT32_MAX)) {
      state.Fail(0, 0, "The text is too long.");
    }

    xmlDocPtr parsed = nullptr;
    if (!state.failed) {
      xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
      if (ctxt == nullptr) return false;
      ctxt->_private = &state;
      ctxt->sax->serror = OnParseError;
      ctxt->sax->internalSubset = OnDoctype;
      // The text is already Unicode, so an encoding it declares is only a
      // label. Never XML_PARSE_NOENT, DTDLOAD or HUGE.
      int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                    XML_PARSE_IGNORE_ENC;
      // Text without a byte order mark is read as UTF-8 directly; naming the
      // encoding would copy it through libxml2's converter first. A text
      // that starts with the mark names it, so the mark is handled as
      // before.
      const char* encoding = source.compare(0, 3, "\xEF\xBB\xBF") == 0 ? "UTF-8" : nullptr;
      parsed = xmlCtxtReadMemory(ctxt, source.data(), static_cast<int>(source.size()), nullptr,
                                 encoding, options);
      if (parsed == nullptr || !ctxt->wellFormed || !ctxt->nsWellFormed) {
        state.Fail(0, 0, "The text is not well-formed XML.");
      }
      xmlFreeParserCtxt(ctxt);
    }

    if (state.failed) {
      if (parsed != nullptr) xmlFreeDoc(parsed);
      Install(document, nullptr);  // as MSXML, a failed load leaves no content
      if (error != nullptr) {
        error->line = state.line;
        error->column = state.column;
        error->reason = ToWide(state.reason);
      }
      return false;
    }

    parsed->_private = document;
    HideBlankText(reinterpret_cast<xmlNodePtr>(parsed));
    if (parsed->standalone != -1) {
      std::string declaration = DeclarationText(source);
      xmlNodePtr pi = xmlNewDocPI(parsed, AsXmlChars("xml"), AsXmlChars(declaration.c_str()));
      if (pi == nullptr) {
        xmlFreeDoc(parsed);
        return false;
      }
      if (parsed->children != nullptr) {
        xmlAddPrevSibling(parsed->children, pi);
      } else {
        xmlAddChild(reinterpret_cast<xmlNodePtr>(parsed), pi);
      }
    }
    Install(document, parsed);
    return true;
  });
}

WCHAR* DocumentXml(VeltoXmlDocument* document) {
  if (document == nullptr) return nullptr;
  return NoThrow<WCHAR*>(nullptr, [&]() -> WCHAR* {
    SecretString out;
    if (document->doc != nullptr) {
      for (xmlNodePtr node = FirstVisible(document->doc->children); node != nullptr;
           node = NextVisible(node)) {
        AppendNode(&out, node);
        out += "\r\n";
      }
    }
    return ToWide(out);
  });
}

// Wipes the character data of a subtree the import took out of the tree: it
// held the plain password that the sealed one replaced. Text the dictionary
// owns is shared and is left alone.
void WipeCharacterData(xmlNodePtr node) {
  for (; node != nullptr; node = node->next) {
    const bool data = node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE ||
                      node->type == XML_COMMENT_NODE;
    const bool shared = node->doc != nullptr && node->doc->dict != nullptr &&
                        xmlDictOwns(node->doc->dict, node->content) == 1;
    if (data && node->content != nullptr && !shared) {
      SecureWipe(node->content, static_cast<size_t>(xmlStrlen(node->content)));
    }
    if (node->type == XML_ELEMENT_NODE) WipeCharacterData(node->children);
  }
}

void ReleaseDocument(VeltoXmlDocument* document) {
  if (document == nullptr) return;
  // Detached nodes first: freeing one reads its document's dictionary.
  for (xmlNodePtr node : document->detached) {
    WipeCharacterData(node);
    xmlFreeNode(node);
  }
  for (xmlDocPtr doc : document->retired) xmlFreeDoc(doc);
  if (document->doc != nullptr) xmlFreeDoc(document->doc);
  delete document;
}

const DomApi kLibxmlDom = {.first_child = FirstChild,
                           .first_child_of = FirstChildOf,
                           .next_sibling = NextSibling,
                           .name_is = NameIs,
                           .node_name = NodeName,
                           .node_text = NodeText,
                           .set_node_text = SetNodeText,
                           .get_attribute = GetAttribute,
                           .set_attribute = SetAttribute,
                           .release_node = ReleaseNode,
                           .create_document = CreateDocument,
                           .load_xml = LoadXml,
                           .document_xml = DocumentXml,
                           .release_document = ReleaseDocument};

}  // namespace

Seam<DomApi> g_dom(&kLibxmlDom);

}  // namespace velto::xml
