#include "bench/profile_text.h"

#include <gtest/gtest.h>

#include <string>

#if defined(KM4R_BENCH_PUGIXML)
#include <pugixml.hpp>
#endif

namespace km4r::bench::xmltext {
namespace {

#if defined(KM4R_BENCH_PUGIXML)
// What the Linux bench reads from the same text.
bool LibraryKeys(const std::string& xml, Keys* keys) {
  keys->clear();
  pugi::xml_document doc;
  if (!doc.load_string(xml.c_str(), pugi::parse_default | pugi::parse_declaration)) return false;
  const pugi::xml_node section = doc.document_element().child("Quorvix_KM4R_Pendant");
  for (pugi::xml_node n = section.first_child(); n; n = n.next_sibling())
    if (n.type() == pugi::node_element) keys->emplace_back(n.name(), n.child_value());
  return true;
}
#endif

struct ReadCase {
  const char* name;
  const char* xml;
  bool ok;
  Keys keys;
};

const ReadCase kReadCases[] = {
    {"plain",
     "<profile><Quorvix_KM4R_Pendant><A>1</A><B>22</B></Quorvix_KM4R_Pendant></profile>",
     true,
     {{"A", "1"}, {"B", "22"}}},
    {"declaration, comments, indentation and CRLF",
     "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- host -->\r\n<Host a='1'>\r\n"
     "\t<Quorvix_KM4R_Pendant>\r\n\t\t<A>1</A>\r\n\t\t<!-- x "
     "--><B/>\r\n\t</Quorvix_KM4R_Pendant>\r\n"
     "</Host>\r\n",
     true,
     {{"A", "1"}, {"B", ""}}},
    {"no section", "<profile><Other><A>1</A></Other></profile>", true, {}},
    {"section deeper than the root's children",
     "<p><x><Quorvix_KM4R_Pendant><A>1</A></Quorvix_KM4R_Pendant></x></p>",
     true,
     {}},
    {"first section and first text run count",
     "<p><Quorvix_KM4R_Pendant><A> <!--c-->7<!--c-->8</A><A>x<b>y</b></A></Quorvix_KM4R_Pendant>"
     "<Quorvix_KM4R_Pendant><Z>1</Z></Quorvix_KM4R_Pendant></p>",
     true,
     {{"A", "7"}, {"A", "x"}}},
    {"entities, references and line ends",
     "<p><Quorvix_KM4R_Pendant><A>&lt;&amp;&gt;&apos;&quot;&#65;&#x42;&bogus;&amp</A>"
     "<B>\r\n 5\r</B><C>&#233;</C></Quorvix_KM4R_Pendant></p>",
     true,
     {{"A", "<&>'\"AB&bogus;&amp"}, {"B", "\n 5\n"}, {"C", "\xC3\xA9"}}},
    {"CDATA counts even when blank",
     "<p><Quorvix_KM4R_Pendant><A><![CDATA[ ]]>9</A><B><![CDATA[a&lt;<]]></B>"
     "</Quorvix_KM4R_Pendant></p>",
     true,
     {{"A", " "}, {"B", "a&lt;<"}}},
    {"document type, instructions, text and a second root",
     "<!DOCTYPE p [<!ENTITY e \"v\">]><?pi x?>text<p><Quorvix_KM4R_Pendant><A>&e;</A>"
     "</Quorvix_KM4R_Pendant></p><q/>",
     true,
     {{"A", "&e;"}}},
    {"attributes with both quotes and '>' inside",
     "<p k=\"a>b\" j = 'c'><Quorvix_KM4R_Pendant v=\"1\"><A "
     "w='&gt;'>3</A></Quorvix_KM4R_Pendant></p>",
     true,
     {{"A", "3"}}},
    {"empty file", "", false, {}},
    {"declaration only", "<?xml version=\"1.0\"?>\n", false, {}},
    {"unclosed", "<profile><unclosed>", false, {}},
    {"mismatched end tag", "<a><b></a></b>", false, {}},
    {"end tag without a start", "</a>", false, {}},
    {"unquoted attribute", "<a x=1/>", false, {}},
    {"blank after '<'", "< a/>", false, {}},
    {"unterminated comment", "<a><!-- x</a>", false, {}},
    {"unterminated start tag", "<a", false, {}},
    {"not XML at all", "StepSize1=2\n", false, {}},
};

TEST(ProfileText, ReadsTheSectionAsTheXmlLibraryDoes) {
  for (const ReadCase& c : kReadCases) {
    SCOPED_TRACE(c.name);
    Keys keys;
    std::string error;
    EXPECT_EQ(PendantSectionKeys(c.xml, &keys, &error), c.ok) << error;
    EXPECT_EQ(keys, c.keys);
    if (!c.ok) {
      EXPECT_FALSE(error.empty());
    }
#if defined(KM4R_BENCH_PUGIXML)
    Keys library;
    EXPECT_EQ(LibraryKeys(c.xml, &library), c.ok);
    EXPECT_EQ(library, c.keys);
#endif
  }
}

struct EditCase {
  const char* name;
  const char* before;  // nullptr: no file yet
  const char* key;
  const char* value;
  Keys keys;          // the section afterwards
  const char* keeps;  // text that must survive the edit
};

const EditCase kEditCases[] = {
    {"new file", nullptr, "StepSize1", "4", {{"StepSize1", "4"}}, "<profile>"},
    {"empty root", "<profile/>", "A", "1", {{"A", "1"}}, "<profile>"},
    {"empty root with attributes", "<Host v='2' />", "A", "1", {{"A", "1"}}, "<Host v='2'>"},
    {"root without the section",
     "<H><Other>x</Other></H>",
     "A",
     "1",
     {{"A", "1"}},
     "<Other>x</Other>"},
    {"empty section", "<H><Quorvix_KM4R_Pendant/></H>", "A", "1", {{"A", "1"}}, "<H>"},
    {"new key goes last",
     "<H><Quorvix_KM4R_Pendant><B>2</B></Quorvix_KM4R_Pendant></H>",
     "A",
     "1",
     {{"B", "2"}, {"A", "1"}},
     "<B>2</B>"},
    {"key replaced whole, first one only",
     "<H><Quorvix_KM4R_Pendant><A>1<x>2</x>3</A><A>4</A></Quorvix_KM4R_Pendant></H>",
     "A",
     "9",
     {{"A", "9"}, {"A", "4"}},
     "<A>4</A>"},
    {"empty key filled",
     "<H><Quorvix_KM4R_Pendant><A/><B>2</B></Quorvix_KM4R_Pendant></H>",
     "A",
     "5",
     {{"A", "5"}, {"B", "2"}},
     "<B>2</B>"},
    {"value emptied",
     "<H><Quorvix_KM4R_Pendant><A>5</A></Quorvix_KM4R_Pendant></H>",
     "A",
     "",
     {{"A", ""}},
     "<H>"},
    {"value escaped", nullptr, "A", "a<b&c>d", {{"A", "a<b&c>d"}}, "&lt;"},
    {"a deeper section is not the section",
     "<H><x><Quorvix_KM4R_Pendant><A>1</A></Quorvix_KM4R_Pendant></x></H>",
     "A",
     "2",
     {{"A", "2"}},
     "<x><Quorvix_KM4R_Pendant><A>1</A></Quorvix_KM4R_Pendant></x>"},
    {"comments and CRLF kept",
     "<?xml version=\"1.0\"?>\r\n<H>\r\n\t<!-- note -->\r\n\t<Quorvix_KM4R_Pendant>\r\n\t\t<A>1</A>"
     "\r\n\t</Quorvix_KM4R_Pendant>\r\n</H>\r\n",
     "A",
     "3",
     {{"A", "3"}},
     "\t<!-- note -->\r\n"},
};

TEST(ProfileText, EditsOnlyTheElementConcerned) {
  for (const EditCase& c : kEditCases) {
    SCOPED_TRACE(c.name);
    std::string xml = c.before != nullptr ? c.before : "";
    std::string error;
    ASSERT_TRUE(EditPendantKey(&xml, c.before != nullptr, c.key, c.value, &error)) << error;
    Keys keys;
    ASSERT_TRUE(PendantSectionKeys(xml, &keys, &error)) << error << "\n" << xml;
    EXPECT_EQ(keys, c.keys) << xml;
    EXPECT_NE(xml.find(c.keeps), std::string::npos) << xml;
#if defined(KM4R_BENCH_PUGIXML)
    Keys library;
    ASSERT_TRUE(LibraryKeys(xml, &library)) << xml;
    EXPECT_EQ(library, c.keys);
#endif
  }
}

TEST(ProfileText, RefusesToEditWhatIsNotXml) {
  for (const ReadCase& c : kReadCases) {
    if (c.ok) continue;
    SCOPED_TRACE(c.name);
    std::string xml = c.xml;
    std::string error;
    EXPECT_FALSE(EditPendantKey(&xml, true, "A", "1", &error));
    EXPECT_EQ(xml, c.xml) << "the text must stay as it was";
  }
}

}  // namespace
}  // namespace km4r::bench::xmltext
