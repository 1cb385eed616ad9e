// Folder items and text streams on real temporary folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/files.h"
#include "support/files_fixture.h"

namespace fs = std::filesystem;
using platform::FolderItem;

namespace {

// ---- folders ----

TEST_F(FilesTest, ItemsAreNumberedByNameIgnoringAsciiCaseWithExactTieBreak) {
  for (const char* name : {"b.txt", "a.txt", "A.txt", "B", "_x", ".hidden.txt", "notes.rtf",
                           "\xC3\xA9.txt", "ab"})
    Write(name, "");
  fs::create_directory(Path("set.txt"));

  auto folder = std::make_shared<FolderItem>(dir_.string());
  ASSERT_EQ(folder->Count(), 10);
  std::vector<std::string> names;
  for (int i = 1; i <= 10; ++i) {
    auto item = folder->Item(i);
    ASSERT_NE(item, nullptr) << i;
    names.push_back(item->DisplayName());
    EXPECT_EQ(item->DisplayName(), item->Name());
    EXPECT_EQ(item->Parent()->NativePath(), dir_.string());
  }
  // Hidden entries and sub-folders are listed as they are: filtering is the
  // caller's. Non-ASCII bytes sort after every ASCII letter.
  EXPECT_EQ(names, (std::vector<std::string>{".hidden.txt", "_x", "A.txt", "a.txt", "ab", "B",
                                             "b.txt", "notes.rtf", "set.txt", "\xC3\xA9.txt"}));
  EXPECT_EQ(folder->Item(0), nullptr);
  EXPECT_EQ(folder->Item(11), nullptr);
  EXPECT_EQ(folder->Item(-1), nullptr);
  EXPECT_TRUE(folder->Item(9)->Directory());
}

TEST_F(FilesTest, ItemNumbersTheLastListingAndCountListsAfresh) {
  Write("a.txt", "");
  Write("b.txt", "");
  auto folder = std::make_shared<FolderItem>(dir_.string());
  // Item without a Count lists on first use.
  ASSERT_NE(folder->Item(2), nullptr);
  EXPECT_EQ(folder->Item(2)->Name(), "b.txt");

  ASSERT_EQ(folder->Count(), 2);
  fs::remove(Path("a.txt"));
  Write("0.txt", "");
  // The listing Count made is what Item numbers, so one pass sees one folder.
  EXPECT_EQ(folder->Item(1)->Name(), "a.txt");
  EXPECT_FALSE(folder->Item(1)->Exists());
  ASSERT_EQ(folder->Count(), 2);
  EXPECT_EQ(folder->Item(1)->Name(), "0.txt");
}

TEST_F(FilesTest, MissingFolderAndFilesCountNothingButStillGiveChildren) {
  auto missing = std::make_shared<FolderItem>(Path("nowhere"));
  EXPECT_FALSE(missing->Exists());
  EXPECT_FALSE(missing->Directory());
  EXPECT_EQ(missing->Count(), 0);
  EXPECT_EQ(missing->Item(1), nullptr);
  auto child = missing->Child("x.txt");
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->NativePath(), Path("nowhere/x.txt"));
  EXPECT_FALSE(child->Exists());
  EXPECT_EQ(child->OpenAsTextFile(), nullptr);

  Write("file", "x");
  EXPECT_EQ(Item("file")->Count(), 0);
  EXPECT_TRUE(Item("file")->Exists());
  EXPECT_FALSE(Item("file")->Directory());

  EXPECT_EQ(std::make_shared<FolderItem>("/")->Parent(), nullptr);
  EXPECT_EQ(std::make_shared<FolderItem>("/")->Child("etc")->NativePath(), "/etc");
  EXPECT_EQ(std::make_shared<FolderItem>(dir_.string() + "/")->Name(), dir_.filename().string());
}

TEST_F(FilesTest, BareNamesResolveBesideTheBundleOrTheExecutable) {
  struct Case {
    const char* exe;
    const char* base;
  } cases[] = {
      {"/x/y/Vellowmark.app/Contents/MacOS/Vellowmark", "/x/y"},
      {"/x/y/prog", "/x/y"},
      {"/x/NotABundle/Contents/MacOS/prog", "/x/NotABundle/Contents/MacOS"},
      {"/x/.app/Contents/MacOS/prog", "/x/.app/Contents/MacOS"},
      {"/A.app/Contents/MacOS/prog", "/"},
  };
  for (const Case& c : cases) {
    platform::SetExecutablePathForTesting(c.exe);
    EXPECT_EQ(platform::ExecutablePath(), c.exe);
    EXPECT_EQ(platform::BareNameBaseFolder(), c.base) << c.exe;
    auto reglist = platform::GetFolderItem("reglist", 0);
    ASSERT_NE(reglist, nullptr);
    EXPECT_EQ(reglist->NativePath(), std::string(c.base) + (std::string(c.base) == "/" ? "" : "/") +
                                         "reglist");
  }
  EXPECT_EQ(platform::GetFolderItem("/abs/path", 0)->NativePath(), "/abs/path");

  platform::SetExecutablePathForTesting("");
  EXPECT_EQ(platform::ExecutablePath(), fs::read_symlink("/proc/self/exe").string());
  // A lookup gives a reference even when nothing is there.
  auto none = platform::GetFolderItem("no-such-folder-here", 0);
  ASSERT_NE(none, nullptr);
  EXPECT_FALSE(none->Exists());
  EXPECT_EQ(none->Count(), 0);
}

TEST_F(FilesTest, PreferencesFolderFollowsXdgOrHomeAndIsCreated) {
  std::string old_xdg = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
  bool had_xdg = std::getenv("XDG_CONFIG_HOME") != nullptr;
  std::string old_home = std::getenv("HOME") ? std::getenv("HOME") : "";

  ::setenv("XDG_CONFIG_HOME", Path("cfg/nested").c_str(), 1);
  auto prefs = platform::SpecialFolder::Preferences();
  ASSERT_NE(prefs, nullptr);
  EXPECT_EQ(prefs->NativePath(), Path("cfg/nested"));
  EXPECT_TRUE(prefs->Directory());

  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", Path("home").c_str(), 1);
  prefs = platform::SpecialFolder::Preferences();
  ASSERT_NE(prefs, nullptr);
  EXPECT_EQ(prefs->NativePath(), Path("home/.config"));
  EXPECT_TRUE(prefs->Directory());
  EXPECT_FALSE(prefs->Child("vellowmark.pref")->Exists());

  // A relative XDG_CONFIG_HOME is not a base directory; home is used.
  ::setenv("XDG_CONFIG_HOME", "relative/cfg", 1);
  EXPECT_EQ(platform::SpecialFolder::Preferences()->NativePath(), Path("home/.config"));

  ::setenv("HOME", old_home.c_str(), 1);
  if (had_xdg)
    ::setenv("XDG_CONFIG_HOME", old_xdg.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
}

// ---- reading ----

std::string Repeat(const std::string& s, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += s;
  return out;
}

TEST_F(FilesTest, ReadLineDecodesAndSplitsEveryKindOfFile) {
  const std::string fffd = "\xEF\xBF\xBD";
  struct Case {
    const char* label;
    std::string bytes;
    std::vector<std::string> lines;
  } cases[] = {
      {"empty file", "", {}},
      {"LF ends", "a\nb\n", {"a", "b"}},
      {"no final line end", "a\nb", {"a", "b"}},
      {"CRLF, CR and LF mixed", "a\r\nb\rc\nd", {"a", "b", "c", "d"}},
      {"blank lines kept", "\n\r\n\r", {"", "", ""}},
      {"CR then LF lines", "a\r\rb\n\n", {"a", "", "b", ""}},
      {"BOM dropped", "\xEF\xBB\xBFx\ty\n", {"x\ty"}},
      {"BOM alone", "\xEF\xBB\xBF", {}},
      {"UTF-8 kept", "\xE6\x97\xA5\xE6\x9C\xAC\r\n", {"\xE6\x97\xA5\xE6\x9C\xAC"}},
      {"Shift_JIS", "\x93\xfa\x96\x7b\x8c\xea\t\x95\x5c\x8e\xa6\r\n\xb1",
       {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\t\xE8\xA1\xA8\xE7\xA4\xBA", "\xEF\xBD\xB1"}},
      {"neither: bad bytes replaced", "a\xff\xfe" "b\n\x80", {"a" + fffd + fffd + "b", fffd}},
      {"Shift_JIS lead byte cut off", "ok\n\x93", {"ok", fffd}},
      // One byte each in the file, three each in UTF-8: more than the
      // decoder's first guess at the size.
      {"Shift_JIS half-width katakana", Repeat("\xB1\xB2\xB3\xB4\xB5", 8),
       {Repeat("ｱｲｳｴｵ", 8)}},
  };
  for (const Case& c : cases) {
    Write("in.txt", c.bytes);
    auto in = Item("in.txt")->OpenAsTextFile();
    ASSERT_NE(in, nullptr) << c.label;
    EXPECT_EQ(AllLines(*in), c.lines) << c.label;
    EXPECT_TRUE(in->Eof()) << c.label;
    EXPECT_EQ(in->ReadLine(), "") << c.label;  // past the end
    in->Close();
    EXPECT_TRUE(in->Eof());
  }
}

TEST_F(FilesTest, EofTurnsTrueWithTheLastLine) {
  Write("one.txt", "a\n");
  auto in = Item("one.txt")->OpenAsTextFile();
  ASSERT_NE(in, nullptr);
  EXPECT_FALSE(in->Eof());
  EXPECT_EQ(in->ReadLine(), "a");
  EXPECT_TRUE(in->Eof());  // "a\n" holds one line, not two

  Write("empty.txt", "");
  EXPECT_TRUE(Item("empty.txt")->OpenAsTextFile()->Eof());
}

TEST_F(FilesTest, OpenAsTextFileGivesNothingForWhatIsNoReadableFile) {
  fs::create_directory(Path("folder.txt"));
  ASSERT_EQ(::mkfifo(Path("fifo.txt").c_str(), 0644), 0);
  EXPECT_EQ(Item("missing.txt")->OpenAsTextFile(), nullptr);
  EXPECT_EQ(Item("folder.txt")->OpenAsTextFile(), nullptr);
  EXPECT_EQ(Item("fifo.txt")->OpenAsTextFile(), nullptr);  // and does not hang
  fs::create_symlink(Path("missing.txt"), Path("dangling.txt"));
  EXPECT_TRUE(Item("dangling.txt")->Exists());
  EXPECT_EQ(Item("dangling.txt")->OpenAsTextFile(), nullptr);
}

// ---- writing ----

TEST_F(FilesTest, CloseReplacesTheOldFileInOneStep) {
  Write("v.pref", "old\nlines\nhere\n");
  ASSERT_EQ(::chmod(Path("v.pref").c_str(), 0640), 0);
  auto item = Item("v.pref");
  auto out = item->CreateTextFile();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(fs::path(out->TemporaryPath()).parent_path(), dir_);
  out->WriteLine("120");
  out->WriteLine("");
  out->WriteLine("\xE6\x97\xA5");
  EXPECT_EQ(Read("v.pref"), "old\nlines\nhere\n");  // untouched until Close
  out->Close();
  EXPECT_FALSE(out->IsOpen());
  EXPECT_EQ(out->LastErrorCode(), 0);
  EXPECT_EQ(Read("v.pref"), "120\n\n\xE6\x97\xA5\n");
  EXPECT_EQ(Entries(), std::vector<std::string>{"v.pref"});
  EXPECT_EQ(fs::status(Path("v.pref")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  out->WriteLine("after close");  // ignored
  out->Close();
  EXPECT_EQ(Read("v.pref"), "120\n\n\xE6\x97\xA5\n");

  // A new file where none was.
  auto fresh = Item("new.pref")->CreateTextFile();
  ASSERT_NE(fresh, nullptr);
  fresh->Close();
  EXPECT_TRUE(Item("new.pref")->Exists());
  EXPECT_EQ(Read("new.pref"), "");
}

TEST_F(FilesTest, UnclosedStreamLeavesTheOldFileAndNoTemporary) {
  Write("v.pref", "old\n");
  {
    auto out = Item("v.pref")->CreateTextFile();
    ASSERT_NE(out, nullptr);
    out->WriteLine("half");
    EXPECT_TRUE(fs::exists(out->TemporaryPath()));
  }
  EXPECT_EQ(Read("v.pref"), "old\n");
  EXPECT_EQ(Entries(), std::vector<std::string>{"v.pref"});
}

TEST_F(FilesTest, FailedWriteKeepsTheOldFile) {
  Write("v.pref", "old\n");
  auto out = Item("v.pref")->CreateTextFile();
  ASSERT_NE(out, nullptr);
  // A file size limit makes the write fail part-way, as a full disk would.
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit small = old_limit;
  small.rlim_cur = 1000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  for (int i = 0; i < 2000; ++i) out->WriteLine("0123456789012345678901234567890123456789");
  EXPECT_THROW(out->Close(), platform::IOException) << "a failed save is no success";
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_NE(out->LastErrorCode(), 0);
  EXPECT_EQ(Read("v.pref"), "old\n");
  EXPECT_EQ(Entries(), std::vector<std::string>{"v.pref"});
}

TEST_F(FilesTest, CreateTextFileGivesNothingWhereNoFileCanBe) {
  fs::create_directory(Path("taken.pref"));
  Write("plain", "keep\n");
  EXPECT_EQ(Item("taken.pref")->CreateTextFile(), nullptr);        // a folder is there
  EXPECT_EQ(Item("plain/v.pref")->CreateTextFile(), nullptr);      // through a regular file
  EXPECT_EQ(Item("missing/v.pref")->CreateTextFile(), nullptr);    // folder missing
  EXPECT_TRUE(fs::is_directory(Path("taken.pref")));
  EXPECT_EQ(Read("plain"), "keep\n");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"plain", "taken.pref"}));
}

TEST_F(FilesTest, ReplacingThroughASymbolicLinkRewritesItsTarget) {
  fs::create_directory(Path("dotfiles"));
  Write("dotfiles/v.pref", "old\n");
  fs::create_symlink(Path("dotfiles/v.pref"), Path("v.pref"));
  auto out = Item("v.pref")->CreateTextFile();
  ASSERT_NE(out, nullptr);
  out->WriteLine("new");
  out->Close();
  EXPECT_TRUE(fs::is_symlink(Path("v.pref")));
  EXPECT_EQ(Read("dotfiles/v.pref"), "new\n");
}

TEST_F(FilesTest, MacTypeSetWhileWritingLandsOnTheReplacedFile) {
  if (!UserAttributesWork()) GTEST_SKIP() << "no user extended attributes on this file system";
  Write("v.pref", "old\n");
  auto item = Item("v.pref");
  item->MacType("TEXT");
  EXPECT_EQ(item->MacType(), "TEXT");

  auto out = item->CreateTextFile();
  ASSERT_NE(out, nullptr);
  item->MacType("pref");
  EXPECT_EQ(item->MacType(), "pref");
  out->WriteLine("1");
  out->Close();

  char value[16] = {};
  ssize_t n = ::getxattr(Path("v.pref").c_str(), "user.mac.type", value, sizeof value);
  EXPECT_EQ(std::string(value, n > 0 ? static_cast<size_t>(n) : 0), "pref");
  EXPECT_EQ(Item("v.pref")->MacType(), "pref");

  // A type on a file that is not there is dropped without complaint.
  Item("absent")->MacType("pref");
  EXPECT_EQ(Item("absent")->MacType(), "");
  EXPECT_FALSE(Item("absent")->Exists());
}

}  // namespace
