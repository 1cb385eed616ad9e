// A whole program in the test process: a temporary bundle whose Resources
// hold recording host scripts, a temporary "reglist" beside it, and private
// preferences and event folders. Start-up runs for real on the headless
// backend.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/short_folder.h"

// One host script call as the recorder logged it.
struct ScriptCall {
  std::string script;  // "getcontents.scpt", "applyCS.scpt", "applyPS.scpt"
  std::vector<std::string> values;
};

class AppFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The whole scratch tree (bundle, reglist, preferences and event folders)
  // made afresh inside `base`; SetUp makes it inside the build's test folder.
  void SetUpIn(const std::string& base);

  // The start-up sequence up to the event loop (runtime, classes, start
  // routine), as the entry routine runs it.
  void StartUp();
  // Finalisation and the runtime's end, as the entry routine ends; gives the
  // exit status. TearDown calls it when a test did not.
  int ShutDown();

  void WriteFile(const std::string& path, const std::string& bytes);
  std::string ReadFile(const std::string& path);
  void WriteRuleSet(const std::string& name, const std::string& bytes) {
    WriteFile(reglist + "/" + name, bytes);
  }
  // What getcontents prints.
  void SetContent(const std::string& bytes) { WriteFile(content_file, bytes); }
  std::vector<ScriptCall> Calls();
  void ClearCalls();

  // runtime_dir, the event folder's parent, is a short folder of its own
  // (outside root): a socket's path must fit a sockaddr_un.
  std::string root, bundle, resources, executable, reglist, config, prefs_file, runtime_dir,
      content_file, log_file;
  bool started = false;

 private:
  std::unique_ptr<ShortFolder> runtime_folder_;
};

// Runs fn with standard error captured; gives what it wrote.
std::string CaptureStderr(const std::function<void()>& fn);
