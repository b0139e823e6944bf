// The profile's XML document on Windows: the system's MSXML DOM, created
// in-process (the host has initialised COM on its UI thread). Element handles
// are IXMLDOMElement pointers whose references the document holds until it is
// destroyed.
#include <windows.h>
// windows.h first: the COM headers need its types
#include <msxml2.h>
#include <oleauto.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "platform/win32/wide_text.h"
#include "platform/xml_document.h"

namespace km4r::platform {

namespace {

// {2933BF90-7B36-11D2-B20E-00C04F983E60}
constexpr CLSID kDomDocumentClsid = {
    0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
// {2933BF81-7B36-11D2-B20E-00C04F983E60}
constexpr IID kDomDocumentIid = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
// {2933BF95-7B36-11D2-B20E-00C04F983E60}
constexpr IID kDomDocument2Iid = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// The DOM cannot keep entity references unexpanded, so a document type
// declaration is refused outright (here, and by the scan in Load where the
// DOM ignores the property): a profile with nested entity definitions would
// otherwise expand without bound. Such a file loads as unparseable, and the
// store neither uses nor overwrites it.
void ProhibitDtd(IXMLDOMDocument* doc) {
  IXMLDOMDocument2* doc2 = nullptr;
  if (FAILED(doc->QueryInterface(kDomDocument2Iid, reinterpret_cast<void**>(&doc2))) ||
      doc2 == nullptr)
    return;
  BSTR name = SysAllocString(L"ProhibitDTD");
  VARIANT on;
  VariantInit(&on);
  on.vt = VT_BOOL;
  on.boolVal = VARIANT_TRUE;
  if (name != nullptr) doc2->setProperty(name, on);
  SysFreeString(name);
  doc2->Release();
}

std::string Narrow(const wchar_t* text, UINT n) {
  if (text == nullptr || n == 0) return {};
  const int len =
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  std::string out(len > 0 ? len : 0, '\0');
  if (len > 0)
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), out.data(), len, nullptr, nullptr);
  return out;
}

// A BSTR released at scope end.
class Bstr {
 public:
  explicit Bstr(const std::wstring& text)
      : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  Bstr() = default;
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return value_; }
  BSTR* out() { return &value_; }
  bool ok() const { return value_ != nullptr; }

 private:
  BSTR value_ = nullptr;
};

// Whether the text holds a document type declaration outside comments, in
// an 8-bit or a UTF-16 encoding. Cheap and conservative: the token anywhere
// else counts too, which only makes such a file be left alone.
bool HasDocumentType(const std::string& bytes) {
  auto forms = [](const char* ascii, int order) {
    std::string out;
    for (const char* c = ascii; *c != '\0'; ++c) {
      if (order == 2) out += '\0';
      out += *c;
      if (order == 1) out += '\0';
    }
    return out;
  };
  for (int order : {0, 1, 2}) {  // 8-bit, little-endian, big-endian
    const std::string token = forms("<!DOCTYPE", order), open = forms("<!--", order),
                      close = forms("-->", order);
    for (std::size_t at = 0;;) {
      const std::size_t t = bytes.find(token, at), c = bytes.find(open, at);
      if (t == std::string::npos) break;
      if (c == std::string::npos || t < c) return true;
      const std::size_t e = bytes.find(close, c + open.size());
      if (e == std::string::npos) break;
      at = e + close.size();
    }
  }
  return false;
}

// UTF-16 shows a byte-order mark or a zero byte beside the first '<'.
bool LooksWide(const std::string& s) {
  if (s.size() < 2) return false;
  const unsigned char a = static_cast<unsigned char>(s[0]), b = static_cast<unsigned char>(s[1]);
  return (a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF) || (a == 0 && b == '<') ||
         (a == '<' && b == 0);
}

// The bytes an IStream holds, from its start.
bool StreamBytes(IStream* stream, std::string* out) {
  HGLOBAL memory = nullptr;
  if (FAILED(GetHGlobalFromStream(stream, &memory))) return false;
  STATSTG stat{};
  if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return false;
  const void* data = GlobalLock(memory);
  if (data == nullptr) return stat.cbSize.QuadPart == 0;
  out->assign(static_cast<const char*>(data), static_cast<std::size_t>(stat.cbSize.QuadPart));
  GlobalUnlock(memory);
  return true;
}

// The code units of a text as stored: 8-bit, or UTF-16 in either order.
struct Units {
  std::size_t width = 1;
  bool bigEndian = false;
  unsigned At(const std::string& s, std::size_t i) const {
    if (width == 1) return static_cast<unsigned char>(s[i]);
    const unsigned a = static_cast<unsigned char>(s[2 * i]),
                   b = static_cast<unsigned char>(s[2 * i + 1]);
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  }
};

Units UnitsOf(const std::string& s) {
  Units u;
  if (s.size() >= 2) {
    const unsigned char a = static_cast<unsigned char>(s[0]), b = static_cast<unsigned char>(s[1]);
    if ((a == 0xFE && b == 0xFF) || (a == 0 && b != 0)) u = {2, true};
    if ((a == 0xFF && b == 0xFE) || (a != 0 && b == 0)) u = {2, false};
  }
  return u;
}

// Where the root element starts and ends in a stored text, in bytes: what
// lies outside them (the byte-order mark, the declaration, comments, the
// blanks and line ends) is written back as it was. False where the text is
// not laid out as expected; the document is then written whole.
bool RootSpan(const std::string& s, std::size_t* begin, std::size_t* end) {
  const Units u = UnitsOf(s);
  const std::size_t n = s.size() / u.width;
  auto at = [&](std::size_t i) { return i < n ? u.At(s, i) : 0u; };
  auto starts = [&](std::size_t i, const char* p) {
    for (; *p != '\0'; ++p, ++i)
      if (at(i) != static_cast<unsigned char>(*p)) return false;
    return true;
  };
  auto blank = [](unsigned c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  auto find = [&](std::size_t i, const char* p) {
    for (; i < n; ++i)
      if (starts(i, p)) return i + std::strlen(p);
    return std::size_t{0};
  };
  std::size_t i = 0;
  if (u.width == 2 && at(0) == 0xFEFF) i = 1;
  if (u.width == 1 && starts(0, "\xEF\xBB\xBF")) i = 3;
  for (;;) {
    while (i < n && blank(at(i))) ++i;
    if (starts(i, "<?")) {
      i = find(i, "?>");
    } else if (starts(i, "<!--")) {
      i = find(i + 4, "-->");
    } else if (starts(i, "<!")) {
      return false;  // a document type: refused by Parse anyway
    } else if (at(i) == '<') {
      break;
    } else {
      return false;
    }
    if (i == 0) return false;
  }
  *begin = i;
  std::size_t j = n;
  for (;;) {
    while (j > *begin && blank(at(j - 1))) --j;
    if (j >= *begin + 3 && starts(j - 3, "-->")) {
      while (j > *begin && !starts(j, "<!--")) --j;
    } else if (j >= *begin + 2 && starts(j - 2, "?>")) {
      while (j > *begin && !starts(j, "<?")) --j;
    } else {
      break;
    }
  }
  if (j <= *begin || at(j - 1) != '>') return false;
  *begin *= u.width;
  *end = j * u.width;
  return true;
}

// The Windows code page of an encoding name, or 0 when there is none.
UINT CodePageOf(std::wstring name) {
  for (wchar_t& c : name) c = static_cast<wchar_t>(towlower(c));
  struct Named {
    const wchar_t* name;
    UINT codePage;
  };
  static const Named kNames[] = {
      {L"", CP_UTF8},     {L"utf-8", CP_UTF8},     {L"us-ascii", 20127},     {L"ascii", 20127},
      {L"latin1", 28591}, {L"shift_jis", 932},     {L"shift-jis", 932},      {L"sjis", 932},
      {L"x-sjis", 932},   {L"euc-jp", 20932},      {L"gb2312", 936},         {L"gbk", 936},
      {L"big5", 950},     {L"euc-kr", 949},        {L"ks_c_5601-1987", 949}, {L"koi8-r", 20866},
      {L"koi8-u", 21866}, {L"iso-8859-15", 28605}, {L"iso-8859-13", 28603},  {L"gb18030", 54936},
  };
  for (const Named& n : kNames)
    if (name == n.name) return n.codePage;
  UINT number = 0;
  for (const wchar_t* prefix : {L"windows-", L"cp", L"x-cp", L"ibm", L"iso-8859-"}) {
    const std::size_t len = std::wcslen(prefix);
    if (name.compare(0, len, prefix) != 0 || name.size() == len) continue;
    const std::wstring digits = name.substr(len);
    if (digits.find_first_not_of(L"0123456789") != std::wstring::npos || digits.size() > 5) break;
    number = static_cast<UINT>(std::wcstoul(digits.c_str(), nullptr, 10));
    if (std::wcscmp(prefix, L"iso-8859-") == 0) number = number <= 9 ? 28590 + number : 0;
    break;
  }
  return number != 0 && IsValidCodePage(number) ? number : 0;
}

class MsxmlDocument final : public XmlDocument {
 public:
  explicit MsxmlDocument(IXMLDOMDocument* doc) : doc_(doc) {}
  ~MsxmlDocument() override {
    for (IXMLDOMElement* e : elements_) e->Release();
    doc_->Release();
  }

  bool Parse(std::string bytes) override {
    Reset();
    if (HasDocumentType(bytes)) return false;
    wide_ = LooksWide(bytes);
    utf8Bom_ = bytes.rfind("\xEF\xBB\xBF", 0) == 0;
    units_ = UnitsOf(bytes);
    wideBom_ = units_.width == 2 && units_.At(bytes, 0) == 0xFEFF;
    std::size_t begin = 0, end = 0;
    if (RootSpan(bytes, &begin, &end)) {
      prolog_ = bytes.substr(0, begin);
      epilog_ = bytes.substr(end);
      outside_ = true;
    }
    // The DOM would read an 8-bit text only up to a NUL byte.
    if (!LooksWide(bytes) && bytes.find('\0') != std::string::npos) return false;
    // From the bytes themselves, never from a path (which the DOM would take
    // as a URL); the DOM finds the encoding in them.
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (array == nullptr) return false;
    void* data = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(array, &data))) {
      std::memcpy(data, bytes.data(), bytes.size());
      SafeArrayUnaccessData(array);
    }
    std::string().swap(bytes);
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_ARRAY | VT_UI1;
    source.parray = array;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT hr = doc_->load(source, &loaded);
    VariantClear(&source);
    IXMLDOMElement* root = nullptr;
    const bool hasRoot = doc_->get_documentElement(&root) == S_OK && root != nullptr;
    if (root != nullptr) root->Release();
    if (FAILED(hr) || loaded != VARIANT_TRUE || !hasRoot) {
      Reset();
      return false;
    }
    return true;
  }

  using XmlDocument::Serialize;
  bool Serialize(const ByteSink& write) override {
    std::string bytes;
    return Render(&bytes) && write(bytes.data(), bytes.size());
  }

  std::string WhyNotSerialized() override { return whyNot_; }

 private:
  bool Render(std::string* bytes) {
    whyNot_.clear();
    // What lies around the root as it was read, the root in the text's own
    // encoding and byte order.
    if (outside_ && Spliced(bytes)) return true;
    if (!whyNot_.empty()) return false;
    return RenderWhole(bytes);
  }

  // The root as the DOM's own save writes it (the element's xml property
  // would lay it out anew), in the encoding the document was read in. The
  // save's encoding is the declared one or, in some DOMs, UTF-8: whichever
  // reads back.
  bool Spliced(std::string* bytes) {
    std::string saved;
    std::size_t begin = 0, end = 0;
    if (!SaveToStream(&saved) || !RootSpan(saved, &begin, &end)) return false;
    const std::string root = saved.substr(begin, end - begin);
    const Units su = UnitsOf(saved);
    const std::wstring encoding = DeclaredEncoding();
    std::vector<std::wstring> readings;
    if (su.width == 2) {
      std::wstring text(root.size() / 2, L'\0');
      for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<wchar_t>(su.At(root, i));
      readings.push_back(std::move(text));
    } else {
      for (UINT codePage : {CodePageOf(encoding), static_cast<UINT>(CP_UTF8)}) {
        if (codePage == 0) continue;
        const int n = MultiByteToWideChar(codePage, 0, root.data(), static_cast<int>(root.size()),
                                          nullptr, 0);
        std::wstring text(n > 0 ? n : 0, L'\0');
        if (n > 0)
          MultiByteToWideChar(codePage, 0, root.data(), static_cast<int>(root.size()), text.data(),
                              n);
        readings.push_back(std::move(text));
      }
    }
    for (const std::wstring& text : readings) {
      std::string out = prolog_;
      if (units_.width == 2) {
        AppendWide(text.data(), static_cast<int>(text.size()), units_, &out);
      } else if (!AppendNarrow(text.data(), static_cast<int>(text.size()), encoding, &out)) {
        continue;
      }
      out += epilog_;
      if (ReadsBack(out)) {
        whyNot_.clear();
        *bytes = std::move(out);
        return true;
      }
    }
    return false;
  }

  static void AppendWide(const wchar_t* text, int n, Units u, std::string* bytes) {
    for (int i = 0; i < n; ++i) {
      const char lo = static_cast<char>(text[i] & 0xFF), hi = static_cast<char>(text[i] >> 8);
      bytes->push_back(u.bigEndian ? hi : lo);
      bytes->push_back(u.bigEndian ? lo : hi);
    }
  }

  // Text in the 8-bit encoding named (UTF-8 when none is).
  bool AppendNarrow(const wchar_t* text, int n, const std::wstring& encoding, std::string* bytes) {
    const UINT codePage = CodePageOf(encoding);
    const std::string name = Narrow(encoding.c_str(), static_cast<UINT>(encoding.size()));
    if (codePage == 0) {
      whyNot_ = "the profile's encoding " + name + " cannot be written on this system";
      return false;
    }
    // Where the code page cannot tell a lost character, reading back does.
    BOOL lossy = FALSE;
    const bool checks = codePage != CP_UTF8 && codePage != 54936 && codePage < 50000;
    const DWORD flags = checks ? WC_NO_BEST_FIT_CHARS : 0;
    BOOL* lossyOut = checks ? &lossy : nullptr;
    const int len = WideCharToMultiByte(codePage, flags, text, n, nullptr, 0, nullptr, lossyOut);
    if (n > 0 && len <= 0) return false;
    const std::size_t at = bytes->size();
    bytes->resize(at + static_cast<std::size_t>(len));
    if (len > 0)
      WideCharToMultiByte(codePage, flags, text, n, bytes->data() + at, len, nullptr, lossyOut);
    if (!lossy) return true;
    // Characters the code page cannot hold go as character references; the
    // text read back tells whether they stood where a reference means the
    // same (text and attribute values), and the save is refused if not.
    whyNot_ = "The profile holds text its encoding " + name + " cannot hold";
    bytes->resize(at);
    for (int i = 0; i < n;) {
      const int units = IS_HIGH_SURROGATE(text[i]) && i + 1 < n ? 2 : 1;
      char one[16];
      BOOL lost = FALSE;
      const int m =
          WideCharToMultiByte(codePage, flags, text + i, units, one, sizeof one, nullptr, &lost);
      if (m > 0 && !lost) {
        bytes->append(one, static_cast<std::size_t>(m));
      } else {
        const unsigned code =
            units == 2 ? 0x10000u + ((text[i] - 0xD800u) << 10) + (text[i + 1] - 0xDC00u) : text[i];
        std::snprintf(one, sizeof one, "&#x%X;", code);
        bytes->append(one);
      }
      i += units;
    }
    return true;
  }

  bool RenderWhole(std::string* bytes) {
    // The DOM's own save first: it writes the declared encoding. Where it does
    // not (Wine's MSXML writes UTF-8 whatever the declaration says), the
    // DOM's text is encoded here in the declared encoding instead. Whichever
    // reads back as this document is the result.
    std::string saved;
    if (SaveToStream(&saved)) {
      if (utf8Bom_ && saved.rfind("\xEF\xBB\xBF", 0) != 0) saved.insert(0, "\xEF\xBB\xBF");
      if (ReadsBack(saved)) {
        *bytes = std::move(saved);
        return true;
      }
    }
    std::string encoded;
    if (!Encode(&encoded) || !ReadsBack(encoded)) return false;
    *bytes = std::move(encoded);
    return true;
  }

 public:
  std::uint64_t Digest() override {
    // The DOM's own rendering of the whole tree stands for its content.
    Bstr xml;
    std::uint64_t h = 14695981039346656037ull;
    if (FAILED(doc_->get_xml(xml.out())) || !xml.ok()) return h;
    const UINT n = SysStringLen(xml.get());
    for (UINT i = 0; i < n; ++i) {
      h ^= static_cast<std::uint16_t>(xml.get()[i]);
      h *= 1099511628211ull;
    }
    return h;
  }

  XmlElement DocumentElement() override {
    IXMLDOMElement* root = nullptr;
    if (doc_->get_documentElement(&root) != S_OK) return nullptr;
    return Keep(root);
  }

  XmlElement CreateDocumentElement(const char* name) override {
    IXMLDOMElement* e = NewElement(name);
    if (e == nullptr) return nullptr;
    return Append(doc_, e);
  }

  XmlElement FirstChildElement(XmlElement parent, const char* name) override {
    if (parent == nullptr) return nullptr;
    IXMLDOMNode* node = nullptr;
    if (AsElement(parent)->get_firstChild(&node) != S_OK) return nullptr;
    return NextElement(node, name);
  }

  XmlElement NextSiblingElement(XmlElement element) override {
    if (element == nullptr) return nullptr;
    IXMLDOMNode* node = nullptr;
    if (AsElement(element)->get_nextSibling(&node) != S_OK) return nullptr;
    return NextElement(node, nullptr);
  }

  std::string Name(XmlElement element) override {
    Bstr name;
    if (element == nullptr || FAILED(AsElement(element)->get_nodeName(name.out())) || !name.ok())
      return {};
    return Narrow(name.get(), SysStringLen(name.get()));
  }

 private:
  // The first element from node (whose reference this call takes over) on
  // among its siblings, named name unless name is nullptr.
  XmlElement NextElement(IXMLDOMNode* node, const char* name) {
    const std::wstring wanted = name == nullptr ? std::wstring() : Widen(name, CP_UTF8);
    while (node != nullptr) {
      DOMNodeType type = NODE_INVALID;
      if (SUCCEEDED(node->get_nodeType(&type)) && type == NODE_ELEMENT) {
        Bstr nodeName;
        if (name == nullptr ||
            (SUCCEEDED(node->get_nodeName(nodeName.out())) && nodeName.ok() &&
             wanted == std::wstring(nodeName.get(), SysStringLen(nodeName.get())))) {
          IXMLDOMElement* e = nullptr;
          const HRESULT hr = node->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(&e));
          node->Release();
          return SUCCEEDED(hr) ? Keep(e) : nullptr;
        }
      }
      IXMLDOMNode* next = nullptr;
      if (node->get_nextSibling(&next) != S_OK) next = nullptr;
      node->Release();
      node = next;
    }
    return nullptr;
  }

 public:
  XmlElement AppendChildElement(XmlElement parent, const char* name) override {
    if (parent == nullptr) return nullptr;
    IXMLDOMElement* e = NewElement(name);
    if (e == nullptr) return nullptr;
    return Append(AsElement(parent), e);
  }

  std::string Text(XmlElement element) override {
    if (element == nullptr) return {};
    Bstr text;
    if (FAILED(AsElement(element)->get_text(text.out())) || !text.ok()) return {};
    return Narrow(text.get(), SysStringLen(text.get()));
  }

  void SetText(XmlElement element, const char* text) override {
    if (element == nullptr) return;
    Bstr value(Widen(text, CP_UTF8));
    AsElement(element)->put_text(value.get());
  }

  void Remove(XmlElement element) override {
    if (element == nullptr) return;
    IXMLDOMNode* parent = nullptr;
    if (AsElement(element)->get_parentNode(&parent) != S_OK || parent == nullptr) return;
    IXMLDOMNode* removed = nullptr;
    if (SUCCEEDED(parent->removeChild(AsElement(element), &removed)) && removed != nullptr)
      removed->Release();
    parent->Release();
  }

 private:
  static IXMLDOMElement* AsElement(XmlElement e) { return static_cast<IXMLDOMElement*>(e); }

  bool SaveToStream(std::string* bytes) {
    bytes->clear();
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) || stream == nullptr) return false;
    VARIANT dest;
    VariantInit(&dest);
    dest.vt = VT_UNKNOWN;
    dest.punkVal = stream;
    const bool ok = SUCCEEDED(doc_->save(dest)) && StreamBytes(stream, bytes);
    stream->Release();
    return ok;
  }

  // The encoding the declaration names, lower case; empty without one.
  std::wstring DeclaredEncoding() {
    std::wstring out;
    IXMLDOMNode* first = nullptr;
    if (doc_->get_firstChild(&first) != S_OK || first == nullptr) return out;
    DOMNodeType type = NODE_INVALID;
    Bstr name;
    if (SUCCEEDED(first->get_nodeType(&type)) && type == NODE_PROCESSING_INSTRUCTION &&
        SUCCEEDED(first->get_nodeName(name.out())) && name.ok() &&
        std::wstring(name.get(), SysStringLen(name.get())) == L"xml") {
      out = DeclarationEncoding(first);
    }
    first->Release();
    for (wchar_t& c : out) c = static_cast<wchar_t>(towlower(c));
    return out;
  }

  static std::wstring DeclarationEncoding(IXMLDOMNode* declaration) {
    std::wstring out;
    IXMLDOMNamedNodeMap* attributes = nullptr;
    if (declaration->get_attributes(&attributes) == S_OK && attributes != nullptr) {
      Bstr key(L"encoding");
      IXMLDOMNode* encoding = nullptr;
      if (attributes->getNamedItem(key.get(), &encoding) == S_OK && encoding != nullptr) {
        Bstr text;
        if (SUCCEEDED(encoding->get_text(text.out())) && text.ok())
          out.assign(text.get(), SysStringLen(text.get()));
        encoding->Release();
      }
      attributes->Release();
    }
    if (!out.empty()) return out;
    // Wine's MSXML gives the declaration no attributes, only its text
    // (version="1.0" encoding="..."): the value is taken from there.
    Bstr text;
    if (FAILED(declaration->get_text(text.out())) || !text.ok()) return out;
    const std::wstring t(text.get(), SysStringLen(text.get()));
    std::size_t at = t.find(L"encoding");
    if (at == std::wstring::npos) return out;
    at = t.find_first_not_of(L" \t\r\n", at + 8);
    if (at == std::wstring::npos || t[at] != L'=') return out;
    at = t.find_first_not_of(L" \t\r\n", at + 1);
    if (at == std::wstring::npos || (t[at] != L'"' && t[at] != L'\'')) return out;
    const std::size_t end = t.find(t[at], at + 1);
    if (end != std::wstring::npos) out = t.substr(at + 1, end - at - 1);
    return out;
  }

  // The DOM's text in the document's encoding: UTF-16 with a byte-order mark
  // for a wide document, the declared 8-bit code page, or UTF-8.
  bool Encode(std::string* bytes) {
    Bstr xml;
    if (FAILED(doc_->get_xml(xml.out())) || !xml.ok()) return false;
    const wchar_t* text = xml.get();
    const int n = static_cast<int>(SysStringLen(xml.get()));
    const std::wstring encoding = DeclaredEncoding();
    bytes->clear();
    if (wide_ || encoding == L"utf-16" || encoding == L"unicode") {
      const Units u = wide_ ? units_ : Units{2, false};
      const wchar_t mark = 0xFEFF;
      if (wideBom_ || !wide_) AppendWide(&mark, 1, u, bytes);
      AppendWide(text, n, u, bytes);
      return true;
    }
    if (utf8Bom_ && CodePageOf(encoding) == CP_UTF8) bytes->assign("\xEF\xBB\xBF");
    return AppendNarrow(text, n, encoding, bytes);
  }

  bool ReadsBack(const std::string& bytes) {
    auto check = CreateXmlDocument();
    return check && check->Parse(bytes) && check->Digest() == Digest();
  }

  // Back to an empty document.
  void Reset() {
    for (IXMLDOMElement* e : elements_) e->Release();
    elements_.clear();
    prolog_.clear();
    epilog_.clear();
    outside_ = false;
    units_ = Units();
    IXMLDOMNode* child = nullptr;
    while (doc_->get_firstChild(&child) == S_OK && child != nullptr) {
      IXMLDOMNode* removed = nullptr;
      const HRESULT hr = doc_->removeChild(child, &removed);
      if (removed != nullptr) removed->Release();
      child->Release();
      if (FAILED(hr)) break;
    }
  }

  XmlElement Keep(IXMLDOMElement* e) {
    if (e == nullptr) return nullptr;
    elements_.push_back(e);
    return e;
  }

  IXMLDOMElement* NewElement(const char* name) {
    Bstr tag(Widen(name, CP_UTF8));
    IXMLDOMElement* e = nullptr;
    if (!tag.ok() || FAILED(doc_->createElement(tag.get(), &e))) return nullptr;
    return e;
  }

  // Appends e (whose reference this call takes over) to parent.
  XmlElement Append(IXMLDOMNode* parent, IXMLDOMElement* e) {
    IXMLDOMNode* added = nullptr;
    const HRESULT hr = parent->appendChild(e, &added);
    if (added != nullptr) added->Release();
    if (FAILED(hr)) {
      e->Release();
      return nullptr;
    }
    return Keep(e);
  }

  IXMLDOMDocument* doc_;
  std::vector<IXMLDOMElement*> elements_;
  // The bytes before and after the root as read, when they could be told.
  std::string prolog_, epilog_;
  bool outside_ = false;
  Units units_;
  bool wideBom_ = false;
  std::string whyNot_;
  bool wide_ = false;     // parsed from UTF-16
  bool utf8Bom_ = false;  // parsed from UTF-8 with a byte-order mark
};

}  // namespace

std::unique_ptr<XmlDocument> CreateXmlDocument() {
  IXMLDOMDocument* doc = nullptr;
  if (FAILED(CoCreateInstance(kDomDocumentClsid, nullptr, CLSCTX_INPROC_SERVER, kDomDocumentIid,
                              reinterpret_cast<void**>(&doc))) ||
      doc == nullptr)
    return nullptr;
  // Synchronous, and the file comes back as it was: whitespace kept, no DTD
  // fetched or validated.
  doc->put_async(VARIANT_FALSE);
  doc->put_preserveWhiteSpace(VARIANT_TRUE);
  doc->put_resolveExternals(VARIANT_FALSE);
  doc->put_validateOnParse(VARIANT_FALSE);
  ProhibitDtd(doc);
  return std::make_unique<MsxmlDocument>(doc);
}

bool ProfilePathUsable() {
  // Only the NT family (top bit of the version word clear) gets the path.
  return (GetVersion() & 0x80000000u) == 0;
}

}  // namespace km4r::platform
