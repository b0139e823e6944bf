// XmlDocument over pugixml. The profile belongs to the host, so the save
// copies every byte of the file that was not changed straight from what was
// read: only elements below which something changed are written anew, and of
// those only the start tag's tail and the end tag can differ.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <pugixml.hpp>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/xml_document.h"

namespace km4r::platform {

namespace {

// Anything larger is no profile; refusing it keeps memory bounded.
constexpr std::size_t kMaxProfileBytes = std::size_t{64} << 20;

// Text stays exactly as written: no entity or end-of-line conversion (so no
// entity can expand either), whitespace-only text kept as nodes.
constexpr unsigned kParseFlags = pugi::parse_cdata | pugi::parse_comments | pugi::parse_pi |
                                 pugi::parse_declaration | pugi::parse_doctype |
                                 pugi::parse_ws_pcdata;

constexpr std::size_t npos = std::string_view::npos;
constexpr std::size_t kCheckedRewriteLimit = 8u << 20;

XmlLoadResult ReadWholeFile(const std::string& path, std::string& out) {
  out.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? XmlLoadResult::Missing : XmlLoadResult::Unreadable;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return XmlLoadResult::Unreadable;
  }
  if (static_cast<unsigned long long>(st.st_size) > kMaxProfileBytes) {
    ::close(fd);
    return XmlLoadResult::Unparseable;
  }
  out.reserve(static_cast<std::size_t>(st.st_size));
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      out.clear();
      return XmlLoadResult::Unreadable;
    }
    if (n == 0) break;
    if (out.size() + static_cast<std::size_t>(n) > kMaxProfileBytes) {
      ::close(fd);
      out.clear();
      return XmlLoadResult::Unparseable;
    }
    out.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return XmlLoadResult::Loaded;
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes next to the file and renames over it, so a failed or interrupted
// save never leaves a half-written profile behind.
bool ReplaceFile(const std::string& path, const std::string& data) {
  if (path.empty()) return false;
  std::string target = path;
  struct stat st {};
  bool exists = ::lstat(path.c_str(), &st) == 0;
  if (exists && S_ISLNK(st.st_mode)) {
    // Replace the file the link points at, not the link.
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return false;
    target = resolved;
    std::free(resolved);
    exists = ::stat(target.c_str(), &st) == 0;
  }
  if (exists && !S_ISREG(st.st_mode)) return false;

  std::size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = dir + "." + base + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(attempt);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  bool ok = WriteAll(fd, data);
  if (ok && exists) {
    ok = ::fchmod(fd, st.st_mode & 07777) == 0;
    // Ownership can only be kept where we may; the content matters more.
    if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
    }
  }
  if (ok) ok = ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

bool StartsWith(std::string_view s, std::size_t at, std::string_view prefix) {
  return s.size() >= at && s.substr(at, prefix.size()) == prefix;
}

// Index just past the '>' closing the tag that starts at at; quotes respected.
std::size_t TagEnd(std::string_view s, std::size_t at) {
  char quote = 0;
  for (std::size_t i = at + 1; i < s.size(); ++i) {
    char c = s[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i + 1;
    }
  }
  return npos;
}

std::size_t PastToken(std::string_view s, std::size_t from, std::string_view token) {
  std::size_t i = s.find(token, from);
  return i == npos ? npos : i + token.size();
}

// Index just past the end of the element whose start tag begins at at.
std::size_t ElementEnd(std::string_view s, std::size_t at) {
  int depth = 0;
  std::size_t i = at;
  while (i < s.size()) {
    if (s[i] != '<') {
      i = s.find('<', i);
      if (i == npos) return npos;
      continue;
    }
    if (StartsWith(s, i, "<!--")) {
      i = PastToken(s, i + 4, "-->");
    } else if (StartsWith(s, i, "<![CDATA[")) {
      i = PastToken(s, i + 9, "]]>");
    } else if (StartsWith(s, i, "<?")) {
      i = PastToken(s, i + 2, "?>");
    } else if (StartsWith(s, i, "</")) {
      i = TagEnd(s, i);
      if (i == npos || --depth <= 0) return i;
    } else {
      std::size_t end = TagEnd(s, i);
      if (end == npos) return npos;
      if (s[end - 2] != '/') {
        ++depth;
      } else if (depth == 0) {
        return end;
      }
      i = end;
    }
    if (i == npos) return npos;
  }
  return npos;
}

void AppendUtf8(std::string& out, unsigned long cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Resolves the predefined and numeric references of raw text; any other
// reference stays as written (DTD entities are never expanded).
void AppendUnescaped(std::string& out, std::string_view raw) {
  static constexpr struct {
    std::string_view name;
    char c;
  } kNamed[] = {{"lt;", '<'}, {"gt;", '>'}, {"amp;", '&'}, {"quot;", '"'}, {"apos;", '\''}};
  std::size_t i = 0;
  while (i < raw.size()) {
    if (raw[i] != '&') {
      out += raw[i++];
      continue;
    }
    std::string_view rest = raw.substr(i + 1);
    bool done = false;
    for (const auto& e : kNamed) {
      if (rest.substr(0, e.name.size()) == e.name) {
        out += e.c;
        i += 1 + e.name.size();
        done = true;
        break;
      }
    }
    if (!done && !rest.empty() && rest[0] == '#') {
      bool hex = rest.size() > 1 && (rest[1] == 'x' || rest[1] == 'X');
      std::size_t j = hex ? 2 : 1;
      unsigned long cp = 0;
      std::size_t digits = 0;
      for (; j < rest.size() && digits < 8; ++j, ++digits) {
        char c = rest[j];
        int v = c >= '0' && c <= '9'                            ? c - '0'
                : hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10
                                                                : -1;
        if (v < 0) break;
        cp = cp * (hex ? 16 : 10) + static_cast<unsigned long>(v);
      }
      if (digits > 0 && j < rest.size() && rest[j] == ';' && cp <= 0x10FFFF) {
        AppendUtf8(out, cp);
        i += 1 + j + 1;
        done = true;
      }
    }
    if (!done) out += raw[i++];
  }
}

std::string Escaped(const char* text) {
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    switch (*p) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += *p;
    }
  }
  return out;
}

pugi::xml_node Node(XmlElement e) {
  return pugi::xml_node(static_cast<pugi::xml_node_struct*>(e));
}
XmlElement Handle(pugi::xml_node n) {
  return n ? n.internal_object() : nullptr;
}

struct StringWriter : pugi::xml_writer {
  std::string out;
  void write(const void* data, std::size_t size) override {
    out.append(static_cast<const char*>(data), size);
  }
};

class PugiXmlDocument final : public XmlDocument {
 public:
  XmlLoadResult Load(const std::string& path) override {
    Clear();
    XmlLoadResult read = ReadWholeFile(path, original_);
    if (read != XmlLoadResult::Loaded) {
      original_.clear();
      return read;
    }
    if (original_.find_first_not_of(" \t\r\n") == npos) return XmlLoadResult::Loaded;

    pugi::xml_encoding encoding = pugi::encoding_utf8;
    if (StartsWith(original_, 0, "\xEF\xBB\xBF")) bomLength_ = 3;
    if (LooksWide(original_)) {
      // UTF-16/32 files go through pugixml's own conversion and writer.
      spliced_ = false;
      pugi::xml_parse_result r =
          doc_.load_buffer(original_.data(), original_.size(), kParseFlags, pugi::encoding_auto);
      wideEncoding_ = r.encoding;
      hadBom_ = StartsWithBom(original_);
      if (!r) {
        Clear();
        return XmlLoadResult::Unparseable;
      }
      return XmlLoadResult::Loaded;
    }
    // A NUL byte is never part of an 8-bit XML document; pugixml would stop
    // reading at it and the rewrite would splice the tail in the wrong place.
    if (original_.find('\0') != npos) {
      Clear();
      return XmlLoadResult::Unparseable;
    }
    buffer_.assign(original_.begin() + static_cast<std::ptrdiff_t>(bomLength_), original_.end());
    buffer_.push_back('\0');
    pugi::xml_parse_result r =
        doc_.load_buffer_inplace(buffer_.data(), buffer_.size() - 1, kParseFlags, encoding);
    if (!r || !doc_.document_element()) {
      Clear();
      return XmlLoadResult::Unparseable;
    }
    return XmlLoadResult::Loaded;
  }

  bool Save(const std::string& path) override {
    if (path.empty()) return false;
    std::string out;
    if (!spliced_) {
      StringWriter w;
      unsigned flags = pugi::format_raw | pugi::format_no_escapes;
      if (hadBom_) flags |= pugi::format_write_bom;
      doc_.save(w, "", flags, wideEncoding_);
      out = std::move(w.out);
    } else {
      out = Serialize();
      // The rewrite must describe exactly the document in memory. pugixml
      // reads some malformed files leniently (a declaration that swallows the
      // elements after it, say); rather than write such a file back changed,
      // it is left alone.
      // Checking costs two more copies of the document, so very large
      // profiles (far beyond a host's usual size) are written unchecked.
      if (out.size() <= kCheckedRewriteLimit && !Describes(out)) return false;
    }
    return ReplaceFile(path, out);
  }

  XmlElement DocumentElement() override { return Handle(doc_.document_element()); }

  XmlElement CreateDocumentElement(const char* name) override {
    pugi::xml_node n = doc_.append_child(name);
    MarkDirty(n);
    return Handle(n);
  }

  XmlElement FirstChildElement(XmlElement parent, const char* name) override {
    if (parent == nullptr || name == nullptr) return nullptr;
    for (pugi::xml_node c : Node(parent).children()) {
      if (c.type() == pugi::node_element && std::strcmp(c.name(), name) == 0) return Handle(c);
    }
    return nullptr;
  }

  XmlElement AppendChildElement(XmlElement parent, const char* name) override {
    if (parent == nullptr || name == nullptr) return nullptr;
    pugi::xml_node n = Node(parent).append_child(name);
    MarkDirty(n);
    return Handle(n);
  }

  std::string Text(XmlElement element) override {
    std::string out;
    if (element != nullptr) CollectText(Node(element), out);
    return out;
  }

  void SetText(XmlElement element, const char* text) override {
    if (element == nullptr) return;
    pugi::xml_node e = Node(element);
    while (e.first_child()) e.remove_child(e.first_child());
    if (text != nullptr && *text != '\0') {
      // Stored as it will be written: parsed text is kept escaped too.
      e.append_child(pugi::node_pcdata).set_value(Escaped(text).c_str());
    }
    MarkDirty(e);
  }

  void Remove(XmlElement element) override {
    if (element == nullptr) return;
    pugi::xml_node e = Node(element);
    pugi::xml_node parent = e.parent();
    if (!parent) return;
    MarkDirty(parent);
    parent.remove_child(e);
  }

 private:
  static bool StartsWithBom(std::string_view s) {
    return StartsWith(s, 0, "\xFE\xFF") || StartsWith(s, 0, "\xFF\xFE") ||
           StartsWith(s, 0, std::string_view("\0\0\xFE\xFF", 4));
  }
  static bool LooksWide(std::string_view s) {
    if (StartsWithBom(s)) return true;
    // Without a byte-order mark a wide file shows a zero byte beside '<'.
    return s.size() >= 2 && ((s[0] == '\0' && s[1] == '<') || (s[0] == '<' && s[1] == '\0'));
  }

  void Clear() {
    doc_.reset();
    original_.clear();
    buffer_.clear();
    dirty_.clear();
    bomLength_ = 0;
    spliced_ = true;
    hadBom_ = false;
    wideEncoding_ = pugi::encoding_utf8;
  }

  void MarkDirty(pugi::xml_node n) {
    for (; n; n = n.parent()) dirty_.insert(n.internal_object());
  }
  bool Dirty(pugi::xml_node n) const { return dirty_.count(n.internal_object()) != 0; }

  // Offset in original_ of a pointer into the parse buffer, npos for text
  // that was set after loading.
  std::size_t SourceOffset(const char* p) const {
    if (buffer_.empty() || p < buffer_.data() || p >= buffer_.data() + buffer_.size()) return npos;
    return static_cast<std::size_t>(p - buffer_.data()) + bomLength_;
  }

  void CollectText(pugi::xml_node n, std::string& out) {
    for (pugi::xml_node c : n.children()) {
      switch (c.type()) {
        case pugi::node_pcdata:
          AppendUnescaped(out, c.value());
          break;
        case pugi::node_cdata:
          out += c.value();
          break;
        case pugi::node_element:
          CollectText(c, out);
          break;
        default:
          break;
      }
    }
  }

  // Whether text reads back as the document in memory. Both are compared as
  // pugixml's plain writer renders them, which also evens out what a parse
  // cannot keep apart (two text nodes left side by side by a removal).
  bool Describes(const std::string& text) const {
    pugi::xml_document check;
    const std::size_t skip = std::min(bomLength_, text.size());
    if (!check.load_buffer(text.data() + skip, text.size() - skip, kParseFlags,
                           pugi::encoding_utf8))
      return false;
    return PlainText(check) == PlainText(doc_);
  }

  static std::string PlainText(const pugi::xml_document& doc) {
    StringWriter w;
    doc.save(w, "", pugi::format_raw | pugi::format_no_escapes | pugi::format_no_declaration,
             pugi::encoding_utf8);
    return std::move(w.out);
  }

  std::string Serialize() {
    pugi::xml_node root = doc_.document_element();
    std::string out;
    if (!root) return original_;
    std::size_t nameAt = SourceOffset(root.name());
    if (nameAt == npos || nameAt == 0) {
      out = original_;
      WriteNode(root, out);
      return out;
    }
    std::size_t start = nameAt - 1;
    std::size_t end = ElementEnd(original_, start);
    if (end == npos) end = original_.size();
    out.reserve(original_.size() + 1024);
    out.append(original_, 0, start);
    WriteNode(root, out);
    out.append(original_, end, npos);
    return out;
  }

  void WriteNode(pugi::xml_node n, std::string& out) {
    switch (n.type()) {
      case pugi::node_pcdata:
        out += n.value();
        return;
      case pugi::node_cdata:
        out += "<![CDATA[";
        out += n.value();
        out += "]]>";
        return;
      case pugi::node_comment:
        out += "<!--";
        out += n.value();
        out += "-->";
        return;
      case pugi::node_element:
        WriteElement(n, out);
        return;
      default:
        break;
    }
    // Processing instructions and anything else: the source as written.
    std::size_t at = SourceOffset(n.name());
    if (n.type() == pugi::node_pi && at != npos && at >= 2) {
      std::size_t end = PastToken(original_, at, "?>");
      if (end != npos) {
        out.append(original_, at - 2, end - (at - 2));
        return;
      }
    }
    StringWriter w;
    n.print(w, "", pugi::format_raw | pugi::format_no_escapes);
    out += w.out;
  }

  void WriteElement(pugi::xml_node e, std::string& out) {
    std::size_t nameAt = SourceOffset(e.name());
    std::size_t start = nameAt == npos || nameAt == 0 ? npos : nameAt - 1;
    if (start != npos && !Dirty(e)) {
      std::size_t end = ElementEnd(original_, start);
      if (end != npos) {
        out.append(original_, start, end - start);
        return;
      }
    }
    bool hasChildren = static_cast<bool>(e.first_child());
    std::size_t tagEnd = start == npos ? npos : TagEnd(original_, start);
    if (tagEnd == npos) {
      // An element of our own making: no attributes.
      out += '<';
      out += e.name();
      out += hasChildren ? ">" : "/>";
    } else {
      std::string_view tag(original_.data() + start, tagEnd - start);
      bool selfClosing = tag.size() >= 2 && tag[tag.size() - 2] == '/';
      if (selfClosing && hasChildren) {
        out.append(tag.substr(0, tag.size() - 2));
        out += '>';
      } else {
        out.append(tag);
        if (!selfClosing && !hasChildren) {
          out += "</";
          out += e.name();
          out += '>';
        }
      }
    }
    if (!hasChildren) return;
    for (pugi::xml_node c : e.children()) WriteNode(c, out);
    out += "</";
    out += e.name();
    out += '>';
  }

  pugi::xml_document doc_;
  std::string original_;
  std::vector<char> buffer_;
  std::size_t bomLength_ = 0;
  bool spliced_ = true;
  bool hadBom_ = false;
  pugi::xml_encoding wideEncoding_ = pugi::encoding_utf8;
  std::unordered_set<const void*> dirty_;
};

}  // namespace

std::unique_ptr<XmlDocument> CreateXmlDocument() {
  return std::make_unique<PugiXmlDocument>();
}

bool ProfilePathUsable() {
  return true;
}

}  // namespace km4r::platform
