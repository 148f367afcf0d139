// Documents for tests, made and read through the module's own DOM seam.
#pragma once

#include <memory>
#include <string>

#include "xmlconfig/xml_dom.h"

namespace velto::test {

struct DocumentReleaser {
  void operator()(VeltoXmlDocument* document) const { xml::g_dom->release_document(document); }
};
using XmlDocument = std::unique_ptr<VeltoXmlDocument, DocumentReleaser>;

XmlDocument ParseXml(const std::string& utf8);  // null when it does not parse
std::string SerializeXml(VeltoXmlDocument* document);  // "" on failure

// UTF-16 text of the DOM to UTF-8, and back.
std::string ToUtf8(const WCHAR* text);
std::basic_string<WCHAR> ToWide(const std::string& utf8);

}  // namespace velto::test
