// Rule files and the preferences file read through the text streams, from
// any bytes on disk: the lines the stream gives are held against a naive
// cut of the decoded text, each rule against the line's TAB fields, and the
// preferences' five numbers are written back and read again.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/style_rules.h"
#include "fuzz/fuzz_support.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/text_decoding.h"

namespace {

// A scratch folder of this process, removed at exit.
std::string gFolder;

void RemoveFolder() {
  if (gFolder.empty()) return;
  for (const char* name : {"/rules.txt", "/vellowmark.pref"}) ::unlink((gFolder + name).c_str());
  ::rmdir(gFolder.c_str());
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) fuzz::Fail("scratch file", path);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) fuzz::Fail("scratch file write", path);
    done += static_cast<size_t>(n);
  }
  ::close(fd);
}

// The lines of a text: ended by LF, CR or CRLF; a final line end opens no
// further line.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t i = start;
    while (i < text.size() && text[i] != '\r' && text[i] != '\n') ++i;
    lines.push_back(text.substr(start, i - start));
    if (i < text.size() && text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  return lines;
}

std::string TabField(const std::string& line, int n) {
  size_t start = 0;
  for (int i = 1; i < n; ++i) {
    const size_t tab = line.find('\t', start);
    if (tab == std::string::npos) return std::string();
    start = tab + 1;
  }
  const size_t end = line.find('\t', start);
  return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void CheckRules(const std::string& path, const std::vector<std::string>& lines) {
  auto stream = platform::TextInputStream::Open(path);
  if (!stream) fuzz::Fail("TextInputStream::Open", "no stream for a regular file");
  const engine::RegRuleSet rules = engine::ReadRuleSet(*stream);
  stream->Close();
  const size_t expected = lines.empty() ? 1 : lines.size();
  if (rules.patterns.size() != expected || rules.styles.size() != expected ||
      rules.kinds.size() != expected)
    fuzz::Fail("ReadRuleSet", "  " + std::to_string(rules.patterns.size()) + " rules for " +
                                  std::to_string(lines.size()) + " lines");
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string context = "line " + std::to_string(i + 1) + " " + fuzz::Show(lines[i]);
    fuzz::CheckEqual("rule pattern", rules.patterns[i], TabField(lines[i], 1), context);
    fuzz::CheckEqual("rule style", rules.styles[i], TabField(lines[i], 2), context);
    fuzz::CheckEqual("rule kind", rules.kinds[i], TabField(lines[i], 3), context);
    fuzz::CheckValidUtf8("rule pattern", rules.patterns[i]);
    fuzz::CheckValidUtf8("rule style", rules.styles[i]);
    fuzz::CheckValidUtf8("rule kind", rules.kinds[i]);
  }
}

// The preferences: five lines read without an end test, each through Val
// and ToInt32; saved again, the file gives back the same five numbers.
void CheckPreferences(const std::string& path, const std::vector<std::string>& lines) {
  auto stream = platform::TextInputStream::Open(path);
  if (!stream) fuzz::Fail("TextInputStream::Open", "no stream for a regular file");
  int32_t values[5];
  for (int i = 0; i < 5; ++i) {
    const std::string line = stream->ReadLine();
    const std::string expected = static_cast<size_t>(i) < lines.size() ? lines[i] : std::string();
    fuzz::CheckEqual("ReadLine", line, expected, "line " + std::to_string(i + 1));
    values[i] = platform::ToInt32(platform::Val(line));
  }
  if (lines.size() <= 5 && !stream->Eof()) fuzz::Fail("Eof", "false after the last line");
  stream->Close();

  auto out = platform::TextOutputStream::Create(path);
  if (!out) fuzz::Fail("TextOutputStream::Create", path);
  for (int32_t v : values) out->WriteLine(platform::Str(v));
  out->Close();
  if (out->LastErrorCode() != 0) fuzz::Fail("TextOutputStream", "write failed");

  auto again = platform::TextInputStream::Open(path);
  if (!again) fuzz::Fail("TextInputStream::Open", "no stream for the saved file");
  for (int i = 0; i < 5; ++i) {
    const std::string line = again->ReadLine();
    fuzz::CheckEqual("saved preference", line, std::to_string(values[i]),
                     "line " + std::to_string(i + 1));
    if (platform::ToInt32(platform::Val(line)) != values[i])
      fuzz::Fail("preference round trip", "line " + std::to_string(i + 1) + " " + line);
  }
  if (!again->Eof()) fuzz::Fail("saved preferences", "more than five lines");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/vm-fuzz-streams-XXXXXX";
  if (!::mkdtemp(templ.data())) fuzz::Fail("mkdtemp", templ);
  gFolder = templ;
  std::atexit(RemoveFolder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string decoded = platform::DecodeTextFile(bytes);
  fuzz::CheckValidUtf8("DecodeTextFile", decoded);
  const std::string_view unmarked =
      std::string_view(bytes).substr(bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0);
  if (fuzz::ValidUtf8(unmarked))
    fuzz::CheckEqual("DecodeTextFile of UTF-8", decoded, std::string(unmarked), "");
  if (auto sjis = platform::DecodeShiftJis(bytes)) fuzz::CheckValidUtf8("DecodeShiftJis", *sjis);

  const std::vector<std::string> lines = Lines(decoded);

  const std::string rules_path = gFolder + "/rules.txt";
  WriteFile(rules_path, data, size);
  CheckRules(rules_path, lines);

  const std::string prefs_path = gFolder + "/vellowmark.pref";
  WriteFile(prefs_path, data, size);
  CheckPreferences(prefs_path, lines);
  return 0;
}
