// The profile's XML document on Windows: the system's MSXML DOM, created
// in-process (the host has initialised COM on its UI thread). Element handles
// are IXMLDOMElement pointers whose references the document holds until it is
// destroyed.
#include <windows.h>
// windows.h first: the COM headers need its types
#include <msxml2.h>
#include <oleauto.h>

#include <string>
#include <vector>

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

// Anything larger is no profile; refusing it keeps memory bounded.
constexpr unsigned long long kMaxProfileBytes = 64ull << 20;

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

std::wstring Widen(const std::string& text, UINT codePage) {
  if (text.empty()) return {};
  const int n =
      MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(n > 0 ? n : 0, L'\0');
  if (n > 0)
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
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

// A VARIANT holding a file name (the path arguments of load and save).
class PathVariant {
 public:
  explicit PathVariant(const std::wstring& path) {
    VariantInit(&value_);
    value_.vt = VT_BSTR;
    value_.bstrVal = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
  }
  ~PathVariant() { VariantClear(&value_); }
  PathVariant(const PathVariant&) = delete;
  PathVariant& operator=(const PathVariant&) = delete;
  const VARIANT& get() const { return value_; }
  bool ok() const { return value_.bstrVal != nullptr; }

 private:
  VARIANT value_;
};

// Whether the file holds a document type declaration, in an 8-bit or a
// UTF-16 encoding. Cheap and conservative: the token inside a comment counts
// too, which only makes such a file be left alone.
bool HasDocumentType(const std::wstring& path) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  std::string bytes;
  char chunk[4096];
  DWORD n = 0;
  while (ReadFile(f, chunk, sizeof chunk, &n, nullptr) && n > 0) bytes.append(chunk, n);
  CloseHandle(f);
  static const char kToken[] = "<!DOCTYPE";
  std::string le, be;
  for (const char* c = kToken; *c != '\0'; ++c) {
    le += *c;
    le += '\0';
    be += '\0';
    be += *c;
  }
  return bytes.find(kToken) != std::string::npos || bytes.find(le) != std::string::npos ||
         bytes.find(be) != std::string::npos;
}

class MsxmlDocument final : public XmlDocument {
 public:
  explicit MsxmlDocument(IXMLDOMDocument* doc) : doc_(doc) {}
  ~MsxmlDocument() override {
    for (IXMLDOMElement* e : elements_) e->Release();
    doc_->Release();
  }

  XmlLoadResult Load(const std::string& path) override {
    const std::wstring wpath = Widen(path, CP_ACP);
    const DWORD attrs = GetFileAttributesW(wpath.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) {
      const DWORD err = GetLastError();
      return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? XmlLoadResult::Missing
                                                                        : XmlLoadResult::Unreadable;
    }
    if (attrs & FILE_ATTRIBUTE_DIRECTORY) return XmlLoadResult::Unreadable;
    HANDLE probe = CreateFileW(wpath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return XmlLoadResult::Unreadable;
    LARGE_INTEGER size{};
    const bool sized = GetFileSizeEx(probe, &size) != 0;
    CloseHandle(probe);
    // The DOM would hold the whole file several times over; nothing that large
    // is a profile.
    if (!sized || size.QuadPart < 0 ||
        static_cast<unsigned long long>(size.QuadPart) > kMaxProfileBytes)
      return XmlLoadResult::Unparseable;
    if (HasDocumentType(wpath)) return XmlLoadResult::Unparseable;

    PathVariant source(wpath);
    if (!source.ok()) return XmlLoadResult::Unreadable;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (FAILED(doc_->load(source.get(), &loaded)) || loaded != VARIANT_TRUE)
      return XmlLoadResult::Unparseable;
    return XmlLoadResult::Loaded;
  }

  bool Save(const std::string& path) override {
    const std::wstring target = Widen(path, CP_ACP);
    if (target.empty()) return false;
    // Next to the target, so the final rename stays on one volume.
    wchar_t suffix[32];
    wsprintfW(suffix, L".%lu.tmp", GetCurrentProcessId());
    const std::wstring temp = target + suffix;
    PathVariant dest(temp);
    if (!dest.ok()) return false;
    if (FAILED(doc_->save(dest.get()))) {
      DeleteFileW(temp.c_str());
      return false;
    }
    if (!MoveFileExW(temp.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      DeleteFileW(temp.c_str());
      return false;
    }
    return true;
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
    const std::wstring wanted = Widen(name, CP_UTF8);
    IXMLDOMNode* node = nullptr;
    if (AsElement(parent)->get_firstChild(&node) != S_OK) return nullptr;
    while (node != nullptr) {
      DOMNodeType type = NODE_INVALID;
      if (SUCCEEDED(node->get_nodeType(&type)) && type == NODE_ELEMENT) {
        Bstr nodeName;
        if (SUCCEEDED(node->get_nodeName(nodeName.out())) && nodeName.ok() &&
            wanted == std::wstring(nodeName.get(), SysStringLen(nodeName.get()))) {
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
