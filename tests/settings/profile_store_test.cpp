// The profile store against real files, through the platform's XmlDocument
// only, so the same tests hold for every platform's document.
#include "settings/profile_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/settings/profile_generator.h"
#include "tests/settings/test_files.h"

namespace km4r {
namespace {

using test::AsSaved;
using test::ReadFile;
using test::ScratchDir;
using test::UseProfile;
using test::WriteFile;
using test::XmlPreservesBytes;

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
  EXPECT_EQ(AsSaved(dir_, ReadFile(path_)), AsSaved(dir_, original));
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
  EXPECT_EQ(AsSaved(dir_, ReadFile(path_)),
            AsSaved(dir_, "<profile><S><A>10</A><A>2</A><B>20</B></S><S><B>5</B></S></profile>"));
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
  if (!XmlPreservesBytes()) {
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

TEST_F(ProfileStoreTest, SaveThroughSymlinkKeepsTheLink) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need privileges";
#endif
  std::string target = dir_.Path("real.xml");
  WriteFile(target, "<profile/>");
  std::filesystem::create_symlink(target, path_);
  {
    ProfileStore store;
    store.SetInt("S", "K", 6);
  }
  EXPECT_TRUE(std::filesystem::is_symlink(path_));
  EXPECT_EQ(ReadFile(target), "<profile><S><K>6</K></S></profile>");
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

TEST_F(ProfileStoreTest, Utf16ProfileIsReadAndWrittenBack) {
  const std::string ascii = "<profile><S><K>5</K></S></profile>";
  std::string wide = "\xFF\xFE";
  for (char c : ascii) {
    wide += c;
    wide += '\0';
  }
  WriteFile(path_, wide);
  {
    ProfileStore store;
    EXPECT_EQ(store.GetInt("S", "K", 0), 5);
    store.SetInt("S", "K", -6);
  }
  std::string saved = ReadFile(path_);
  // A re-serialising document picks the encoding itself.
  if (XmlPreservesBytes()) {
    EXPECT_EQ(saved.substr(0, 2), "\xFF\xFE");
  }
  ProfileStore reread;
  EXPECT_EQ(reread.GetInt("S", "K", 0), -6);
}

// Splits saved around the pendant section and checks everything outside it
// is what was loaded (in the form the document writes it).
void ExpectOnlyPendantSectionChanged(const ScratchDir& dir, const std::string& loaded,
                                     const std::string& written) {
  const std::string original = AsSaved(dir, loaded), saved = AsSaved(dir, written);
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
    const std::string original = test::GenerateHostProfile(300 * 1024, withSection);
    WriteFile(path_, original);
    {
      ProfileStore store;
      EXPECT_EQ(store.GetInt(kSection, "StepSize1", 2), withSection ? 4 : 2);
      EXPECT_EQ(store.GetInt(kSection, "DelaySteps", 25), 25);
      EXPECT_EQ(store.GetInt("Section3", "Key2", 0), 23);
      store.SetInt(kSection, "StepSize1", 1);
      store.SetInt(kSection, "CAmode", 1);
    }
    std::string saved = ReadFile(path_);
    ExpectOnlyPendantSectionChanged(dir_, original, saved);
    EXPECT_EQ(saved.find("<DelaySteps"), std::string::npos);
    ProfileStore reread;
    EXPECT_EQ(reread.GetInt(kSection, "StepSize1", 0), 1);
    EXPECT_EQ(reread.GetInt(kSection, "CAmode", 0), 1);
  }
}

TEST_F(ProfileStoreTest, UntouchedProfileIsRewrittenByteForByte) {
  const std::string original = "\xEF\xBB\xBF" + test::GenerateHostProfile(64 * 1024, true);
  WriteFile(path_, original);
  { ProfileStore store; }
  EXPECT_TRUE(AsSaved(dir_, ReadFile(path_)) == AsSaved(dir_, original));
}

}  // namespace
}  // namespace km4r
