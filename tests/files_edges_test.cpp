// Where folder items and text streams meet what a real file system holds:
// names that differ from the asked one only in case, links, FIFOs, sockets
// and folders where a file is saved, and text files in UTF-16.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/files.h"
#include "support/files_fixture.h"
#include "support/short_folder.h"

namespace fs = std::filesystem;
using platform::FolderItem;

namespace {

class FileEdgesTest : public FilesTest {
 protected:
  void Fresh() {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  // Every entry below the folder with its kind, links with their targets:
  // what a save may not have changed.
  std::vector<std::string> Tree() const {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir_)) {
      std::string rel = e.path().lexically_relative(dir_).string();
      const auto st = fs::symlink_status(e.path());
      if (fs::is_symlink(st))
        rel += " -> " + fs::read_symlink(e.path()).string();
      else if (fs::is_fifo(st))
        rel += " (fifo)";
      else if (fs::is_socket(st))
        rel += " (socket)";
      else if (fs::is_directory(st))
        rel += "/";
      else
        rel += " = " + Read(rel);
      out.push_back(rel);
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  // A socket bound at the name. The bind is made from inside the folder,
  // as a socket's whole path must fit in a few more than 100 bytes.
  bool MakeSocket(const std::string& name) const {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (name.size() >= sizeof addr.sun_path) return false;
    name.copy(addr.sun_path, name.size());
    const int here = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool ok = here >= 0 && fd >= 0 && ::chdir(dir_.c_str()) == 0 &&
                    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (here >= 0) {
      if (::fchdir(here) != 0) ADD_FAILURE() << "could not return to the working folder";
      ::close(here);
    }
    if (fd >= 0) ::close(fd);
    return ok;
  }
  std::shared_ptr<FolderItem> Folder() const {
    return std::make_shared<FolderItem>(dir_.string());
  }
};

// ---- finding an entry by name ----

TEST_F(FileEdgesTest, ChildFindsTheExactNameElseTheOneThatDiffersOnlyInAsciiCase) {
  struct Case {
    const char* label;
    std::vector<std::string> entries;
    std::string asked;
    std::string found;  // the name of the item Child gives
    bool exists;
  } cases[] = {
      {"exact name", {"Old.txt"}, "Old.txt", "Old.txt", true},
      {"ending in capitals", {"Old.TXT"}, "Old.txt", "Old.TXT", true},
      {"every letter differs", {"TITLES.TXT"}, "titles.txt", "TITLES.TXT", true},
      {"exact name wins over a case variant", {"OLD.txt", "Old.txt", "old.txt"}, "Old.txt",
       "Old.txt", true},
      {"several variants, none exact: the longest exact start",
       {"OLD.txt", "Old.Txt", "old.TXT"}, "old.txt", "old.TXT", true},
      {"the same exact start: the first in the folder's order",
       {"OLD.Txt", "OLD.TXT"}, "old.txt", "OLD.TXT", true},
      {"nothing of that name", {"Other.txt"}, "Old.txt", "Old.txt", false},
      {"only ASCII letters fold", {"\xC3\x89t\xC3\xA9.txt"}, "\xC3\xA9t\xC3\xA9.txt",
       "\xC3\xA9t\xC3\xA9.txt", false},
      {"a longer name is no match", {"Old.txt.bak"}, "old.txt", "old.txt", false},
      {"a sub-folder is found too", {"Set.TXT/"}, "set.txt", "Set.TXT", true},
      {"a path is taken as it is", {"Sub/A.txt"}, "sub/a.txt", "sub/a.txt", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Fresh();
    for (const std::string& e : c.entries) {
      if (e.back() == '/')
        fs::create_directories(Path(e));
      else
        Write(e, "rules of " + e);
    }
    auto child = Folder()->Child(c.asked);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->Name(), fs::path(c.found).filename().string());
    EXPECT_EQ(child->NativePath(), Path(c.found));
    EXPECT_EQ(child->Exists(), c.exists);
    if (c.exists && !child->Directory()) {
      auto in = child->OpenAsTextFile();
      ASSERT_NE(in, nullptr);
      EXPECT_EQ(in->ReadLine(), "rules of " + c.found);
    }
  }
  // A folder that is not there has no entries to fold to.
  EXPECT_EQ(std::make_shared<FolderItem>(Path("none"))->Child("A.txt")->NativePath(),
            Path("none/A.txt"));
}

TEST_F(FileEdgesTest, ItemGivesTheListedNameEvenWhenACaseVariantIsLeft) {
  Write("a.txt", "");
  Write("B.txt", "");
  auto folder = Folder();
  ASSERT_EQ(folder->Count(), 2);
  fs::remove(Path("a.txt"));
  Write("A.txt", "");
  EXPECT_EQ(folder->Item(1)->Name(), "a.txt");
  EXPECT_FALSE(folder->Item(1)->Exists());
}

// ---- saving over what lies at the path ----

TEST_F(FileEdgesTest, SaveReplacesOnlyRegularFilesAndNeverWhatElseLiesThere) {
  struct Case {
    const char* label;
    std::function<bool()> make;  // false: this system cannot make the case
    bool saves;
    std::vector<std::string> after;  // the tree after a save of "new"
  } cases[] = {
      {"a FIFO", [&] { return ::mkfifo(Path("v.pref").c_str(), 0644) == 0; }, false,
       {"v.pref (fifo)"}},
      {"a link to a FIFO",
       [&] {
         fs::create_symlink("pipe", Path("v.pref"));
         return ::mkfifo(Path("pipe").c_str(), 0644) == 0;
       },
       false, {"pipe (fifo)", "v.pref -> pipe"}},
      {"a socket", [&] { return MakeSocket("v.pref"); }, false, {"v.pref (socket)"}},
      {"a folder",
       [&] {
         Write("v.pref/keep", "mine");
         return true;
       },
       false, {"v.pref/", "v.pref/keep = mine"}},
      {"a link to a folder",
       [&] {
         Write("real/keep", "mine");
         fs::create_directory_symlink("real", Path("v.pref"));
         return true;
       },
       false, {"real/", "real/keep = mine", "v.pref -> real"}},
      {"a link to itself",
       [&] {
         fs::create_symlink("v.pref", Path("v.pref"));
         return true;
       },
       false, {"v.pref -> v.pref"}},
      {"a regular file",
       [&] {
         Write("v.pref", "old\n");
         return true;
       },
       true, {"v.pref = new\n"}},
      {"a link to a regular file elsewhere",
       [&] {
         Write("dotfiles/v.pref", "old\n");
         fs::create_symlink("dotfiles/v.pref", Path("v.pref"));
         return true;
       },
       true, {"dotfiles/", "dotfiles/v.pref = new\n", "v.pref -> dotfiles/v.pref"}},
      {"a chain of links, relative and absolute",
       [&] {
         Write("d/real.pref", "old\n");
         fs::create_symlink(Path("d/mid"), Path("v.pref"));
         fs::create_symlink("real.pref", Path("d/mid"));
         return true;
       },
       true, {"d/", "d/mid -> real.pref", "d/real.pref = new\n", "v.pref -> " + Path("d/mid")}},
      {"a link to a file not yet there",
       [&] {
         fs::create_directory(Path("d"));
         fs::create_symlink("d/later.pref", Path("v.pref"));
         return true;
       },
       true, {"d/", "d/later.pref = new\n", "v.pref -> d/later.pref"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Fresh();
    if (!c.make()) {
      ADD_FAILURE() << "could not make the case: " << std::strerror(errno);
      continue;
    }
    auto item = std::make_shared<FolderItem>(Path("v.pref"));
    auto out = item->CreateTextFile();
    item->MacType("pref");  // as the preferences close does, stream or not
    EXPECT_EQ(out != nullptr, c.saves);
    if (out) {
      out->WriteLine("new");
      EXPECT_NO_THROW(out->Close());
    }
    EXPECT_EQ(Tree(), c.after);
  }
}

TEST_F(FileEdgesTest, NothingButAFileTakesAType) {
  Write("probe", "");
  if (::setxattr(Path("probe").c_str(), "user.probe", "x", 1, 0) != 0 ||
      ::setxattr(dir_.c_str(), "user.probe", "x", 1, 0) != 0)
    GTEST_SKIP() << "no user extended attributes on files and folders here";
  fs::create_directory(Path("v.pref"));
  std::make_shared<FolderItem>(Path("v.pref"))->MacType("pref");
  char value[16];
  EXPECT_LT(::getxattr(Path("v.pref").c_str(), "user.mac.type", value, sizeof value), 0)
      << "a folder in the file's place is left alone";
}

TEST_F(FileEdgesTest, AnUnclosedSaveLeavesTheFileItFollowedAlone) {
  Write("dotfiles/v.pref", "old\n");
  fs::create_symlink("dotfiles/v.pref", Path("v.pref"));
  {
    auto out = std::make_shared<FolderItem>(Path("v.pref"))->CreateTextFile();
    ASSERT_NE(out, nullptr);
    out->WriteLine("half");
  }
  EXPECT_EQ(Tree(), (std::vector<std::string>{"dotfiles/", "dotfiles/v.pref = old\n",
                                              "v.pref -> dotfiles/v.pref"}));
}

// ---- rewriting in place ----

// A folder that takes no new file, holding a file the user may write: a save
// rewrites that file in place, whole, and only once it is closed.
// Permissions have to stop the user, so as root each case runs in a child
// that becomes the user nobody, in a short folder that user can reach.
TEST_F(FileEdgesTest, AFileInAFolderThatTakesNoNewFileIsRewrittenInPlace) {
  constexpr int kSkip = 77, kNoUser = 76;
  constexpr uid_t kNobody = 65534;
  std::vector<std::string> big;  // more than the 64 KiB a save writes at a time
  std::string big_text;
  for (int i = 0; big_text.size() <= 100000; ++i) {
    big.push_back("line " + std::to_string(i) + " " + std::string(60, '.'));
    big_text += big.back() + "\n";
  }
  struct Case {
    const char* label;
    std::string old_text;
    std::vector<std::string> lines;  // what the save writes
    bool closed;
    std::string after;  // the file afterwards
  } cases[] = {
      {"shorter than the old text", "old\nold\nold\n", {"new"}, true, "new\n"},
      {"longer than the old text", "old\n", {"new", "lines"}, true, "new\nlines\n"},
      {"longer than the write buffer", "old\n", big, true, big_text},
      {"longer than the write buffer, never closed", "old\n", big, false, "old\n"},
  };
  ShortFolder scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string folder = scratch.path() + "/ro", file = folder + "/v.pref";
  const bool root = ::geteuid() == 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fs::create_directory(folder);
    ::chmod(folder.c_str(), 0755);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << c.old_text;
    if (root) {
      for (const std::string& p : {scratch.path(), folder, file})
        ASSERT_EQ(::lchown(p.c_str(), kNobody, kNobody), 0) << p;
    }
    ::chmod(folder.c_str(), 0555);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (root && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
        ::_exit(kNoUser);
      const std::string probe = folder + "/probe";
      const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd >= 0) {
        ::close(fd);
        ::unlink(probe.c_str());
        ::_exit(kSkip);
      }
      int status = 0;
      {
        auto out = std::make_shared<FolderItem>(file)->CreateTextFile();
        if (!out) ::_exit(2);
        for (const std::string& line : c.lines) out->WriteLine(line);
        try {
          if (c.closed) out->Close();
        } catch (...) {
          status = 3;
        }
      }
      ::_exit(status);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::chmod(folder.c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    if (WEXITSTATUS(status) == kSkip) GTEST_SKIP() << "permissions do not stop this user";
    if (WEXITSTATUS(status) == kNoUser) GTEST_SKIP() << "cannot become the user nobody";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: no stream, 3: the close failed";
    std::ifstream in(file, std::ios::binary);
    std::stringstream got;
    got << in.rdbuf();
    EXPECT_TRUE(got.str() == c.after) << got.str().size() << " bytes, not " << c.after.size();
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"v.pref"});
    fs::remove_all(folder);
  }
}

// ---- reading UTF-16 ----

std::string Utf16(const std::u16string& text, bool big_endian, bool bom = true) {
  std::string out;
  if (bom) out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t u : text) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += big_endian ? hi : lo;
    out += big_endian ? lo : hi;
  }
  return out;
}

TEST_F(FileEdgesTest, Utf16WithAByteOrderMarkIsReadInEitherOrder) {
  const std::string fffd = "\xEF\xBF\xBD";
  struct Case {
    const char* label;
    std::u16string text;
    std::vector<std::string> lines;
    std::string tail = "";  // bytes after the UTF-16 units
  } cases[] = {
      {"rules with CRLF", u"\u898b\u51fa\u3057\t\u5927\r\n[0-9]+\tNum\tp\r\n",
       {"\xE8\xA6\x8B\xE5\x87\xBA\xE3\x81\x97\t\xE5\xA4\xA7", "[0-9]+\tNum\tp"}},
      {"CR and LF line ends", u"a\rb\nc\r\r", {"a", "b", "c", ""}},
      {"a pair of surrogates", u"x\U0001F600y", {"x\xF0\x9F\x98\x80y"}},
      {"a high surrogate alone", u"a\xD800" u"b", {"a" + fffd + "b"}},
      {"a low surrogate alone", u"a\xDC00" u"b", {"a" + fffd + "b"}},
      {"a pair in the wrong order", u"\xDC00\xD800", {fffd + fffd}},
      {"a high surrogate at the end", u"a\xD83D", {"a" + fffd}},
      {"an odd byte at the end", u"ab", {"ab" + fffd}, "c"},
      {"only the mark", u"", {}},
      {"a NUL character", std::u16string(u"a\0b", 3), {std::string("a\0b", 3)}},
      {"a second mark is a character", u"\xFEFFx", {"\xEF\xBB\xBFx"}},
  };
  for (bool big_endian : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.label) + (big_endian ? ", big endian" : ", little endian"));
      Write("in.txt", Utf16(c.text, big_endian) + c.tail);
      auto in = std::make_shared<FolderItem>(Path("in.txt"))->OpenAsTextFile();
      ASSERT_NE(in, nullptr);
      std::vector<std::string> lines;
      while (!in->Eof()) lines.push_back(in->ReadLine());
      EXPECT_EQ(lines, c.lines);
    }
  }
  // Without a mark the bytes are no UTF-16: their NULs stay as they are.
  Write("in.txt", Utf16(u"ab", false, false));
  auto in = std::make_shared<FolderItem>(Path("in.txt"))->OpenAsTextFile();
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(in->ReadLine(), std::string("a\0b\0", 4));
}

}  // namespace
