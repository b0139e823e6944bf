// The profile store against real files, through the platform's XmlDocument
// only, so the same tests hold for every platform's document.
#include "settings/profile_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// After windows.h.
#include <sddl.h>
#else
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "bench/tools/profile_generator.h"
#include "platform/profile_file.h"
#include "plugin/profile_outcome.h"
#include "tests/settings/test_files.h"

namespace km4r {
namespace {

using test::AsSaved;
using test::ReadFile;
using test::ScratchDir;
using test::UseProfile;
using test::WriteFile;

constexpr const char* kSection = "Quorvix_KM4R_Pendant";

class ProfileStoreTest : public ::testing::Test {
 protected:
  ProfileStoreTest() : path_(dir_.Path("profile.xml")) { UseProfile(path_); }
  ~ProfileStoreTest() override { UseProfile(""); }
  ScratchDir dir_;
  std::string path_;
};

struct ReadCase {
  const char* stored;
  int32_t expected;
};

class ProfileStoreReadTest : public ProfileStoreTest,
                             public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ProfileStoreReadTest, ReadsLeadingInteger) {
  WriteFile(path_, std::string("<profile><S><K>") + GetParam().stored + "</K></S></profile>");
  ProfileStore store;
  EXPECT_EQ(store.GetInt("S", "K", 77), GetParam().expected) << GetParam().stored;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ProfileStoreReadTest,
    ::testing::Values(ReadCase{"12abc", 12}, ReadCase{" 7", 7}, ReadCase{"abc", 0},
                      ReadCase{"-3", -3}, ReadCase{"+8", 8}, ReadCase{"\r\n\t 42 ", 42},
                      ReadCase{"0", 0}, ReadCase{"- 5", 0}, ReadCase{"2147483647", INT_MAX},
                      ReadCase{"-2147483648", INT_MIN}, ReadCase{"99999999999", INT_MAX},
                      ReadCase{"&#49;2", 12}, ReadCase{"<![CDATA[15]]>", 15},
                      ReadCase{"<b>3</b>4", 34}));

TEST_F(ProfileStoreTest, MissingSectionOrKeyGivesDefaultAndChangesNothing) {
  const std::string original =
      "<?xml version=\"1.0\"?>\n<!-- c -->\n<profile a='1'>\n  <Other><K>5</K></Other>\n"
      "  <S><Key>9</Key></S>\n</profile>\n";
  WriteFile(path_, original);
  {
    ProfileStore store;
    EXPECT_EQ(store.GetInt("Missing", "K", -4), -4);
    EXPECT_EQ(store.GetInt("S", "Missing", 31), 31);
    // Only a direct child of the root is a section.
    EXPECT_EQ(store.GetInt("K", "K", 6), 6);
  }
  EXPECT_EQ(AsSaved(ReadFile(path_)), AsSaved(original));
}

TEST_F(ProfileStoreTest, RootWithAnotherNameIsKept) {
  WriteFile(path_, "<hostcfg><A>1</A></hostcfg>");
  {
    ProfileStore store;
    store.SetInt(kSection, "StepSize1", 4);
  }
  std::string saved = ReadFile(path_);
  EXPECT_EQ(saved.find("<profile"), std::string::npos) << saved;
  std::size_t section = saved.find("<Quorvix_KM4R_Pendant>");
  ASSERT_NE(section, std::string::npos) << saved;
  EXPECT_LT(saved.find("<A>1</A>"), section);
  EXPECT_LT(section, saved.find("</hostcfg>"));
  ProfileStore reread;
  EXPECT_EQ(reread.GetInt(kSection, "StepSize1", 0), 4);
}

TEST_F(ProfileStoreTest, EmptyKeyElementIsRemovedFromFile) {
  WriteFile(path_, "<profile><S><A></A><B/><C>4</C></S></profile>");
  {
    ProfileStore store;
    EXPECT_EQ(store.GetInt("S", "A", 11), 11);
    EXPECT_EQ(store.GetInt("S", "B", 12), 12);
    EXPECT_EQ(store.GetInt("S", "C", 13), 4);
  }
  std::string saved = ReadFile(path_);
  EXPECT_EQ(saved.find("<A"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("<B"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<C>4</C>"), std::string::npos) << saved;
}

TEST_F(ProfileStoreTest, NewSectionGoesAfterAllChildrenWithKeyAsOnlyChild) {
  WriteFile(path_,
            "<profile>\n  <First/>\n  <!-- note -->\n  <Last x=\"1\">t</Last>\n  <?pi x?>\n"
            "</profile>");
  {
    ProfileStore store;
    store.SetInt("New", "K", 3);
  }
  std::string saved = ReadFile(path_);
  std::size_t section = saved.find("<New>");
  ASSERT_NE(section, std::string::npos) << saved;
  EXPECT_GT(section, saved.find("<?pi x?>"));
  EXPECT_LT(section, saved.find("</profile>"));
  std::size_t end = saved.find("</New>");
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(saved.substr(section, end + 6 - section), "<New><K>3</K></New>");
}

TEST_F(ProfileStoreTest, KeysAddedAndReplacedInExistingSection) {
  WriteFile(path_, "<profile><S><A>1</A><A>2</A></S><S><B>5</B></S></profile>");
  {
    ProfileStore store;
    // The first of equal names is the one read and written.
    EXPECT_EQ(store.GetInt("S", "A", 0), 1);
    EXPECT_EQ(store.GetInt("S", "B", 8), 8);
    store.SetInt("S", "A", 10);
    store.SetInt("S", "B", 20);
  }
  EXPECT_EQ(AsSaved(ReadFile(path_)),
            AsSaved("<profile><S><A>10</A><A>2</A><B>20</B></S><S><B>5</B></S></profile>"));
}

TEST_F(ProfileStoreTest, WritesPlainDecimal) {
  const int32_t values[] = {0, -1, 7, 2147483647, INT_MIN};
  const char* texts[] = {">0<", ">-1<", ">7<", ">2147483647<", ">-2147483648<"};
  {
    ProfileStore store;
    for (int i = 0; i < 5; ++i) store.SetInt("S", ("K" + std::to_string(i)).c_str(), values[i]);
  }
  std::string saved = ReadFile(path_);
  ProfileStore reread;
  for (int i = 0; i < 5; ++i) {
    EXPECT_NE(saved.find(std::string("<K") + std::to_string(i) + texts[i]), std::string::npos)
        << saved;
    EXPECT_EQ(reread.GetInt("S", ("K" + std::to_string(i)).c_str(), 99), values[i]);
  }
}

TEST_F(ProfileStoreTest, MissingFileIsCreatedWithProfileRoot) {
  {
    ProfileStore store;
    EXPECT_EQ(store.GetInt(kSection, "StepSize1", 2), 2);
  }
  ASSERT_TRUE(std::filesystem::exists(path_));
  std::string saved = ReadFile(path_);
  EXPECT_NE(saved.find("<profile"), std::string::npos) << saved;
  {
    ProfileStore store;
    store.SetInt(kSection, "StepSize1", 3);
  }
  ProfileStore reread;
  EXPECT_EQ(reread.GetInt(kSection, "StepSize1", 2), 3);
}

TEST_F(ProfileStoreTest, EmptyPathLoadsAndSavesNothing) {
  UseProfile("");
  {
    ProfileStore store;
    store.SetInt("S", "K", 5);
    EXPECT_EQ(store.GetInt("S", "K", 1), 5);  // held in memory while the store lives
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir_.dir()));
}

// A file that is there but cannot be used must come out of a store
// untouched: the host's profile is worth more than our settings.
struct BadFileCase {
  const char* name;
  std::string content;
};

class ProfileStoreBadFileTest : public ProfileStoreTest,
                                public ::testing::WithParamInterface<BadFileCase> {};

TEST_P(ProfileStoreBadFileTest, UnparseableFileIsNeverOverwritten) {
  WriteFile(path_, GetParam().content);
  {
    ProfileStore store;
    EXPECT_EQ(store.GetInt("S", "K", 42), 42);
    store.SetInt(kSection, "StepSize1", 3);
    // What to do about it, and the path once.
    const std::string notice = ConfigNotice(store.Save(), path_);
    EXPECT_NE(notice.find("Repair it, or move it away"), std::string::npos) << notice;
    EXPECT_EQ(notice.find(path_), notice.rfind(path_)) << notice;
  }
  EXPECT_TRUE(ReadFile(path_) == GetParam().content) << GetParam().name;
  std::size_t entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir_.dir())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1u) << "no stray temporary file";
}

INSTANTIATE_TEST_SUITE_P(Files, ProfileStoreBadFileTest,
                         ::testing::Values(BadFileCase{"unclosed", "<profile><S><K>1</K></S>"},
                                           BadFileCase{"mismatched", "<profile><S></T></profile>"},
                                           BadFileCase{"text", "this is not xml\n"},
                                           BadFileCase{"comment only", "<!-- nothing else -->"},
                                           BadFileCase{"bad attribute", "<profile a=1></profile>"},
                                           BadFileCase{"binary", std::string("\x01\x02<\0\xff", 5)},
                                           // Well-formed up to a NUL byte inside the root tag.
                                           BadFileCase{"nul in tag",
                                                       std::string("<profile/\0>", 11)}),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           for (char& c : n)
                             if (c == ' ') c = '_';
                           return n;
                         });

TEST_F(ProfileStoreTest, OversizedFileIsRefusedAndKept) {
  // Well-formed, only too large: a profile followed by blanks.
  const std::string head = "<profile><S><K>5</K></S></profile>";
  const std::uintmax_t size = (std::uintmax_t{64} << 20) + 16;
  {
    std::ofstream f(path_, std::ios::binary | std::ios::trunc);
    f << head;
    const std::string blanks(1 << 20, ' ');
    for (std::uintmax_t left = size - head.size(); left > 0;) {
      std::size_t n = static_cast<std::size_t>(std::min<std::uintmax_t>(left, blanks.size()));
      f.write(blanks.data(), static_cast<std::streamsize>(n));
      left -= n;
    }
  }
  {
    ProfileStore store;
    EXPECT_EQ(store.GetInt("S", "K", 42), 42);
    store.SetInt("S", "K", 1);
  }
  EXPECT_EQ(std::filesystem::file_size(path_), size);
  std::ifstream f(path_, std::ios::binary);
  std::string start(head.size(), '\0');
  f.read(start.data(), static_cast<std::streamsize>(start.size()));
  EXPECT_EQ(start, head);
}

TEST_F(ProfileStoreTest, EntityBombIsNotExpanded) {
  std::string doc =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE profile [\n <!ENTITY a \"aaaaaaaaaaaaaaaa\">\n";
  const char* prev = "a";
  std::string names[12];
  for (int i = 0; i < 12; ++i) {
    names[i] = "e" + std::to_string(i);
    doc += " <!ENTITY " + names[i] + " \"";
    for (int r = 0; r < 16; ++r) doc += std::string("&") + prev + ";";
    doc += "\">\n";
    prev = names[i].c_str();
  }
  doc += "]>\n<profile><S><K>&e11;</K><N>6</N></S></profile>\n";
  WriteFile(path_, doc);
#ifdef _WIN32
  {
    // A DOM that cannot keep references unexpanded refuses the document
    // type instead: the file is not used and stays as it is.
    {
      ProfileStore store;
      EXPECT_EQ(store.GetInt("S", "K", 42), 42);
      EXPECT_EQ(store.GetInt("S", "N", 42), 42);
      store.SetInt("S", "N", 7);
    }
    EXPECT_TRUE(ReadFile(path_) == doc);
    return;
  }
#endif
  {
    ProfileStore store;
    EXPECT_EQ(store.GetInt("S", "K", 42), 0);
    EXPECT_EQ(store.GetInt("S", "N", 42), 6);
    store.SetInt("S", "N", 7);
  }
  std::string saved = ReadFile(path_);
  EXPECT_LT(saved.size(), doc.size() + 16);
  EXPECT_NE(saved.find("<K>&e11;</K>"), std::string::npos);
  EXPECT_NE(saved.find("<N>7</N>"), std::string::npos);
}

TEST_F(ProfileStoreTest, DirectoryAtPathIsLeftAlone) {
  std::filesystem::create_directory(path_);
  {
    ProfileStore store;
    EXPECT_EQ(store.GetInt("S", "K", 42), 42);
    store.SetInt("S", "K", 1);
  }
  EXPECT_TRUE(std::filesystem::is_directory(path_));
  EXPECT_TRUE(std::filesystem::is_empty(path_));
}

TEST_F(ProfileStoreTest, UnreadableFileIsNotOverwritten) {
#ifdef _WIN32
  GTEST_SKIP() << "no POSIX permission bits: taking them away only marks the file read-only";
#endif
  const std::string original = "<profile><S><K>5</K></S></profile>";
  WriteFile(path_, original);
  std::filesystem::permissions(path_, std::filesystem::perms::none);
  if (std::ifstream(path_).is_open()) GTEST_SKIP() << "permissions do not bind this user";
  {
    ProfileStore store;
    EXPECT_EQ(store.GetInt("S", "K", 42), 42);
    store.SetInt("S", "K", 1);
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
  EXPECT_EQ(ReadFile(path_), original);
}

TEST_F(ProfileStoreTest, SaveKeepsPermissionsAndLeavesNoTemporaryFile) {
#ifdef _WIN32
  GTEST_SKIP() << "no POSIX permission bits";
#endif
  using std::filesystem::perms;
  const perms modes[] = {
      perms::owner_read | perms::owner_write | perms::group_read,
      perms::owner_read | perms::owner_write | perms::others_read | perms::group_write};
  for (perms mode : modes) {
    WriteFile(path_, "<profile><S><K>5</K></S></profile>");
    std::filesystem::permissions(path_, mode);
    {
      ProfileStore store;
      store.SetInt("S", "K", 6);
    }
    EXPECT_EQ(std::filesystem::status(path_).permissions(), mode);
    EXPECT_EQ(ReadFile(path_), "<profile><S><K>6</K></S></profile>");
    std::size_t entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir_.dir())) {
      (void)e;
      ++entries;
    }
    EXPECT_EQ(entries, 1u);
  }
}

#ifndef _WIN32
TEST_F(ProfileStoreTest, FifoAtPathIsNeitherReadNorReplaced) {
  ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
  {
    ProfileStore store;  // must not block waiting for a writer
    EXPECT_EQ(store.GetInt("S", "K", 42), 42);
    store.SetInt("S", "K", 1);
  }
  EXPECT_EQ(std::filesystem::status(path_).type(), std::filesystem::file_type::fifo);
}
#endif

// Splits saved around the pendant section and checks everything outside it
// is what was loaded (in the form the document writes it).
void ExpectOnlyPendantSectionChanged(const std::string& loaded, const std::string& written) {
  const std::string original = AsSaved(loaded), saved = AsSaved(written);
  const std::string open = "<Quorvix_KM4R_Pendant>", close = "</Quorvix_KM4R_Pendant>";
  std::size_t o1 = original.find(open), s1 = saved.find(open);
  ASSERT_NE(s1, std::string::npos);
  std::size_t s2 = saved.find(close, s1) + close.size();
  if (o1 != std::string::npos) {
    std::size_t o2 = original.find(close, o1) + close.size();
    EXPECT_TRUE(saved.compare(0, s1, original, 0, o1) == 0 && s1 == o1);
    EXPECT_TRUE(saved.substr(s2) == original.substr(o2));
  } else {
    // Appended as the root's last child: the file up to the root's end tag
    // and everything after it are unchanged.
    std::size_t rootEnd = original.rfind("</profile>");
    EXPECT_EQ(s1, rootEnd);
    EXPECT_TRUE(saved.compare(0, s1, original, 0, rootEnd) == 0);
    EXPECT_TRUE(saved.substr(s2) == original.substr(rootEnd));
  }
}

TEST_F(ProfileStoreTest, RealisticProfileOutsidePendantSectionIsUnchanged) {
  for (bool withSection : {true, false}) {
    SCOPED_TRACE(withSection ? "section present" : "section added");
    const std::string original = bench::GenerateHostProfile(300 * 1024, withSection);
    WriteFile(path_, original);
    {
      ProfileStore store;
      EXPECT_EQ(store.GetInt(kSection, "StepSize1", 2), withSection ? 4 : 2);
      EXPECT_EQ(store.GetInt(kSection, "DelaySteps", 25), 25);
      EXPECT_EQ(store.GetInt("Section3", "Key2", 0), 23);
      store.SetInt(kSection, "StepSize1", 1);
      store.SetInt(kSection, "CAmode", 1);
      const ProfileSaveResult saved = store.Save();
      EXPECT_EQ(saved.outcome, ProfileSaveResult::Saved) << saved.Describe();
    }
    std::string saved = ReadFile(path_);
    ExpectOnlyPendantSectionChanged(original, saved);
    EXPECT_EQ(saved.find("<DelaySteps"), std::string::npos);
    ProfileStore reread;
    EXPECT_EQ(reread.GetInt(kSection, "StepSize1", 0), 1);
    EXPECT_EQ(reread.GetInt(kSection, "CAmode", 0), 1);
  }
}

TEST_F(ProfileStoreTest, UntouchedProfileIsRewrittenWithTheSameContent) {
  const std::string original = "\xEF\xBB\xBF" + bench::GenerateHostProfile(64 * 1024, true);
  WriteFile(path_, original);
  { ProfileStore store; }
  EXPECT_TRUE(AsSaved(ReadFile(path_)) == AsSaved(original));
}

// The file around the profile: its encoding, its name, its permissions and
// links. Each row loads a profile that holds StepSize1 4 (or none), sets it to
// 3 and checks the file's bytes afterwards.
enum class Setup {
  Plain,
  ReadOnlyFile,      // the user may not write the file
  ForeignOwner,      // root's file, writable by all, saved by another user
  ReadOnlyDir,       // writable file in a directory the user may not write
  Link,              // the path is a symbolic link to the profile
  DanglingLink,      // a link to a file not there yet, in an existing directory
  HardLink,          // the profile has a second name
  NewInReadOnlyDir,  // no profile yet, in a directory the user may not write
};

struct FileCase {
  const char* name;
  const char* file;  // the profile's name in the scratch directory
  std::string before;
  Setup setup;
  int32_t read;  // StepSize1 as loaded, or -1: not checked
  // No: the bytes must be exactly as before. IfParsed: written only when the
  // platform's parser takes the text at all (it then reads back as parsed).
  enum Written { No, Yes, IfParsed } written;
  std::vector<std::string> saved;  // byte strings the saved file holds
  const char* notice = "";         // what the Config message box advises, when not saved
};

std::string Utf16(const std::string& ascii, bool bom) {
  std::string out = bom ? std::string("\xFF\xFE") : std::string();
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

std::string Utf16Be(const std::string& ascii, bool bom) {
  std::string out = bom ? std::string("\xFE\xFF") : std::string();
  for (char c : ascii) {
    out += '\0';
    out += c;
  }
  return out;
}

const std::string kPendant4 =
    "<Quorvix_KM4R_Pendant><StepSize1>4</StepSize1></Quorvix_KM4R_Pendant>";
const std::string kSaved3 = "<StepSize1>3</StepSize1>";
const std::string kPendant3 = "<Quorvix_KM4R_Pendant>" + kSaved3 + "</Quorvix_KM4R_Pendant>";

// Not well-formed (the declaration runs on into the elements), but a lenient
// parser takes it; over 8 MB, where no check may be skipped.
std::string LenientOversized() {
  std::string doc = "<?xml version=\"1.0\" endoicng=\"UTF\xD2-8\"/><!-- c --><profile>2?yi x?>" +
                    kPendant4 + "</profile>";
  return doc + "<!--" + std::string(9u << 20, 'x') + "-->";
}

const FileCase kFileCases[] = {
    {"utf8",
     "p.xml",
     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<profile><H>caf\xC3\xA9</H>" + kPendant4 +
         "</profile>",
     Setup::Plain,
     4,
     FileCase::Yes,
     {"encoding=\"UTF-8\"", "<H>caf\xC3\xA9</H>", kSaved3}},
    {"utf8 with byte-order mark",
     "p.xml",
     "\xEF\xBB\xBF<profile><H>\xE2\x82\xAC</H>" + kPendant4 + "</profile>",
     Setup::Plain,
     4,
     FileCase::Yes,
     {"\xEF\xBB\xBF<profile><H>\xE2\x82\xAC</H>", kSaved3}},
    {"iso-8859-1",
     "p.xml",
     "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<profile><H>caf\xE9"
     "</H>" +
         kPendant4 + "</profile>",
     Setup::Plain,
     4,
     FileCase::Yes,
     {"encoding=\"ISO-8859-1\"", "<H>caf\xE9</H>", kSaved3}},
    {"windows-1252",
     "p.xml",
     "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<profile><H>"
     "\x80 caf\xE9</H>" +
         kPendant4 + "</profile>",
     Setup::Plain,
     4,
     FileCase::Yes,
     {"encoding=\"windows-1252\"", "<H>\x80 caf\xE9</H>", kSaved3}},
    // A character the encoding cannot hold, as a reference: saved, and it
    // reads back as that character.
    {"windows-1252 with a reference outside it",
     "p.xml",
     "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<profile><H a=\"&#x2603;\">"
     "&#x2603; caf\xE9</H>" +
         kPendant4 + "</profile>",
     Setup::Plain,
     4,
     FileCase::Yes,
     {"encoding=\"windows-1252\"", "caf\xE9</H>", kSaved3}},
    {"utf16 with byte-order mark",
     "p.xml",
     Utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
           "<profile><H>x</H>" +
               kPendant4 + "</profile>",
           true),
     Setup::Plain,
     4,
     FileCase::Yes,
     {std::string("\xFF\xFE<\0", 4), Utf16("encoding=\"UTF-16\"", false), Utf16("<H>x</H>", false),
      Utf16(kSaved3, false)}},
    // Written back in the encoding and byte order read, the mark kept or
    // left out as it was: the whole file is the one expected.
    {"utf16 big-endian with byte-order mark",
     "p.xml",
     Utf16Be(
         "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<profile>" + kPendant4 + "</profile>\r\n",
         true),
     Setup::Plain,
     4,
     FileCase::Yes,
     {Utf16Be(
         "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<profile>" + kPendant3 + "</profile>\r\n",
         true)}},
    {"utf16 big-endian without byte-order mark",
     "p.xml",
     Utf16Be("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<profile>" + kPendant4 + "</profile>\n",
             false),
     Setup::Plain,
     4,
     FileCase::Yes,
     {Utf16Be("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<profile>" + kPendant3 + "</profile>\n",
              false)}},
    {"utf16 with byte-order mark and no declaration",
     "p.xml",
     Utf16("<profile>" + kPendant4 + "</profile>", true),
     Setup::Plain,
     4,
     FileCase::Yes,
     {Utf16("<profile>" + kPendant3 + "</profile>", true)}},
    {"windows-1251",
     "p.xml",
     "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<profile><H>\xCF\xF0\xE8</H>" + kPendant4 +
         "</profile>\n",
     Setup::Plain,
     4,
     FileCase::Yes,
     {"<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<profile><H>\xCF\xF0\xE8</H>" +
      kPendant3 + "</profile>\n"}},
    {"path with %41",
     "p%41.xml",
     "<profile>" + kPendant4 + "</profile>",
     Setup::Plain,
     4,
     FileCase::Yes,
     {kSaved3}},
    {"empty", "p.xml", "", Setup::Plain, 2, FileCase::Yes, {"<profile>", kSaved3}},
    {"blank", "p.xml", " \r\n\t\n", Setup::Plain, 2, FileCase::Yes, {"<profile>", kSaved3}},
    {"read-only file",
     "p.xml",
     "<profile>" + kPendant4 + "</profile>",
     Setup::ReadOnlyFile,
     4,
     FileCase::No,
     {},
     "Clear its read-only attribute"},
    {"new profile in a read-only directory",
     "p.xml",
     "",
     Setup::NewInReadOnlyDir,
     2,
     FileCase::No,
     {},
     "Make its folder writable, or choose another profile"},
    {"root's file saved by another user",
     "p.xml",
     "<profile>" + kPendant4 + "</profile>",
     Setup::ForeignOwner,
     4,
     FileCase::Yes,
     {kSaved3}},
    {"writable file in a read-only directory",
     "p.xml",
     "<profile>" + kPendant4 + "</profile>",
     Setup::ReadOnlyDir,
     4,
     FileCase::Yes,
     {kSaved3}},
    {"symbolic link",
     "p.xml",
     "<profile>" + kPendant4 + "</profile>",
     Setup::Link,
     4,
     FileCase::Yes,
     {kSaved3}},
    {"dangling symbolic link", "p.xml", "", Setup::DanglingLink, 2, FileCase::Yes, {kSaved3}},
    {"hard link",
     "p.xml",
     "<profile>" + kPendant4 + "</profile>",
     Setup::HardLink,
     4,
     FileCase::Yes,
     {"<profile>" + kPendant3 + "</profile>"}},
    {"malformed over 8 MB",
     "p.xml",
     LenientOversized(),
     Setup::Plain,
     -1,
     FileCase::IfParsed,
     {kSaved3}},
};

class ProfileFileTest : public ::testing::TestWithParam<FileCase> {
 protected:
  ~ProfileFileTest() override { UseProfile(""); }
  ScratchDir dir_;
};

#ifndef _WIN32
// Permissions do not bind root: body runs in a child as user, in group and
// groups only; its gtest checks fail the child.
bool InChildAs(uid_t user, gid_t group, std::vector<gid_t> groups,
               const std::function<void()>& body) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (user != ::geteuid() && (::setgroups(groups.size(), groups.data()) != 0 ||
                                ::setgid(group) != 0 || ::setuid(user) != 0))
      ::_exit(2);
    body();
    std::fflush(stdout);
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

bool RunStoreAs(uid_t user, int32_t expectRead, const char* notice) {
  return InChildAs(user, user, {}, [&] {
    ProfileStore store;
    const int32_t read = store.GetInt(kSection, "StepSize1", 2);
    store.SetInt(kSection, "StepSize1", 3);
    const std::string said = ConfigNotice(store.Save(), store.path());
    if (expectRead >= 0) {
      EXPECT_EQ(read, expectRead);
    }
    EXPECT_NE(said.find(notice), std::string::npos) << said;
    if (!said.empty()) {
      EXPECT_TRUE(std::isupper(static_cast<unsigned char>(said[said.find("\n\n") + 2]))) << said;
    }
  });
}
#endif

TEST_P(ProfileFileTest, SavesOnlyWhatReadsBackAndKeepsTheFile) {
  const FileCase& c = GetParam();
  std::string path = dir_.Path(c.file), file = path;
  namespace fs = std::filesystem;
  bool otherUser = false;
  switch (c.setup) {
    case Setup::Plain:
      break;
    case Setup::ReadOnlyFile:
#ifdef _WIN32
      WriteFile(file, c.before);
      SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
#else
      otherUser = true;
      fs::permissions(dir_.dir(), fs::perms::all);
#endif
      break;
    case Setup::ForeignOwner:
    case Setup::ReadOnlyDir:
    case Setup::NewInReadOnlyDir:
#ifdef _WIN32
      GTEST_SKIP() << "no owner or directory permission bits to test here";
#else
      if (::geteuid() != 0) GTEST_SKIP() << "needs root to own the file";
      otherUser = true;
      if (c.setup == Setup::ForeignOwner) fs::permissions(dir_.dir(), fs::perms::all);
#endif
      break;
    case Setup::HardLink: {
      file = dir_.Path("real.xml");
      WriteFile(file, c.before);
      std::error_code ec;
      fs::create_hard_link(file, path, ec);
      if (ec) GTEST_SKIP() << "no hard links here: " << ec.message();
      break;
    }
    case Setup::Link:
    case Setup::DanglingLink: {
      file = dir_.Path("real.xml");
      std::error_code ec;
      fs::create_symlink(file, path, ec);
      if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
      break;
    }
  }
  if (c.setup != Setup::DanglingLink && c.setup != Setup::NewInReadOnlyDir && !fs::exists(file))
    WriteFile(file, c.before);
#ifndef _WIN32
  if (c.setup == Setup::ReadOnlyFile)
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  if (c.setup == Setup::ForeignOwner || c.setup == Setup::ReadOnlyDir)
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::group_write | fs::perms::others_read |
                              fs::perms::others_write);
  struct stat before {};
  ::stat(file.c_str(), &before);
#endif
  UseProfile(path);
#ifdef _WIN32
  (void)otherUser;
  {
    ProfileStore store;
    const int32_t read = store.GetInt(kSection, "StepSize1", 2);
    if (c.read >= 0) {
      EXPECT_EQ(read, c.read);
    }
    store.SetInt(kSection, "StepSize1", 3);
    const std::string said = ConfigNotice(store.Save(), path);
    EXPECT_NE(said.find(c.notice), std::string::npos) << said;
    EXPECT_EQ(said.find(path), said.rfind(path)) << said;
  }
#else
  const uid_t nobody = 65534;
  EXPECT_TRUE(RunStoreAs(otherUser && ::geteuid() == 0 ? nobody : ::geteuid(), c.read, c.notice));
#endif
  const std::string after = ReadFile(file);
  if (c.written == FileCase::No ||
      (c.written == FileCase::IfParsed && !platform::CreateXmlDocument()->Parse(c.before))) {
    EXPECT_TRUE(after == c.before) << "the file changed";
  } else {
    for (const std::string& bytes : c.saved)
      EXPECT_NE(after.find(bytes), std::string::npos) << "no " << bytes << " in\n" << after;
    ProfileStore reread;
    EXPECT_EQ(reread.GetInt(kSection, "StepSize1", 0), 3);
  }
  if (c.setup == Setup::Link || c.setup == Setup::DanglingLink) {
    EXPECT_TRUE(fs::is_symlink(path)) << "the link was replaced";
  }
  if (c.setup == Setup::HardLink) {
    EXPECT_TRUE(ReadFile(path) == after) << "the profile's names were split";
  }
#ifdef _WIN32
  SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
#else
  struct stat now {};
  ::stat(file.c_str(), &now);
  if (c.setup != Setup::DanglingLink) {
    EXPECT_EQ(now.st_uid, before.st_uid) << "the file changed owner";
    EXPECT_EQ(now.st_mode, before.st_mode) << "the file changed mode";
  }
#endif
  std::size_t entries = 0;
  for (auto& e : fs::directory_iterator(dir_.dir())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, c.setup == Setup::NewInReadOnlyDir ? 0u
                     : file == path                     ? 1u
                                                        : 2u)
      << "no stray temporary file";
}

INSTANTIATE_TEST_SUITE_P(Files, ProfileFileTest, ::testing::ValuesIn(kFileCases),
                         [](const auto& info) {
                           std::string n;
                           for (const char* p = info.param.name; *p != '\0'; ++p)
                             n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return n;
                         });

// Every way a save can be cut short or refused, made at the file layer's
// seam. Each row loads the profile below (StepSize1 4000, private to its
// owner), sets StepSize1 to value (0: sets nothing) and saves under the
// faults; then the user or the host meddles, and a second store, without
// faults, loads and saves it again. The profile must never end up
// unparseable, emptied or silently reverted; a copy of ours stays behind
// only when it does not fit the profile, kept aside and said; every file the
// store makes is no more open than the profile as soon as it has a name,
// and a second session's clean-up racing the save takes none of them.
using platform::FileFaults;
using Outcome = ProfileSaveResult::Outcome;

const std::string kBefore =
    "<?xml version=\"1.0\"?>\r\n<!-- host -->\n<profile>\n  <Quorvix_KM4R_Pendant>"
    "<StepSize1>4000</StepSize1></Quorvix_KM4R_Pendant>\n  <H a=\"1\">host</H>\n</profile>\n"
    "<!-- end -->\n\n";

struct InterruptCase {
  const char* name;
  FileFaults faults;
  int32_t value;
  Outcome outcome;                            // of the first save
  enum File { Before, After, Damaged } file;  // after the first save
  Outcome next;                               // of the second store's save
  int32_t nextRead;                           // StepSize1 as the second store reads it
  bool windowsOnly;
  // Between the stores. Deleted, Emptied, Newer...: the profile so. Adopt:
  // the profile is only under a temporary name of ours. Foreign: files of
  // others' beside the profile, which must stay.
  enum Meddle { None, Deleted, Emptied, Newer, NewerDoctype, NewerBroken, Adopt, Foreign };
  Meddle meddle = None;
};

const std::string kNewer =
    "<profile><Quorvix_KM4R_Pendant><StepSize1>7</StepSize1></Quorvix_KM4R_Pendant></profile>";

// What the meddling leaves at the profile's path.
std::string Meddled(InterruptCase::Meddle m) {
  switch (m) {
    case InterruptCase::NewerDoctype:
      return "<!-- <!DOCTYPE profile> -->" + kNewer;
    case InterruptCase::NewerBroken:
      return kNewer.substr(0, kNewer.size() - 10);
    default:
      return m == InterruptCase::Newer ? kNewer : "";
  }
}

FileFaults Faults(void (*set)(FileFaults&)) {
  FileFaults f;
  set(f);
  return f;
}

// The recovery copy of a killed in-place save, then the profile changed by
// someone else: never put back over that.
InterruptCase StaleCopy(const char* what, InterruptCase::Meddle meddle, Outcome next,
                        int32_t read) {
  FileFaults f;
  f.noTempBeside = true;
  f.kill = FileFaults::MidInPlace;
  return {what, f, 3, Outcome::NotSaved, InterruptCase::Damaged, next, read, false, meddle};
}

const InterruptCase kInterruptCases[] = {
    {"nothing changed: nothing written", Faults([](FileFaults& f) { f.diskFull = true; }), 0,
     Outcome::Unchanged, InterruptCase::Before, Outcome::Unchanged, 4000, false},
    {"the same value written: nothing written", Faults([](FileFaults& f) { f.diskFull = true; }),
     4000, Outcome::Unchanged, InterruptCase::Before, Outcome::Unchanged, 4000, false},
    {"changed", {}, 3, Outcome::Saved, InterruptCase::After, Outcome::Unchanged, 3, false},
    {"changed, in place", Faults([](FileFaults& f) { f.noTempBeside = true; }), 3, Outcome::Saved,
     InterruptCase::After, Outcome::Unchanged, 3, false},
    {"in place, recovery copy in the user's folder", Faults([](FileFaults& f) {
       f.noTempBeside = true;
       f.noRecoveryBeside = true;
     }),
     3, Outcome::Saved, InterruptCase::After, Outcome::Unchanged, 3, false},
    {"in place without any recovery copy: not saved", Faults([](FileFaults& f) {
       f.noTempBeside = true;
       f.noRecovery = true;
     }),
     3, Outcome::NotSaved, InterruptCase::Before, Outcome::Unchanged, 4000, false},
    {"disk full", Faults([](FileFaults& f) { f.diskFull = true; }), 3, Outcome::NotSaved,
     InterruptCase::Before, Outcome::Unchanged, 4000, false},
    {"disk full, in place", Faults([](FileFaults& f) {
       f.noTempBeside = true;
       f.profileDiskFull = true;
     }),
     123456, Outcome::NotSaved, InterruptCase::Before, Outcome::Unchanged, 4000, false},
    {"killed before the swap", Faults([](FileFaults& f) { f.kill = FileFaults::AfterTemp; }), 3,
     Outcome::NotSaved, InterruptCase::Before, Outcome::Unchanged, 4000, false},
    {"killed writing in place", Faults([](FileFaults& f) {
       f.noTempBeside = true;
       f.kill = FileFaults::MidInPlace;
     }),
     3, Outcome::NotSaved, InterruptCase::Damaged, Outcome::Restored, 4000, false},
    {"killed writing in place, copy in the user's folder", Faults([](FileFaults& f) {
       f.noTempBeside = true;
       f.noRecoveryBeside = true;
       f.kill = FileFaults::MidInPlace;
     }),
     3, Outcome::NotSaved, InterruptCase::Damaged, Outcome::Restored, 4000, false},
    {"swap leaves the profile gone (1176)", Faults([](FileFaults& f) { f.swapError = 1176; }), 3,
     Outcome::Saved, InterruptCase::After, Outcome::Unchanged, 3, true},
    {"swap moves the profile aside (1177)", Faults([](FileFaults& f) { f.swapError = 1177; }), 3,
     Outcome::Saved, InterruptCase::After, Outcome::Unchanged, 3, true},
    {"new file held open briefly", Faults([](FileFaults& f) { f.sharingViolations = 2; }), 3,
     Outcome::Saved, InterruptCase::After, Outcome::Unchanged, 3, true},
    {"new file held open throughout", Faults([](FileFaults& f) { f.sharingViolations = 1000; }), 3,
     Outcome::NotSaved, InterruptCase::Before, Outcome::Unchanged, 4000, true},
    {"swap leaves the profile gone (1176), new file held", Faults([](FileFaults& f) {
       f.swapError = 1176;
       f.swapHeld = true;
     }),
     3, Outcome::Saved, InterruptCase::After, Outcome::Unchanged, 3, true},
    {"profile only under our temporary name",
     {},
     3,
     Outcome::Saved,
     InterruptCase::After,
     Outcome::Restored,
     3,
     false,
     InterruptCase::Adopt},
    {"others' files beside the profile",
     {},
     3,
     Outcome::Saved,
     InterruptCase::After,
     Outcome::Unchanged,
     3,
     false,
     InterruptCase::Foreign},
    StaleCopy("deleted", InterruptCase::Deleted, Outcome::Saved, 0),
    StaleCopy("emptied", InterruptCase::Emptied, Outcome::Saved, 0),
    StaleCopy("newer", InterruptCase::Newer, Outcome::Unchanged, 7),
    StaleCopy("newer with a document type in a comment", InterruptCase::NewerDoctype,
              Outcome::Unchanged, 7),
    StaleCopy("newer and unparseable", InterruptCase::NewerBroken, Outcome::NotSaved, 0),
};

class InterruptedSaveTest : public ::testing::TestWithParam<InterruptCase> {
 protected:
  InterruptedSaveTest() : path_(dir_.Path("profile.xml")), user_(dir_.Path("user")) {
    std::filesystem::create_directory(user_);
    // The user's own folder for recovery copies, inside the scratch folder.
    if (const char* was = std::getenv(kUserFolderVariable)) userWas_ = was;
#ifdef _WIN32
    SetEnvironmentVariableA(kUserFolderVariable, (user_ + "\\").c_str());
#else
    ::setenv(kUserFolderVariable, user_.c_str(), 1);
#endif
    UseProfile(path_);
  }
  ~InterruptedSaveTest() override {
    platform::SetFileFaults({});
    UseProfile("");
#ifdef _WIN32
    SetEnvironmentVariableA(kUserFolderVariable, userWas_ ? userWas_->c_str() : nullptr);
#else
    if (userWas_) {
      ::setenv(kUserFolderVariable, userWas_->c_str(), 1);
    } else {
      ::unsetenv(kUserFolderVariable);
    }
#endif
  }
#ifdef _WIN32
  static constexpr const char* kUserFolderVariable = "TMP";
#else
  static constexpr const char* kUserFolderVariable = "XDG_CACHE_HOME";
#endif
  std::optional<std::string> userWas_;
  // Every file under the scratch folder.
  std::vector<std::string> Files() const {
    std::vector<std::string> out;
    for (auto& e : std::filesystem::recursive_directory_iterator(dir_.dir()))
      if (!e.is_directory()) out.push_back(e.path().filename().string());
    return out;
  }
  ScratchDir dir_;
  std::string path_, user_;
};

#ifdef _WIN32
// The access control entries of a file: type, rights and whom, one a line.
std::string AccessOf(const std::string& file) {
  DWORD need = 0;
  GetFileSecurityA(file.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &need);
  std::vector<char> sd(need + 1);
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  if (need == 0 ||
      !GetFileSecurityA(file.c_str(), DACL_SECURITY_INFORMATION, sd.data(), need, &need) ||
      !GetSecurityDescriptorDacl(sd.data(), &present, &acl, &defaulted) || !present || !acl)
    return "no DACL";
  std::string out;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(acl, i, reinterpret_cast<void**>(&ace))) continue;
    char* sid = nullptr;
    ConvertSidToStringSidA(&ace->SidStart, &sid);
    out += std::to_string(ace->Header.AceType) + " " + std::to_string(ace->Mask) + " " +
           (sid ? sid : "?") + "\n";
    LocalFree(sid);
  }
  return out;
}
#endif

// Each file the store makes, as it gets a name: no more open than the
// profile, and a second session's clean-up runs against it right then.
std::string g_profileAccess;
std::vector<std::string> g_tooOpen;

void CheckMadeFile(const std::string& file) {
#ifdef _WIN32
  const std::string access = AccessOf(file);
#else
  struct stat st {};
  ::stat(file.c_str(), &st);
  const std::string access = std::to_string(st.st_mode & 0777 & ~0600u);
#endif
  if (access != g_profileAccess) g_tooOpen.push_back(file + ": " + access);
  platform::RemoveStaleCopies(Module().profilePath);
}

TEST_P(InterruptedSaveTest, ProfileIsNeverLostNorRevertedSilently) {
  const InterruptCase& c = GetParam();
#ifndef _WIN32
  if (c.windowsOnly) GTEST_SKIP() << "a failure of the Windows swap";
#endif
  WriteFile(path_, kBefore);
#ifdef _WIN32
  PSECURITY_DESCRIPTOR own = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;FA;;;BA)(A;;FA;;;SY)",
                                                                   SDDL_REVISION_1, &own, nullptr));
  SetFileSecurityA(path_.c_str(), DACL_SECURITY_INFORMATION, own);
  LocalFree(own);
  g_profileAccess = AccessOf(path_);
  const std::string prefix = "profile.xml.";
  const unsigned long pid = GetCurrentProcessId();
#else
  std::filesystem::permissions(
      path_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  g_profileAccess = "0";
  const std::string prefix = ".profile.xml.";
  const unsigned long pid = static_cast<unsigned long>(::getpid());
#endif
  g_tooOpen.clear();
  std::string after = kBefore;
  if (c.value != 0) after.replace(after.find("4000"), 4, std::to_string(c.value));
  FileFaults faults = c.faults;
  faults.created = CheckMadeFile;
  platform::SetFileFaults(faults);
  ProfileSaveResult first;
  {
    ProfileStore store;
    EXPECT_EQ(store.GetInt(kSection, "StepSize1", 0), 4000);
    if (c.value != 0) store.SetInt(kSection, "StepSize1", c.value);
    first = store.Save();
  }
  platform::SetFileFaults({});
  EXPECT_EQ(g_tooOpen, std::vector<std::string>{}) << "made more open than the profile";
  EXPECT_EQ(first.outcome, c.outcome) << first.Describe();
  EXPECT_EQ(bool(first), c.outcome != Outcome::NotSaved);
  if (c.outcome == Outcome::NotSaved) {
    EXPECT_EQ(first.Describe().rfind("not saved: ", 0), 0u) << first.Describe();
  }
  const std::string file = ReadFile(path_);
  switch (c.file) {
    case InterruptCase::Before:
      EXPECT_TRUE(file == kBefore) << file;
      break;
    case InterruptCase::After:
      EXPECT_TRUE(file == after) << file;
      break;
    case InterruptCase::Damaged:
      EXPECT_FALSE(platform::CreateXmlDocument()->Parse(file)) << file;
      break;
  }
  std::vector<std::string> stay{"profile.xml"};
  const std::string held = "held";
  std::ifstream holding;
  switch (c.meddle) {
    case InterruptCase::None:
      break;
    case InterruptCase::Deleted:
      std::filesystem::remove(path_);
      break;
    case InterruptCase::Adopt:
      std::filesystem::rename(
          path_, dir_.Path((prefix + platform::TemporaryName(
                                         pid, platform::TextDigest(after.data(), after.size()), 0))
                               .c_str()));
      break;
    case InterruptCase::Foreign:
      for (const std::string& name :
           {prefix + "tmp", prefix + "tmpl", prefix + "km4r-recovery",
            prefix + platform::TemporaryName(pid, 0, 0),
            prefix + platform::TemporaryName(pid, platform::TextDigest(held.data(), 4), 0)}) {
        WriteFile(dir_.Path(name.c_str()), held);
        stay.push_back(name);
      }
      holding.open(dir_.Path(stay.back().c_str()));
      break;
    default:
      WriteFile(path_, Meddled(c.meddle));
      break;
  }
  // A copy of ours that does not fit what the profile has become.
  const bool aside = c.meddle != InterruptCase::None && c.file == InterruptCase::Damaged;
  if (aside) stay.push_back(prefix + "km4r-recovery.kept");
  ProfileSaveResult second;
  {
    ProfileStore next;
    EXPECT_EQ(next.GetInt(kSection, "StepSize1", 0), c.nextRead);
    second = next.Save();
  }
  holding.close();
  EXPECT_EQ(second.outcome, c.next) << second.Describe();
  if (c.next == Outcome::Restored) {
    EXPECT_TRUE(ReadFile(path_) == (c.meddle == InterruptCase::Adopt ? after : kBefore));
    EXPECT_NE(second.Describe().find("recovery copy"), std::string::npos);
  }
  if (aside) {
    EXPECT_NE(second.Describe().find("kept as"), std::string::npos) << second.Describe();
    const std::string now = ReadFile(path_);
    if (c.meddle == InterruptCase::Deleted || c.meddle == InterruptCase::Emptied) {
      EXPECT_EQ(now.find("4000"), std::string::npos) << now;
    } else {
      EXPECT_TRUE(now == Meddled(c.meddle)) << now;
    }
  }
  std::vector<std::string> files = Files();
  std::sort(files.begin(), files.end());
  std::sort(stay.begin(), stay.end());
  EXPECT_EQ(files, stay) << "a copy stayed behind, or a file not ours went";
}

// One relative name in two folders names two profiles: the copy in the
// user's folder of the one is not the other's.
TEST_F(InterruptedSaveTest, RelativeNameInTwoFoldersKeepsEachItsCopy) {
  namespace fs = std::filesystem;
  const fs::path was = fs::current_path(), a = dir_.dir() / "a", b = dir_.dir() / "b";
  fs::create_directories(a);
  fs::create_directories(b);
  WriteFile((a / "p.xml").string(), kBefore);
  WriteFile((b / "p.xml").string(), kNewer);
  UseProfile("p.xml");
  FileFaults killed;
  killed.noTempBeside = killed.noRecoveryBeside = true;
  killed.kill = FileFaults::MidInPlace;
  fs::current_path(a);
  platform::SetFileFaults(killed);
  {
    ProfileStore store;
    store.SetInt(kSection, "StepSize1", 3);
  }
  platform::SetFileFaults({});
  fs::current_path(b);
  const ProfileSaveResult inB = ProfileStore().Save();
  fs::current_path(a);
  const ProfileSaveResult inA = ProfileStore().Save();
  fs::current_path(was);
  EXPECT_EQ(inB.keptAside, "") << inB.Describe();
  EXPECT_EQ(inA.outcome, Outcome::Restored) << inA.Describe();
  EXPECT_TRUE(ReadFile((a / "p.xml").string()) == kBefore);
  EXPECT_TRUE(ReadFile((b / "p.xml").string()) == kNewer);
}

#ifndef _WIN32
// A profile of one user's that another may write too (both in its group, in
// its group's folder): the other's save, killed in place, leaves a record the
// owner can read, and the owner's next load puts the profile back.
TEST_F(InterruptedSaveTest, AnotherUsersKilledSaveIsRestoredForTheOwner) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as two other users";
  const uid_t owner = 65534, other = 1;  // "nobody" and "daemon"
  const gid_t shared = 65534;
  const std::string folder = dir_.Path("shared"), path = folder + "/profile.xml";
  std::filesystem::create_directory(folder);
  WriteFile(path, kBefore);
  ASSERT_EQ(::chown(folder.c_str(), owner, shared) | ::chmod(folder.c_str(), 0770) |
                ::chown(path.c_str(), owner, shared) | ::chmod(path.c_str(), 0660),
            0);
  UseProfile(path);
  g_profileAccess = std::to_string(0060);
  g_tooOpen.clear();
  const bool otherSaved = InChildAs(other, other, {shared}, [] {
    FileFaults killed;
    killed.kill = FileFaults::MidInPlace;
    killed.created = CheckMadeFile;
    platform::SetFileFaults(killed);
    ProfileStore store;
    store.SetInt(kSection, "StepSize1", 3);
    EXPECT_EQ(store.Save().outcome, Outcome::NotSaved);
    EXPECT_EQ(g_tooOpen, std::vector<std::string>{}) << "made more open than the profile";
  });
  EXPECT_TRUE(otherSaved) << "as the other user";
  EXPECT_FALSE(platform::CreateXmlDocument()->Parse(ReadFile(path))) << "not cut short";
  const bool ownerLoaded = InChildAs(owner, shared, {}, [] {
    ProfileStore store;
    EXPECT_EQ(store.GetInt(kSection, "StepSize1", 0), 4000);
    const ProfileSaveResult r = store.Save();
    EXPECT_EQ(r.outcome, Outcome::Restored) << r.Describe();
  });
  EXPECT_TRUE(ownerLoaded) << "as the owner";
  EXPECT_TRUE(ReadFile(path) == kBefore);
  EXPECT_EQ(Files(), std::vector<std::string>{"profile.xml"});
}
#endif

INSTANTIATE_TEST_SUITE_P(Faults, InterruptedSaveTest, ::testing::ValuesIn(kInterruptCases),
                         [](const auto& info) {
                           std::string n;
                           for (const char* p = info.param.name; *p != '\0'; ++p)
                             n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return n;
                         });

}  // namespace
}  // namespace km4r
