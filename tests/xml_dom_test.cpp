// The XML DOM service as the configuration import sees it. Every case runs on
// both targets: MSXML 6 on Windows, libxml2 shaped after it on Linux. The
// numbered rules are those of docs/decisions.md, "How the Linux DOM reads a
// document".
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/test_env.h"
#include "support/vectors.h"
#include "support/xml_test_util.h"
#include "xmlconfig/xml_access.h"
#include "xmlconfig/xml_dom.h"

namespace velto::xml {
namespace {

using test::ToWide;
using test::XmlDocument;

// Takes over a malloc'd text of the service; nullopt for null.
std::optional<std::string> Take(WCHAR* text) {
  if (text == nullptr) return std::nullopt;
  std::string out = test::ToUtf8(text);
  std::free(text);
  return out;
}

std::optional<std::string> Name(DomNode* node) { return Take(g_dom->node_name(node)); }
std::optional<std::string> Text(DomNode* node) { return Take(g_dom->node_text(node)); }
std::optional<std::string> Xml(VeltoXmlDocument* doc) { return Take(g_dom->document_xml(doc)); }

std::optional<std::string> Attribute(DomNode* node, const std::string& name) {
  WCHAR* value = nullptr;
  EXPECT_TRUE(g_dom->get_attribute(node, ToWide(name).c_str(), &value)) << name;
  return Take(value);
}

// "name(child,child(...))" for a node and the child lists below it; with
// `texts`, each leaf as "name=text", to compare two trees. (An inner node's
// text also counts white space the child lists do not show.)
std::string Outline(DomNode* node, bool texts = false) {
  std::string out = Name(node).value_or("<no name>");
  NodeRef child(g_dom->first_child_of(node));
  if (!child) return texts ? out + "=" + Text(node).value_or("<null>") : out;
  for (char sep = '('; child; child.reset(g_dom->next_sibling(child.get())), sep = ',') {
    out += sep + Outline(child.get(), texts);
  }
  return out + ")";
}

class XmlDomTest : public ::testing::Test {
 protected:
  // The module expects its host to have set up COM on the calling thread.
  static void SetUpTestSuite() { test::InitComForThisThread(); }
  void SetUp() override { ASSERT_NE(doc_, nullptr); }

  bool Load(const std::string& xml, ParseError* error = nullptr) {
    return g_dom->load_xml(doc_.get(), ToWide(xml).c_str(), error);
  }

  // The document's first child, then down by child index.
  NodeRef At(const std::vector<long>& path = {}) {
    NodeRef node(g_dom->first_child(doc_.get()));
    for (long index : path) {
      node.reset(node ? g_dom->first_child_of(node.get()) : nullptr);
      for (long i = 0; i < index && node; ++i) node.reset(g_dom->next_sibling(node.get()));
    }
    return node;
  }

  XmlDocument doc_{g_dom->create_document()};
};

// The cases of tests/vectors/xml_dom.cases.
TEST_F(XmlDomTest, Vectors) {
  EXPECT_EQ(At(), nullptr) << "a new document is empty";
  EXPECT_EQ(Xml(doc_.get()), "");
  ASSERT_TRUE(Load("<a><b/></a>"));
  NodeRef held = At();  // a node of an earlier content stays valid
  for (const test::Case& c : test::ReadCases("xml_dom.cases")) {
    SCOPED_TRACE("xml_dom.cases:" + c.at("line"));
    if (c.count("error")) {
      ASSERT_TRUE(Load("<z>1</z>"));
      ParseError error;
      EXPECT_FALSE(Load(c.at("xml"), &error));
      EXPECT_NE(Take(error.reason).value_or(""), "");
      EXPECT_EQ(At(), nullptr);
      EXPECT_EQ(Xml(doc_.get()), "");
      long line = 0, max_column = 0;
      if (std::sscanf(c.at("error").c_str(), "%ld:%ld", &line, &max_column) == 2 &&
          (error.line != 0 || error.column != 0)) {  // Wine's MSXML tells no place
        EXPECT_EQ(error.line, line);
        EXPECT_GE(error.column, 1);
        EXPECT_LE(error.column, max_column);
      }
      continue;
    }
    ASSERT_TRUE(Load(c.at("xml")));
    if (c.count("outline")) {
      EXPECT_EQ(Outline(At().get()), c.at("outline"));
    }
    if (c.count("text")) {
      EXPECT_EQ(Text(At().get()), c.at("text"));
    }
    if (c.count("child_text")) {
      EXPECT_EQ(Text(At({0}).get()), c.at("child_text"));
    }
    const std::string serialised = Xml(doc_.get()).value_or("<null>");
    if (c.count("serialised")) {
      EXPECT_EQ(serialised, c.at("serialised"));
    }
    if (c.count("reloads")) {
      XmlDocument copy = test::ParseXml(serialised);
      ASSERT_NE(copy, nullptr) << serialised;
      NodeRef first(g_dom->first_child(copy.get()));
      EXPECT_EQ(Outline(first.get(), true), Outline(At().get(), true)) << serialised;
    }
  }
  EXPECT_EQ(Name(held.get()), "a");
}

// The import walks a child list sibling by sibling and compares each name
// where it is: whole, prefix included, code unit by code unit.
TEST_F(XmlDomTest, SiblingsAndNamesInPlace) {
  ASSERT_TRUE(Load("<a><b/>\n<p:c xmlns:p='urn:p'/><!--k--><\xC3\xA9/></a>"));
  NodeRef b(g_dom->first_child_of(At().get()));
  EXPECT_EQ(NodeRef(g_dom->first_child_of(b.get())), nullptr);
  NodeRef c(g_dom->next_sibling(b.get()));
  NodeRef k(g_dom->next_sibling(c.get()));
  NodeRef e(g_dom->next_sibling(k.get()));
  EXPECT_EQ(NodeRef(g_dom->next_sibling(e.get())), nullptr);
  const struct {
    DomNode* node;
    const char* name;
    int same;
  } cases[] = {{b.get(), "b", 1},          {b.get(), "B", 0},      {b.get(), "bb", 0},
               {c.get(), "p:c", 1},        {c.get(), "c", 0},      {c.get(), "p:", 0},
               {c.get(), "p:c\xC3\xA9", 0}, {k.get(), "#comment", 1}, {e.get(), "\xC3\xA9", 1},
               {e.get(), "e", 0}};
  for (const auto& t : cases) {
    EXPECT_EQ(g_dom->name_is(t.node, ToWide(t.name).c_str()), t.same) << t.name;
  }
}

// Rule 11: attributes are found by qualified name, case-sensitively, and only
// on elements.
TEST_F(XmlDomTest, GetAttributeMatchesTheQualifiedName) {
  ASSERT_TRUE(Load("<a x=\"1\" p:y=\"2\" xmlns:p=\"urn:p\" e=\"\" s=\" a  b &#10; c \" "
                   "t=\"&amp;&lt;&#233;\">text<!--c--></a>"));
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"x", "1"}, {"p:y", "2"}, {"xmlns:p", "urn:p"}, {"e", ""},
      {"s", " a  b \n c "},  // attribute-value normalisation, references kept
      {"t", "&<\xC3\xA9"},
      {"y", std::nullopt},  // the local name alone does not match
      {"X", std::nullopt},
  };
  NodeRef a = At();
  for (const auto& [name, value] : cases) EXPECT_EQ(Attribute(a.get(), name), value) << name;
  for (long index : {0L, 1L}) {
    NodeRef node = At({index});
    ASSERT_NE(node, nullptr);
    WCHAR* value = nullptr;
    EXPECT_FALSE(g_dom->get_attribute(node.get(), ToWide("x").c_str(), &value));
    EXPECT_EQ(value, nullptr);
    EXPECT_FALSE(g_dom->set_attribute(node.get(), ToWide("x").c_str(), ToWide("1").c_str()));
  }
}

// The import marks the password it sealed; the serialised form escapes what
// it must, so the values read back the same.
TEST_F(XmlDomTest, SetAttributeAddsOrReplacesAndSurvivesReload) {
  ASSERT_TRUE(Load("<a x=\"1\" y=\"2\"><b/></a>"));
  const std::string tricky = "new <&> \"q\" 'a'\nz";
  NodeRef a = At();
  ASSERT_TRUE(g_dom->set_attribute(a.get(), ToWide("x").c_str(), ToWide(tricky).c_str()));
  ASSERT_TRUE(g_dom->set_attribute(a.get(), ToWide("n").c_str(), ToWide("").c_str()));
  const std::string xml = Xml(doc_.get()).value_or("<null>");
  XmlDocument copy = test::ParseXml(xml);
  ASSERT_NE(copy, nullptr) << xml;
  NodeRef b(g_dom->first_child(copy.get()));
  EXPECT_EQ(Attribute(b.get(), "x"), tricky);
  EXPECT_EQ(Attribute(b.get(), "y"), "2");
  EXPECT_EQ(Attribute(b.get(), "n"), "");
  EXPECT_EQ(Outline(b.get()), "a(b)");
}

// Rule 10: how the import puts the sealed password in place of the plain one.
TEST_F(XmlDomTest, SetNodeTextReplacesAllChildrenWithOneText) {
  ASSERT_TRUE(Load("<a x=\"1\"><b>old</b><!--c-->tail<c/></a>"));
  NodeRef a = At();
  ASSERT_TRUE(g_dom->set_node_text(a.get(), ToWide("  new <&> text  ").c_str()));
  EXPECT_EQ(Outline(a.get()), "a(#text)");
  EXPECT_EQ(Text(a.get()), "new <&> text");
  // Stored as given, escaped only when written out.
  EXPECT_EQ(Xml(doc_.get()), "<a x=\"1\">  new &lt;&amp;&gt; text  </a>\r\n");
  ASSERT_TRUE(g_dom->set_node_text(a.get(), ToWide("").c_str()));
  EXPECT_EQ(Xml(doc_.get()), "<a x=\"1\"/>\r\n");
  // White space set as the text is a node, though the text reads trimmed.
  ASSERT_TRUE(g_dom->set_node_text(a.get(), ToWide("   ").c_str()));
  EXPECT_EQ(Outline(a.get()), "a(#text)");
  EXPECT_EQ(Text(a.get()), "");
}

// Rule 13: the content of a file the XML points at never reaches the
// document, and entities do not expand (ten to the ninth "lol"s if they did).
TEST_F(XmlDomTest, NothingOutsideTheTextIsReadAndNoEntityExpands) {
  const std::string dir = test::MakeTempDir();
  ASSERT_FALSE(dir.empty());
  const std::string marker = "velto-secret-5d1c", path = dir + test::PathSeparator() + "secret.txt";
  { std::ofstream(path) << marker; }
  std::string url = path;
  for (char& c : url) c = c == '\\' ? '/' : c;
  url = (url.front() == '/' ? "file://" : "file:///") + url;
  std::string laughs = "<!DOCTYPE a [<!ENTITY l0 \"lol\">";
  for (int level = 1; level <= 9; ++level) {
    laughs += "<!ENTITY l" + std::to_string(level) + " \"";
    for (int i = 0; i < 10; ++i) laughs += "&l" + std::to_string(level - 1) + ";";
    laughs += "\">";
  }
  const std::string cases[] = {
      laughs + "]><a>&l9;</a>",
      "<!DOCTYPE a [<!ENTITY e SYSTEM \"" + url + "\">]><a>&e;</a>",
      "<!DOCTYPE a [<!ENTITY % p SYSTEM \"" + url + "\"> %p;]><a/>",
      "<!DOCTYPE a SYSTEM \"" + url + "\"><a/>",
      "<a xmlns:xi=\"http://www.w3.org/2001/XInclude\"><xi:include href=\"" + url +
          "\" parse=\"text\"/></a>",
  };
  for (const std::string& xml : cases) {
    SCOPED_TRACE(xml.substr(0, 100));
    ParseError error;
    Load(xml, &error);
    std::free(error.reason);
    NodeRef first = At();
    for (const std::string& seen :
         {Xml(doc_.get()).value_or(""), first ? Text(first.get()).value_or("") : ""}) {
      EXPECT_EQ(seen.find(marker), std::string::npos);
      EXPECT_LT(seen.size(), size_t{1} << 20);
    }
  }
  test::RemoveTree(dir);
}

}  // namespace
}  // namespace velto::xml
