// SPDX-License-Identifier: GPL-3.0-or-later
#include <pugixml.hpp>

#include "moviletta/xml/xml_document.h"

namespace moviletta {
namespace {

class PugiXmlDocument : public XmlDocument {
 public:
  bool LoadXml(std::string_view text) override {
    // Text of blanks only is a value too.
    const pugi::xml_parse_result ok =
        doc_.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_ws_pcdata);
    if (!ok) doc_.reset();
    return static_cast<bool>(ok);
  }

  std::optional<std::string> FirstElementText(std::string_view name) const override {
    const pugi::xml_node element = doc_.find_node(
        [&](pugi::xml_node n) { return n.type() == pugi::node_element && name == n.name(); });
    if (!element) return std::nullopt;
    static const pugi::xpath_query kTextContent("string(.)");  // all descendant text
    return kTextContent.evaluate_string(pugi::xpath_node(element));
  }

 private:
  pugi::xml_document doc_;
};

}  // namespace

std::unique_ptr<XmlDocument> PugiXmlDocumentFactory::Create() {
  return std::make_unique<PugiXmlDocument>();
}

}  // namespace moviletta
