// Rule-set and preferences files that cannot be read, a preferences folder
// that cannot be written or is full, and preferences that are noise. The
// tests run as root, whom permissions do not stop, so a case that needs them
// to stop runs in a child that becomes an unprivileged user, and a case that
// needs a read-only or full folder mounts one in a private mount namespace.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include "app/startup.h"
#include "host/host_scripts.h"
#include "faults_support.h"
#include "platform/text.h"

namespace faults {
namespace {

struct Frame {
  int left = 0, top = 0, width = 0, height = 0;
  bool ticked = false;
  std::string Saved() const {  // the five lines a close writes for it
    return platform::Str(left) + "\n" + platform::Str(top) + "\n" + platform::Str(width) + "\n" +
           platform::Str(height) + "\n" + (ticked ? "1" : "0") + "\n";
  }
};

Frame FrameNow() {
  auto w = Window1();
  return {w->Left(), w->Top(), w->Width(), w->Height(), w->CB1()->Value()};
}

constexpr int kSkip = 77;

class FileFaultTest : public FaultTest {
 protected:
  // The whole program, as the entry routine runs it: `while_open` runs as an
  // event once the window is open, then the window is closed.
  int RunProgram(const std::function<void()>& while_open) {
    platform::RuntimeResetForTesting();
    platform::headless::Post([=] {
      while_open();
      Window1()->Close();
    });
    return ProgramMain();
  }
  int RunProgramQuietly(const std::function<void()>& while_open, std::string* err) {
    int status = -1;
    *err = CaptureStderr([&] { status = RunProgram(while_open); });
    return status;
  }
  // For a child: why it skipped, read back by the parent.
  int Skip(const std::string& why) {
    WriteFile(root + "/skip", why + ": " + std::strerror(errno));
    return kSkip;
  }
  std::string SkipReason() { return ReadFile(root + "/skip"); }
  // What lies in a file that was made unreadable: read as it is where the
  // test may (as root), else by its owner, who may read it for a moment.
  std::string ReadUnreadable(const std::string& path) {
    struct stat st {};
    if (::access(path.c_str(), R_OK) == 0 || ::stat(path.c_str(), &st) != 0) return ReadFile(path);
    ::chmod(path.c_str(), (st.st_mode & 07777) | S_IRUSR);
    const std::string bytes = ReadFile(path);
    ::chmod(path.c_str(), st.st_mode & 07777);
    return bytes;
  }

  // A case that a child runs as the unprivileged user needs a scratch tree
  // that user can reach, which the build's test folder need not be (a clone
  // under /root, mode 0700). As root, moves the tree into a new folder under
  // the system's temporary folders that the user can traverse and run the
  // host scripts from; false, with the reason, when there is none. Others
  // run the case as themselves, in the tree they have.
  bool ScratchTheUserCanReach(std::string* why) {
    if (::geteuid() != 0) return true;
    std::vector<std::string> bases;
    if (const char* t = std::getenv("TMPDIR"); t && *t) bases.push_back(t);
    for (const char* b : {"/tmp", "/var/tmp", "/dev/shm"}) bases.push_back(b);
    std::string tried;
    for (const std::string& base : bases) {
      std::string dir = base + "/vm-faults-XXXXXX";
      if (!::mkdtemp(dir.data())) {
        tried += " " + base + " (" + std::strerror(errno) + ")";
        continue;
      }
      ::chmod(dir.c_str(), 0755);
      fs::remove_all(root);
      SetUpIn(dir);
      const std::string script = resources + "/getcontents.scpt";
      const ChildResult probe = RunInChild(dir, [&] {
        if (!DropPrivileges()) return 2;
        return ::access(script.c_str(), X_OK) == 0 ? 0 : 1;
      });
      if (probe.status == 0) {
        scratch_base_ = dir;
        return true;
      }
      tried += " " + base + (probe.status == 2 ? " (cannot become the user)" : " (not reachable)");
      fs::remove_all(dir);
    }
    *why = "no scratch folder that uid " + std::to_string(kUnprivileged) +
           " can reach and run scripts from; tried" + tried;
    return false;
  }

  void TearDown() override {
    FaultTest::TearDown();
    if (!scratch_base_.empty()) fs::remove_all(scratch_base_);
  }

  // A child's own namespace of mounts, so that what it mounts is gone with it.
  bool PrivateMounts() {
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  }

 private:
  std::string scratch_base_;
};

// ---- rule-set files ------------------------------------------------------------

struct RuleFileFault {
  const char* name;
  std::function<void(const std::string& reglist)> make;
  bool listed;          // the row "set" appears
  bool contacts_host;   // getcontents runs (once) on the click
};

TEST_F(FileFaultTest, UnreadableRuleSetRunsWithoutRules) {
  const RuleFileFault cases[] = {
      {"a folder",
       [this](const std::string& r) { WriteFile(r + "/set.txt/inner.txt", "a\tS"); }, true, true},
      {"a FIFO", [](const std::string& r) { ASSERT_EQ(::mkfifo((r + "/set.txt").c_str(), 0644), 0); },
       true, true},
      {"a link to nothing",
       [](const std::string& r) { fs::create_symlink(r + "/gone.txt", r + "/set.txt"); }, true,
       true},
      {"a link to itself",
       [](const std::string& r) { fs::create_symlink(r + "/set.txt", r + "/set.txt"); }, true,
       true},
      {"reglist is a file",
       [this](const std::string& r) {
         fs::remove_all(r);
         WriteFile(r, "a\tS");
       },
       false, false},
  };
  Start();
  SetContent("A/B:a");
  for (const RuleFileFault& c : cases) {
    SCOPED_TRACE(c.name);
    c.make(reglist);
    Reactivate();
    const std::vector<std::string> rows = Rows();
    EXPECT_EQ(rows, c.listed ? std::vector<std::string>{"set"} : std::vector<std::string>{});
    ClearCalls();
    std::string err;
    EXPECT_NO_THROW(err = CaptureStderr([&] { Window1()->MainScpt("set.txt"); }));
    EXPECT_TRUE(err.empty()) << err;
    std::vector<std::string> scripts;
    for (const auto& call : Calls()) scripts.push_back(call.script);
    EXPECT_EQ(scripts, c.contacts_host ? std::vector<std::string>{"getcontents.scpt"}
                                       : std::vector<std::string>{});
    fs::remove_all(reglist);
    fs::create_directories(reglist);
    ExpectUsable();
    fs::remove(reglist + "/after-fault.txt");
  }
}

TEST_F(FileFaultTest, RuleSetWithoutReadPermissionRunsWithoutRules) {
  if (std::string why; !ScratchTheUserCanReach(&why)) GTEST_SKIP() << why;
  Start();
  WriteRuleSet("set.txt", "a\tS");
  ::chmod((reglist + "/set.txt").c_str(), 0);
  SetContent("A/B:a");
  Reactivate();
  ClearCalls();
  GiveTreeTo(root, kUnprivileged);
  const ChildResult child = RunInChild(root, [&] {
    if (::geteuid() == 0 && !DropPrivileges()) return Skip("cannot become an unprivileged user");
    if (FILE* f = std::fopen((reglist + "/set.txt").c_str(), "r")) {
      std::fclose(f);
      errno = 0;
      return Skip("permissions do not stop this user");
    }
    return ClickRow("set") ? 0 : 1;
  });
  if (child.status == kSkip) GTEST_SKIP() << SkipReason();
  ASSERT_EQ(child.status, 0) << child.err;
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].script, "getcontents.scpt");
  EXPECT_EQ(ReadUnreadable(reglist + "/set.txt"), "a\tS") << "the rule set is left alone";
  ExpectUsable();
}

// ---- preferences files ---------------------------------------------------------

const char kOld[] = "120\n90\n300\n420\n0\n";  // unlike the design: 160 x 160, ticked

void ExpectDesign(const Frame& f) {
  EXPECT_EQ(f.width, 160);
  EXPECT_EQ(f.height, 160);
  EXPECT_TRUE(f.ticked);
}

TEST_F(FileFaultTest, PreferencesFolderInPlaceOfTheFileIsLeftAlone) {
  WriteFile(prefs_file + "/keep.txt", "mine");
  Frame seen;
  std::string err;
  const int status = RunProgramQuietly([&] { seen = FrameNow(); }, &err);
  ExpectDesign(seen);
  EXPECT_NE(err.find(host::kStartHostMessage), std::string::npos) << "the host check ran";
  // No file can take the folder's place: the close ends with the nil object.
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find("Unhandled NilObjectException"), std::string::npos) << err;
  EXPECT_EQ(ReadFile(prefs_file + "/keep.txt"), "mine");
  EXPECT_EQ(Listing(config), std::vector<std::string>{"vellowmark.pref"});
}

TEST_F(FileFaultTest, PreferencesPathOfNoRegularFileIsNeverReplaced) {
  // Something other than a file in the file's place is neither read nor
  // replaced: no file can be created there, and the close ends with the nil
  // object.
  const std::string pipe = root + "/pipe";
  const struct {
    const char* name;
    std::function<void()> make;
    std::function<bool()> intact;
  } cases[] = {
      {"a FIFO", [&] { ASSERT_EQ(::mkfifo(prefs_file.c_str(), 0644), 0); },
       [&] { return fs::is_fifo(fs::symlink_status(prefs_file)); }},
      {"a link to a FIFO",
       [&] {
         ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
         fs::create_symlink(pipe, prefs_file);
       },
       [&] {
         return fs::is_symlink(fs::symlink_status(prefs_file)) &&
                fs::read_symlink(prefs_file) == pipe && fs::is_fifo(fs::symlink_status(pipe));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.make();
    Frame seen;
    std::string err;
    const int status = RunProgramQuietly([&] { seen = FrameNow(); }, &err);
    ExpectDesign(seen);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("Unhandled NilObjectException"), std::string::npos) << err;
    EXPECT_TRUE(c.intact());
    EXPECT_EQ(Listing(config), std::vector<std::string>{"vellowmark.pref"});
    fs::remove(prefs_file);
    fs::remove(pipe);
  }
}

TEST_F(FileFaultTest, LinkedPreferencesAreRewrittenBehindTheLink) {
  const std::string kept = root + "/dotfiles/vellowmark.pref";
  WriteFile(kept, kOld);
  fs::create_symlink("../dotfiles/vellowmark.pref", prefs_file);
  Frame seen;
  std::string saved, err;
  const int status = RunProgramQuietly(
      [&] {
        seen = FrameNow();
        Window1()->UserMove(200, 300);
        saved = FrameNow().Saved();
      },
      &err);
  EXPECT_EQ(status, 0) << err;
  EXPECT_EQ(seen.Saved(), kOld) << "restored through the link";
  EXPECT_EQ(saved, "200\n300\n300\n420\n0\n");
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(prefs_file))) << "the link stays a link";
  EXPECT_EQ(ReadFile(kept), saved);
  EXPECT_EQ(Listing(config), std::vector<std::string>{"vellowmark.pref"});
  EXPECT_EQ(Listing(root + "/dotfiles"), std::vector<std::string>{"vellowmark.pref"});
}

TEST_F(FileFaultTest, PreferencesInAFolderThatTakesNoNewFileAreRewrittenInPlace) {
  // Permissions have to stop the user here, so as root the case runs as an
  // unprivileged user, in a scratch tree that such a user can reach.
  if (std::string why; !ScratchTheUserCanReach(&why)) GTEST_SKIP() << why;
  const std::string report = root + "/report";
  // Longer than what the close writes, so that a rest of it would show.
  WriteFile(prefs_file, std::string(kOld) + "a sixth line, more than the new file holds\n");
  GiveTreeTo(root, kUnprivileged);  // as root; anyone else owns it already
  ::chmod(config.c_str(), 0555);
  const ChildResult child = RunInChild(root, [&] {
    if (::geteuid() == 0 && !DropPrivileges()) return Skip("cannot become an unprivileged user");
    const std::string probe = config + "/probe";
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::close(fd);
      ::unlink(probe.c_str());
      errno = 0;
      return Skip("permissions do not stop this user");
    }
    return RunProgram([&] {
      Window1()->UserMove(200, 300);
      WriteFile(report, FrameNow().Saved());
    });
  });
  const std::vector<std::string> listing = Listing(config);
  ::chmod(config.c_str(), 0755);
  if (child.status == kSkip) GTEST_SKIP() << SkipReason();
  EXPECT_EQ(child.status, 0) << child.err;
  const std::string saved = ReadFile(report);
  EXPECT_EQ(saved, "200\n300\n300\n420\n0\n") << "restored, then moved";
  EXPECT_EQ(ReadFile(prefs_file), saved);
  EXPECT_EQ(listing, std::vector<std::string>{"vellowmark.pref"});
}

TEST_F(FileFaultTest, PreferencesWithoutReadPermissionAreRewrittenWhole) {
  if (std::string why; !ScratchTheUserCanReach(&why)) GTEST_SKIP() << why;
  WriteFile(prefs_file, kOld);
  ::chmod(prefs_file.c_str(), 0);
  GiveTreeTo(root, kUnprivileged);
  const std::string report = root + "/report";
  const ChildResult child = RunInChild(root, [&] {
    if (::geteuid() == 0 && !DropPrivileges()) return Skip("cannot become an unprivileged user");
    if (FILE* f = std::fopen(prefs_file.c_str(), "r")) {
      std::fclose(f);
      errno = 0;
      return Skip("permissions do not stop this user");
    }
    const int status = RunProgram([&] { WriteFile(report, FrameNow().Saved()); });
    return status;
  });
  if (child.status == kSkip) GTEST_SKIP() << SkipReason();
  EXPECT_EQ(child.status, 0) << child.err;
  const std::string seen = ReadFile(report);
  EXPECT_EQ(Lines(seen).size(), 5u);
  EXPECT_NE(seen, kOld) << "nothing was restored";
  struct stat st {};
  ASSERT_EQ(::stat(prefs_file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0u) << "the new file keeps the user's permissions";
  EXPECT_EQ(ReadUnreadable(prefs_file), seen);
  EXPECT_EQ(Listing(config), std::vector<std::string>{"vellowmark.pref"});
}

TEST_F(FileFaultTest, ReadOnlyPreferencesFolderKeepsTheOldFileAndEndsTheProgram) {
  WriteFile(prefs_file, kOld);
  const std::string report = root + "/report";
  const ChildResult child = RunInChild(root, [&] {
    if (!PrivateMounts()) return Skip("no private mount namespace");
    if (::mount(config.c_str(), config.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        ::mount(nullptr, config.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
      return Skip("no read-only bind mount");
    if (FILE* f = std::fopen((config + "/probe").c_str(), "w")) {
      std::fclose(f);
      errno = 0;
      return Skip("the mount is not read-only");
    }
    return RunProgram([&] {
      Window1()->UserMove(200, 300);
      WriteFile(report, FrameNow().Saved());
    });
  });
  if (child.status == kSkip) GTEST_SKIP() << SkipReason();
  EXPECT_EQ(ReadFile(report), "200\n300\n300\n420\n0\n") << "restored, then moved";
  // No file can be created there: the close ends with the nil object.
  EXPECT_EQ(child.status, 1) << child.err;
  EXPECT_NE(child.err.find("Unhandled NilObjectException"), std::string::npos) << child.err;
  EXPECT_EQ(ReadFile(prefs_file), kOld);
  EXPECT_EQ(Listing(config), std::vector<std::string>{"vellowmark.pref"});
}

TEST_F(FileFaultTest, FullPreferencesFolderKeepsTheOldFileAndEndsTheProgram) {
  // The folder is a tiny file system that lives only in the child, so the
  // child looks at it and reports: status, then the folder, then the file.
  const std::string report = root + "/report";
  const ChildResult child = RunInChild(root, [&]() -> int {
    if (!PrivateMounts()) return Skip("no private mount namespace");
    if (::mount("tmpfs", config.c_str(), "tmpfs", 0, "size=8k,mode=0755") != 0)
      return Skip("no tmpfs mount");
    WriteFile(prefs_file, kOld);
    if (ReadFile(prefs_file) != kOld) return Skip("the old file does not fit");
    {
      const int fd = ::open((config + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      const std::string block(4096, 'x');
      while (fd >= 0 && ::write(fd, block.data(), block.size()) > 0) {
      }
      const std::string one(1, 'x');
      while (fd >= 0 && ::write(fd, one.data(), 1) > 0) {
      }
      if (fd >= 0) ::close(fd);
      const int probe = ::open((config + "/probe").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      const bool full = probe >= 0 && ::write(probe, "12345\n", 6) < 0 && errno == ENOSPC;
      if (probe >= 0) ::close(probe);
      ::unlink((config + "/probe").c_str());
      if (!full) return Skip("the folder could not be filled");
    }
    const int status = RunProgram([&] { Window1()->UserMove(200, 300); });
    WriteFile(report, std::to_string(status) + "\n" + Joined(Listing(config)) + "\n" +
                          ReadFile(prefs_file));
    return 0;
  });
  if (child.status == kSkip) GTEST_SKIP() << SkipReason();
  ASSERT_EQ(child.status, 0) << child.err;
  const std::vector<std::string> got = Lines(ReadFile(report));
  ASSERT_EQ(got.size(), 7u) << ReadFile(report);
  // The close could not save: the program ends, and says that it failed.
  EXPECT_EQ(got[0], "1") << child.err;
  EXPECT_NE(child.err.find("Unhandled IOException"), std::string::npos) << child.err;
  EXPECT_EQ(got[1], "filler vellowmark.pref") << "no temporary file is left";
  EXPECT_EQ(std::vector<std::string>(got.begin() + 2, got.end()), Lines(kOld))
      << "the old file stays whole";
}

struct Noise {
  const char* name;
  std::string bytes;
  int left = 0, top = 0;  // when not 0, what the window must show
};

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

TEST_F(FileFaultTest, PreferencesOfNoiseOpenAClampedWindowThatKeepsWorking) {
  const Noise cases[] = {
      {"random bytes", RandomBytes(65536, 20240611)},
      {"a number, then random bytes", "500\n" + RandomBytes(300, 3), 500},
      {"numbers beyond 32 bits", "1e999\n-1e999\n99999999999\n-99999999999\n1e300\n", INT_MAX,
       40},
      {"no numbers", "nan\n-inf\n0x40\n\n+-3\n", 10, 40},
      {"NUL bytes only", std::string(1 << 20, '\0'), 10, 40},
      {"line ends only", "\r\r\n\n\r\n\r", 10, 40},
      {"one endless number", std::string(4 << 20, '9'), INT_MAX, 40},
  };
  WriteRuleSet("set.txt", "a\tS");
  SetContent("A/B:a");
  for (const Noise& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(prefs_file, c.bytes);
    ClearCalls();
    Frame seen;
    int min_w = 0, max_w = 0, min_h = 0, max_h = 0;
    bool clicked = false;
    std::string err;
    const int status = RunProgramQuietly(
        [&] {
          seen = FrameNow();
          auto w = Window1();
          min_w = w->MinWidth(), max_w = w->MaxWidth();
          min_h = w->MinHeight(), max_h = w->MaxHeight();
          Reactivate();
          clicked = ClickRow("set");
        },
        &err);
    EXPECT_EQ(status, 0) << err;
    EXPECT_GE(seen.left, 10);
    EXPECT_GE(seen.top, 40);
    if (c.left) {
      EXPECT_EQ(seen.left, c.left);
    }
    if (c.top) {
      EXPECT_EQ(seen.top, c.top);
    }
    EXPECT_GE(seen.width, min_w);
    EXPECT_LE(seen.width, max_w);
    EXPECT_GE(seen.height, min_h);
    EXPECT_LE(seen.height, max_h);
    EXPECT_TRUE(clicked);
    EXPECT_EQ(Calls().size(), 2u) << "a click runs the rule set";
    EXPECT_EQ(ReadFile(prefs_file), seen.Saved());
    EXPECT_EQ(Listing(config), std::vector<std::string>{"vellowmark.pref"});
  }
}

}  // namespace
}  // namespace faults
