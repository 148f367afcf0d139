// The xml property on libxml2: elements, text, CDATA, comments, processing
// instructions and entity references as MSXML writes them by default, with
// line breaks in character data written as CR LF and no indentation.
#include <string_view>

#include "xmlconfig/xml_serialize_posix.h"

namespace velto::xml {
namespace {

using Text = SecretBase;
using WipedText = SecretString;

const char* AsChars(const xmlChar* s) { return reinterpret_cast<const char*>(s); }
const xmlChar* AsXmlChars(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

void AppendCharacterData(Text* out, const xmlChar* text, bool escape) {
  if (text == nullptr) return;
  for (const char* p = AsChars(text); *p != 0; ++p) {
    switch (*p) {
      case '\n': *out += "\r\n"; break;
      case '\r': *out += escape ? "&#13;" : "\r"; break;
      case '&': *out += escape ? "&amp;" : "&"; break;
      case '<': *out += escape ? "&lt;" : "<"; break;
      case '>': *out += escape ? "&gt;" : ">"; break;
      default: *out += *p;
    }
  }
}

void AppendAttributeValue(Text* out, const xmlChar* text) {
  if (text == nullptr) return;
  for (const char* p = AsChars(text); *p != 0; ++p) {
    switch (*p) {
      case '&': *out += "&amp;"; break;
      case '<': *out += "&lt;"; break;
      case '>': *out += "&gt;"; break;
      case '"': *out += "&quot;"; break;
      case '\n': *out += "&#10;"; break;
      case '\r': *out += "&#13;"; break;
      case '\t': *out += "&#9;"; break;
      default: *out += *p;
    }
  }
}

}  // namespace

void AppendNode(Text* out, xmlNodePtr node) {
  switch (node->type) {
    case XML_ELEMENT_NODE: {
      std::string name = QualifiedName(node->ns ? node->ns->prefix : nullptr, node->name);
      *out += '<';
      *out += name;
      for (xmlNsPtr ns = node->nsDef; ns != nullptr; ns = ns->next) {
        *out += ns->prefix != nullptr ? " xmlns:" : " xmlns";
        if (ns->prefix != nullptr) *out += AsChars(ns->prefix);
        *out += "=\"";
        AppendAttributeValue(out, ns->href);
        *out += '"';
      }
      for (xmlAttrPtr attr = node->properties; attr != nullptr; attr = attr->next) {
        *out += ' ';
        *out += QualifiedName(attr->ns ? attr->ns->prefix : nullptr, attr->name);
        *out += "=\"";
        xmlChar* value = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(attr));
        AppendAttributeValue(out, value);
        WipeAndXmlFree(value);
        *out += '"';
      }
      xmlNodePtr child = FirstVisible(node->children);
      if (child == nullptr) {
        *out += "/>";
        return;
      }
      *out += '>';
      for (; child != nullptr; child = NextVisible(child)) AppendNode(out, child);
      *out += "</";
      *out += name;
      *out += '>';
      return;
    }
    case XML_TEXT_NODE:
      AppendCharacterData(out, node->content, true);
      return;
    case XML_CDATA_SECTION_NODE: {
      // "]]>" cannot stand in a section: it is split over two.
      std::string_view text(node->content ? AsChars(node->content) : "");
      *out += "<![CDATA[";
      for (size_t cut; (cut = text.find("]]>")) != std::string_view::npos;) {
        WipedText part(text.substr(0, cut + 2));
        AppendCharacterData(out, AsXmlChars(part.c_str()), false);
        *out += "]]><![CDATA[";
        text.remove_prefix(cut + 2);
      }
      WipedText rest(text);
      AppendCharacterData(out, AsXmlChars(rest.c_str()), false);
      *out += "]]>";
      return;
    }
    case XML_COMMENT_NODE:
      *out += "<!--";
      AppendCharacterData(out, node->content, false);
      *out += "-->";
      return;
    case XML_PI_NODE:
      *out += "<?";
      *out += AsChars(node->name);
      if (node->content != nullptr && *node->content != 0) {
        *out += ' ';
        AppendCharacterData(out, node->content, false);
      }
      *out += "?>";
      return;
    case XML_ENTITY_REF_NODE:
      *out += '&';
      *out += AsChars(node->name);
      *out += ';';
      return;
    default:
      return;
  }
}

}  // namespace velto::xml
