// The XML DOM service as the import sees it: MSXML 6 on Windows, libxml2 shaped after it on Linux.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>
#include "support/test_env.h"
#include "support/vectors.h"
#include "support/xml_test_util.h"
#include "xmlconfig/xml_access.h"
#include "xmlconfig/xml_dom.h"

namespace velto::xml {
namespace {
using test::ToWide;

// Takes over a malloc'd text of the service; nullopt for null.
std::optional<std::string> Take(WCHAR* text) {
  std::optional<std::string> out = text ? std::optional(test::ToUtf8(text)) : std::nullopt;
  std::free(text);
  return out;
}
std::optional<std::string> Text(DomNode* node) { return Take(g_dom->node_text(node)); }
std::optional<std::string> Xml(VeltoXmlDocument* doc) { return Take(g_dom->document_xml(doc)); }

// "name(child,child(...))"; with `texts`, each leaf as "name=text".
std::string Outline(DomNode* node, bool texts = false) {
  std::string out = Take(g_dom->node_name(node)).value_or("<no name>");
  NodeRef child(g_dom->first_child_of(node));
  if (!child) return texts ? out + "=" + Text(node).value_or("<null>") : out;
  for (char sep = '('; child; child.reset(g_dom->next_sibling(child.get())), sep = ',') {
    out += sep + Outline(child.get(), texts);
  }
  return out + ")";
}
struct XmlDomTest : ::testing::Test {
  static void SetUpTestSuite() { test::InitComForThisThread(); }  // as the host does
  void SetUp() override { ASSERT_NE(doc_, nullptr); }

  bool Load(const std::string& xml, ParseError* error = nullptr) {
    return g_dom->load_xml(doc_.get(), ToWide(xml).c_str(), error);
  }

  // The document's first child, or that child's child number `index`.
  NodeRef At(long index = -1) {
    NodeRef node(g_dom->first_child(doc_.get()));
    if (index >= 0 && node) node.reset(g_dom->first_child_of(node.get()));
    for (long i = 0; i < index && node; ++i) node.reset(g_dom->next_sibling(node.get()));
    return node;
  }

  test::XmlDocument doc_{g_dom->create_document()};
};

// The cases of tests/vectors/xml_dom.cases.
TEST_F(XmlDomTest, Vectors) {
  EXPECT_TRUE(At() == nullptr && Xml(doc_.get()) == "") << "a new document is empty";
  ASSERT_TRUE(Load("<a><b/></a>"));
  NodeRef held = At();  // a node of an earlier content stays valid
  for (const test::Case& c : test::ReadCases("xml_dom.cases")) {
    SCOPED_TRACE("xml_dom.cases:" + c.at("line"));
    if (c.count("error")) {
      ASSERT_TRUE(Load("<z>1</z>"));
      ParseError error;
      EXPECT_FALSE(Load(c.at("xml"), &error));
      EXPECT_NE(Take(error.reason).value_or(""), "");
      EXPECT_TRUE(At() == nullptr && Xml(doc_.get()) == "") << "the failed load emptied the document";
      long line = 0, max_column = 0;  // Wine's MSXML tells no place
      if (std::sscanf(c.at("error").c_str(), "%ld:%ld", &line, &max_column) == 2 && (error.line || error.column)) {
        EXPECT_TRUE(error.line == line && error.column >= 1 && error.column <= max_column)
            << error.line << ":" << error.column;
      }
      continue;
    }
    ASSERT_TRUE(Load(c.at("xml")));
    NodeRef node = At(std::stol(test::Get(c, "child", "-1")));
    ASSERT_NE(node, nullptr);
    if (c.count("set_text")) { ASSERT_TRUE(g_dom->set_node_text(node.get(), ToWide(c.at("set_text")).c_str())); }
    if (c.count("set")) {  // NAME=VALUE
      const std::string set = c.at("set"), name = set.substr(0, set.find('='));
      EXPECT_EQ(g_dom->set_attribute(node.get(), ToWide(name).c_str(), ToWide(set.substr(name.size() + 1)).c_str()),
                test::Get(c, "value") != "refused");
    }
    if (c.count("outline")) { EXPECT_EQ(Outline(node.get()), c.at("outline")); }
    if (c.count("text")) { EXPECT_EQ(Text(node.get()), c.at("text")); }
    if (c.count("name_is")) {
      EXPECT_EQ(g_dom->name_is(node.get(), ToWide(c.at("name_is")).c_str()), std::stoi(c.at("same")));
    }
    const std::string serialised = Xml(doc_.get()).value_or("<null>");
    if (c.count("serialised")) { EXPECT_EQ(serialised, c.at("serialised")); }
    if (!c.count("reloads") && !c.count("attribute")) continue;
    test::XmlDocument copy = test::ParseXml(serialised);
    ASSERT_NE(copy, nullptr) << serialised;
    NodeRef first(g_dom->first_child(copy.get()));
    if (c.count("reloads")) { EXPECT_EQ(Outline(first.get(), true), Outline(At().get(), true)) << serialised; }
    if (c.count("attribute")) {  // of the form read back; "missing", or "refused" on a non-element
      WCHAR* value = nullptr;
      EXPECT_EQ(g_dom->get_attribute(c.count("child") ? node.get() : first.get(), ToWide(c.at("attribute")).c_str(),
                                     &value),
                c.at("value") != "refused");
      EXPECT_EQ(Take(value).value_or(c.at("value") == "missing" ? "missing" : "refused"), c.at("value"));
    }
  }
  EXPECT_EQ(Take(g_dom->node_name(held.get())), "a");
}

// Rule 13: tests/vectors/xml_hostile.cases; {{URL}} names a file that must never be read.
TEST_F(XmlDomTest, NothingOutsideTheTextIsReadAndNoEntityExpands) {
  const std::string dir = test::MakeTempDir(), marker = "velto-secret-5d1c";
  ASSERT_FALSE(dir.empty());
  std::string url = dir + test::PathSeparator() + "secret.txt";
  std::ofstream(url) << marker;
  std::replace(url.begin(), url.end(), '\\', '/');
  url = (url.front() == '/' ? "file://" : "file:///") + url;
  for (const test::Case& c : test::ReadCases("xml_hostile.cases")) {
    SCOPED_TRACE("xml_hostile.cases:" + c.at("line"));
    std::string xml = c.at("xml");
    if (const size_t at = xml.find("{{URL}}"); at != std::string::npos) xml.replace(at, 7, url);
    Load(xml);  // loaded or not
    NodeRef first = At();
    for (const std::string& seen : {Xml(doc_.get()).value_or(""), first ? Text(first.get()).value_or("") : ""}) {
      EXPECT_EQ(seen.find(marker), std::string::npos);
      EXPECT_LT(seen.size(), size_t{1} << 20);
    }
  }
  test::RemoveTree(dir);
}
}  // namespace
}  // namespace velto::xml
