#include "support/xml_test_util.h"

#include <cstdlib>

#include "frame/text_convert.h"

namespace velto::test {

using platform::CodePage;

std::basic_string<WCHAR> ToWide(const std::string& utf8) {
  std::basic_string<WCHAR> wide(utf8.size() + 1, 0);  // never more units than bytes
  const int n = platform::MultiByteToWide(CodePage::kUtf8, utf8.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
  wide.resize(n > 0 ? n - 1 : 0);
  return wide;
}

std::string ToUtf8(const WCHAR* text) {
  size_t units = 0;
  while (text != nullptr && text[units] != 0) ++units;
  std::string utf8(units * 3 + 1, '\0');  // at most 3 bytes a unit
  const int n = platform::WideToMultiByte(CodePage::kUtf8, text, -1, utf8.data(), static_cast<int>(utf8.size()));
  utf8.resize(n > 0 ? n - 1 : 0);
  return utf8;
}

XmlDocument ParseXml(const std::string& utf8) {
  XmlDocument document(xml::g_dom->create_document());
  xml::ParseError error;
  const bool ok = document && xml::g_dom->load_xml(document.get(), ToWide(utf8).c_str(), &error);
  std::free(error.reason);
  return ok ? std::move(document) : nullptr;
}

std::string SerializeXml(VeltoXmlDocument* document) {
  WCHAR* text = xml::g_dom->document_xml(document);
  std::string utf8 = ToUtf8(text);
  std::free(text);
  return utf8;
}

}  // namespace velto::test
