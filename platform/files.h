// The framework's folder items and text streams, on the real file system.
//
// A bare relative name (GetFolderItem("reglist", 0)) resolves against the
// folder that holds the application bundle (for a program that is not in a
// bundle: the folder of its executable). A lookup gives a reference even when
// nothing is there; such an item does not exist and counts 0 entries.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/object.h"

namespace platform {

class TextInputStream : public Object {
 public:
  ~TextInputStream() override;
  // The next line without its line end (LF, CRLF or CR); the empty text once
  // nothing is left.
  std::string ReadLine();
  // True once nothing is left to read. (The framework's EOF; the name EOF is
  // a macro of the C library.)
  bool Eof() const;
  void Close();

  // Opens and decodes the whole file: a UTF-16 byte-order mark (either order)
  // makes it decode as UTF-16; a UTF-8 byte-order mark is dropped; a
  // text that is not valid UTF-8 is decoded as Shift_JIS when it decodes
  // cleanly as such, else each invalid byte becomes U+FFFD. nullptr when the
  // file cannot be opened or read, and for anything but a regular file (a
  // FIFO would block, a device might never end).
  static std::shared_ptr<TextInputStream> Open(const std::string& path);

 private:
  explicit TextInputStream(std::string text);
  std::string text_;
  size_t pos_ = 0;
};

class TextOutputStream : public Object {
 public:
  ~TextOutputStream() override;  // an unclosed stream leaves the old file alone
  // Writes the text and one LF.
  void WriteLine(const std::string& text);
  // Completes the file: the temporary file moves over the old one in one step.
  // When anything failed, the temporary file is removed, the old file is
  // left as it was, and IOException says so: a save that did not happen is
  // never taken for one that did.
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  // 0 while every write (and the final move) succeeded, else the errno of the
  // first failure.
  int LastErrorCode() const { return error_; }

  // A stream writing into a new temporary file beside `path`. A symbolic
  // link at `path` is followed, and the regular file it ends at is replaced
  // (the link stays). nullptr when no file can be created, and when
  // something other than a regular file (a folder, a device, a FIFO, a
  // socket) is in the way: that is never replaced. Where the folder takes no
  // new file but the file itself can be written, the stream rewrites the
  // file in place at Close.
  static std::shared_ptr<TextOutputStream> Create(const std::string& path);
  // The file being written: the temporary file, or the file itself when it
  // is rewritten in place.
  const std::string& TemporaryPath() const { return temp_path_; }

 private:
  TextOutputStream(std::string path, std::string temp_path, int fd);
  static std::shared_ptr<TextOutputStream> OpenInPlace(const std::string& target);
  void Flush();
  void Discard();
  void CloseInPlace();
  std::string path_;
  std::string temp_path_;
  std::string buffer_;
  int fd_ = -1;
  int error_ = 0;
  bool in_place_ = false;  // no temporary file: the text goes into the file at Close
};

class FolderItem : public Object, public std::enable_shared_from_this<FolderItem> {
 public:
  explicit FolderItem(std::string path);

  const std::string& NativePath() const { return path_; }
  std::string Name() const;
  // The name as the system shows it (on Linux, the name itself).
  std::string DisplayName() const;
  bool Exists() const;
  bool Directory() const;

  // The folder that holds this item; nullptr for the root.
  std::shared_ptr<FolderItem> Parent() const;
  // The item of that name inside this folder, existing or not. It is found
  // as a case-insensitive volume finds it: the entry of exactly that name;
  // else the entry whose name equals it ignoring ASCII case; else the name as
  // given, which does not exist. When several entries differ from the name
  // only in case, the one that agrees with it exactly over the longest start
  // is taken, and among those the first in the folder's order (see Item).
  std::shared_ptr<FolderItem> Child(const std::string& name) const;
  // Number of entries of a folder (0 when it is none); entry `index` counted
  // from 1, in ascending order of the names (ASCII letters compared without
  // case, ties broken by the exact bytes); nullptr when there is no such
  // entry. Count lists the folder afresh; Item numbers the entries of the
  // last listing (made on first use when Count was never called).
  int Count() const;
  std::shared_ptr<FolderItem> Item(int index) const;

  // nullptr when the file cannot be opened.
  std::shared_ptr<TextInputStream> OpenAsTextFile() const;
  // A stream on a new, empty file that replaces this one when closed;
  // nullptr when it cannot be created.
  std::shared_ptr<TextOutputStream> CreateTextFile();

  // The four-character file type: on macOS the type code in the file's
  // Finder info (a shorter code padded with spaces, a longer one ignored),
  // elsewhere the extended attribute user.mac.type where the file system
  // allows it. Set while a new file is being written, it applies to the new
  // file.
  std::string MacType() const;
  void MacType(const std::string& code);

 private:
  std::string path_;
  std::weak_ptr<TextOutputStream> pending_;  // the file being written, if any
  mutable std::vector<std::string> listing_;  // sorted entry names
  mutable bool listed_ = false;
};

// A bare relative name (path mode 0) against the bundle's folder; an
// absolute path as it is.
std::shared_ptr<FolderItem> GetFolderItem(const std::string& path, int path_mode);

// The folder bare relative names resolve against: the folder that holds
// X.app when the executable is X.app/Contents/MacOS/<name>, else the folder of
// the executable.
std::string BareNameBaseFolder();

// The running program's executable, as the system gives it unless a test
// set another (the file need not exist).
std::string ExecutablePath();
void SetExecutablePathForTesting(const std::string& path);

namespace SpecialFolder {
// ~/Library/Preferences on macOS; elsewhere $XDG_CONFIG_HOME, or ~/.config
// when that is unset, created when missing.
std::shared_ptr<FolderItem> Preferences();
}  // namespace SpecialFolder

}  // namespace platform
