// XmlDocument over pugixml. Text is kept exactly as written: no entity or
// end-of-line conversion (so no entity can expand, and references come back
// as they were), whitespace-only text kept as nodes.
#include <cstdint>
#include <cstring>
#include <functional>
#include <pugixml.hpp>
#include <string_view>

#include "platform/xml_document.h"

namespace km4r::platform {

namespace {

// As a fragment, so that what lies around the root (the blanks and line
// ends between the declaration, comments and the root) is kept as nodes; Parse
// then refuses anything a document may not hold there.
constexpr unsigned kParseFlags = pugi::parse_cdata | pugi::parse_comments | pugi::parse_pi |
                                 pugi::parse_declaration | pugi::parse_doctype |
                                 pugi::parse_ws_pcdata | pugi::parse_fragment;
// Unescaped, as the text nodes hold their source; the declaration, if any,
// is a node of the document.
constexpr unsigned kWriteFlags =
    pugi::format_raw | pugi::format_no_escapes | pugi::format_no_declaration;

pugi::xml_node Node(XmlElement e) {
  return pugi::xml_node(static_cast<pugi::xml_node_struct*>(e));
}
XmlElement Handle(pugi::xml_node n) {
  return n ? n.internal_object() : nullptr;
}

struct SinkWriter : pugi::xml_writer {
  const ByteSink& sink;
  bool ok = true;
  explicit SinkWriter(const ByteSink& s) : sink(s) {}
  void write(const void* data, std::size_t size) override {
    if (ok) ok = sink(static_cast<const char*>(data), size);
  }
};

struct StringWriter : pugi::xml_writer {
  std::string* out;
  explicit StringWriter(std::string* o) : out(o) {}
  void write(const void* data, std::size_t size) override {
    out->append(static_cast<const char*>(data), size);
  }
};

bool HasByteOrderMark(std::string_view s) {
  for (std::string_view bom : {std::string_view("\xEF\xBB\xBF"), std::string_view("\xFE\xFF"),
                               std::string_view("\xFF\xFE")}) {
    if (s.substr(0, bom.size()) == bom) return true;
  }
  return s.substr(0, 4) == std::string_view("\0\0\xFE\xFF", 4);
}

// A blank in the code unit the text is written in, as its first bytes show.
std::string_view TrailingBlank(std::string_view s) {
  const auto starts = [s](std::string_view p) { return s.substr(0, p.size()) == p; };
  using std::string_view;
  if (starts(string_view("\0\0\xFE\xFF", 4)) || starts(string_view("\0\0\0<", 4)))
    return string_view("\0\0\0 ", 4);
  if (starts(string_view("\xFF\xFE\0\0", 4)) || starts(string_view("<\0\0\0", 4)))
    return string_view(" \0\0\0", 4);
  if (starts("\xFE\xFF") || starts(string_view("\0<", 2))) return string_view("\0 ", 2);
  if (starts("\xFF\xFE") || starts(string_view("<\0", 2))) return string_view(" \0", 2);
  return " ";
}

// Calls visit(node) entering each node below root in document order and
// leave() after its subtree; iterative, as a profile may nest deeply.
template <typename Visit, typename Leave>
void Walk(pugi::xml_node root, Visit visit, Leave leave) {
  pugi::xml_node n = root.first_child();
  while (n) {
    visit(n);
    if (pugi::xml_node child = n.first_child()) {
      n = child;
      continue;
    }
    for (;;) {
      leave();
      if (pugi::xml_node next = n.next_sibling()) {
        n = next;
        break;
      }
      n = n.parent();
      if (n == root) {
        n = pugi::xml_node();
        break;
      }
    }
  }
}

void Mix(std::uint64_t& h, std::uint64_t value) {
  h = (h ^ value) * 1099511628211ull;
  h ^= h >> 29;
}
// A string is mixed as its length and then eight bytes at a time, so the
// mixes of a document's strings cannot be split differently.
void Mix(std::uint64_t& h, const char* s) {
  const std::size_t n = *s == '\0' ? 0 : std::strlen(s);  // most names or values are empty
  Mix(h, n);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, s + i, 8);
    Mix(h, word);
  }
  if (i < n) {
    std::uint64_t tail = 0;
    for (; i < n; ++i) tail = (tail << 8) | static_cast<unsigned char>(s[i]);
    Mix(h, tail);
  }
}

class PugiXmlDocument final : public XmlDocument {
 public:
  bool Parse(std::string bytes) override {
    Clear();
    source_ = std::move(bytes);
    const bool hasNul = std::memchr(source_.data(), '\0', source_.size()) != nullptr;
    bom_ = HasByteOrderMark(source_);
    // Parsing in place, the parser takes the buffer's last character for its
    // terminator, which would cut the blanks after the root short by one: one
    // blank more, in the text's own code unit, is what it takes instead.
    source_ += TrailingBlank(source_);
    // In place: the tree's text points into source_, which the document keeps.
    pugi::xml_parse_result r =
        doc_.load_buffer_inplace(source_.data(), source_.size(), kParseFlags, pugi::encoding_auto);
    encoding_ = r.encoding;
    // A text it converted first keeps every character, the added blank too.
    if (r && encoding_ != pugi::encoding_utf8) DropAddedBlank();
    const bool eightBit = encoding_ == pugi::encoding_utf8 || encoding_ == pugi::encoding_latin1;
    // pugixml stops reading an 8-bit text at a NUL byte and would take the
    // rest as not there.
    if (!r || !WellFormedTopLevel() || (hasNul && eightBit)) {
      Clear();
      return false;
    }
    // Only a single-quoted value can hold a double quote.
    if (std::memchr(source_.data(), '\'', source_.size()) != nullptr) QuoteAttributes();
    return true;
  }

  using XmlDocument::Serialize;
  bool Serialize(const ByteSink& write) override {
    SinkWriter w(write);
    doc_.save(w, "", kWriteFlags | (bom_ ? pugi::format_write_bom : 0u), encoding_);
    return w.ok;
  }

  std::uint64_t Digest() override {
    std::uint64_t h = 14695981039346656037ull;
    Walk(
        doc_,
        [&h](pugi::xml_node n) {
          Mix(h, static_cast<std::uint64_t>(n.type()));
          Mix(h, n.name());
          Mix(h, n.value());
          for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
            Mix(h, 0x101);
            Mix(h, a.name());
            Mix(h, a.value());
          }
        },
        [&h] { Mix(h, 0x102); });
    return h;
  }

  std::string Release() override {
    doc_.reset();
    std::string storage = std::move(source_);
    Clear();
    return storage;
  }

  XmlElement DocumentElement() override { return Handle(doc_.document_element()); }

  XmlElement CreateDocumentElement(const char* name) override {
    if (!doc_.first_child()) {
      pugi::xml_node decl = doc_.append_child(pugi::node_declaration);
      decl.append_attribute("version") = "1.0";
      decl.append_attribute("encoding") = "UTF-8";
    }
    return Handle(doc_.append_child(name));
  }

  XmlElement FirstChildElement(XmlElement parent, const char* name) override {
    if (parent == nullptr) return nullptr;
    for (pugi::xml_node c : Node(parent).children()) {
      if (c.type() == pugi::node_element && (name == nullptr || std::strcmp(c.name(), name) == 0))
        return Handle(c);
    }
    return nullptr;
  }

  XmlElement NextSiblingElement(XmlElement element) override {
    if (element == nullptr) return nullptr;
    for (pugi::xml_node n = Node(element).next_sibling(); n; n = n.next_sibling()) {
      if (n.type() == pugi::node_element) return Handle(n);
    }
    return nullptr;
  }

  std::string Name(XmlElement element) override {
    return element == nullptr ? std::string() : std::string(Node(element).name());
  }

  XmlElement AppendChildElement(XmlElement parent, const char* name) override {
    if (parent == nullptr || name == nullptr) return nullptr;
    return Handle(Node(parent).append_child(name));
  }

  std::string Text(XmlElement element) override {
    std::string out;
    if (element == nullptr) return out;
    Walk(
        Node(element),
        [&out](pugi::xml_node n) {
          if (n.type() == pugi::node_pcdata) out += Unescaped(n.value());
          if (n.type() == pugi::node_cdata) out += n.value();
        },
        [] {});
    return out;
  }

  void SetText(XmlElement element, const char* text) override {
    if (element == nullptr) return;
    pugi::xml_node e = Node(element);
    while (e.first_child()) e.remove_child(e.first_child());
    if (text != nullptr && *text != '\0') {
      // Held escaped, as parsed text is.
      e.append_child(pugi::node_pcdata).set_value(Escaped(text).c_str());
    }
  }

  void Remove(XmlElement element) override {
    if (element == nullptr) return;
    pugi::xml_node e = Node(element);
    pugi::xml_node parent = e.parent();
    if (!parent) return;
    pugi::xml_node before = e.previous_sibling(), after = e.next_sibling();
    parent.remove_child(e);
    // The text on either side becomes one run, as it will read back.
    if (before.type() == pugi::node_pcdata && after.type() == pugi::node_pcdata) {
      before.set_value((std::string(before.value()) + after.value()).c_str());
      parent.remove_child(after);
    }
  }

 private:
  void DropAddedBlank() {
    pugi::xml_node last = doc_.last_child();
    if (last.type() != pugi::node_pcdata) return;
    std::string value = last.value();
    if (!value.empty() && value.back() == ' ') value.pop_back();
    if (value.empty()) {
      doc_.remove_child(last);
    } else {
      last.set_value(value.c_str());
    }
  }

  // One root element; around it only blanks, comments and processing
  // instructions, the declaration first and the document type before the
  // root. (Text after the root, such as what a cut-short rewrite leaves, is
  // what a strict reader refuses.)
  bool WellFormedTopLevel() const {
    int elements = 0;
    bool first = true;
    for (pugi::xml_node n = doc_.first_child(); n; n = n.next_sibling(), first = false) {
      switch (n.type()) {
        case pugi::node_element:
          ++elements;
          break;
        case pugi::node_pcdata:
          if (std::strspn(n.value(), " \t\r\n") != std::strlen(n.value())) return false;
          break;
        case pugi::node_declaration:
          if (!first) return false;
          break;
        case pugi::node_doctype:
          if (elements != 0) return false;
          break;
        case pugi::node_comment:
        case pugi::node_pi:
          break;
        default:
          return false;
      }
    }
    return elements == 1;
  }

  void Clear() {
    doc_.reset();
    source_.clear();
    bom_ = false;
    encoding_ = pugi::encoding_utf8;
  }

  // Attribute values are held as written, and the writer puts them in double
  // quotes: a double quote inside a single-quoted value becomes its reference.
  void QuoteAttributes() {
    Walk(
        doc_,
        [](pugi::xml_node n) {
          for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
            const char* v = a.value();
            if (std::strchr(v, '"') == nullptr) continue;
            std::string quoted;
            for (; *v != '\0'; ++v)
              quoted += *v == '"' ? std::string("&quot;") : std::string(1, *v);
            a.set_value(quoted.c_str());
          }
        },
        [] {});
  }

  // pugixml's own reference decoding, on one run of text as written.
  static std::string Unescaped(const char* raw) {
    if (std::strchr(raw, '&') == nullptr) return raw;
    const std::string wrapped = std::string("<t>") + raw + "</t>";
    pugi::xml_document t;
    if (!t.load_buffer(wrapped.data(), wrapped.size(), pugi::parse_escapes, pugi::encoding_utf8))
      return raw;
    return t.first_child().child_value();
  }

  // pugixml's own escaping of a text node.
  static std::string Escaped(const char* text) {
    pugi::xml_document t;
    t.append_child(pugi::node_pcdata).set_value(text);
    std::string out;
    StringWriter w(&out);
    t.save(w, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return out;
  }

  pugi::xml_document doc_;
  std::string source_;
  bool bom_ = false;
  pugi::xml_encoding encoding_ = pugi::encoding_utf8;
};

}  // namespace

std::unique_ptr<XmlDocument> CreateXmlDocument() {
  return std::make_unique<PugiXmlDocument>();
}

bool ProfilePathUsable() {
  return true;
}

}  // namespace km4r::platform
