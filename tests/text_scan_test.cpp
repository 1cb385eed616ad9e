// FindAllEither, the one-pass search that the position scan walks with,
// against a byte-by-byte reading of the same texts: lengths around its 8-
// and 16-byte steps and past the point where its vector counters are summed
// (255 steps of 16 bytes), places anywhere and several in one step,
// multi-byte characters, batches that fill up.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace {

struct Found {
  std::vector<std::pair<size_t, size_t>> places;  // offset, characters before
  size_t total;  // all characters, when the places did not fill the room
  bool operator==(const Found&) const = default;
};

Found ByteByByte(const std::string& s, char a, char b, size_t room) {
  Found f{{}, 0};
  size_t chars = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == a || s[i] == b) {
      if (f.places.size() == room) return f;
      f.places.emplace_back(i, chars);
    }
    chars += (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80;
  }
  if (f.places.size() < room) f.total = chars;
  return f;
}

Found Scan(const std::string& s, char a, char b, size_t room) {
  std::vector<platform::BytePlace> places(room + 1, platform::BytePlace{99, 99});
  size_t total = 99;
  const size_t found = platform::FindAllEither(s, a, b, places.data(), room, &total);
  Found f{{}, found < room ? total : 0};
  for (size_t i = 0; i < found; ++i) f.places.emplace_back(places[i].offset, places[i].chars);
  EXPECT_EQ(places[room].offset, 99u) << "written past the room";
  return f;
}

TEST(TextScanTest, FindsEveryPlaceOfTwoBytesAndCountsTheCharactersBefore) {
  const std::vector<std::string> pieces = {"a", "日", "é", "😀", " ", "\r", "\x80"};
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    std::string s;
    const size_t target = round < 2000 ? rng() % 80 : 4000 + rng() % 300;
    while (s.size() < target) s += pieces[rng() % pieces.size()];
    // Places to find: none, a few, or many, close together or apart.
    for (int n = static_cast<int>(rng() % 6); n > 0; --n) s.insert(rng() % (s.size() + 1), 1, '<');
    if (rng() % 3 == 0) s.insert(rng() % (s.size() + 1), "[[<");
    const char b = rng() % 2 ? '[' : '<';
    const size_t room = rng() % 3 ? 256 : 1 + rng() % 4;
    ASSERT_EQ(Scan(s, '<', b, room), ByteByByte(s, '<', b, room)) << "round " << round;
  }
  // A long stretch with nothing to find: every character counted.
  std::string japanese;
  for (int i = 0; i < 20000; ++i) japanese += "日本";
  EXPECT_EQ(Scan(japanese, '<', '[', 8), (Found{{}, 40000}));
  EXPECT_EQ(Scan("", '<', '<', 8), (Found{{}, 0}));
}

}  // namespace
