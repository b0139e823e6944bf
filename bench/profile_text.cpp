#include "bench/profile_text.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <system_error>

#include "bench/profile_file.h"

namespace km4r::bench::xmltext {

namespace {

constexpr std::size_t kNone = std::string::npos;

struct Element {
  std::string name;
  std::size_t open = 0;     // '<' of the start tag
  std::size_t openEnd = 0;  // just after the start tag
  std::size_t close = 0;    // '<' of the end tag (kNone when written <x/>)
  int parent = -1;
  std::vector<int> children;
  bool hasText = false;
  std::string text;
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool IsNameStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || u >= 0x80;
}
bool IsNameChar(char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

void AppendUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Line ends become "\n"; with entities, the five named ones and character
// references are replaced (anything else stays as written). A decoded NUL
// ends the text.
std::string Decode(std::string_view raw, bool entities) {
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '\r') {
      out += '\n';
      if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
      continue;
    }
    if (c != '&' || !entities) {
      out += c;
      continue;
    }
    const std::size_t semi = raw.find(';', i);
    if (semi == kNone) {
      out += c;
      continue;
    }
    const std::string_view name = raw.substr(i + 1, semi - i - 1);
    static const struct {
      std::string_view name;
      char ch;
    } kNamed[] = {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
    bool done = false;
    for (const auto& e : kNamed) {
      if (name == e.name) {
        out += e.ch;
        done = true;
      }
    }
    if (!done && name.size() >= 2 && name[0] == '#') {
      const bool hex = name[1] == 'x';
      const std::string_view digits = name.substr(hex ? 2 : 1);
      uint32_t cp = 0;
      bool ok = !digits.empty() && digits.size() <= 8;
      for (char d : digits) {
        int v = -1;
        if (d >= '0' && d <= '9') v = d - '0';
        if (hex && d >= 'a' && d <= 'f') v = d - 'a' + 10;
        if (hex && d >= 'A' && d <= 'F') v = d - 'A' + 10;
        if (v < 0) ok = false;
        cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(v < 0 ? 0 : v);
      }
      if (ok && cp <= 0x10FFFF) {
        if (cp == 0) return out;
        AppendUtf8(cp, &out);
        done = true;
      }
    }
    if (done) {
      i = semi;
    } else {
      out += c;
    }
  }
  return out;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else {
      out += c;
    }
  }
  return out;
}

// One pass over the document: the elements with their byte ranges, or the
// first reason the text is not XML.
class Scanner {
 public:
  explicit Scanner(const std::string& s) : s_(s) {}

  bool Run() {
    std::size_t i = 0;
    while (i < s_.size()) {
      if (s_[i] != '<') {
        std::size_t j = s_.find('<', i);
        if (j == kNone) j = s_.size();
        Text(std::string_view(s_).substr(i, j - i), true);
        i = j;
      } else if (Starts(i, "<!--")) {
        if (!Skip(&i, 4, "-->", "unterminated comment")) return false;
      } else if (Starts(i, "<![CDATA[")) {
        const std::size_t end = s_.find("]]>", i + 9);
        if (end == kNone) return Fail("unterminated CDATA section");
        if (stack_.empty()) return Fail("CDATA outside the document element");
        Cdata(std::string_view(s_).substr(i + 9, end - i - 9));
        i = end + 3;
      } else if (Starts(i, "<!DOCTYPE")) {
        if (!stack_.empty() || root_ >= 0) return Fail("misplaced document type");
        if (!SkipDoctype(&i)) return false;
      } else if (Starts(i, "<?")) {
        if (!Skip(&i, 2, "?>", "unterminated processing instruction")) return false;
      } else if (Starts(i, "</")) {
        if (!EndTag(&i)) return false;
      } else if (i + 1 < s_.size() && IsNameStart(s_[i + 1])) {
        if (!StartTag(&i)) return false;
      } else {
        return Fail("could not determine tag type");
      }
    }
    if (!stack_.empty()) return Fail("element <" + elements_[stack_.back()].name + "> not closed");
    if (root_ < 0) return Fail("no document element found");
    return true;
  }

  const std::vector<Element>& elements() const { return elements_; }
  int root() const { return root_; }
  const std::string& error() const { return error_; }

  // The first child of parent named name, -1 if none.
  int Child(int parent, std::string_view name) const {
    if (parent < 0) return -1;
    for (int c : elements_[static_cast<std::size_t>(parent)].children)
      if (elements_[static_cast<std::size_t>(c)].name == name) return c;
    return -1;
  }

 private:
  bool Fail(const std::string& why) {
    error_ = why;
    return false;
  }
  bool Starts(std::size_t i, std::string_view what) const {
    return s_.compare(i, what.size(), what) == 0;
  }
  bool Skip(std::size_t* i, std::size_t from, const char* end, const char* why) {
    const std::size_t at = s_.find(end, *i + from);
    if (at == kNone) return Fail(why);
    *i = at + std::string_view(end).size();
    return true;
  }
  bool SkipDoctype(std::size_t* i) {
    int depth = 0;
    char quote = 0;
    for (std::size_t j = *i + 9; j < s_.size(); ++j) {
      const char c = s_[j];
      if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '[') {
        ++depth;
      } else if (c == ']') {
        --depth;
      } else if (c == '>' && depth <= 0) {
        *i = j + 1;
        return true;
      }
    }
    return Fail("unterminated document type");
  }
  std::size_t Name(std::size_t i) const {
    while (i < s_.size() && IsNameChar(s_[i])) ++i;
    return i;
  }
  void SkipBlanks(std::size_t* i) const {
    while (*i < s_.size() && IsBlank(s_[*i])) ++*i;
  }

  Element* Current() {
    return stack_.empty() ? nullptr : &elements_[static_cast<std::size_t>(stack_.back())];
  }
  void Text(std::string_view raw, bool entities) {
    Element* e = Current();
    if (e == nullptr || e->hasText) return;
    bool blank = true;
    for (char c : raw)
      if (!IsBlank(c)) blank = false;
    if (blank) return;
    e->hasText = true;
    e->text = Decode(raw, entities);
  }
  void Cdata(std::string_view raw) {
    Element* e = Current();
    if (e->hasText) return;
    e->hasText = true;
    e->text = Decode(raw, false);
  }

  bool StartTag(std::size_t* i) {
    Element e;
    e.open = *i;
    const std::size_t nameEnd = Name(*i + 1);
    e.name = s_.substr(*i + 1, nameEnd - *i - 1);
    std::size_t j = nameEnd;
    bool empty = false;
    for (;;) {
      const std::size_t before = j;
      SkipBlanks(&j);
      if (j >= s_.size()) return Fail("unterminated start tag <" + e.name + ">");
      if (s_[j] == '>') {
        ++j;
        break;
      }
      if (Starts(j, "/>")) {
        j += 2;
        empty = true;
        break;
      }
      // An attribute: blank-separated name="value" or name='value'.
      if (j == before || !IsNameStart(s_[j])) return Fail("error parsing element attribute");
      j = Name(j);
      SkipBlanks(&j);
      if (j >= s_.size() || s_[j] != '=') return Fail("error parsing element attribute");
      ++j;
      SkipBlanks(&j);
      if (j >= s_.size() || (s_[j] != '"' && s_[j] != '\''))
        return Fail("error parsing element attribute");
      const std::size_t endQuote = s_.find(s_[j], j + 1);
      if (endQuote == kNone || s_.find('<', j + 1) < endQuote)
        return Fail("error parsing element attribute");
      j = endQuote + 1;
    }
    e.openEnd = j;
    e.close = kNone;
    e.parent = stack_.empty() ? -1 : stack_.back();
    const int index = static_cast<int>(elements_.size());
    if (e.parent >= 0) {
      elements_[static_cast<std::size_t>(e.parent)].children.push_back(index);
    } else if (root_ < 0) {
      root_ = index;
    }
    elements_.push_back(std::move(e));
    if (!empty) stack_.push_back(index);
    *i = j;
    return true;
  }

  bool EndTag(std::size_t* i) {
    const std::size_t nameEnd = Name(*i + 2);
    const std::string name = s_.substr(*i + 2, nameEnd - *i - 2);
    std::size_t j = nameEnd;
    SkipBlanks(&j);
    if (j >= s_.size() || s_[j] != '>') return Fail("unterminated end tag </" + name + ">");
    Element* e = Current();
    if (e == nullptr || e->name != name) return Fail("start-end tags mismatch at </" + name + ">");
    e->close = *i;
    stack_.pop_back();
    *i = j + 1;
    return true;
  }

  const std::string& s_;
  std::vector<Element> elements_;
  std::vector<int> stack_;
  int root_ = -1;
  std::string error_;
};

// Puts content inside element e, replacing what it held (replace) or after
// its last child (append). A <x/> element is opened up first.
void Fill(std::string* xml, const Element& e, const std::string& content, bool replace) {
  if (e.close == kNone) {
    // "<name attrs/>" or "<name attrs />": drop the slash, add the end tag.
    std::string tag = xml->substr(e.open, e.openEnd - e.open - 2);
    while (!tag.empty() && IsBlank(tag.back())) tag.pop_back();
    xml->replace(e.open, e.openEnd - e.open, tag + ">" + content + "</" + e.name + ">");
  } else if (replace) {
    xml->replace(e.openEnd, e.close - e.openEnd, content);
  } else {
    xml->insert(e.close, content);
  }
}

std::string KeyElement(const std::string& key, const std::string& value) {
  return "<" + key + ">" + Escape(value) + "</" + key + ">";
}

}  // namespace

bool PendantSectionKeys(const std::string& xml, Keys* keys, std::string* error) {
  keys->clear();
  Scanner scan(xml);
  if (!scan.Run()) {
    *error = scan.error();
    return false;
  }
  const int section = scan.Child(scan.root(), kPendantSection);
  if (section < 0) return true;
  const auto& all = scan.elements();
  for (int c : all[static_cast<std::size_t>(section)].children) {
    const Element& e = all[static_cast<std::size_t>(c)];
    keys->emplace_back(e.name, e.text);
  }
  return true;
}

bool EditPendantKey(std::string* xml, bool fileExists, const std::string& key,
                    const std::string& value, std::string* error) {
  if (!fileExists) {
    *xml = std::string("<?xml version=\"1.0\"?>\n<profile>\n\t<") + kPendantSection + ">\n\t\t" +
           KeyElement(key, value) + "\n\t</" + kPendantSection + ">\n</profile>\n";
    return true;
  }
  Scanner scan(*xml);
  if (!scan.Run()) {
    *error = scan.error();
    return false;
  }
  const auto& all = scan.elements();
  const int section = scan.Child(scan.root(), kPendantSection);
  if (section < 0) {
    const std::string s = kPendantSection;
    Fill(xml, all[static_cast<std::size_t>(scan.root())],
         "<" + s + ">" + KeyElement(key, value) + "</" + s + ">", false);
    return true;
  }
  const int node = scan.Child(section, key);
  if (node < 0) {
    Fill(xml, all[static_cast<std::size_t>(section)], KeyElement(key, value), false);
  } else {
    Fill(xml, all[static_cast<std::size_t>(node)], Escape(value), true);
  }
  return true;
}

namespace {

// The file's bytes; false when it exists but cannot be read.
bool ReadAll(const std::string& path, bool* exists, std::string* text, std::string* error) {
  std::error_code ec;
  *exists = std::filesystem::exists(path, ec);
  text->clear();
  if (!*exists) return true;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  if (in) s << in.rdbuf();
  if (!in || in.bad()) {
    *error = "profile " + path + " is not readable XML: cannot read the file";
    return false;
  }
  *text = s.str();
  return true;
}

}  // namespace

bool SetProfileValue(const std::string& path, const std::string& key, const std::string& value,
                     std::string* error) {
  bool exists = false;
  std::string xml;
  if (!ReadAll(path, &exists, &xml, error)) return false;
  std::string why;
  if (!EditPendantKey(&xml, exists, key, value, &why)) {
    *error = "profile " + path + " is not readable XML: " + why;
    return false;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << xml;
  out.close();
  if (!out) {
    *error = "cannot write profile " + path;
    return false;
  }
  return true;
}

bool ReadPendantSection(const std::string& path, Keys* keys, std::string* error) {
  keys->clear();
  bool exists = false;
  std::string xml;
  if (!ReadAll(path, &exists, &xml, error)) return false;
  if (!exists) return true;
  std::string why;
  if (!PendantSectionKeys(xml, keys, &why)) {
    *error = "profile " + path + " is not readable XML: " + why;
    return false;
  }
  return true;
}

}  // namespace km4r::bench::xmltext
