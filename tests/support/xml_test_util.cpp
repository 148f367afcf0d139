#include "support/xml_test_util.h"

#include <cstdlib>

#include "frame/text_convert.h"

namespace velto::test {

void DocumentReleaser::operator()(VeltoXmlDocument* document) const {
  if (document != nullptr) xml::g_dom->release_document(document);
}

std::basic_string<WCHAR> ToWide(const std::string& utf8) {
  int n = platform::MultiByteToWide(platform::CodePage::kUtf8, utf8.c_str(), -1, nullptr, 0);
  if (n <= 0) return {};
  std::basic_string<WCHAR> wide(static_cast<size_t>(n), 0);
  platform::MultiByteToWide(platform::CodePage::kUtf8, utf8.c_str(), -1, wide.data(), n);
  wide.resize(static_cast<size_t>(n - 1));
  return wide;
}

std::string ToUtf8(const WCHAR* text) {
  if (text == nullptr) return {};
  int n = platform::WideToMultiByte(platform::CodePage::kUtf8, text, -1, nullptr, 0);
  if (n <= 0) return {};
  std::string utf8(static_cast<size_t>(n), '\0');
  platform::WideToMultiByte(platform::CodePage::kUtf8, text, -1, utf8.data(), n);
  utf8.resize(static_cast<size_t>(n - 1));
  return utf8;
}

XmlDocument ParseXml(const std::string& utf8) {
  XmlDocument document(xml::g_dom->create_document());
  if (!document) return nullptr;
  std::basic_string<WCHAR> wide = ToWide(utf8);
  xml::ParseError error;
  bool ok = xml::g_dom->load_xml(document.get(), wide.c_str(), &error);
  std::free(error.reason);
  if (!ok) return nullptr;
  return document;
}

std::string SerializeXml(VeltoXmlDocument* document) {
  WCHAR* text = xml::g_dom->document_xml(document);
  std::string utf8 = ToUtf8(text);
  std::free(text);
  return utf8;
}

}  // namespace velto::test
