// The XML document the profile store works on, one implementation per
// platform (posix: pugixml; win32: the MSXML DOM). Elements are small opaque
// handles owned by the document; nullptr means "none".
#pragma once

#include <memory>
#include <string>

namespace km4r::platform {

using XmlElement = void*;

enum class XmlLoadResult {
  Loaded,       // parsed; the document holds the file
  Missing,      // no file at the path: the document is empty
  Unreadable,   // exists but cannot be read (permissions, a directory, ...)
  Unparseable,  // read but not well-formed XML (or too large to hold)
};

class XmlDocument {
 public:
  virtual ~XmlDocument() = default;

  // Loads the whole file, keeping everything in it (declaration, doctype,
  // comments, processing instructions, whitespace) so Save writes back what
  // the store did not touch exactly as loaded. Entity expansion is off.
  virtual XmlLoadResult Load(const std::string& path) = 0;
  // Writes the document to a temporary file in the path's directory and
  // renames it over path, keeping an existing file's permissions; a crash
  // mid-save leaves the old file whole. False when nothing was written.
  virtual bool Save(const std::string& path) = 0;

  virtual XmlElement DocumentElement() = 0;
  // Appends a new root element to a document that has none.
  virtual XmlElement CreateDocumentElement(const char* name) = 0;
  // First direct child element of parent with this name, or nullptr.
  virtual XmlElement FirstChildElement(XmlElement parent, const char* name) = 0;
  // New element appended as parent's last child.
  virtual XmlElement AppendChildElement(XmlElement parent, const char* name) = 0;
  // Text content of the element (all descendant text).
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
