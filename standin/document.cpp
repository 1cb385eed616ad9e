#include "standin/document.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>

namespace standin {

namespace {

constexpr char32_t kCR = U'\r';
constexpr std::string_view kPieceSeparator = "<t@ke>";
constexpr std::string_view kHeader = "=== ";

bool IsCont(unsigned char c) { return (c & 0xC0) == 0x80; }

// A number of a request list that is far past any text the host holds, so
// that an absurd value is refused as out of range instead of wrapping.
constexpr uint64_t kHuge = uint64_t{1} << 40;

// "3,10," -> {3, 10}; "" -> {}. False unless every number is plain decimal
// digits followed by ",".
bool ParseNumberList(std::string_view s, std::vector<uint64_t>* out) {
  out->clear();
  size_t i = 0;
  while (i < s.size()) {
    size_t digits = 0;
    uint64_t value = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      value = std::min(kHuge, value * 10 + static_cast<uint64_t>(s[i] - '0'));
      ++i;
      ++digits;
    }
    if (digits == 0 || i >= s.size() || s[i] != ',') return false;
    ++i;
    out->push_back(value);
  }
  return true;
}

// Keeps a refusal message readable when an argument is long or binary.
std::string Shown(std::string_view s) {
  constexpr size_t kMax = 40;
  if (s.size() <= kMax) return Quote(s);
  size_t cut = kMax;
  while (cut > 0 && IsCont(static_cast<unsigned char>(s[cut]))) --cut;
  return Quote(s.substr(0, cut)) + "...";
}

bool ValidFlag(std::string_view flag) { return flag == "1" || flag == "0"; }

std::string AddressText(std::string_view a1, std::string_view a2) {
  return Quote(std::string(a1) + "/" + std::string(a2));
}

Reply Refuse(std::string text) { return Reply{false, std::move(text)}; }

std::vector<std::string_view> SplitLines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n' || bytes[i] == '\r') {
      lines.push_back(bytes.substr(start, i - start));
      if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < bytes.size()) lines.push_back(bytes.substr(start));
  return lines;
}

}  // namespace

std::u32string DecodeUtf8(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  size_t i = 0;
  const size_t n = bytes.size();
  while (i < n) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    size_t len = 0;
    char32_t cp = 0, min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) { len = 2; cp = b0 & 0x1F; min = 0x80; }
    else if (b0 >= 0xE0 && b0 <= 0xEF) { len = 3; cp = b0 & 0x0F; min = 0x800; }
    else if (b0 >= 0xF0 && b0 <= 0xF4) { len = 4; cp = b0 & 0x07; min = 0x10000; }
    bool ok = len > 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) {
      const auto b = static_cast<unsigned char>(bytes[i + k]);
      if (!IsCont(b)) ok = false;
      else cp = (cp << 6) | (b & 0x3F);
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (ok) {
      out.push_back(cp);
      i += len;
    } else {
      out.push_back(0xFFFD);
      ++i;
    }
  }
  return out;
}

std::string EncodeUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::string Quote(std::string_view utf8) {
  std::string out = "\"";
  for (char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          static const char kHex[] = "0123456789ABCDEF";
          out += "\\x";
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 15]);
        } else {
          out.push_back(ch);
        }
    }
  }
  out += "\"";
  return out;
}

std::pair<size_t, size_t> Piece::ParagraphSpan(size_t i) const {
  const size_t first = paragraph_starts[i];
  const size_t last = i + 1 < paragraph_starts.size() ? paragraph_starts[i + 1] : text.size();
  return {first, last};
}

bool Document::Parse(std::string_view bytes, Document* out, std::string* error) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  // Invalid bytes are repaired once, up front, so every later count is in
  // whole characters.
  const std::string text = EncodeUtf8(DecodeUtf8(bytes));
  Document doc;
  std::vector<std::string_view> paragraphs;
  bool in_piece = false;
  size_t line_no = 0;

  auto finish_piece = [&]() {
    if (!in_piece) return;
    while (!paragraphs.empty() && paragraphs.back().empty()) paragraphs.pop_back();
    Piece& p = doc.pieces_.back();
    if (paragraphs.empty()) paragraphs.emplace_back();
    for (size_t i = 0; i < paragraphs.size(); ++i) {
      if (i > 0) p.text.push_back(kCR);
      p.paragraph_starts.push_back(p.text.size());
      p.text += DecodeUtf8(paragraphs[i]);
    }
    p.paragraph_styles.assign(p.ParagraphCount(), std::string());
    p.char_styles.assign(p.text.size(), StyleStack());
    paragraphs.clear();
  };
  auto fail = [&](const std::string& why) {
    *error = "line " + std::to_string(line_no) + ": " + why;
    return false;
  };

  for (std::string_view line : SplitLines(text)) {
    ++line_no;
    if (line.substr(0, kHeader.size()) == kHeader) {
      finish_piece();
      const std::string_view address = line.substr(kHeader.size());
      const size_t slash = address.find('/');
      if (slash == std::string_view::npos || address.find('/', slash + 1) != std::string_view::npos)
        return fail("a piece header needs exactly one \"/\" between its two address fields: " +
                    Quote(line));
      if (address.find(':') != std::string_view::npos || address.find(kPieceSeparator) != std::string_view::npos)
        return fail("an address field may not hold \":\" or \"<t@ke>\": " + Quote(line));
      Piece p;
      p.address1 = std::string(address.substr(0, slash));
      p.address2 = std::string(address.substr(slash + 1));
      auto key = std::make_pair(p.address1, p.address2);
      if (doc.index_.count(key)) return fail("a second piece with the address " + Quote(address));
      doc.index_[key] = doc.pieces_.size();
      doc.pieces_.push_back(std::move(p));
      in_piece = true;
      continue;
    }
    if (!in_piece) {
      if (line.empty() || line[0] == '#') continue;
      return fail("text before the first piece header (\"=== <address 1>/<address 2>\")");
    }
    if (line.find(kPieceSeparator) != std::string_view::npos)
      return fail("a paragraph may not hold \"<t@ke>\", which separates the pieces");
    paragraphs.push_back(line);
  }
  finish_piece();
  *out = std::move(doc);
  return true;
}

bool Document::Load(const std::string& path, Document* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  std::ostringstream buf;
  buf << in.rdbuf();
  if (in.bad()) {
    *error = path + ": cannot read";
    return false;
  }
  if (!Parse(buf.str(), out, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

std::string Document::Contents() const {
  std::string out;
  for (size_t i = 0; i < pieces_.size(); ++i) {
    if (i > 0) out += kPieceSeparator;
    const Piece& p = pieces_[i];
    out += p.address1;
    out += '/';
    out += p.address2;
    out += ':';
    out += EncodeUtf8(p.text);
  }
  return out;
}

Piece* Document::Find(std::string_view address1, std::string_view address2) {
  auto it = index_.find(std::make_pair(std::string(address1), std::string(address2)));
  return it == index_.end() ? nullptr : &pieces_[it->second];
}

void Document::Remember(std::vector<std::string>* names, const std::string& name) {
  if (std::find(names->begin(), names->end(), name) == names->end()) names->push_back(name);
}

Reply Document::ApplyCharacterStyle(std::string_view starts, std::string_view ends,
                                    const std::string& style, std::string_view address1,
                                    std::string_view address2, std::string_view flag) {
  if (!ValidFlag(flag)) return Refuse("applyCS: the flag must be \"1\" or \"0\", not " + Shown(flag));
  if (style.empty()) return Refuse("applyCS: the style name is empty");
  Piece* piece = Find(address1, address2);
  if (!piece) return Refuse("applyCS: no piece has the address " + AddressText(address1, address2));
  std::vector<uint64_t> s, e;
  if (!ParseNumberList(starts, &s))
    return Refuse("applyCS: the starts " + Shown(starts) + " are not numbers each followed by \",\"");
  if (!ParseNumberList(ends, &e))
    return Refuse("applyCS: the ends " + Shown(ends) + " are not numbers each followed by \",\"");
  if (s.size() != e.size())
    return Refuse("applyCS: " + std::to_string(s.size()) + " starts but " + std::to_string(e.size()) +
                  " ends");
  const uint64_t len = piece->text.size();
  for (size_t i = 0; i < s.size(); ++i) {
    // An empty match has end = start - 1, also just past the last character.
    if (s[i] < 1 || s[i] > len + 1 || e[i] + 1 < s[i] || e[i] > len)
      return Refuse("applyCS: range " + std::to_string(i + 1) + " (" + std::to_string(s[i]) + " to " +
                    std::to_string(e[i]) + ") lies outside the " + std::to_string(len) +
                    " characters of piece " + AddressText(address1, address2));
  }
  const bool clear = flag == "1";
  size_t styled = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    for (uint64_t pos = s[i]; pos <= e[i]; ++pos) {
      StyleStack& stack = piece->char_styles[pos - 1];
      if (clear) {
        stack.assign(1, style);
      } else {
        // Applying a style again brings it to the top instead of stacking it
        // twice, so a repeated run leaves the document as the first one did.
        stack.erase(std::remove(stack.begin(), stack.end(), style), stack.end());
        stack.push_back(style);
      }
      ++styled;
    }
  }
  if (styled > 0) Remember(&char_names_, style);
  return Reply{true,
               "applied " + Quote(style) + " to " + std::to_string(styled) + " characters in " +
                   std::to_string(s.size()) + " ranges of " + AddressText(address1, address2)};
}

Reply Document::ApplyParagraphStyle(std::string_view list, const std::string& style,
                                    std::string_view address1, std::string_view address2,
                                    std::string_view flag) {
  if (!ValidFlag(flag)) return Refuse("applyPS: the flag must be \"1\" or \"0\", not " + Shown(flag));
  if (style.empty()) return Refuse("applyPS: the style name is empty");
  Piece* piece = Find(address1, address2);
  if (!piece) return Refuse("applyPS: no piece has the address " + AddressText(address1, address2));
  std::vector<uint64_t> paras;
  if (!ParseNumberList(list, &paras))
    return Refuse("applyPS: the paragraph list " + Shown(list) + " is not numbers each followed by \",\"");
  const uint64_t count = piece->ParagraphCount();
  for (uint64_t p : paras) {
    if (p < 1 || p > count)
      return Refuse("applyPS: paragraph " + std::to_string(p) + " is not among the " +
                    std::to_string(count) + " paragraphs of piece " + AddressText(address1, address2));
  }
  const bool clear = flag == "1";
  for (uint64_t p : paras) {
    piece->paragraph_styles[p - 1] = style;
    if (clear) {
      auto [first, last] = piece->ParagraphSpan(p - 1);
      for (size_t i = first; i < last; ++i) piece->char_styles[i].clear();
    }
  }
  if (!paras.empty()) Remember(&para_names_, style);
  return Reply{true,
               "applied " + Quote(style) + " to " + std::to_string(paras.size()) + " paragraphs of " +
                   AddressText(address1, address2)};
}

Reply Document::Run(std::string_view script, const std::vector<std::string>& a) {
  auto wrong_count = [&](size_t want) {
    return Refuse(std::string(script) + ": takes " + std::to_string(want) + " arguments, not " +
                  std::to_string(a.size()));
  };
  if (script == "getcontents") {
    if (!a.empty()) return wrong_count(0);
    return Reply{true, Contents()};
  }
  if (script == "applyCS") {
    if (a.size() != 6) return wrong_count(6);
    return ApplyCharacterStyle(a[0], a[1], a[2], a[3], a[4], a[5]);
  }
  if (script == "applyPS") {
    if (a.size() != 5) return wrong_count(5);
    return ApplyParagraphStyle(a[0], a[1], a[2], a[3], a[4]);
  }
  return Refuse("no host script is named " + Shown(script));
}

std::string Document::Saved() const {
  std::string out = "# stand-in host: styled document\n";
  for (const Piece& p : pieces_) {
    out += "piece " + Quote(p.address1) + " " + Quote(p.address2) + "\n";
    for (size_t i = 0; i < p.ParagraphCount(); ++i) {
      auto [first, last] = p.ParagraphSpan(i);
      // The paragraph's text without the CR that ends it; that CR still
      // shows in a styled run that covers it.
      size_t shown_last = last;
      if (shown_last > first && i + 1 < p.ParagraphCount()) --shown_last;
      out += "  paragraph " + std::to_string(i + 1) + " style " +
             (p.paragraph_styles[i].empty() ? std::string("-") : Quote(p.paragraph_styles[i])) +
             " text " + Quote(EncodeUtf8(std::u32string_view(p.text).substr(first, shown_last - first))) +
             "\n";
      size_t k = first;
      while (k < last) {
        const StyleStack& stack = p.char_styles[k];
        size_t end = k + 1;
        while (end < last && p.char_styles[end] == stack) ++end;
        if (!stack.empty()) {
          out += "    chars " + std::to_string(k + 1) + "-" + std::to_string(end) + " " +
                 Quote(EncodeUtf8(std::u32string_view(p.text).substr(k, end - k))) + " styles";
          for (const std::string& name : stack) out += " " + Quote(name);
          out += "\n";
        }
        k = end;
      }
    }
  }
  return out;
}

bool Document::Save(const std::string& path, std::string* error) const {
  const std::string data = Saved();
  const std::string temp = path + ".tmp" + std::to_string(getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = temp + ": cannot create: " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = temp + ": cannot write: " + std::strerror(errno);
      ::close(fd);
      ::unlink(temp.c_str());
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
    *error = path + ": cannot save: " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace standin
