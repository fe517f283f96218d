#include "app/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/decifra.h"
#include "tests/unit/outcome.h"

namespace kz {
namespace {

namespace fs = std::filesystem;

// The lines joined by "/"; the five fields as "date|mark|from|to|user".
std::string Text(const std::vector<std::string>& lines) {
  std::string joined;
  for (const std::string& line : lines) joined += (joined.empty() ? "" : "/") + line;
  return joined;
}
std::string Text(const RunSettings& r) {
  return r.DataCanc.Display() + "|" + std::to_string(r.StaEpnCanc) + "|" + std::to_string(r.EpnDe) +
         "|" + std::to_string(r.EpnAte) + "|" + std::to_string(r.CodUsuario);
}

// A fresh settings folder under the system's temporary folder.
class SettingsTest : public testing::Test {
 protected:
  SettingsTest() {
    std::string pattern = (fs::temp_directory_path() / "kz-settings-XXXXXX").string();
    dir_ = fs::path(mkdtemp(pattern.data()));
  }
  ~SettingsTest() override { fs::remove_all(dir_); }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  fs::path dir_;
};

// Catches a CR stripped that is not part of a CR LF, blanks trimmed, a last
// line without its end lost, and too few lines (or no file) not raising 62 (53).
TEST_F(SettingsTest, ReadLinesStripsOnlyTheLineEnd) {
  const std::tuple<std::string, int, const char*> cases[] = {
      {"a\r\nb\r\n", 2, "a/b"},    {"a\nb", 2, "a/b"},      {" x \t\r\n", 1, " x \t"},
      {"a\rb\r\r\n", 1, "a\rb\r"}, {"a\rb\r", 1, "a\rb\r"}, {"a\n", 2, "#62"},
  };
  for (const auto& [bytes, count, expected] : cases) {
    Write("lines.txt", bytes);
    EXPECT_EQ(Outcome([&, n = count] { return Text(ReadLines(dir_ / "lines.txt", n)); }), expected)
        << testing::PrintToString(bytes);
  }
  for (const fs::path& missing : {dir_ / "default.txt", dir_}) {
    EXPECT_EQ(Outcome([&] { return Text(ReadLines(missing, 1)); }), "#53") << missing;
  }
  try {
    ReadDefault(dir_);
  } catch (const RuntimeError& e) {  // the operator is told which file
    EXPECT_NE(e.Description().find((dir_ / "default.txt").string()), std::string::npos);
  }
}

// Catches a wrong line taken, the user or password left scrambled, and the
// folder not taken from KZ_QUBO_DIR (or an empty one not ignored).
TEST_F(SettingsTest, FilesComeFromTheSettingsFolder) {
  Write("default.txt", "\r\nTIPO=2;DBNAME=b.fdb\r\n" + Cifra("SYSDBA") + "\r\n" +
                           Cifra("pass;word") + "\r\nignored\r\n");
  const DefaultSettings settings = ReadDefault(dir_);
  EXPECT_EQ((std::vector<std::string>{settings.StrConexao, settings.UsuarioBD, settings.SenhaBD}),
            (std::vector<std::string>{"TIPO=2;DBNAME=b.fdb", "SYSDBA", "pass;word"}));

  const char* saved = getenv("KZ_QUBO_DIR");
  const std::string previous = saved ? saved : "";
  setenv("KZ_QUBO_DIR", "", 1);
  EXPECT_EQ(SettingsDirectory(), fs::path("/etc/kz-qubo/"));
  setenv("KZ_QUBO_DIR", dir_.c_str(), 1);
  Write("Tarvelinko.txt", "05/12/2026|-7|100|180|12\r\nother\r\n");
  EXPECT_EQ(ReadRunLine(SettingsDirectory()), "05/12/2026|-7|100|180|12");
  saved ? setenv("KZ_QUBO_DIR", previous.c_str(), 1) : unsetenv("KZ_QUBO_DIR");
}

// Catches the warning missing for a login its group or others may read, or
// given for the owner-only mode.
TEST_F(SettingsTest, WarnsWhenOthersMayReadTheLogin) {
  const fs::path file = dir_ / "default.txt";
  Write("default.txt", "");
  const std::string aviso =
      "aviso: " + file.string() + " pode ser lido por outros usuarios (use chmod 600)";
  for (const auto& [mode, expected] :
       {std::pair{0600, ""}, {0640, aviso.c_str()}, {0644, aviso.c_str()}, {0604, aviso.c_str()}}) {
    fs::permissions(file, static_cast<fs::perms>(mode));
    EXPECT_EQ(AvisoLeitura(file), expected) << std::oct << mode;
  }
}

// The five fields as "date|mark|from|to|user", or the error. Catches fields
// converted out of order, the mark not read as loosely as ValorNumerico
// reads (trailing sign, empty as 0) or rounded away from even, and range
// errors that wrap.
TEST(ConvertRunLineTest, FieldsConvertInOrder) {
  const std::pair<const char*, const char*> cases[] = {
      {"05/12/2026|7-|100|180|12", "05/12/2026|-7|100|180|12"},
      {"05/12/2026|-6,5|100|180|12", "05/12/2026|-6|100|180|12"},
      {"05/12/2026||100|180|12", "05/12/2026|0|100|180|12"},
      {"05/12/2026|-2147483648| 100 |+180|12,4|x", "05/12/2026|-2147483648|100|180|12"},
      {"05/12/2026|-7", "#13"},
      {"05/12/2026|-2147483649|100|180|12", "#6"},
      {"05/12/2026|99999999999||", "#6"},  // field 2 before field 3
      {"31/02/2026|-7|100|180|12", "#13"},
      {"25/12/2017 23:59|-7|100|180|12", "#13"},  // a booking date has no time
      {"25/12/2017 00:00|-7|100|180|12", "#13"},
      {"|99999999999|100|180|12", "#13"},  // field 1 first
  };
  for (const auto& [line, expected] : cases) {
    EXPECT_EQ(Outcome([l = line] { return Text(ConvertRunLine(l)); }), expected) << line;
  }
}

// Catches rounding away from even (also on the digits past a tie), the point
// accepted (it groups thousands), a sign after the digits, and a saturating
// or wrapping range check; not a number wins over too large.
TEST(TextToLongTest, SignBlanksRoundingAndRange) {
  const std::pair<const char*, const char*> cases[] = {
      {" \t-12 ", "-12"},
      {"2,5", "2"},
      {"3,5", "4"},
      {"2,50001", "3"},
      {"", "#13"},
      {"1.000", "#13"},
      {"1-", "#13"},
      {"1,2,3", "#13"},
      {"2147483647,5", "#6"},
      {"-2147483648,5", "-2147483648"},
      {"99999999999999999999", "#6"},
      {"99999999999999999999x", "#13"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(Outcome([t = text] { return std::to_string(TextToLong(t)); }), expected) << text;
  }
}

}  // namespace
}  // namespace kz
