#include <charconv>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>

#include "engine/match_positions.h"
#include "platform/regex.h"
#include "platform/runtime.h"
#include "platform/text.h"

namespace engine {

namespace {

// The three bracket kinds of the marker chains, in order of preference:
// opening markers are X@Y, closing markers X/Y.
constexpr char kBrackets[3][2] = {{'<', '>'}, {'[', ']'}, {'{', '}'}};

struct Presence {
  bool opening = false, closing = false;
};

// Whether the opening and the closing marker of one bracket kind occur in
// the text: one memchr pass over the text for the bracket's first byte.
Presence FindMarkers(std::string_view text, char open, char close) {
  Presence found;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (end - p >= 3 && !(found.opening && found.closing)) {
    const char* hit = static_cast<const char*>(std::memchr(p, open, (end - p) - 2));
    if (!hit) break;
    if (hit[2] == close) {
      if (hit[1] == '@') found.opening = true;
      if (hit[1] == '/') found.closing = true;
    }
    p = hit + 1;
  }
  return found;
}

// Decimal digits of n.
inline size_t Digits(uint64_t n) {
  size_t d = 1;
  while (n >= 10000) {
    n /= 10000;
    d += 4;
  }
  return d + (n >= 10) + (n >= 100) + (n >= 1000);
}

// Characters (bytes that do not continue one) in p[0, n): short runs, as
// between dense matches, byte by byte; longer ones by the text functions.
inline uint64_t CountChars(const char* p, size_t n) {
  if (n < 32) {
    uint64_t chars = 0;
    for (size_t i = 0; i < n; ++i) chars += (static_cast<unsigned char>(p[i]) & 0xC0) != 0x80;
    return chars;
  }
  uint64_t chars = 0;
  constexpr size_t kPart = size_t{1} << 30;  // Len counts in an int
  for (; n > kPart; p += kPart, n -= kPart) chars += static_cast<uint64_t>(platform::Len({p, kPart}));
  return chars + static_cast<uint64_t>(platform::Len({p, n}));
}

// The numbers of both lists as the matches give them, kept compact until
// the walk is over and the lists' exact length is known, so that the lists
// are written once into a text of their final size. Per number one byte for
// a small step from the number before (a start from the end before it, an
// end from its start), a larger step escaped into the bytes that follow it.
// The buffer grows by realloc, which moves large blocks without copying
// them.
class NumberLog {
 public:
  NumberLog() = default;
  NumberLog(const NumberLog&) = delete;
  NumberLog& operator=(const NumberLog&) = delete;
  ~NumberLog() { std::free(data_); }

  void Add(uint64_t step) {
    if (size_ + 10 > capacity_) Grow();
    if (step < 0x80) {
      data_[size_++] = static_cast<unsigned char>(step);
      return;
    }
    while (step >= 0x80) {  // a varint: seven bits a byte, the last below 0x80
      data_[size_++] = static_cast<unsigned char>(step | 0x80);
      step >>= 7;
    }
    data_[size_++] = static_cast<unsigned char>(step);
  }

  class Reader {
   public:
    explicit Reader(const unsigned char* p) : p_(p) {}
    uint64_t Next() {
      uint64_t step = *p_++;
      if (step < 0x80) return step;
      step &= 0x7F;
      for (int shift = 7;; shift += 7) {
        const uint64_t byte = *p_++;
        step |= (byte & 0x7F) << shift;
        if (byte < 0x80) return step;
      }
    }

   private:
    const unsigned char* p_;
  };
  Reader Read() const { return Reader(data_); }

 private:
  void Grow() {
    const size_t capacity = capacity_ ? 2 * capacity_ : 4096;
    void* grown = std::realloc(data_, capacity);
    if (!grown) throw std::bad_alloc();
    data_ = static_cast<unsigned char*>(grown);
    capacity_ = capacity;
  }
  unsigned char* data_ = nullptr;
  size_t size_ = 0, capacity_ = 0;
};

// Appends the starts (or the ends) of the matches the log holds, each
// followed by ",".
void AppendNumbers(std::string& out, const NumberLog& log, uint64_t matches, bool ends) {
  char buffer[4096];
  char* at = buffer;
  NumberLog::Reader read = log.Read();
  uint64_t number = 0;
  for (uint64_t i = 0; i < matches; ++i) {
    number += read.Next();
    const uint64_t start = number;
    number += read.Next() - 1;
    if (buffer + sizeof buffer - at < 24) {
      out.append(buffer, at - buffer);
      at = buffer;
    }
    at = std::to_chars(at, buffer + sizeof buffer, ends ? number : start).ptr;
    *at++ = ',';
  }
  out.append(buffer, at - buffer);
}

}  // namespace

MarkerPair ChooseMarkerPair(std::string_view text) {
  MarkerPair pair;
  bool opening_chosen = false, closing_chosen = false;
  for (const auto& bracket : kBrackets) {
    if (opening_chosen && closing_chosen) break;
    const Presence found = FindMarkers(text, bracket[0], bracket[1]);
    if (!opening_chosen && !found.opening) {
      pair.opening = {bracket[0], '@', bracket[1]};
      opening_chosen = true;
    }
    if (!closing_chosen && !found.closing) {
      pair.closing = {bracket[0], '/', bracket[1]};
      closing_chosen = true;
    }
  }
  return pair;
}

// The positions come straight from the matches' offsets, in the order in
// which the replace-all would mark them, counting the characters from one
// match to the next. They are the ones the scan of the marked text finds:
// markers never occur in the text, and no three characters across the edge
// of a marker and the text can form one (a marker's first character is one
// of < [ {, its last one of > ] }, its middle @ or /).
//
// The background-task hook is told of the passes in one call: the scan
// makes one pass per marker and one per text character, except the last two
// characters of the marked text when they are text, which it never reaches.
// When a marker chain is used up there is no scan, and one pass per match.
std::string getRegPos(const std::string& text, const std::string& pattern) {
  platform::RegEx re;
  const MarkerPair markers = ChooseMarkerPair(text);
  const bool scanned = !markers.opening.empty() && !markers.closing.empty();
  re.SearchPattern(pattern);
  const platform::CheckedText checked(text);
  const std::string_view s = checked.view();
  NumberLog log;
  uint64_t matches = 0;
  uint64_t chars = 0;          // characters before counted_to
  uint64_t last_number = 0;    // the last end (0 before the first match)
  size_t counted_to = 0;       // byte offset up to which characters are counted
  {
    // A used-up chain's passes are told even when a search fails.
    struct MatchPasses {
      const bool per_match;
      const uint64_t& count;
      ~MatchPasses() {
        if (per_match) platform::RuntimeBackgroundTaskPasses(count);
      }
    } passes{!scanned, matches};
    platform::MatchWalk walk;
    platform::MatchSpan spans[256];
    size_t found;
    do {
      found = re.NextMatches(checked, walk, spans, std::size(spans));
      for (size_t i = 0; i < found; ++i) {
        const platform::MatchSpan m = spans[i];
        if (m.start < counted_to || m.end < m.start || m.end > s.size())
          throw platform::RegExException("matches out of order");
        chars += CountChars(s.data() + counted_to, m.start - counted_to);
        // A start follows the end before it (or 0), an end is at least its
        // start less one (an empty match): each a small step from the last.
        log.Add(chars + 1 - last_number);
        const uint64_t start = chars + 1;
        chars += CountChars(s.data() + m.start, m.end - m.start);
        log.Add(chars + 1 - start);
        last_number = chars;
        counted_to = m.end;
        ++matches;
      }
    } while (found == std::size(spans));
  }
  if (scanned) {
    const uint64_t total = chars + CountChars(s.data() + counted_to, s.size() - counted_to);
    const uint64_t trailing = total - last_number;
    platform::RuntimeBackgroundTaskPasses(2 * matches + total - (trailing < 2 ? trailing : 2));
  }
  // The log holds start, end, start, end and so on. The lists are written in
  // their final place in two passes over it, first the starts and then the
  // ends, through a small buffer. Room for numbers as long as the last
  // position's: memory that is reserved but never written costs nothing.
  std::string lists;
  lists.reserve(2 * matches * (Digits(chars + 1) + 1) + 2);
  AppendNumbers(lists, log, matches, /*ends=*/false);
  lists += "<>";
  AppendNumbers(lists, log, matches, /*ends=*/true);
  return lists;
}

}  // namespace engine
