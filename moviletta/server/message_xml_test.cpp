// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/server/message_xml.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "moviletta/common/error.h"
#include "moviletta/xml/xml_text.h"

namespace moviletta {
namespace {

const MessageContext kContext{"-1", "1.6", "0", -1};

std::string Build(const std::string& recipients, const std::string& message = "Hi",
                  std::string* section = nullptr) {
  std::string scratch;
  return BuildMessageXml(7, "Ann", "A1", recipients, message, "1", 3, kContext,
                         section ? *section : scratch);
}

TEST(MessageXml, IsTheDocumentOfTheServiceByteForByte) {
  EXPECT_EQ(
      Build("Bob,555,B1;Cy,556,C1,p,q,r"),
      "<?xml version=\"1.0\"?><MLMESSAGE><SENDER><INSTALLATIONID>-1</INSTALLATIONID><USERID>7</"
      "USERID><FROM>Ann</FROM><FROMEMAIL>A1</FROMEMAIL></SENDER><MESSAGE><TEXT>Hi</"
      "TEXT><PUBLISH>1</PUBLISH><SKINID>-1</SKINID></MESSAGE><RECIPIENTS><RECIPIENT><NAME>Bob</"
      "NAME><CELL>555</CELL><EMAIL>B1</EMAIL></RECIPIENT><RECIPIENT><NAME>Cy</NAME><CELL>556</"
      "CELL><EMAIL>C1</EMAIL><ADD_REC1>p</ADD_REC1><ADD_REC2>q</ADD_REC2><ADD_REC3>r</ADD_REC3></"
      "RECIPIENT></RECIPIENTS><SYSTEM><VERSION>1.6</VERSION><CONVERTOR>0</"
      "CONVERTOR><SITESETID>3</SITESETID></SYSTEM></MLMESSAGE>");
  EXPECT_NE(Build("").find("<RECIPIENTS></RECIPIENTS>"), std::string::npos);
  const std::string seven = Build("A,1,a,x,y,z,ignored");
  EXPECT_NE(seven.find("<ADD_REC3>z</ADD_REC3></RECIPIENT>"), std::string::npos);
  EXPECT_EQ(seven.find("ignored"), std::string::npos);
}

TEST(MessageXml, RecipientEntriesOfTheWrongShapeFail) {
  for (const char* list :
       {"Bob,555,B1;", "Bob,555,B1;;Cy,1,c", "Bob,555", "Bob,555,B1,p", "Bob,555,B1,p,q", ";"}) {
    std::string section;
    try {
      Build(list, "Hi", &section);
      ADD_FAILURE() << list << " was accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), err::kSubscriptOutOfRange) << list;
      EXPECT_EQ(section, "recipients") << list;
    }
  }
}

TEST(MessageXml, ValuesAreEscapedSoThatAReaderGetsThemBack) {
  const std::string tricky = "a < b & c > \"d\" 'e' \xc3\xa9\t\n line\r\nnext\r";
  const std::string document = Build("N&1,<5>,e\"m", tricky + "\x01\x1f" + "\xff");
  pugi::xml_document parsed;
  // Any XML reader turns a raw carriage return into a line feed; a reference keeps it.
  ASSERT_TRUE(parsed.load_string(document.c_str(), pugi::parse_default | pugi::parse_eol))
      << document;
  const pugi::xml_node message = parsed.child("MLMESSAGE");
  EXPECT_EQ(std::string(message.child("MESSAGE").child_value("TEXT")), tricky + "\xef\xbf\xbd")
      << "control characters dropped, a stray byte replaced";
  const pugi::xml_node recipient = message.child("RECIPIENTS").child("RECIPIENT");
  EXPECT_EQ(std::string(recipient.child_value("NAME")), "N&1");
  EXPECT_EQ(std::string(recipient.child_value("CELL")), "<5>");
  EXPECT_EQ(XmlLeaf("X", "\xed\xa0\x80"), "<X>\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd</X>")
      << "a UTF-16 surrogate is not UTF-8";
}

}  // namespace
}  // namespace moviletta
