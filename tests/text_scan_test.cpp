// FindEitherCountingChars, the one-pass search that the position scan walks
// with, against a byte-by-byte reading of the same texts: lengths around its
// 8- and 16-byte steps and past the point where its vector counters are
// summed (255 steps of 16 bytes), hits anywhere, multi-byte characters.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/text.h"

namespace {

struct Found {
  size_t offset, chars;
  bool operator==(const Found&) const = default;
};

Found ByteByByte(const std::string& s, char a, char b) {
  size_t chars = 0, i = 0;
  for (; i < s.size() && s[i] != a && s[i] != b; ++i)
    chars += (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80;
  return {i, chars};
}

Found Scan(const std::string& s, char a, char b) {
  size_t chars = 99;
  const size_t offset = platform::FindEitherCountingChars(s, a, b, &chars);
  return {offset, chars};
}

TEST(TextScanTest, FindsTheFirstOfTwoBytesAndCountsTheCharactersBefore) {
  const std::vector<std::string> pieces = {"a", "日", "é", "😀", " ", "\r", "\x80"};
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    std::string s;
    const size_t target = round < 2000 ? rng() % 80 : 4000 + rng() % 300;
    while (s.size() < target) s += pieces[rng() % pieces.size()];
    // Zero, one or two hits, the other byte sought sometimes the same.
    if (rng() % 4) s.insert(rng() % (s.size() + 1), 1, '<');
    if (rng() % 3 == 0) s.insert(rng() % (s.size() + 1), 1, '[');
    const char b = rng() % 2 ? '[' : '<';
    ASSERT_EQ(Scan(s, '<', b), ByteByByte(s, '<', b)) << "round " << round;
  }
  // A long stretch with nothing to find: every character counted.
  std::string japanese;
  for (int i = 0; i < 20000; ++i) japanese += "日本";
  EXPECT_EQ(Scan(japanese, '<', '['), (Found{japanese.size(), 40000}));
  EXPECT_EQ(Scan("", '<', '<'), (Found{0, 0}));
}

}  // namespace
