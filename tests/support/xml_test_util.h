// Documents for tests, made and read through the module's own DOM seam.
#pragma once

#include <memory>
#include <string>

#include "xmlconfig/xml_dom.h"

namespace velto::test {

struct DocumentReleaser {
  void operator()(VeltoXmlDocument* document) const;
};
using XmlDocument = std::unique_ptr<VeltoXmlDocument, DocumentReleaser>;

// Parses UTF-8 text into a new document; null when it does not parse.
XmlDocument ParseXml(const std::string& utf8);

// The document's xml property as UTF-8 ("" on failure).
std::string SerializeXml(VeltoXmlDocument* document);

// UTF-16 text of the DOM to UTF-8, and back.
std::string ToUtf8(const WCHAR* text);
std::basic_string<WCHAR> ToWide(const std::string& utf8);

}  // namespace velto::test
