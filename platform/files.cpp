#include "platform/files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files_system.h"
#include "platform/text.h"
#include "platform/text_decoding.h"

namespace platform {

namespace {

// A path without trailing slashes (the root stays "/").
std::string Normalized(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Ascending by name with ASCII letters folded; the exact bytes break ties so
// the order is total and the same on every machine.
bool NameBefore(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    auto ca = static_cast<unsigned char>(FoldAscii(a[i]));
    auto cb = static_cast<unsigned char>(FoldAscii(b[i]));
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

bool WriteAll(int fd, const char* data, size_t size, int* error) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Where a save to `path` writes: a chain of symbolic links is followed to
// its last member, so that a linked file is rewritten and the link stays a
// link. The last member need not exist (a dangling link names the file to
// create). Empty when the chain does not end (a loop) or cannot be read.
std::string SaveTarget(std::string path) {
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string link(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<size_t>(n) >= link.size()) return std::string();
    link.resize(static_cast<size_t>(n));
    path = Normalized(link.front() == '/' ? link : JoinPath(FolderOf(path), link));
  }
  return std::string();
}

// The names in a folder, "." and ".." left out, in no particular order.
std::vector<std::string> EntryNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  ::closedir(dir);
  return names;
}

// Number of leading bytes that a and b have exactly in common.
size_t CommonPrefix(const std::string& a, const std::string& b) {
  size_t n = 0;
  while (n < a.size() && n < b.size() && a[n] == b[n]) ++n;
  return n;
}

// The name under which `name` is found in `folder`, as a case-insensitive
// volume finds it: the exact name when an entry has it; else an entry whose
// name equals it ignoring ASCII case; else `name` itself (nothing is there).
// A case-insensitive volume holds only one such entry; where several are,
// the one that agrees exactly with `name` over the longest start is taken,
// and among those the first in the folder's order. So "dup.txt" asked for
// finds dup.TXT beside DUP.txt, and every row of the rule-set list, which
// differs from its file's name only in the ending, finds its own file.
std::string LookUpName(const std::string& folder, const std::string& name) {
  struct stat st;
  if (name.empty() || name.find('/') != std::string::npos ||
      ::lstat(JoinPath(folder, name).c_str(), &st) == 0 || errno != ENOENT) {
    return name;
  }
  const std::string* found = nullptr;
  size_t found_prefix = 0;
  const std::vector<std::string> names = EntryNames(folder);
  for (const std::string& entry : names) {
    if (!TextEquals(entry, name)) continue;
    const size_t prefix = CommonPrefix(entry, name);
    if (!found || prefix > found_prefix || (prefix == found_prefix && NameBefore(entry, *found))) {
      found = &entry;
      found_prefix = prefix;
    }
  }
  return found ? *found : name;
}

std::mutex& ExecutableMutex() {
  static std::mutex m;
  return m;
}
std::string& ExecutableOverride() {
  static std::string path;
  return path;
}

}  // namespace

// ---- TextInputStream ----

TextInputStream::TextInputStream(std::string text) : text_(std::move(text)) {}
TextInputStream::~TextInputStream() = default;

std::shared_ptr<TextInputStream> TextInputStream::Open(const std::string& path) {
  // Non-blocking so that opening a FIFO cannot hang; only regular files are
  // read anyway.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  std::string bytes;
  bytes.reserve(static_cast<size_t>(st.st_size) + 1);
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return nullptr;
    }
    bytes.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return std::shared_ptr<TextInputStream>(new TextInputStream(DecodeTextFile(bytes)));
}

std::string TextInputStream::ReadLine() {
  if (pos_ >= text_.size()) return std::string();
  size_t end = text_.find_first_of("\r\n", pos_);
  if (end == std::string::npos) {
    std::string line = text_.substr(pos_);
    pos_ = text_.size();
    return line;
  }
  std::string line = text_.substr(pos_, end - pos_);
  pos_ = end + 1;
  if (text_[end] == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
  return line;
}

bool TextInputStream::Eof() const { return pos_ >= text_.size(); }

void TextInputStream::Close() {
  std::string().swap(text_);
  pos_ = 0;
}

// ---- TextOutputStream ----

TextOutputStream::TextOutputStream(std::string path, std::string temp_path, int fd)
    : path_(std::move(path)), temp_path_(std::move(temp_path)), fd_(fd) {}

TextOutputStream::~TextOutputStream() {
  if (fd_ >= 0) Discard();
}

std::shared_ptr<TextOutputStream> TextOutputStream::Create(const std::string& path) {
  const std::string target = SaveTarget(Normalized(path));
  const std::string base = BaseName(target);
  if (base.empty() || base == "." || base == "..") return nullptr;
  struct stat old;
  const bool replacing = ::lstat(target.c_str(), &old) == 0;
  if (!replacing && errno != ENOENT) return nullptr;
  // Only a regular file is ever replaced: a folder, a device, a FIFO or a
  // socket in its place is left as it is and no file is created.
  if (replacing && !S_ISREG(old.st_mode)) return nullptr;

  static std::atomic<unsigned> counter{0};
  std::random_device device;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = JoinPath(FolderOf(target), "." + base + ".tmp-" +
                                                      std::to_string(::getpid()) + "-" +
                                                      std::to_string(counter++) + "-" +
                                                      std::to_string(device()));
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      // A folder that takes no new file may still hold a file that can be
      // written: that file is then rewritten in place.
      if (errno == EACCES && replacing) return OpenInPlace(target);
      return nullptr;  // folder missing, read-only, or a path through a file
    }
    // The new file keeps the permissions the user gave the old one.
    if (replacing) (void)::fchmod(fd, old.st_mode & 07777);
    return std::shared_ptr<TextOutputStream>(new TextOutputStream(target, temp, fd));
  }
  return nullptr;
}

std::shared_ptr<TextOutputStream> TextOutputStream::OpenInPlace(const std::string& target) {
  // Never through a link and never blocking: what is opened must still be
  // the regular file that was looked at.
  int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  auto stream = std::shared_ptr<TextOutputStream>(new TextOutputStream(target, target, fd));
  stream->in_place_ = true;
  return stream;
}

void TextOutputStream::WriteLine(const std::string& text) {
  if (fd_ < 0 || error_ != 0) return;
  buffer_ += text;
  buffer_ += '\n';
  // A file rewritten in place is written only at Close, so that an unclosed
  // stream leaves it as it was.
  if (buffer_.size() >= 65536 && !in_place_) Flush();
}

void TextOutputStream::Flush() {
  // A failure is kept in error_, and Close then discards the file.
  if (error_ == 0) WriteAll(fd_, buffer_.data(), buffer_.size(), &error_);
  buffer_.clear();
}

void TextOutputStream::Discard() {
  ::close(fd_);
  fd_ = -1;
  if (!in_place_) ::unlink(temp_path_.c_str());
  buffer_.clear();
}

void TextOutputStream::Close() {
  if (fd_ < 0) return;
  if (in_place_) {
    CloseInPlace();
    return;
  }
  Flush();
  if (error_ == 0 && ::fsync(fd_) != 0) error_ = errno;
  if (error_ != 0) {
    Discard();
    throw IOException("could not write " + path_ + ": " + std::strerror(error_));
  }
  if (::close(fd_) != 0 && errno != EINTR) error_ = errno;
  fd_ = -1;
  // What came into the file's place meanwhile is never replaced unless it is
  // a regular file.
  struct stat st;
  if (error_ == 0 && ::lstat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) error_ = EEXIST;
  if (error_ == 0 && ::rename(temp_path_.c_str(), path_.c_str()) != 0) error_ = errno;
  if (error_ != 0) {
    ::unlink(temp_path_.c_str());
    throw IOException("could not write " + path_ + ": " + std::strerror(error_));
  }
  // Make the rename itself durable.
  int dir = ::open(FolderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
}

void TextOutputStream::CloseInPlace() {
  // The new text goes over the old from the start and the rest is cut off,
  // so a text no longer than the old one needs no new room on the disk.
  const size_t size = buffer_.size();
  Flush();
  if (error_ == 0 && ::ftruncate(fd_, static_cast<off_t>(size)) != 0) error_ = errno;
  if (error_ == 0 && ::fsync(fd_) != 0) error_ = errno;
  if (::close(fd_) != 0 && errno != EINTR && error_ == 0) error_ = errno;
  fd_ = -1;
  if (error_ != 0) throw IOException("could not write " + path_ + ": " + std::strerror(error_));
}

// ---- FolderItem ----

FolderItem::FolderItem(std::string path) : path_(Normalized(std::move(path))) {}

std::string FolderItem::Name() const { return path_ == "/" ? "/" : BaseName(path_); }

std::string FolderItem::DisplayName() const { return Name(); }

bool FolderItem::Exists() const {
  struct stat st;
  return ::lstat(path_.c_str(), &st) == 0;
}

bool FolderItem::Directory() const {
  struct stat st;
  return ::stat(path_.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::shared_ptr<FolderItem> FolderItem::Parent() const {
  if (path_ == "/" || path_.empty()) return nullptr;
  return std::make_shared<FolderItem>(FolderOf(path_));
}

std::shared_ptr<FolderItem> FolderItem::Child(const std::string& name) const {
  return std::make_shared<FolderItem>(JoinPath(path_, LookUpName(path_, name)));
}

int FolderItem::Count() const {
  listing_ = EntryNames(path_);
  listed_ = true;
  std::sort(listing_.begin(), listing_.end(), NameBefore);
  return static_cast<int>(std::min<size_t>(listing_.size(), INT_MAX));
}

std::shared_ptr<FolderItem> FolderItem::Item(int index) const {
  if (!listed_) Count();
  if (index < 1 || static_cast<size_t>(index) > listing_.size()) return nullptr;
  // The listed name as it is: the entry was found under it.
  return std::make_shared<FolderItem>(JoinPath(path_, listing_[static_cast<size_t>(index) - 1]));
}

std::shared_ptr<TextInputStream> FolderItem::OpenAsTextFile() const {
  return TextInputStream::Open(path_);
}

std::shared_ptr<TextOutputStream> FolderItem::CreateTextFile() {
  auto stream = TextOutputStream::Create(path_);
  pending_ = stream;
  return stream;
}

std::string FolderItem::MacType() const {
  auto pending = pending_.lock();
  const std::string& path = (pending && pending->IsOpen()) ? pending->TemporaryPath() : path_;
  return os::FileTypeCode(path);
}

void FolderItem::MacType(const std::string& code) {
  // While a new file is being written the type goes onto it; the rename in
  // Close carries the attribute over with the file.
  auto pending = pending_.lock();
  const std::string& path = (pending && pending->IsOpen()) ? pending->TemporaryPath() : path_;
  // Only a file carries a type: anything else in its place is left alone.
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  os::SetFileTypeCode(path, code);
}

// ---- lookups ----

std::string ExecutablePath() {
  {
    std::lock_guard<std::mutex> lock(ExecutableMutex());
    if (!ExecutableOverride().empty()) return ExecutableOverride();
  }
  return os::ExecutablePath();
}

void SetExecutablePathForTesting(const std::string& path) {
  std::lock_guard<std::mutex> lock(ExecutableMutex());
  ExecutableOverride() = path;
}

std::string BareNameBaseFolder() {
  std::string folder = FolderOf(Normalized(ExecutablePath()));
  // X.app/Contents/MacOS/<exe>: the folder that holds the bundle.
  std::string macos = BaseName(folder);
  std::string contents_folder = FolderOf(folder);
  std::string contents = BaseName(contents_folder);
  std::string bundle_folder = FolderOf(contents_folder);
  std::string bundle = BaseName(bundle_folder);
  if (macos == "MacOS" && contents == "Contents" && bundle.size() > 4 &&
      bundle.compare(bundle.size() - 4, 4, ".app") == 0) {
    return FolderOf(bundle_folder);
  }
  return folder;
}

std::shared_ptr<FolderItem> GetFolderItem(const std::string& path, int /*path_mode*/) {
  if (!path.empty() && path.front() == '/') return std::make_shared<FolderItem>(path);
  if (path.empty()) return std::make_shared<FolderItem>(BareNameBaseFolder());
  return std::make_shared<FolderItem>(JoinPath(BareNameBaseFolder(), path));
}

namespace SpecialFolder {

std::shared_ptr<FolderItem> Preferences() {
  std::string home;
  if (const char* env = std::getenv("HOME"); env && *env) {
    home = env;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir) {
    home = pw->pw_dir;
  }
#ifdef __APPLE__
  if (home.empty()) return nullptr;
  std::string folder = home + "/Library/Preferences";
#else
  std::string folder;
  // The base directory specification ignores a relative value.
  if (const char* env = std::getenv("XDG_CONFIG_HOME"); env && env[0] == '/') {
    folder = env;
  } else {
    if (home.empty()) return nullptr;
    folder = home + "/.config";
  }
#endif
  // Create the folder and any missing parents, private as a config folder is.
  folder = Normalized(folder);
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    std::string prefix = slash == std::string::npos ? folder : folder.substr(0, slash);
    (void)::mkdir(prefix.c_str(), 0700);
    if (slash == std::string::npos) break;
  }
  // A folder that is not there and cannot be made is no preferences folder.
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
  return std::make_shared<FolderItem>(folder);
}

}  // namespace SpecialFolder

}  // namespace platform
