// Shared pieces of the fault tests: the whole program on the headless
// backend, driven the way a user drives it (activate, click a row, close),
// and a way to run one case in a child process that may change its user or
// its view of the mounts without touching the test process.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/main_window.h"
#include "platform/headless/driver.h"
#include "platform/runtime.h"
#include "support/app_fixture.h"

#ifndef VM_TEST_RECORDER
#error "VM_TEST_RECORDER names the recording host script"
#endif

namespace faults {

namespace fs = std::filesystem;

inline std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

inline std::string Joined(const std::vector<std::string>& items) {
  std::string s;
  for (const auto& i : items) s += (s.empty() ? "" : " ") + i;
  return s;
}

// Lines of a text ended by LF; a last line without LF is marked, so that a
// file that lacks its final line end never compares equal to one that has it.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t at; (at = text.find('\n', start)) != std::string::npos; start = at + 1)
    lines.push_back(text.substr(start, at - start));
  if (start < text.size()) lines.push_back(text.substr(start) + " (no line end)");
  return lines;
}

inline size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// What a case run in a child gives back.
struct ChildResult {
  int status = -1;   // exit status, or -signal when it was killed
  std::string err;   // what it wrote to standard error
};

// Runs body in a forked child with its standard error in a file and gives the
// child's exit status (body's result) and that output. The child never
// returns into the test framework: it ends with _exit.
inline ChildResult RunInChild(const std::string& scratch, const std::function<int()>& body) {
  const std::string err_path = scratch + "/child-stderr";
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0) ::dup2(fd, 2);
    int code = 99;
    try {
      code = body();
    } catch (...) {
      code = 98;
    }
    std::fflush(nullptr);
    ::_exit(code);
  }
  ChildResult result;
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  std::error_code ec;
  if (fs::exists(err_path, ec)) {
    FILE* f = std::fopen(err_path.c_str(), "rb");
    char buf[4096];
    size_t n;
    while (f && (n = std::fread(buf, 1, sizeof buf, f)) > 0) result.err.append(buf, n);
    if (f) std::fclose(f);
    fs::remove(err_path, ec);
  }
  return result;
}

// The user nobody: permissions stop it where they do not stop root.
constexpr uid_t kUnprivileged = 65534;

// Hands the whole scratch tree to the unprivileged user, so that a child
// running as that user can still log its calls and replace its preferences.
inline void GiveTreeTo(const std::string& root, uid_t uid) {
  ::lchown(root.c_str(), uid, uid);
  for (const auto& e : fs::recursive_directory_iterator(root))
    ::lchown(e.path().c_str(), uid, uid);
}

inline bool DropPrivileges() {
  return ::setgroups(0, nullptr) == 0 && ::setgid(kUnprivileged) == 0 &&
         ::setuid(kUnprivileged) == 0;
}

class FaultTest : public AppFixture {
 protected:
  // Start-up as the entry routine runs it; the host check's message (no host
  // runs here) goes to standard error and is kept out of the test's output.
  void Start() {
    CaptureStderr([&] { StartUp(); });
  }

  void ReplaceScript(const std::string& name, const char* body, mode_t mode = 0755) {
    const std::string path = resources + "/" + name;
    fs::remove(path);
    if (!body) return;  // no script at all
    WriteFile(path, body);
    ::chmod(path.c_str(), mode);
  }
  void RestoreScript(const std::string& name) {
    const std::string path = resources + "/" + name;
    fs::remove(path);
    fs::copy_file(VM_TEST_RECORDER, path);
  }

  // The window becomes active again, as after the user went elsewhere.
  void Reactivate() {
    auto w = Window1();
    w->UserDeactivate();
    w->UserActivate();
  }
  std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    auto list = Window1()->Listbox1();
    for (int i = 0; i < list->ListCount(); ++i) rows.push_back(list->Cell(i, 0));
    return rows;
  }
  // Clicks the row that shows `text`; false when there is none.
  bool ClickRow(const std::string& text) {
    auto list = Window1()->Listbox1();
    for (int i = 0; i < list->ListCount(); ++i)
      if (list->Cell(i, 0) == text) {
        list->UserClickCell(i, 0);
        return true;
      }
    return false;
  }

  // The window after a fault: a new activation lists a new rule set and a
  // click on it runs it with every script the fixture installed.
  void ExpectUsable() {
    for (const char* s : {"getcontents.scpt", "applyCS.scpt", "applyPS.scpt"}) RestoreScript(s);
    WriteRuleSet("after-fault.txt", "a\tS\na\tT\tp");
    SetContent("A/B:xa");
    Reactivate();
    ClearCalls();
    ASSERT_TRUE(ClickRow("after-fault")) << "rows: " << Joined(Rows());
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].script, "getcontents.scpt");
    EXPECT_EQ(calls[1].values, (std::vector<std::string>{"2,", "2,", "S", "A", "B", "1"}));
    EXPECT_EQ(calls[2].values, (std::vector<std::string>{"1,", "T", "A", "B", "1"}));
  }
};

}  // namespace faults
