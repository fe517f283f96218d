#include "app/decifra.h"

#include <gtest/gtest.h>

#include <string>

#include "common/runtime_error.h"

namespace kz {
namespace {

// Code `c` at 1-based position `i`, behind i - 1 zero bytes (which never drop
// before position 512), and the byte Decifra gives for it.
struct DecifraCase {
  int i;
  int c;
  int expected;  // -1: nothing appended
};

TEST(DecifraTest, CodeTableAtItsSeamsAndTheEndOfTheDoubledTable) {
  const DecifraCase cases[] = {
      {1, 0, 31},      // first entry
      {1, 31, 0},      // end of the first run
      {1, 32, 255},    // start of the second run
      {1, 160, 127},   // end of the second run
      {1, 161, 126},   // start of the third run
      {1, 255, 32},    // last entry
      {1, 'A', 222},   //
      {2, 255, 31},    // first entry of the second copy
      {2, 'A', 221},   // the same byte one position on
      {257, 255, 32},  // position 512, the last one
      {258, 254, 32},  // position 512 again
      {258, 255, -1},  // position 513: dropped
      {300, 200, 44},  // position 500
      {300, 212, 32},  // position 512
      {300, 213, -1},  // position 513: dropped
  };
  for (const DecifraCase& t : cases) {
    std::string line(static_cast<size_t>(t.i - 1), '\0');
    line.push_back(static_cast<char>(t.c));
    const std::string out = Decifra(line);
    SCOPED_TRACE(testing::Message() << "i=" << t.i << " c=" << t.c);
    if (t.expected < 0) {
      EXPECT_EQ(out.size(), line.size() - 1);
    } else {
      ASSERT_EQ(out.size(), line.size());
      EXPECT_EQ(static_cast<unsigned char>(out.back()), t.expected);
    }
  }
}

TEST(DecifraTest, EmptyLineGivesEmptyText) { EXPECT_EQ(Decifra(""), ""); }

TEST(DecifraTest, SameByteAtEachPositionGivesADifferentByte) {
  const std::string out = Decifra(std::string(256, 'k'));
  ASSERT_EQ(out.size(), 256u);
  for (size_t a = 0; a < out.size(); ++a) {
    for (size_t b = a + 1; b < out.size(); ++b) ASSERT_NE(out[a], out[b]) << a << " " << b;
  }
}

TEST(DecifraTest, EveryByteRoundTripsAtEveryLengthUpTo257) {
  for (size_t length : {1u, 2u, 31u, 128u, 200u, 256u, 257u}) {
    for (int shift = 0; shift < 256; shift += 37) {
      std::string plain;
      for (size_t k = 0; k < length; ++k) plain.push_back(static_cast<char>((k + shift) % 256));
      const std::string scrambled = Cifra(plain);
      ASSERT_EQ(scrambled.size(), plain.size());
      ASSERT_EQ(Decifra(scrambled), plain) << "length " << length << " shift " << shift;
    }
  }
  // All 256 bytes at the last position that always unscrambles.
  for (int o = 0; o < 256; ++o) {
    const std::string plain = std::string(256, 'x') + static_cast<char>(o);
    ASSERT_EQ(Decifra(Cifra(plain)), plain) << o;
  }
}

TEST(DecifraTest, BytesPastPosition257DropWhenTheyRunOffTheTable) {
  // Code 255 at positions 258 and 260 runs off; code 0 at 259 does not.
  std::string line(257, '\0');
  line += std::string("\xff\x00\xff", 3);
  const std::string out = Decifra(line);
  ASSERT_EQ(out.size(), 258u);
  EXPECT_EQ(static_cast<unsigned char>(out.back()), (32 - 259) & 0xFF);
}

struct LimitCase {
  size_t length;
  int32_t decifra_error;  // 0: none
  int32_t cifra_error;
};

TEST(DecifraTest, LengthLimits) {
  const LimitCase cases[] = {
      {257, 0, 0},
      {258, 0, 5},
      {32767, 0, 5},
      {32768, err::kOverflow, 5},
  };
  for (const LimitCase& t : cases) {
    const std::string line(t.length, 'a');
    SCOPED_TRACE(t.length);
    auto error_of = [&](auto routine) -> int32_t {
      try {
        routine(line);
        return 0;
      } catch (const RuntimeError& e) {
        return e.Number();
      }
    };
    EXPECT_EQ(error_of(Decifra), t.decifra_error);
    EXPECT_EQ(error_of(Cifra), t.cifra_error);
  }
}

}  // namespace
}  // namespace kz
