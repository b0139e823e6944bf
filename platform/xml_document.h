// The XML document the profile store works on, one implementation per
// platform (posix: pugixml; win32: the MSXML DOM). It parses and produces
// bytes only: files are the store's business (platform/profile_file.h).
// Elements are small opaque handles owned by the document; nullptr means
// "none".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace km4r::platform {

using XmlElement = void*;
// Takes the next piece of a text being written; false stops the writing.
using ByteSink = std::function<bool(const char* data, std::size_t size)>;

class XmlDocument {
 public:
  virtual ~XmlDocument() = default;

  // Parses a whole profile as it is stored: the encoding comes from its
  // byte-order mark or declaration. Keeps every node (declaration, document
  // type, comments, processing instructions, whitespace) and its text;
  // entity references are never expanded. An 8-bit text with a NUL byte is
  // not XML. False, leaving the document empty, when the text is refused.
  virtual bool Parse(std::string bytes) = 0;
  // The document as text in the encoding it was parsed from (with its
  // byte-order mark if it had one); UTF-8 for a document built from nothing.
  // Written piece by piece, so it need not be held whole besides the tree.
  virtual bool Serialize(const ByteSink& write) = 0;
  bool Serialize(std::string* bytes) {
    bytes->clear();
    return Serialize([bytes](const char* data, std::size_t size) {
      bytes->append(data, size);
      return true;
    });
  }
  // Why Serialize failed, where the document can tell (an encoding the
  // system cannot write, a character the encoding cannot hold).
  virtual std::string WhyNotSerialized() { return {}; }
  // A digest of every node, its name, text and attributes in order: equal
  // digests mean equal documents, so a written text can be checked against
  // the document without holding both at once.
  virtual std::uint64_t Digest() = 0;
  // Empties the document and hands back the storage its text was parsed
  // into (empty where the document keeps none), for reuse.
  virtual std::string Release() { return {}; }

  virtual XmlElement DocumentElement() = 0;
  // Appends a new root element to a document that has none.
  virtual XmlElement CreateDocumentElement(const char* name) = 0;
  // First direct child element of parent with this name (any name when name
  // is nullptr), or nullptr.
  virtual XmlElement FirstChildElement(XmlElement parent, const char* name) = 0;
  // The next element among element's siblings, or nullptr.
  virtual XmlElement NextSiblingElement(XmlElement element) = 0;
  virtual std::string Name(XmlElement element) = 0;
  // New element appended as parent's last child.
  virtual XmlElement AppendChildElement(XmlElement parent, const char* name) = 0;
  // Text content of the element (all descendant text), UTF-8.
  virtual std::string Text(XmlElement element) = 0;
  // Replaces the element's content with one text node.
  virtual void SetText(XmlElement element, const char* text) = 0;
  // Removes the element from its parent.
  virtual void Remove(XmlElement element) = 0;
};

// A new empty document, or nullptr when the platform cannot create one (the
// store then behaves as for an empty file and never saves).
std::unique_ptr<XmlDocument> CreateXmlDocument();

// Whether the profile path may be used at all on this system (the Windows
// layer answers from the platform version; elsewhere true).
bool ProfilePathUsable();

}  // namespace km4r::platform
