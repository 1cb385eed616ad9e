// The file type as macOS keeps it, in the Finder info, run here on Linux's
// extended attributes through a shim with macOS's calls (shim/sys/xattr.h).
#include <gtest/gtest.h>

#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/files_system.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kAttribute = "user.com.apple.FinderInfo";  // as the shim stores it
using Info = std::array<char, 32>;

class FinderInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* base = std::getenv("VM_TEST_TMP");
    ASSERT_NE(base, nullptr) << "VM_TEST_TMP is not set";
    dir_ = fs::path(base) / ("finder-info." + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "v.pref").string();
    std::ofstream(path_) << "data\n";
    if (::setxattr(path_.c_str(), "user.probe", "x", 1, 0) != 0)
      GTEST_SKIP() << "this file system keeps no user attributes";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // The raw Finder info; "<none>" when the file has none.
  std::string Raw() const {
    char value[64];
    ssize_t n = ::getxattr(path_.c_str(), kAttribute, value, sizeof value);
    return n < 0 ? std::string("<none>") : std::string(value, static_cast<size_t>(n));
  }
  void SetRaw(const Info& info) const {
    ASSERT_EQ(::setxattr(path_.c_str(), kAttribute, info.data(), info.size(), 0), 0);
  }

  fs::path dir_;
  std::string path_;
};

Info WithCreatorAndFlags() {
  Info info{};
  const std::string head = "TEXTttxt";  // type, creator
  for (size_t i = 0; i < head.size(); ++i) info[i] = head[i];
  info[8] = 0x01;   // Finder flags
  info[31] = 0x7f;  // the last extended byte
  return info;
}

TEST_F(FinderInfoTest, TypeIsTheFirstFourBytesAndTheOthersAreKept) {
  EXPECT_EQ(platform::os::FileTypeCode(path_), "");

  // A file without Finder info gets one that says nothing but the type.
  platform::os::SetFileTypeCode(path_, "pref");
  EXPECT_EQ(Raw(), std::string("pref") + std::string(28, '\0'));
  EXPECT_EQ(platform::os::FileTypeCode(path_), "pref");

  // Creator, flags and the rest stay as the Finder left them.
  const Info before = WithCreatorAndFlags();
  SetRaw(before);
  EXPECT_EQ(platform::os::FileTypeCode(path_), "TEXT");
  platform::os::SetFileTypeCode(path_, "pref");
  std::string expected(before.data(), before.size());
  expected.replace(0, 4, "pref");
  EXPECT_EQ(Raw(), expected);

  struct Case {
    const char* code;
    const char* type_after;  // what the first four bytes say afterwards
  } cases[] = {
      {"ab", "ab  "},       // a short code is padded with spaces
      {"toolong", "ab  "},  // a long one is no type code: nothing changes
      {"", ""},             // no type; creator and flags stay
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    platform::os::SetFileTypeCode(path_, c.code);
    EXPECT_EQ(platform::os::FileTypeCode(path_), c.type_after);
    EXPECT_EQ(Raw().substr(4), expected.substr(4));
  }

  // Finder info of nothing but zeros is removed, as macOS does.
  SetRaw(Info{{'p', 'r', 'e', 'f'}});
  platform::os::SetFileTypeCode(path_, "");
  EXPECT_EQ(Raw(), "<none>");
  EXPECT_EQ(platform::os::FileTypeCode(path_), "");
}

}  // namespace
