#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/profile_file.h"
#include "platform/xml_document.h"

namespace km4r::platform {
namespace {

// A fresh directory under the temporary directory, removed with its files.
class TempDir {
 public:
  TempDir() {
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    char name[MAX_PATH];
    GetTempFileNameA(base, "kmx", 0, name);
    DeleteFileA(name);
    CreateDirectoryA(name, nullptr);
    path_ = name;
  }
  ~TempDir() {
    for (const std::string& f : Files()) DeleteFileA((path_ + "\\" + f).c_str());
    RemoveDirectoryA((path_ + "\\sub").c_str());
    RemoveDirectoryA(path_.c_str());
  }
  std::string File(const char* name) const { return path_ + "\\" + name; }
  std::vector<std::string> Files() const {
    std::vector<std::string> out;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((path_ + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) out.push_back(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return out;
  }

 private:
  std::string path_;
};

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void Spit(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
}

// The document over a file, as the profile store uses the two.
enum class XmlLoadResult { Loaded, Missing, Unreadable, Unparseable };

XmlLoadResult LoadFile(XmlDocument& doc, const std::string& path) {
  std::string bytes;
  switch (ReadProfileFile(path, std::size_t{64} << 20, &bytes)) {
    case FileReadResult::Read:
      return doc.Parse(std::move(bytes)) ? XmlLoadResult::Loaded : XmlLoadResult::Unparseable;
    case FileReadResult::Missing:
      return XmlLoadResult::Missing;
    default:
      return XmlLoadResult::Unreadable;
  }
}

bool SaveFile(XmlDocument& doc, const std::string& path) {
  return WriteProfileFile(
             path, [&doc](const WriteBytes& write) { return doc.Serialize(write); },
             [](std::string) { return true; })
      .written;
}

TEST(MsxmlDocument, LoadTellsMissingUnreadableUnparseableAndLoaded) {
  TempDir dir;
  CreateDirectoryA(dir.File("sub").c_str(), nullptr);
  Spit(dir.File("bad.xml"), "<profile><unclosed></profile>");
  Spit(dir.File("empty.xml"), "");
  Spit(dir.File("good.xml"), "<profile><S><K>1</K></S></profile>");
  const struct {
    const char* name;
    XmlLoadResult expected;
  } rows[] = {
      {"none.xml", XmlLoadResult::Missing},      {"nodir\\p.xml", XmlLoadResult::Missing},
      {"sub", XmlLoadResult::Unreadable},        {"bad.xml", XmlLoadResult::Unparseable},
      {"empty.xml", XmlLoadResult::Unparseable}, {"good.xml", XmlLoadResult::Loaded},
  };
  for (const auto& row : rows) {
    auto doc = CreateXmlDocument();
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(LoadFile(*doc, dir.File(row.name)), row.expected) << row.name;
    EXPECT_EQ(doc->DocumentElement() != nullptr, row.expected == XmlLoadResult::Loaded) << row.name;
  }
}

TEST(MsxmlDocument, BuiltTreeSurvivesSaveAndLoad) {
  TempDir dir;
  const std::string path = dir.File("p.xml");
  {
    auto doc = CreateXmlDocument();
    ASSERT_NE(doc, nullptr);
    ASSERT_EQ(doc->DocumentElement(), nullptr);
    XmlElement root = doc->CreateDocumentElement("profile");
    ASSERT_NE(root, nullptr);
    XmlElement sec = doc->AppendChildElement(root, "Quorvix_KM4R_Pendant");
    doc->SetText(doc->AppendChildElement(sec, "StepJogRate"), "-20");
    doc->SetText(doc->AppendChildElement(sec, "DelaySteps"), "25");
    ASSERT_TRUE(SaveFile(*doc, path));
  }
  EXPECT_EQ(Slurp(path).find("<profile><Quorvix_KM4R_Pendant><StepJogRate>-20</StepJogRate>"
                             "<DelaySteps>25</DelaySteps></Quorvix_KM4R_Pendant></profile>"),
            0u)
      << Slurp(path);
  auto doc = CreateXmlDocument();
  ASSERT_EQ(LoadFile(*doc, path), XmlLoadResult::Loaded);
  XmlElement sec = doc->FirstChildElement(doc->DocumentElement(), "Quorvix_KM4R_Pendant");
  ASSERT_NE(sec, nullptr);
  EXPECT_EQ(doc->Text(doc->FirstChildElement(sec, "StepJogRate")), "-20");
  EXPECT_EQ(doc->Text(doc->FirstChildElement(sec, "DelaySteps")), "25");
}

TEST(MsxmlDocument, FirstChildElementMatchesDirectChildrenByExactName) {
  TempDir dir;
  Spit(dir.File("p.xml"),
       "<profile><!-- K -->text<k>lower</k><S><K>nested</K></S><K>first</K><K>second</K>"
       "</profile>");
  auto doc = CreateXmlDocument();
  ASSERT_EQ(LoadFile(*doc, dir.File("p.xml")), XmlLoadResult::Loaded);
  XmlElement root = doc->DocumentElement();
  const struct {
    const char* name;
    const char* text;  // nullptr: no such child
  } rows[] = {{"K", "first"}, {"k", "lower"}, {"S", "nested"}, {"Missing", nullptr}};
  for (const auto& row : rows) {
    XmlElement e = doc->FirstChildElement(root, row.name);
    if (row.text == nullptr) {
      EXPECT_EQ(e, nullptr) << row.name;
    } else {
      ASSERT_NE(e, nullptr) << row.name;
      EXPECT_EQ(doc->Text(e), row.text) << row.name;
    }
  }
  EXPECT_EQ(doc->FirstChildElement(nullptr, "K"), nullptr);
}

TEST(MsxmlDocument, UntouchedContentIsWrittenBack) {
  TempDir dir;
  const std::string path = dir.File("p.xml");
  const std::string body =
      "<profile>\n  <!-- keep me -->\n  <Other a=\"1\">  spaced  </Other>\n"
      "  <S><K>5</K></S>\n</profile>";
  Spit(path, "<?xml version=\"1.0\"?>\n" + body);
  auto doc = CreateXmlDocument();
  ASSERT_EQ(LoadFile(*doc, path), XmlLoadResult::Loaded);
  XmlElement sec = doc->FirstChildElement(doc->DocumentElement(), "S");
  doc->SetText(doc->FirstChildElement(sec, "K"), "6");
  ASSERT_TRUE(SaveFile(*doc, path));
  std::string expected = body;
  expected.replace(expected.find("<K>5"), 4, "<K>6");
  EXPECT_NE(Slurp(path).find(expected), std::string::npos) << Slurp(path);
}

TEST(MsxmlDocument, RemoveDropsTheElement) {
  TempDir dir;
  Spit(dir.File("p.xml"), "<profile><S><A>1</A><B>2</B></S></profile>");
  auto doc = CreateXmlDocument();
  ASSERT_EQ(LoadFile(*doc, dir.File("p.xml")), XmlLoadResult::Loaded);
  XmlElement sec = doc->FirstChildElement(doc->DocumentElement(), "S");
  doc->Remove(doc->FirstChildElement(sec, "A"));
  EXPECT_EQ(doc->FirstChildElement(sec, "A"), nullptr);
  ASSERT_NE(doc->FirstChildElement(sec, "B"), nullptr);
  ASSERT_TRUE(SaveFile(*doc, dir.File("p.xml")));
  EXPECT_EQ(Slurp(dir.File("p.xml")).find("<A>"), std::string::npos);
}

TEST(MsxmlDocument, SaveReplacesWholeFileAndLeavesNoTemporary) {
  TempDir dir;
  const std::string path = dir.File("p.xml");
  Spit(path, "<profile><Old>a much longer old content than the new one</Old></profile>");
  auto doc = CreateXmlDocument();
  doc->CreateDocumentElement("profile");
  ASSERT_TRUE(SaveFile(*doc, path));
  EXPECT_EQ(Slurp(path).find("Old"), std::string::npos);
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"p.xml"});
}

TEST(MsxmlDocument, SaveIntoMissingDirectoryFailsAndWritesNothing) {
  TempDir dir;
  auto doc = CreateXmlDocument();
  doc->CreateDocumentElement("profile");
  EXPECT_FALSE(SaveFile(*doc, dir.File("nodir\\p.xml")));
  EXPECT_FALSE(SaveFile(*doc, ""));
  EXPECT_TRUE(dir.Files().empty());
}

TEST(MsxmlDocument, DocumentTypeDeclarationsAreRefused) {
  TempDir dir;
  Spit(dir.File("secret.txt"), "SECRET");
  std::string bomb = "<!DOCTYPE profile [<!ENTITY a \"aaaaaaaaaaaaaaaa\">";
  const char* prev = "a";
  std::string names[10];
  for (int i = 0; i < 10; ++i) {
    names[i] = "e" + std::to_string(i);
    bomb += "<!ENTITY " + names[i] + " \"";
    for (int r = 0; r < 16; ++r) bomb += std::string("&") + prev + ";";
    bomb += "\">";
    prev = names[i].c_str();
  }
  bomb += "]><profile><K>&e9;</K></profile>";
  const struct {
    const char* name;
    std::string text;
  } rows[] = {
      {"external entity",
       "<!DOCTYPE profile [<!ENTITY x SYSTEM \"secret.txt\">]><profile><K>&x;</K></profile>"},
      {"nested entities", bomb},
  };
  for (const auto& row : rows) {
    Spit(dir.File("p.xml"), row.text);
    auto doc = CreateXmlDocument();
    EXPECT_EQ(LoadFile(*doc, dir.File("p.xml")), XmlLoadResult::Unparseable) << row.name;
  }
}

TEST(MsxmlDocument, ProfilePathIsUsableOnTheNtFamily) {
  EXPECT_EQ(ProfilePathUsable(), (GetVersion() & 0x80000000u) == 0);
}

}  // namespace
}  // namespace km4r::platform
