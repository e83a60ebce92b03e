// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace moviletta {

// A parsed XML document. Host thread only.
class XmlDocument {
 public:
  virtual ~XmlDocument() = default;

  // Parses `text`, replacing what the document held. Returns false when it is not well-formed;
  // the document then holds no elements.
  virtual bool LoadXml(std::string_view text) = 0;

  // Text content of the first element named `name` (case-sensitive, any depth, document order),
  // or nothing when there is no such element.
  virtual std::optional<std::string> FirstElementText(std::string_view name) const = 0;
};

class XmlDocumentFactory {
 public:
  virtual ~XmlDocumentFactory() = default;
  virtual std::unique_ptr<XmlDocument> Create() = 0;
};

// Documents on pugixml.
class PugiXmlDocumentFactory : public XmlDocumentFactory {
 public:
  std::unique_ptr<XmlDocument> Create() override;
};

}  // namespace moviletta
