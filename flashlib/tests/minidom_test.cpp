#include "minidom.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using namespace kq::flashlib;

struct DocDeleter {
    void operator()(_mDOM_xmlDoc* doc) const { CminiDOM().FreeDoc(doc); }
};
using DocPtr = std::unique_ptr<_mDOM_xmlDoc, DocDeleter>;

DocPtr Load(const std::string& text) { return DocPtr(CminiDOM().LoadMemory(text.data(), text.size())); }

std::wstring Text(const _mDOM_xmlNode* node)
{
    std::wstring text;
    CminiDOM().GetText(node, text);
    return text;
}

TEST(MiniDom, RejectsMalformedDocuments)
{
    const char* const cases[] = {
        "",
        "<A><<B/></A>",
        "<A x=\"1></A>",        // the first '>' ends the tag, leaving the quote open
        "<A><!-- open </A>",
        "<A><![CDATA[ open </A>",
        "<A",
        "<?xml version=\"1.0\" encoding=\"KOI8-R\"?><A/>",
        "<!DOCTYPE A [ <!ENTITY x \"y\"> <A/>",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Load(text), nullptr);
    }
}

TEST(MiniDom, TextKeepsBlanksAndLaterRunReplacesEarlier)
{
    const auto doc = Load("<R>\n  <A> one two \n</A><B>first<!--c-->\n second<C/>third</B>loose</R>outside");
    ASSERT_NE(doc, nullptr);
    CminiDOM dom;
    EXPECT_EQ(Text(dom.FindPath(doc.get(), "R/A")), L" one two \n");
    EXPECT_EQ(Text(dom.FindPath(doc.get(), "R/B")), L"third");
    EXPECT_EQ(Text(dom.FindPath(doc.get(), "R")), L"loose");
    EXPECT_EQ(doc->last->type, kMDomElement);  // text outside any element is dropped
}

TEST(MiniDom, CDataAndCommentsAreNodesNotText)
{
    const auto doc = Load("<A>x<![CDATA[<y>]]]></A>");
    ASSERT_NE(doc, nullptr);
    const auto* a = doc->first;
    EXPECT_EQ(Text(a), L"x");
    const auto* cdata = a->last_child;
    ASSERT_NE(cdata, nullptr);
    EXPECT_EQ(cdata->type, kMDomCData);
    EXPECT_EQ(cdata->name, "cdata");
    EXPECT_EQ(cdata->value, "<y>]");
}

TEST(MiniDom, EntityReplacement)
{
    const auto doc = Load("<A v='&lt;&amp;lt;&gt;&quot;&apos;&copy;&#65;&x;&amp'>&amp;&copy;&nbsp;</A>");
    ASSERT_NE(doc, nullptr);
    std::wstring value;
    EXPECT_EQ(CminiDOM().GetAttribute(doc->first, "V", value), 2 * 22);
    EXPECT_EQ(value, L"<&lt;>\"'\u00A9&#65;&x;&amp");
    EXPECT_EQ(Text(doc->first), L"&\u00A9&nbsp;");
}

TEST(MiniDom, Attributes)
{
    const auto doc = Load("<A one = \"1\"\n two='2' Flag three=\"it's\"/>");
    ASSERT_NE(doc, nullptr);
    CminiDOM dom;
    std::wstring value;
    EXPECT_GT(dom.GetAttribute(doc->first, "ONE", value), 0);
    EXPECT_EQ(value, L"1");
    EXPECT_GT(dom.GetAttribute(doc->first, "Two", value), 0);
    EXPECT_EQ(value, L"2");
    EXPECT_EQ(dom.GetAttribute(doc->first, "flag", value), 0);  // present but without a value
    EXPECT_EQ(dom.GetAttribute(doc->first, "missing", value), 0);
    // A value ends at the next quote of either kind; the rest reads as further attributes.
    EXPECT_GT(dom.GetAttribute(doc->first, "three", value), 0);
    EXPECT_EQ(value, L"it");
}

TEST(MiniDom, EndTagClosesInnermostWithoutComparingNames)
{
    const auto doc = Load("<A><B></X><C/></A>");
    ASSERT_NE(doc, nullptr);
    CminiDOM dom;
    EXPECT_NE(dom.FindPath(doc.get(), "A/C"), nullptr);
    EXPECT_EQ(dom.FindPath(doc.get(), "A/B/C"), nullptr);
}

TEST(MiniDom, PathLookup)
{
    CminiDOM dom;
    // Without a declaration the first top-level node is the root, and the first step looks below it first.
    auto doc = Load("<R><R><X/></R><Y/></R>");
    ASSERT_NE(doc, nullptr);
    EXPECT_NE(dom.FindPath(doc.get(), "R/X"), nullptr);
    EXPECT_EQ(dom.FindPath(doc.get(), "R/Y"), nullptr);
    EXPECT_NE(dom.FindPath(doc.get(), "Y"), nullptr);  // found below the root
    EXPECT_EQ(dom.FindPath(doc.get(), "X"), nullptr);  // one level below only

    doc = Load("<?xml version=\"1.0\"?>\n<!DOCTYPE R [ <!ELEMENT R ANY> <!ENTITY e \"a>b\"> ]>\n<R><S><T/></S></R>");
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->version, "1.0");
    EXPECT_NE(dom.FindPath(doc.get(), "R/S/T"), nullptr);
    EXPECT_EQ(dom.FindPath(doc.get(), "R/T"), nullptr);
    EXPECT_EQ(dom.FindPath(doc.get(), "R//S"), nullptr);
    EXPECT_EQ(dom.FindPath(doc.get(), std::string(1000, 'R')), nullptr);
    EXPECT_NE(dom.FindElement(doc.get(), "T"), nullptr);

    const auto* declaration = doc->first->next;
    ASSERT_EQ(declaration->type, kMDomDeclaration);
    ASSERT_NE(declaration->first_child, nullptr);
    EXPECT_EQ(declaration->first_child->type, kMDomElementDecl);
    EXPECT_EQ(declaration->first_child->value, "R ANY");
    EXPECT_EQ(declaration->last_child->type, kMDomEntity);
    EXPECT_EQ(declaration->last_child->name, "entity");
}

TEST(MiniDom, DeepNestingDoesNotExhaustTheStack)
{
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += "<A>";
    }
    text += "<B/>";
    for (int i = 0; i < 20000; ++i) {
        text += "</A>";
    }
    const auto doc = Load(text);
    ASSERT_NE(doc, nullptr);
    EXPECT_NE(CminiDOM().FindElement(doc.get(), "B"), nullptr);
}

}  // namespace
