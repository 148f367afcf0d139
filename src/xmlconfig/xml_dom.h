// The platform's XML DOM, reduced to what the configuration XML needs. On
// Windows it is MSXML 6 through COM (xml_dom_win.cpp); on Linux it is libxml2
// made to behave as MSXML 6 does by default wherever the import depends on it
// (xml_dom_posix.cpp). Text crosses this seam as UTF-16, as it does at the
// platform's own DOM.
//
// Every WCHAR* returned is a new malloc'd, NUL-terminated copy owned by the
// caller. Every DomNode* returned is a reference the caller gives back with
// release_node.
#pragma once

#include "abi/eap_abi.h"
#include "base/seam.h"

namespace velto::xml {

struct DomNode;  // IXMLDOMNode on Windows, a libxml2 node on Linux

// Where a parse failed, for messages to a person.
struct ParseError {
  long line = 0;
  long column = 0;
  WCHAR* reason = nullptr;  // malloc'd, may be null
};

struct DomApi {
  // The document's first child node (of any kind), or null when the call
  // fails or there is none. An XML declaration is a first child of its own:
  // a processing instruction named "xml".
  DomNode* (*first_child)(VeltoXmlDocument* document);

  // The node's first child of any kind (element, text, comment, ...), and the
  // child after `node` under the same parent; null when there is none or the
  // call fails. White-space-only text outside xml:space="preserve" is no
  // child. A child list is walked this way, never by index: a look-up by
  // index walks the list from its start in both DOMs.
  DomNode* (*first_child_of)(DomNode* node);
  DomNode* (*next_sibling)(DomNode* node);

  // Compares the node's name (as node_name gives it) with `name`, code unit
  // by code unit, without copying it out: 1 equal, 0 not, -1 when the name
  // cannot be had.
  int (*name_is)(DomNode* node, const WCHAR* name);

  // The node's name: the qualified name of an element ("a:b" keeps its
  // prefix), "#text", "#comment", "#cdata-section", the target of a
  // processing instruction. Null on failure.
  WCHAR* (*node_name)(DomNode* node);

  // The text property: the concatenated text of the node and its
  // descendants, with MSXML 6's default white-space rules: text nodes are
  // trimmed of white space where they begin or end the result, CDATA never;
  // inner white space is kept; comments and PIs add nothing. Null when the
  // call fails or yields no string; an empty string is returned as such.
  WCHAR* (*node_text)(DomNode* node);

  // Replaces the node's content with one text (the text property, written);
  // an empty text leaves an element with no child.
  bool (*set_node_text)(DomNode* node, const WCHAR* text);

  // Reads attribute `name` of an element. False when the node is not an
  // element; otherwise true, with *value null when the attribute is absent.
  bool (*get_attribute)(DomNode* node, const WCHAR* name, WCHAR** value);

  // Sets attribute `name` of an element. False when the node is not an
  // element or the call fails.
  bool (*set_attribute)(DomNode* node, const WCHAR* name, const WCHAR* value);

  // Nothing on Linux, where nodes belong to their document and stay valid
  // until release_document (also after a reload or set_node_text).
  void (*release_node)(DomNode* node);

  // A new, empty document that parses synchronously (DOMDocument60 on
  // Windows). Null when it cannot be created.
  VeltoXmlDocument* (*create_document)();

  // Parses `text` into the document (loadXML), replacing what it held. True
  // only when the text was parsed; otherwise the document is left empty and
  // *error, if given, says where it failed: 1-based line and column, 0 where
  // the DOM does not tell (the caller frees error->reason). A DOCTYPE fails
  // the load, as MSXML 6's default ProhibitDTD has it (Wine's MSXML lets it
  // through).
  bool (*load_xml)(VeltoXmlDocument* document, const WCHAR* text, ParseError* error);

  // The document serialised (the xml property), or null; "" when empty. Each
  // top-level node ends with CR LF; layout inside elements may differ
  // between the platforms.
  WCHAR* (*document_xml)(VeltoXmlDocument* document);

  // Gives back a document that create_document returned, or that the module
  // handed out.
  void (*release_document)(VeltoXmlDocument* document);
};

extern Seam<DomApi> g_dom;

}  // namespace velto::xml
