// Start-up without a database: the scrambled login and kz-cifra, the short
// connection forms, and the settings files and fields.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "app/decifra.h"
#include "app/escolhe_conexao.h"
#include "app/settings.h"
#include "tests/support/fixture.h"
#include "tests/unit/outcome.h"

namespace kz {
namespace {

namespace fs = std::filesystem;

// Catches a wrong code table (its seams, the doubled copy), a wrong position
// offset, a byte kept or a later position shifted once the code runs off the
// table's 512 positions, the scrambling tool drifting from its inverse, and
// lengths not limited.
TEST(Decifra, CodeTableSeamsAndTheEndOfTheDoubledTable) {
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
  std::string plain;
  for (int k = 0; k < 257; ++k) plain.push_back(static_cast<char>(k * 7));
  EXPECT_EQ(Decifra(Cifra(plain)), plain);
  EXPECT_EQ(Outcome([] { return Decifra(std::string(32767, 'a')).substr(0, 0); }), "");
  EXPECT_EQ(Outcome([] { return Decifra(std::string(32768, 'a')); }), "#6");
  EXPECT_EQ(Outcome([] { return Cifra(std::string(258, 'a')); }), "#5");
}

// kz-cifra reading a pipe, as an installer feeds it the password. Catches
// lines not taken one by one (a CR LF end kept, a last line without its end
// lost) and a text it cannot scramble not failing the exit status while the
// others are still written.
TEST(Decifra, CifraToolScramblesEachLineOfAPipe) {
  const std::tuple<std::string, std::string, int> cases[] = {
      {"SYSDBA\r\nmasterkey", Cifra("SYSDBA") + "\n" + Cifra("masterkey") + "\n", 0},
      {"\n", Cifra("") + "\n", 0},
      {std::string(258, 'a') + "\nok\n", Cifra("ok") + "\n", 1},
  };
  const fs::path out = fs::temp_directory_path() / ("kz-cifra-" + std::to_string(::getpid()));
  for (const auto& [input, expected, status] : cases) {
    const int st = std::system(("printf '%s' '" + input + "' | " KZ_BINARY_DIR "/kz-cifra >" +
                                out.string() + " 2>/dev/null")
                                   .c_str());
    EXPECT_EQ(test::ReadFile(out.string()), expected) << input;
    EXPECT_EQ(WIFEXITED(st) ? WEXITSTATUS(st) : -1, status) << input;
  }
  fs::remove(out);
}

// Catches a marker matched with case, a test run on the wrong text, a wrong
// fallback position when the keyword is missing, 16-bit positions that do not
// overflow, and a user or password not put in as it is.
TEST(EscolheConexao, RewritesTheShortFormsAndLeavesOtherTexts) {
  const std::string far(32760, 'x');
  const std::string ole = "Provider=ZStyle IBOLE Provider;User=u;Password=p;Data Source=";
  const std::string odbc = "DRIVER=Firebird/InterBase(r) driver;UID=u;PWD=p;DBNAME=";
  const std::pair<std::string, std::string> cases[] = {
      // clang-format off
      {R"(TIPO=1;DATA SOURCE=C:\DADOS\BASE.FDB;ROLE=X)", ole + R"(C:\DADOS\BASE.FDB)"},
      {R"(TIPO=2;DBNAME=C:\DADOS\BASE.FDB)", odbc + R"(C:\DADOS\BASE.FDB)"},
      {"tipo=1;data source=srv:/Dados/Base.fdb", ole + "srv:/Dados/Base.fdb"},
      {"ZStyle;Data Source=b.fdb", ole + "b.fdb"}, {"Interbase;dbname=b.fdb;x", odbc + "b.fdb"},
      {"TIPO=12;DATA SOURCE=b.fdb", ole + "b.fdb"},  // TIPO=12 holds TIPO=1
      {"Provider=Other;Data Source=b.fdb", "Provider=Other;Data Source=b.fdb"},
      // Without the keyword the location starts at the 12th (7th) character.
      {"TIPO=1;LOCAL=b.fdb;x", ole + "L=b.fdb"}, {"INTERBASE b.fdb", odbc + "ASE b.fdb"},
      {"TIPO=1", ole},
      // The ODBC test looks at the text the OLE DB test left.
      {"TIPO=1;TIPO=2;DATA SOURCE=a.fdb;DBNAME=b.fdb", ole + "a.fdb"},
      {"TIPO=1;DATA SOURCE=/TIPO=2/DBNAME=b.fdb", odbc + "b.fdb"},
      {"TIPO=2;DBNAME=" + far, odbc + far}, {"TIPO=2;DBNAME=" + far + ";R", "#6"},
      {"TIPO=2;" + far + "DBNAME=b", "#6"},
      // clang-format on
  };
  for (const auto& [text, expected] : cases) {
    std::string t = text;
    EXPECT_EQ(Outcome([&] {
                EscolheConexao(t, "u", "p");
                return t;
              }),
              expected)
        << text.substr(0, 60);
  }
  std::string text = "TIPO=2;DBNAME=b.fdb";
  EscolheConexao(text, "a;b", "p=q");
  EXPECT_EQ(text, "DRIVER=Firebird/InterBase(r) driver;UID=a;b;PWD=p=q;DBNAME=b.fdb");
}

// Catches a CR stripped that is not part of a CR LF, blanks trimmed, a last
// line without its end lost, too few lines (or no file, or a folder) not
// raising 62 (53), a wrong line taken from default.txt, the login left
// scrambled, the folder not taken from KZ_QUBO_DIR (an empty one not
// ignored), and the warning missing for a login its group or others may read.
TEST(Settings, FilesComeFromTheSettingsFolder) {
  std::string pattern = (fs::temp_directory_path() / "kz-settings-XXXXXX").string();
  const fs::path dir_ = mkdtemp(pattern.data());
  const auto Write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  };
  const auto Lines = [&](int n) {  // joined by "/"
    return Outcome([&] {
      std::string joined;
      for (const std::string& l : ReadLines(dir_ / "f.txt", n)) joined += "/" + l;
      return joined;
    });
  };
  const std::tuple<std::string, int, const char*> cases[] = {
      {"a\r\nb\r\n", 2, "/a/b"},    {"a\nb", 2, "/a/b"},      {" x \t\r\n", 1, "/ x \t"},
      {"a\rb\r\r\n", 1, "/a\rb\r"}, {"a\rb\r", 1, "/a\rb\r"}, {"a\n", 2, "#62"},
  };
  for (const auto& [bytes, count, expected] : cases) {
    Write("f.txt", bytes);
    EXPECT_EQ(Lines(count), expected) << testing::PrintToString(bytes);
  }
  fs::remove(dir_ / "f.txt");
  EXPECT_EQ(Lines(1), "#53");
  fs::create_directory(dir_ / "f.txt");
  EXPECT_EQ(Lines(1), "#53");
  Write("default.txt", "\r\nTIPO=2;DBNAME=b.fdb\r\n" + Cifra("SYSDBA") + "\r\n" +
                           Cifra("pass;word") + "\r\nignored\r\n");
  fs::permissions(dir_ / "default.txt", fs::perms::owner_read | fs::perms::owner_write);
  const DefaultSettings d = ReadDefault(dir_);
  EXPECT_EQ(d.StrConexao + "|" + d.UsuarioBD + "|" + d.SenhaBD,
            "TIPO=2;DBNAME=b.fdb|SYSDBA|pass;word");
  const std::string aviso = "aviso: " + (dir_ / "default.txt").string() +
                            " pode ser lido por outros usuarios (use chmod 600)";
  for (const auto& [mode, expected] :
       {std::pair{0600, ""}, {0640, aviso.c_str()}, {0604, aviso.c_str()}}) {
    fs::permissions(dir_ / "default.txt", static_cast<fs::perms>(mode));
    EXPECT_EQ(AvisoLeitura(dir_ / "default.txt"), expected) << std::oct << mode;
  }
  setenv("KZ_QUBO_DIR", "", 1);
  EXPECT_EQ(SettingsDirectory(), fs::path("/etc/kz-qubo/"));
  setenv("KZ_QUBO_DIR", dir_.c_str(), 1);
  Write("Tarvelinko.txt", "05/12/2026|-7|100|180|12\r\nother\r\n");
  EXPECT_EQ(ReadRunLine(SettingsDirectory()), "05/12/2026|-7|100|180|12");
  unsetenv("KZ_QUBO_DIR");
  fs::remove_all(dir_);
}

// The five fields as "date|mark|from|to|user", or the error. Catches fields
// converted out of order, the mark not read as loosely as ValorNumerico reads
// (trailing sign, empty as 0) or rounded away from even, range errors that
// wrap, and a booking date with a time of day.
TEST(Settings, RunLineFieldsConvertInOrder) {
  const std::pair<const char*, const char*> cases[] = {
      {"05/12/2026|7-|100|180|12", "05/12/2026|-7|100|180|12"},
      {"05/12/2026|-6,5|100|180|12", "05/12/2026|-6|100|180|12"},
      {"05/12/2026||100|180|12", "05/12/2026|0|100|180|12"},
      {"05/12/2026|-2147483648| 100 |+180|12,4|x", "05/12/2026|-2147483648|100|180|12"},
      // clang-format off
      {"05/12/2026|-7", "#13"}, {"05/12/2026|-2147483649|100|180|12", "#6"},
      {"05/12/2026|99999999999||", "#6"},  // field 2 before field 3
      {"31/02/2026|-7|100|180|12", "#13"}, {"25/12/2017 23:59|-7|100|180|12", "#13"},
      {"25/12/2017 00:00|-7|100|180|12", "#13"},
      // The date day first: a two-digit year below 30 in this century.
      {" 5/1/17 |-7|1|2|3", "05/01/2017|-7|1|2|3"}, {"1/1/30|-7|1|2|3", "01/01/1930|-7|1|2|3"},
      {"29/02/2016|-7|1|2|3", "29/02/2016|-7|1|2|3"}, {"29/02/2017|-7|1|2|3", "#13"},
      // clang-format on
      {"|99999999999|100|180|12", "#13"},  // field 1 first
      // Fields 3 to 5: blanks around, ties to even, the point groups thousands
      // (refused), no sign after the digits, not a number before too large.
      // clang-format off
      {"05/12/2026|-7| \t-12 |2,5|3,5", "05/12/2026|-7|-12|2|4"},
      {"05/12/2026|-7|2,50001|-2147483648,5|1", "05/12/2026|-7|3|-2147483648|1"},
      {"05/12/2026|-7|1.000|1|1", "#13"}, {"05/12/2026|-7|1-|1|1", "#13"},
      {"05/12/2026|-7|1,2,3|1|1", "#13"}, {"05/12/2026|-7|1||1", "#13"},
      {"05/12/2026|-7|2147483647,5|1|1", "#6"}, {"05/12/2026|-7|1|99999999999999999999|1", "#6"},
      {"05/12/2026|-7|1|99999999999999999999x|1", "#13"},
      // clang-format on
  };
  for (const auto& [line, expected] : cases) {
    EXPECT_EQ(Outcome([l = line] {
                const RunSettings r = ConvertRunLine(l);
                return r.DataCanc.Display() + "|" + std::to_string(r.StaEpnCanc) + "|" +
                       std::to_string(r.EpnDe) + "|" + std::to_string(r.EpnAte) + "|" +
                       std::to_string(r.CodUsuario);
              }),
              expected)
        << line;
  }
}

}  // namespace
}  // namespace kz
