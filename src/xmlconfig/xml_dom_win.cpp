// The DOM through MSXML 6 (COM). The module never initialises COM itself: the
// host has done so on the calling thread.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <msxml2.h>

#include <cstdlib>
#include <cstring>

#include "xmlconfig/xml_dom.h"

namespace velto::xml {
namespace {

// mingw-w64 has neither msxml6.h nor these two definitions.
constexpr CLSID kClsidDomDocument60 = {
    0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
constexpr IID kIidXmlDomDocument2 = {
    0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

IXMLDOMNode* AsCom(DomNode* node) { return reinterpret_cast<IXMLDOMNode*>(node); }
DomNode* AsNode(IXMLDOMNode* node) { return reinterpret_cast<DomNode*>(node); }

// Releases an interface at the end of a scope.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() {
    if (p_ != nullptr) p_->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  T** out() { return &p_; }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T* detach() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  T* p_ = nullptr;
};

// Wipes a BSTR and frees it. Any of them may carry the password (a text, a
// whole document): oleaut32 keeps freed strings in its cache for the next
// allocation of that size, so one freed unwiped stays readable.
void WipeAndFreeBstr(BSTR s) {
  if (s == nullptr) return;
  SecureZeroMemory(s, SysStringByteLen(s));
  SysFreeString(s);
}

// Frees a BSTR at the end of a scope, wiped.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const WCHAR* text) : s_(SysAllocString(text)) {}
  ~Bstr() { WipeAndFreeBstr(s_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  BSTR* out() { return &s_; }
  BSTR get() const { return s_; }

 private:
  BSTR s_ = nullptr;
};

// A malloc'd, NUL-terminated copy of a BSTR; null for a null BSTR.
WCHAR* CopyBstr(BSTR text) {
  if (text == nullptr) return nullptr;
  UINT length = SysStringLen(text);
  auto* copy = static_cast<WCHAR*>(std::malloc((static_cast<size_t>(length) + 1) * sizeof(WCHAR)));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text, static_cast<size_t>(length) * sizeof(WCHAR));
  copy[length] = L'\0';
  return copy;
}

DomNode* FirstChild(VeltoXmlDocument* document) {
  if (document == nullptr) return nullptr;
  IXMLDOMNode* child = nullptr;
  // S_FALSE with a null node when there is no child.
  if (document->get_firstChild(&child) != S_OK) {
    if (child != nullptr) child->Release();
    return nullptr;
  }
  return AsNode(child);
}

DomNode* FirstChildOf(DomNode* node) {
  if (node == nullptr) return nullptr;
  IXMLDOMNode* child = nullptr;
  // S_FALSE with a null node when there is none.
  if (AsCom(node)->get_firstChild(&child) != S_OK) {
    if (child != nullptr) child->Release();
    return nullptr;
  }
  return AsNode(child);
}

DomNode* NextSibling(DomNode* node) {
  if (node == nullptr) return nullptr;
  IXMLDOMNode* next = nullptr;
  if (AsCom(node)->get_nextSibling(&next) != S_OK) {
    if (next != nullptr) next->Release();
    return nullptr;
  }
  return AsNode(next);
}

int NameIs(DomNode* node, const WCHAR* wanted) {
  if (node == nullptr || wanted == nullptr) return -1;
  Bstr name;
  if (FAILED(AsCom(node)->get_nodeName(name.out())) || name.get() == nullptr) return -1;
  const WCHAR* a = name.get();
  const WCHAR* b = wanted;
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b ? 1 : 0;
}

WCHAR* NodeName(DomNode* node) {
  if (node == nullptr) return nullptr;
  Bstr name;
  if (FAILED(AsCom(node)->get_nodeName(name.out()))) return nullptr;
  return CopyBstr(name.get());
}

WCHAR* NodeText(DomNode* node) {
  if (node == nullptr) return nullptr;
  Bstr text;
  if (FAILED(AsCom(node)->get_text(text.out()))) return nullptr;
  return CopyBstr(text.get());
}

bool SetNodeText(DomNode* node, const WCHAR* text) {
  if (node == nullptr || text == nullptr) return false;
  Bstr value(text);
  if (value.get() == nullptr) return false;
  return SUCCEEDED(AsCom(node)->put_text(value.get()));
}

// The node as an element, and the attribute name as a BSTR: false when the
// node is not an element or the name cannot be allocated.
bool AsElement(DomNode* node, const WCHAR* name, ComRef<IXMLDOMElement>* element,
               Bstr* attribute_name) {
  if (FAILED(AsCom(node)->QueryInterface(IID_IXMLDOMElement,
                                         reinterpret_cast<void**>(element->out())))) {
    return false;
  }
  *attribute_name->out() = SysAllocString(name);
  return attribute_name->get() != nullptr;
}

bool GetAttribute(DomNode* node, const WCHAR* name, WCHAR** value) {
  if (node == nullptr || name == nullptr || value == nullptr) return false;
  *value = nullptr;
  ComRef<IXMLDOMElement> element;
  Bstr attribute_name;
  if (!AsElement(node, name, &element, &attribute_name)) return false;
  // Zeroed so that an absent attribute (VT_NULL, nothing else written) reads
  // as a null string.
  VARIANT result;
  std::memset(&result, 0, sizeof result);
  HRESULT hr = element->getAttribute(attribute_name.get(), &result);
  if (FAILED(hr)) {
    VariantClear(&result);
    return false;
  }
  // The string is taken as it is; an attribute's value is always a BSTR.
  if (hr == S_OK) *value = CopyBstr(V_BSTR(&result));
  if (V_VT(&result) == VT_BSTR && V_BSTR(&result) != nullptr) {
    SecureZeroMemory(V_BSTR(&result), SysStringByteLen(V_BSTR(&result)));
  }
  VariantClear(&result);
  return true;
}

bool SetAttribute(DomNode* node, const WCHAR* name, const WCHAR* value) {
  if (node == nullptr || name == nullptr || value == nullptr) return false;
  ComRef<IXMLDOMElement> element;
  Bstr attribute_name;
  if (!AsElement(node, name, &element, &attribute_name)) return false;
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(value);
  if (V_BSTR(&v) == nullptr) return false;
  HRESULT hr = element->setAttribute(attribute_name.get(), v);
  VariantClear(&v);
  return SUCCEEDED(hr);
}

void ReleaseNode(DomNode* node) {
  if (node != nullptr) AsCom(node)->Release();
}

VeltoXmlDocument* CreateDocument() {
  ComRef<IXMLDOMDocument2> document;
  if (FAILED(CoCreateInstance(kClsidDomDocument60, nullptr, CLSCTX_INPROC_SERVER,
                              kIidXmlDomDocument2, reinterpret_cast<void**>(document.out())))) {
    return nullptr;
  }
  if (document.get() == nullptr || FAILED(document->put_async(VARIANT_FALSE))) return nullptr;
  return document.detach();
}

void ReportParseError(VeltoXmlDocument* document, ParseError* error) {
  ComRef<IXMLDOMParseError> parse_error;
  if (FAILED(document->get_parseError(parse_error.out())) || parse_error.get() == nullptr) return;
  long line = 0;
  long column = 0;
  if (SUCCEEDED(parse_error->get_line(&line))) error->line = line;
  if (SUCCEEDED(parse_error->get_linepos(&column))) error->column = column;
  Bstr reason;
  if (SUCCEEDED(parse_error->get_reason(reason.out()))) error->reason = CopyBstr(reason.get());
}

bool LoadXml(VeltoXmlDocument* document, const WCHAR* text, ParseError* error) {
  if (error != nullptr) *error = ParseError{};
  if (document == nullptr || text == nullptr) return false;
  Bstr source(text);
  if (source.get() == nullptr) return false;
  VARIANT_BOOL parsed = VARIANT_FALSE;
  HRESULT hr = document->loadXML(source.get(), &parsed);
  if (SUCCEEDED(hr) && parsed == VARIANT_TRUE) return true;
  if (error != nullptr) ReportParseError(document, error);
  return false;
}

WCHAR* DocumentXml(VeltoXmlDocument* document) {
  if (document == nullptr) return nullptr;
  Bstr xml;
  if (FAILED(document->get_xml(xml.out()))) return nullptr;
  return CopyBstr(xml.get());
}

void ReleaseDocument(VeltoXmlDocument* document) {
  if (document != nullptr) document->Release();
}

const DomApi kMsxmlDom = {.first_child = FirstChild,
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

Seam<DomApi> g_dom(&kMsxmlDom);

}  // namespace velto::xml
