#include "support/app_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <unistd.h>

#include "app/startup.h"
#include "platform/files.h"
#include "platform/headless/driver.h"
#include "platform/runtime.h"

namespace fs = std::filesystem;

#ifndef VM_RECORDER_PATH
#error "VM_RECORDER_PATH names the recording host script"
#endif

void AppFixture::SetUp() {
  const char* base = std::getenv("VM_TEST_TMP");
  SetUpIn(base ? base : "/tmp");
}

void AppFixture::SetUpIn(const std::string& base) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  root = base + "/app-" + info->test_suite_name() + "-" + info->name() + "-" +
         std::to_string(getpid());
  fs::remove_all(root);
  bundle = root + "/Vellowmark.app";
  resources = bundle + "/Contents/Resources";
  executable = bundle + "/Contents/MacOS/Vellowmark";
  reglist = root + "/reglist";
  config = root + "/config";
  prefs_file = config + "/vellowmark.pref";
  runtime_folder_ = std::make_unique<ShortFolder>();
  ASSERT_FALSE(runtime_folder_->path().empty()) << "no short folder under /tmp";
  runtime_dir = runtime_folder_->path();
  content_file = root + "/content.txt";
  log_file = root + "/calls.log";
  for (const auto& dir : {resources, bundle + "/Contents/MacOS", reglist, config})
    fs::create_directories(dir);
  for (const char* script : {"getcontents.scpt", "applyCS.scpt", "applyPS.scpt"})
    fs::copy_file(VM_RECORDER_PATH, resources + "/" + script);
  platform::SetExecutablePathForTesting(executable);
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  setenv("XDG_RUNTIME_DIR", runtime_dir.c_str(), 1);
  setenv("VM_RECORD_LOG", log_file.c_str(), 1);
  setenv("VM_RECORD_CONTENT", content_file.c_str(), 1);
  SetContent("");
  platform::RuntimeResetForTesting();
  platform::headless::ClearMessages();
}

void AppFixture::TearDown() {
  if (started) ShutDown();
  platform::RuntimeResetForTesting();
  fs::remove_all(root);
  runtime_folder_.reset();
}

void AppFixture::StartUp() {
  started = true;
  platform::RuntimeInit();
  initialize();
  platform::RuntimeSetExceptionHelper(&CallFunctionWithExceptionHandling);
  platform::RunFrameworkInitialization(&Startup);
}

int AppFixture::ShutDown() {
  started = false;
  finalize();
  return platform::RuntimeExit();
}

void AppFixture::WriteFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string AppFixture::ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<ScriptCall> AppFixture::Calls() {
  const std::string log = ReadFile(log_file);
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t i = 0; i < log.size(); ++i)
    if (log[i] == '\0') {
      fields.push_back(log.substr(start, i - start));
      start = i + 1;
    }
  std::vector<ScriptCall> calls;
  for (size_t i = 0; i + 1 < fields.size();) {
    ScriptCall call{fields[i], {}};
    const size_t n = std::stoul(fields[i + 1]);
    i += 2;
    for (size_t k = 0; k < n && i < fields.size(); ++k) call.values.push_back(fields[i++]);
    calls.push_back(call);
  }
  return calls;
}

void AppFixture::ClearCalls() { fs::remove(log_file); }

std::string CaptureStderr(const std::function<void()>& fn) {
  std::fflush(stderr);
  char path[] = "/tmp/vm-stderr-XXXXXX";
  const int fd = mkstemp(path);
  const int saved = dup(2);
  dup2(fd, 2);
  try {
    fn();
  } catch (...) {
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(fd);
    unlink(path);
    throw;
  }
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  close(fd);
  unlink(path);
  return ss.str();
}
