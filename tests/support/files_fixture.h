// A fresh folder of its own for each test of folder items and text streams,
// below $VM_TEST_TMP, with small helpers to lay out and read back files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <sys/xattr.h>
#include <unistd.h>

#include "platform/files.h"

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* base = std::getenv("VM_TEST_TMP");
    ASSERT_NE(base, nullptr) << "VM_TEST_TMP is not set";
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::path(base) / "files" /
           (std::string(info->test_suite_name()) + "." + info->name() + "." +
            std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    platform::SetExecutablePathForTesting("");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // Makes the folders on the way as needed.
  void Write(const std::string& name, const std::string& bytes) const {
    std::filesystem::create_directories(std::filesystem::path(Path(name)).parent_path());
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::shared_ptr<platform::FolderItem> Item(const std::string& name) const {
    return std::make_shared<platform::FolderItem>(Path(name));
  }

  // Every line of a stream, read the way a rule-set file is read.
  static std::vector<std::string> AllLines(platform::TextInputStream& in) {
    std::vector<std::string> lines;
    while (!in.Eof()) lines.push_back(in.ReadLine());
    return lines;
  }

  bool UserAttributesWork() const {
    Write("probe", "");
    bool ok = ::setxattr(Path("probe").c_str(), "user.probe", "x", 1, 0) == 0;
    std::filesystem::remove(Path("probe"));
    return ok;
  }

  std::filesystem::path dir_;
};
