// The XML DOM service as the configuration import sees it. Every vector runs
// on both targets: MSXML 6 on Windows, libxml2 shaped after it on Linux.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/eap_abi.h"
#include "frame/text_convert.h"
#include "support/test_env.h"
#include "xmlconfig/xml_dom.h"

namespace velto::xml {
namespace {

// The module expects its host to have set up COM on the calling thread.
class ComApartment : public ::testing::Environment {
 public:
  void SetUp() override { test::InitComForThisThread(); }
};
[[maybe_unused]] ::testing::Environment* const kComApartment =
    ::testing::AddGlobalTestEnvironment(new ComApartment);

using WString = std::basic_string<WCHAR>;

WString Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  int units = platform::MultiByteToWide(platform::CodePage::kUtf8, utf8.data(),
                                        static_cast<int>(utf8.size()), nullptr, 0);
  WString out(static_cast<size_t>(units), WCHAR{});
  platform::MultiByteToWide(platform::CodePage::kUtf8, utf8.data(),
                            static_cast<int>(utf8.size()), out.data(), units);
  return out;
}

// Takes over a malloc'd text from the service; nullopt for null.
std::optional<std::string> Take(WCHAR* text) {
  if (text == nullptr) return std::nullopt;
  std::string out;
  if (text[0] != 0) {
    int size = platform::WideToMultiByte(platform::CodePage::kUtf8, text, -1, nullptr, 0);
    out.resize(static_cast<size_t>(size));
    platform::WideToMultiByte(platform::CodePage::kUtf8, text, -1, out.data(), size);
    out.pop_back();
  }
  std::free(text);
  return out;
}

struct NodeRelease {
  void operator()(DomNode* node) const { g_dom->release_node(node); }
};
using NodeRef = std::unique_ptr<DomNode, NodeRelease>;

struct DocumentRelease {
  void operator()(VeltoXmlDocument* document) const { g_dom->release_document(document); }
};
using DocumentRef = std::unique_ptr<VeltoXmlDocument, DocumentRelease>;

DocumentRef NewDocument() { return DocumentRef(g_dom->create_document()); }

bool Load(VeltoXmlDocument* document, std::string_view xml, ParseError* error = nullptr) {
  return g_dom->load_xml(document, Wide(xml).c_str(), error);
}

std::optional<std::string> Name(DomNode* node) { return Take(g_dom->node_name(node)); }
std::optional<std::string> Text(DomNode* node) { return Take(g_dom->node_text(node)); }
std::optional<std::string> Xml(VeltoXmlDocument* document) {
  return Take(g_dom->document_xml(document));
}

std::optional<std::string> Attribute(DomNode* node, std::string_view name) {
  WCHAR* value = nullptr;
  EXPECT_TRUE(g_dom->get_attribute(node, Wide(name).c_str(), &value)) << name;
  return Take(value);
}

// "name(child,child(...))" for a node and the child lists below it.
std::string Outline(DomNode* node) {
  std::string out = Name(node).value_or("<no name>");
  long count = 0;
  if (!g_dom->child_count(node, &count)) return out + "<no child list>";
  for (long i = 0; i < count; ++i) {
    NodeRef child(g_dom->child_at(node, i));
    out += i == 0 ? "(" : ",";
    out += child ? Outline(child.get()) : "<null>";
  }
  return count != 0 ? out + ")" : out;
}

// Outline with the text of each leaf, to compare two trees. (An inner
// node's text also counts white space the child lists do not show.)
std::string Dump(DomNode* node) {
  std::string out = Name(node).value_or("<no name>");
  long count = 0;
  if (!g_dom->child_count(node, &count) || count == 0) {
    return out + "=" + Text(node).value_or("<null>");
  }
  for (long i = 0; i < count; ++i) {
    NodeRef child(g_dom->child_at(node, i));
    out += i == 0 ? "[" : "|";
    out += child ? Dump(child.get()) : "<null>";
  }
  return count != 0 ? out + "]" : out;
}

class XmlDomTest : public ::testing::Test {
 protected:
  void SetUp() override {
    doc_ = NewDocument();
    ASSERT_NE(doc_, nullptr);
  }

  bool Load(std::string_view xml, ParseError* error = nullptr) {
    return xml::Load(doc_.get(), xml, error);
  }

  // The document's first child, then down by child index.
  NodeRef At(std::initializer_list<long> path = {}) {
    NodeRef node(g_dom->first_child(doc_.get()));
    for (long index : path) {
      if (!node) break;
      node.reset(g_dom->child_at(node.get(), index));
    }
    return node;
  }

  DocumentRef doc_;
};

// ----------------------------------------------------------- tree shape

TEST_F(XmlDomTest, TreeShapeAndNamesFollowMsxmlDefaults) {
  struct Case {
    const char* xml;
    const char* outline;  // of the document's first child
  };
  const Case cases[] = {
      // The XML declaration is a processing instruction named "xml".
      {"<?xml version=\"1.0\"?><a/>", "xml"},
      {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!--c-->\n<a/>", "xml"},
      // So is anything else before the root element.
      {"<!-- c --><a/>", "#comment"},
      {"<?pi data?><a/>", "pi"},
      {"\n\n<a/>\n", "a"},
      // Qualified names: the prefix stays, the namespace URI plays no part.
      {"<a:Phase2Type xmlns:a=\"urn:x\"><b:x xmlns:b=\"urn:y\"/><x/></a:Phase2Type>",
       "a:Phase2Type(b:x,x)"},
      {"<Phase2Type xmlns=\"urn:x\"><Inner/></Phase2Type>", "Phase2Type(Inner)"},
      {"<a>t<![CDATA[c]]><!--k--><?p d?><b/></a>", "a(#text,#cdata-section,#comment,p,b)"},
      // White-space-only text is in no child list ...
      {"<a>\n  <b>x</b>\n  <c/>\n</a>", "a(b(#text),c)"},
      {"<a>   </a>", "a"},
      {"<a>\r\n\t</a>", "a"},
      {"<a> <b> </b> </a>", "a(b)"},
      {"<a><b/> <!--c--> <c/></a>", "a(b,#comment,c)"},
      {"<a> <![CDATA[c]]> </a>", "a(#cdata-section)"},
      // ... unless it is CDATA, or xml:space asks for it.
      {"<a><![CDATA[ ]]></a>", "a(#cdata-section)"},
      {"<a xml:space=\"preserve\">  <b/>  </a>", "a(#text,b,#text)"},
      {"<a>x <b/> y</a>", "a(#text,b,#text)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    ASSERT_TRUE(Load(c.xml));
    NodeRef first = At();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Outline(first.get()), c.outline);
  }
}

TEST_F(XmlDomTest, ChildAtOutsideTheListGivesNull) {
  ASSERT_TRUE(Load("<a><b/>\n<c/></a>"));
  NodeRef a = At();
  ASSERT_NE(a, nullptr);
  EXPECT_NE(NodeRef(g_dom->child_at(a.get(), 1)), nullptr);
  EXPECT_EQ(NodeRef(g_dom->child_at(a.get(), 2)), nullptr);
  EXPECT_EQ(NodeRef(g_dom->child_at(a.get(), -1)), nullptr);
  NodeRef leaf = At({0});
  long count = -1;
  ASSERT_TRUE(g_dom->child_count(leaf.get(), &count));
  EXPECT_EQ(count, 0);
  EXPECT_EQ(NodeRef(g_dom->child_at(leaf.get(), 0)), nullptr);
}

// ----------------------------------------------------------- text property

TEST_F(XmlDomTest, TextTrimsTextNodesAtTheEndsOnly) {
  struct Case {
    const char* xml;
    std::vector<long> path;  // from the first child
    const char* text;
  };
  const Case cases[] = {
      {"<a>  lead and trail  </a>", {}, "lead and trail"},
      {"<a>  lead and trail  </a>", {0}, "lead and trail"},
      // Inner white space stays as written; line ends are normalised.
      {"<a>  inner   spaces\n\tand tabs  </a>", {}, "inner   spaces\n\tand tabs"},
      {"<a>x\r\ny\rz</a>", {}, "x\ny\nz"},
      {"<a>\r\n x \r\n</a>", {}, "x"},
      // References are resolved; white space from them is trimmed too.
      {"<a>&amp;&lt;&gt;&quot;&apos;&#233;&#x41;&#x1F600;</a>", {},
       "&<>\"'\xC3\xA9" "A\xF0\x9F\x98\x80"},
      {"<a>&#10;x&#9; &#32;</a>", {}, "x"},
      {"<a>&#160;x&#160;</a>", {}, "\xC2\xA0x\xC2\xA0"},  // no-break space is no white space
      // CDATA is never trimmed.
      {"<a><![CDATA[  cd  ]]></a>", {}, "  cd  "},
      {"<a><![CDATA[  cd  ]]></a>", {0}, "  cd  "},
      {"<a> t <![CDATA[ cd ]]> u </a>", {}, "t  cd  u"},
      {"<a><![CDATA[ c ]]> t </a>", {}, " c  t"},
      // Descendants are concatenated; comments and PIs are no text.
      {"<a>x<!-- c -->y<?p d?>z</a>", {}, "xyz"},
      {"<a><b>1</b><c>2<d>3</d></c></a>", {}, "123"},
      {"<a> x <b> y </b> z </a>", {}, "x  y  z"},
      // Hidden white space between elements still counts inside the text.
      {"<a> x <b> </b> y </a>", {}, "x   y"},
      {"<a>x\n<c/>\ny</a>", {}, "x\n\ny"},
      {"<a xml:space=\"preserve\">  x  </a>", {}, "  x  "},
      // No text is an empty string, not a missing one.
      {"<a></a>", {}, ""},
      {"<a/>", {}, ""},
      {"<a>   </a>", {}, ""},
      {"<a><!--c--></a>", {}, ""},
      // Other nodes give their content as it is.
      {"<a><!-- c --></a>", {0}, " c "},
      {"<a><?p  d ?></a>", {0}, "d "},
      {"<?xml version='1.0'  encoding='UTF-8' ?><a/>", {}, "version=\"1.0\" encoding=\"UTF-8\""},
      {"<?xml version=\"1.0\" standalone=\"yes\"?><a/>", {}, "version=\"1.0\" standalone=\"yes\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    ASSERT_TRUE(Load(c.xml));
    NodeRef node(g_dom->first_child(doc_.get()));
    for (long index : c.path) node.reset(node ? g_dom->child_at(node.get(), index) : nullptr);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(Text(node.get()), std::optional<std::string>(c.text));
  }
}

// ------------------------------------------------------------- attributes

TEST_F(XmlDomTest, GetAttributeMatchesTheQualifiedName) {
  ASSERT_TRUE(Load("<a x=\"1\" p:y=\"2\" xmlns:p=\"urn:p\" e=\"\" s=\" a  b &#10; c \" "
                   "t=\"&amp;&lt;&#233;\"><b/>text</a>"));
  NodeRef a = At();
  ASSERT_NE(a, nullptr);
  struct Case {
    const char* name;
    std::optional<std::string> value;
  };
  const Case cases[] = {
      {"x", "1"},
      {"p:y", "2"},
      {"y", std::nullopt},  // the local name alone does not match
      {"xmlns:p", "urn:p"},
      {"e", ""},
      {"s", " a  b \n c "},  // attribute-value normalisation, references kept
      {"t", "&<\xC3\xA9"},
      {"X", std::nullopt},
      {"missing", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Attribute(a.get(), c.name), c.value);
  }
}

TEST_F(XmlDomTest, AttributesNeedAnElement) {
  ASSERT_TRUE(Load("<a>text<!--c--></a>"));
  for (long index : {0L, 1L}) {
    NodeRef node = At({index});
    ASSERT_NE(node, nullptr);
    WCHAR* value = nullptr;
    EXPECT_FALSE(g_dom->get_attribute(node.get(), Wide("x").c_str(), &value));
    EXPECT_EQ(value, nullptr);
    EXPECT_FALSE(g_dom->set_attribute(node.get(), Wide("x").c_str(), Wide("1").c_str()));
  }
}

TEST_F(XmlDomTest, SetAttributeAddsOrReplacesAndSurvivesReload) {
  ASSERT_TRUE(Load("<a x=\"1\" y=\"2\"><b/></a>"));
  const std::string tricky = "new <&> \"q\" 'a'\nz";
  {
    NodeRef a = At();
    ASSERT_NE(a, nullptr);
    ASSERT_TRUE(g_dom->set_attribute(a.get(), Wide("x").c_str(), Wide(tricky).c_str()));
    ASSERT_TRUE(g_dom->set_attribute(a.get(), Wide("n").c_str(), Wide("").c_str()));
    EXPECT_EQ(Attribute(a.get(), "x"), tricky);
    EXPECT_EQ(Attribute(a.get(), "y"), "2");
    EXPECT_EQ(Attribute(a.get(), "n"), "");
  }
  // The serialised form escapes what it must: it reads back the same.
  std::optional<std::string> xml = Xml(doc_.get());
  ASSERT_TRUE(xml.has_value());
  DocumentRef copy = NewDocument();
  ASSERT_TRUE(xml::Load(copy.get(), *xml)) << *xml;
  NodeRef a(g_dom->first_child(copy.get()));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(Attribute(a.get(), "x"), tricky);
  EXPECT_EQ(Attribute(a.get(), "n"), "");
  EXPECT_EQ(Outline(a.get()), "a(b)");
}

// ------------------------------------------------------------ set text

TEST_F(XmlDomTest, SetNodeTextReplacesAllChildrenWithOneText) {
  ASSERT_TRUE(Load("<a x=\"1\"><b>old</b><!--c-->tail<c/></a>"));
  NodeRef a = At();
  ASSERT_NE(a, nullptr);

  ASSERT_TRUE(g_dom->set_node_text(a.get(), Wide("  new <&> text  ").c_str()));
  EXPECT_EQ(Outline(a.get()), "a(#text)");
  EXPECT_EQ(Text(a.get()), "new <&> text");
  EXPECT_EQ(Attribute(a.get(), "x"), "1");
  // Stored as given, escaped only when written out.
  EXPECT_EQ(Xml(doc_.get()), "<a x=\"1\">  new &lt;&amp;&gt; text  </a>\r\n");

  ASSERT_TRUE(g_dom->set_node_text(a.get(), Wide("").c_str()));
  EXPECT_EQ(Outline(a.get()), "a");
  EXPECT_EQ(Xml(doc_.get()), "<a x=\"1\"/>\r\n");

  ASSERT_TRUE(g_dom->set_node_text(a.get(), Wide("   ").c_str()));
  EXPECT_EQ(Outline(a.get()), "a(#text)");
  EXPECT_EQ(Text(a.get()), "");
}

TEST_F(XmlDomTest, SetNodeTextOnCharacterNodesChangesTheirContent) {
  ASSERT_TRUE(Load("<a>t<![CDATA[z]]><!--c--></a>"));
  const struct {
    long index;
    const char* text;
  } edits[] = {{0, "u v"}, {1, " w "}, {2, "k"}};
  for (const auto& edit : edits) {
    NodeRef node = At({edit.index});
    ASSERT_NE(node, nullptr);
    ASSERT_TRUE(g_dom->set_node_text(node.get(), Wide(edit.text).c_str()));
    EXPECT_EQ(Text(node.get()), edit.text);
  }
  EXPECT_EQ(Xml(doc_.get()), "<a>u v<![CDATA[ w ]]><!--k--></a>\r\n");
}

// ------------------------------------------------------------ loading

TEST_F(XmlDomTest, NewDocumentIsEmpty) {
  EXPECT_EQ(At(), nullptr);
  EXPECT_EQ(Xml(doc_.get()), "");
}

TEST_F(XmlDomTest, SecondLoadReplacesTheContent) {
  ASSERT_TRUE(Load("<a><b/></a>"));
  NodeRef held = At();
  ASSERT_NE(held, nullptr);

  ASSERT_TRUE(Load("<z>1</z>"));
  EXPECT_EQ(Outline(At().get()), "z(#text)");
  EXPECT_EQ(Xml(doc_.get()), "<z>1</z>\r\n");
  // A node of the earlier content is still a valid node.
  EXPECT_EQ(Name(held.get()), "a");

  ASSERT_TRUE(Load("<?xml version=\"1.0\"?><w/>"));
  EXPECT_EQ(Name(At().get()), "xml");
}

TEST_F(XmlDomTest, FailedLoadLeavesTheDocumentEmpty) {
  ASSERT_TRUE(Load("<a><b/></a>"));
  ParseError error;
  EXPECT_FALSE(Load("<y>", &error));
  std::free(error.reason);
  EXPECT_EQ(At(), nullptr);
  EXPECT_EQ(Xml(doc_.get()), "");
}

TEST_F(XmlDomTest, MalformedTextIsRefusedWithAReason) {
  const char* const cases[] = {
      "",
      "   ",
      "text",
      "<a",
      "<a><b></a>",
      "<a></a><b/>",
      "<a>x</a>text",
      "<a>&bad;</a>",
      "\n<?xml version=\"1.0\"?><a/>",
      "<a x='1' x='2'/>",
      "<a b=c/>",
      "<a>]]></a>",
      "<a>&#1;</a>",
      "<a>\xC3\xA9<</a>",
  };
  for (const char* xml : cases) {
    SCOPED_TRACE(xml);
    ParseError error;
    EXPECT_FALSE(Load(xml, &error));
    std::optional<std::string> reason = Take(error.reason);
    ASSERT_TRUE(reason.has_value());
    EXPECT_FALSE(reason->empty());
    EXPECT_EQ(At(), nullptr);
  }
}

TEST_F(XmlDomTest, ParseErrorPointsAtTheFaultyLine) {
  struct Case {
    const char* xml;
    long line;
  };
  const Case cases[] = {
      {"<a>\n<b>\n</c></a>", 3},
      {"<a>\n\t<b att=noquote/></a>", 2},
      {"<?xml version=\"1.0\"?>\n<a>\n  <b>&bad;</b></a>", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    ParseError error;
    ASSERT_FALSE(Load(c.xml, &error));
    std::free(error.reason);
    if (error.line == 0 && error.column == 0) {
      GTEST_SKIP() << "this DOM reports no position for a parse error";
    }
    EXPECT_EQ(error.line, c.line);
    // 1-based, within the line or just past its end.
    std::string_view text(c.xml);
    for (long n = 1; n < c.line; ++n) text.remove_prefix(text.find('\n') + 1);
    long length = static_cast<long>(text.substr(0, text.find('\n')).size());
    EXPECT_GE(error.column, 1);
    EXPECT_LE(error.column, length + 1);
  }
}

// ---------------------------------------------------- outside the text

// The content of a file the XML points at must never reach the document.
TEST_F(XmlDomTest, NothingOutsideTheTextIsRead) {
  const std::string dir = test::MakeTempDir();
  ASSERT_FALSE(dir.empty());
  const std::string marker = "velto-secret-5d1c";
  const std::string path = dir + test::PathSeparator() + "secret.txt";
  { std::ofstream(path) << marker; }
  std::string url = path;
  for (char& c : url) c = c == '\\' ? '/' : c;
  url = (url.front() == '/' ? "file://" : "file:///") + url;

  const std::string cases[] = {
      "<!DOCTYPE a [<!ENTITY e SYSTEM \"" + url + "\">]><a>&e;</a>",
      "<!DOCTYPE a [<!ENTITY % p SYSTEM \"" + url + "\"> %p;]><a/>",
      "<!DOCTYPE a SYSTEM \"" + url + "\"><a/>",
      "<a xmlns:xi=\"http://www.w3.org/2001/XInclude\"><xi:include href=\"" + url +
          "\" parse=\"text\"/></a>",
  };
  for (const std::string& xml : cases) {
    SCOPED_TRACE(xml);
    ParseError error;
    Load(xml, &error);
    std::free(error.reason);
    std::optional<std::string> serialised = Xml(doc_.get());
    EXPECT_EQ(serialised.value_or("").find(marker), std::string::npos);
    if (NodeRef first = At()) {
      EXPECT_EQ(Text(first.get()).value_or("").find(marker), std::string::npos);
    }
  }
  test::RemoveTree(dir);
}

TEST_F(XmlDomTest, EntityExpansionStaysSmall) {
  // Ten to the ninth "lol"s if every reference were expanded.
  std::string xml = "<!DOCTYPE a [<!ENTITY l0 \"lol\">";
  for (int level = 1; level <= 9; ++level) {
    xml += "<!ENTITY l" + std::to_string(level) + " \"";
    for (int i = 0; i < 10; ++i) xml += "&l" + std::to_string(level - 1) + ";";
    xml += "\">";
  }
  xml += "]><a>&l9;</a>";
  ParseError error;
  Load(xml, &error);
  std::free(error.reason);
  constexpr size_t kLimit = 1 << 20;
  EXPECT_LT(Xml(doc_.get()).value_or("").size(), kLimit);
  if (NodeRef first = At()) {
    EXPECT_LT(Text(first.get()).value_or("").size(), kLimit);
  }
}

// ------------------------------------------------------------ serialised

TEST_F(XmlDomTest, SerialisedFormOfFlatContent) {
  struct Case {
    const char* xml;
    const char* serialised;
  };
  const Case cases[] = {
      {"<?xml version='1.0'  encoding='UTF-8'?><a/>",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a/>\r\n"},
      {"<!-- c --><a x='1'>t &amp; u</a>", "<!-- c -->\r\n<a x=\"1\">t &amp; u</a>\r\n"},
      {"<a>x\r\ny</a>", "<a>x\r\ny</a>\r\n"},
      {"<a></a>", "<a/>\r\n"},
      {"<a>  kept  </a>", "<a>  kept  </a>\r\n"},
      {"<a:b xmlns:a=\"urn:x\">v<![CDATA[<c>]]></a:b>",
       "<a:b xmlns:a=\"urn:x\">v<![CDATA[<c>]]></a:b>\r\n"},
      {"<a>x <b/> y</a>", "<a>x <b/> y</a>\r\n"},
      {"<a s=\"&lt;&amp;&quot;&#10;&gt;'\"/>", "<a s=\"&lt;&amp;&quot;&#10;&gt;'\"/>\r\n"},
      {"<a>&#233;&#x1F600;</a>", "<a>\xC3\xA9\xF0\x9F\x98\x80</a>\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    ASSERT_TRUE(Load(c.xml));
    EXPECT_EQ(Xml(doc_.get()), c.serialised);
  }
}

// Where the DOMs lay out nested elements differently, the form must still
// read back into the same tree.
TEST_F(XmlDomTest, SerialisedFormReadsBackIntoTheSameTree) {
  const char* const cases[] = {
      "<a>\n  <b>x</b>\n  <c/>\n</a>",
      "<Config xmlns=\"urn:c\"><p:Inner xmlns:p=\"urn:p\" k=\"v\"><Leaf> one two </Leaf>"
      "</p:Inner><!--note--><Empty/></Config>",
      "<a>\n <b><![CDATA[ raw ]]></b>\n <c>1<d>2</d>3</c>\n</a>",
  };
  for (const char* xml : cases) {
    SCOPED_TRACE(xml);
    ASSERT_TRUE(Load(xml));
    std::string before = Dump(At().get());
    std::optional<std::string> serialised = Xml(doc_.get());
    ASSERT_TRUE(serialised.has_value());
    DocumentRef copy = NewDocument();
    ASSERT_TRUE(xml::Load(copy.get(), *serialised)) << *serialised;
    NodeRef first(g_dom->first_child(copy.get()));
    EXPECT_EQ(Dump(first.get()), before) << *serialised;
  }
}

}  // namespace
}  // namespace velto::xml
