// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "moviletta/xml/xml_document.h"

namespace moviletta {
namespace {

TEST(XmlDocument, FindsTheFirstElementOfANameAtAnyDepth) {
  auto doc = PugiXmlDocumentFactory().Create();
  ASSERT_TRUE(
      doc->LoadXml("<ROOT><A><B><FPS> 12 </FPS></B></A><FPS>99</FPS><fps>1</fps>"
                   "<MIX>one<I>two</I><![CDATA[<three>]]></MIX><EMPTY/></ROOT>"));
  EXPECT_EQ(doc->FirstElementText("FPS"), " 12 ");
  EXPECT_EQ(doc->FirstElementText("fps"), "1");
  EXPECT_EQ(doc->FirstElementText("MIX"), "onetwo<three>");
  EXPECT_EQ(doc->FirstElementText("EMPTY"), "");
  EXPECT_EQ(doc->FirstElementText("Fps"), std::nullopt);
  EXPECT_EQ(doc->FirstElementText("ROOT"), " 12 991onetwo<three>");
}

TEST(XmlDocument, AMalformedDocumentHoldsNoElements) {
  auto doc = PugiXmlDocumentFactory().Create();
  ASSERT_TRUE(doc->LoadXml("<SITE>old</SITE>"));
  EXPECT_FALSE(doc->LoadXml("<SITE>new</SITE><unclosed>"));
  EXPECT_EQ(doc->FirstElementText("SITE"), std::nullopt);
  EXPECT_FALSE(doc->LoadXml(""));
}

}  // namespace
}  // namespace moviletta
