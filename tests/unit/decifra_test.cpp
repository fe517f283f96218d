#include "app/decifra.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <set>
#include <string>

#include "tests/unit/outcome.h"

namespace kz {
namespace {

// Catches a wrong code table (its seams, the doubled copy), a wrong position
// offset, and a byte kept or a later position shifted once the code runs off
// the table's 512 positions.
TEST(DecifraTest, CodeTableSeamsAndTheEndOfTheDoubledTable) {
  const struct {
    int i, c, expected;  // code c at 1-based position i behind zero bytes; -1: dropped
  } cases[] = {
      {1, 0, 31},   {1, 31, 0},   {1, 32, 255},   {1, 160, 127},  {1, 161, 126},
      {1, 255, 32}, {2, 255, 31}, {258, 254, 32}, {258, 255, -1}, {300, 213, -1},
  };
  for (const auto& t : cases) {
    std::string line(static_cast<size_t>(t.i - 1), '\0');
    line.push_back(static_cast<char>(t.c));
    const std::string out = Decifra(line);
    const int last = out.size() == line.size() ? static_cast<unsigned char>(out.back()) : -1;
    EXPECT_EQ(last, t.expected) << "i=" << t.i << " c=" << t.c;
  }
  // A dropped byte at 258 leaves 259 unscrambled at its own position.
  const std::string out = Decifra(std::string(257, '\0') + std::string("\xff\x00", 2));
  EXPECT_EQ(out.size(), 258u);
  EXPECT_EQ(static_cast<unsigned char>(out.back()), (32 - 259) & 0xFF);
}

// Catches output that does not depend on the position, and the scrambling
// tool drifting from its inverse.
TEST(DecifraTest, EmptyLinePositionDependenceAndRoundTrip) {
  EXPECT_EQ(Decifra(""), "");
  const std::string same = Decifra(std::string(256, 'k'));
  EXPECT_EQ(std::set<char>(same.begin(), same.end()).size(), 256u);
  std::string plain;
  for (int k = 0; k < 257; ++k) plain.push_back(static_cast<char>(k * 7));
  EXPECT_EQ(Decifra(Cifra(plain)), plain);
}

// Catches a 16-bit position that does not overflow, and a scrambled text
// longer than the inverse can unscramble whole.
TEST(DecifraTest, LengthLimits) {
  EXPECT_EQ(Outcome([] { return Decifra(std::string(32767, 'a')).substr(0, 0); }), "");
  EXPECT_EQ(Outcome([] { return Decifra(std::string(32768, 'a')); }), "#6");
  EXPECT_EQ(Outcome([] { return Cifra(std::string(258, 'a')); }), "#5");
}

// kz-cifra reading a pipe, as an installer feeds it the password. Catches
// lines not taken one by one (a CR LF end kept, a last line without its end
// lost) and a text it cannot scramble not failing the exit status while the
// others are still written.
TEST(DecifraTest, CifraToolScramblesEachLineOfAPipe) {
  const std::string too_long(258, 'a');
  const struct {
    std::string input, output;
    int status;
  } cases[] = {
      {"SYSDBA\r\nmasterkey", Cifra("SYSDBA") + "\n" + Cifra("masterkey") + "\n", 0},
      {"\n", Cifra("") + "\n", 0},
      {too_long + "\nok\n", Cifra("ok") + "\n", 1},
  };
  for (const auto& c : cases) {
    const std::string command =
        "printf '%s' '" + c.input + "' | " KZ_BINARY_DIR "/kz-cifra 2>/dev/null";
    FILE* out = ::popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string output;
    char buf[512];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, out)) > 0;) output.append(buf, n);
    const int status = ::pclose(out);
    EXPECT_EQ(output, c.output) << c.input;
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.status) << c.input;
  }
}

}  // namespace
}  // namespace kz
