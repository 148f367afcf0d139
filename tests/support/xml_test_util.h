// Documents for tests, made and read through the module's own DOM seam.
#pragma once
#include <cstdlib>
#include <memory>
#include <string>
#include "frame/text_convert.h"
#include "xmlconfig/xml_dom.h"

namespace velto::test {
struct DocumentReleaser { void operator()(VeltoXmlDocument* d) const { xml::g_dom->release_document(d); } };
using XmlDocument = std::unique_ptr<VeltoXmlDocument, DocumentReleaser>;

// UTF-16 text of the DOM to UTF-8, and back.
inline std::basic_string<WCHAR> ToWide(const std::string& utf8) {
  std::basic_string<WCHAR> wide(utf8.size() + 1, 0);  // never more units than bytes
  const int n = platform::MultiByteToWide(platform::CodePage::kUtf8, utf8.c_str(), -1, wide.data(),
                                          static_cast<int>(wide.size()));
  wide.resize(n > 0 ? n - 1 : 0);
  return wide;
}
inline std::string ToUtf8(const WCHAR* text) {
  size_t units = 0;
  while (text != nullptr && text[units] != 0) ++units;
  std::string utf8(units * 3 + 1, '\0');  // at most 3 bytes a unit
  const int n = platform::WideToMultiByte(platform::CodePage::kUtf8, text, -1, utf8.data(),
                                          static_cast<int>(utf8.size()));
  utf8.resize(n > 0 ? n - 1 : 0);
  return utf8;
}

// A new document of the text; null when it does not parse.
inline XmlDocument ParseXml(const std::string& utf8) {
  XmlDocument document(xml::g_dom->create_document());
  xml::ParseError error;
  const bool ok = document && xml::g_dom->load_xml(document.get(), ToWide(utf8).c_str(), &error);
  std::free(error.reason);
  return ok ? std::move(document) : nullptr;
}

// The document's xml property ("" on failure).
inline std::string SerializeXml(VeltoXmlDocument* document) {
  WCHAR* text = xml::g_dom->document_xml(document);
  std::string utf8 = ToUtf8(text);
  std::free(text);
  return utf8;
}
}  // namespace velto::test
