#include "app/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/decifra.h"
#include "common/runtime_error.h"

namespace kz {
namespace {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed afterwards.
class SettingsTest : public testing::Test {
 protected:
  SettingsTest() {
    std::string pattern = (fs::temp_directory_path() / "kz-settings-XXXXXX").string();
    dir_ = fs::path(mkdtemp(pattern.data()));
  }
  ~SettingsTest() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  fs::path Write(const std::string& name, const std::string& bytes) {
    const fs::path file = dir_ / name;
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }

  fs::path dir_;
};

template <typename F>
int32_t ErrorOf(F&& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e.Number();
  }
  return 0;
}

struct LinesCase {
  std::string bytes;
  int count;
  std::vector<std::string> expected;  // when error is 0
  int32_t error;
};

TEST_F(SettingsTest, ReadLinesStripsOnlyTheLineEnd) {
  const LinesCase cases[] = {
      {"a\r\nb\r\n", 2, {"a", "b"}, 0},
      {"a\nb\n", 2, {"a", "b"}, 0},
      {"a\r\nb", 2, {"a", "b"}, 0},  // last line without a line end
      {"\r\n\n", 2, {"", ""}, 0},
      {" x \t\r\n", 1, {" x \t"}, 0},
      {"a\rb\r\r\n", 1, {"a\rb\r"}, 0},  // a CR alone is no line end
      {"a\rb\r", 1, {"a\rb\r"}, 0},
      {std::string("\xff\0|\x1a\n", 5), 1, {std::string("\xff\0|\x1a", 4)}, 0},
      {"", 1, {}, err::kInputPastEnd},
      {"a\n", 2, {}, err::kInputPastEnd},
  };
  for (const LinesCase& t : cases) {
    const fs::path file = Write("lines.txt", t.bytes);
    SCOPED_TRACE(testing::PrintToString(t.bytes));
    std::vector<std::string> lines;
    EXPECT_EQ(ErrorOf([&] { lines = ReadLines(file, t.count); }), t.error);
    if (t.error == 0) {
      EXPECT_EQ(lines, t.expected);
    }
  }
}

TEST_F(SettingsTest, MissingFileOrFolderRaisesFileNotFoundWithThePath) {
  for (const fs::path& file : {dir_ / "default.txt", dir_}) {
    try {
      ReadLines(file, 1);
      ADD_FAILURE() << file;
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.Number(), err::kFileNotFound);
      EXPECT_NE(e.Description().find(file.string()), std::string::npos) << e.Description();
    }
  }
}

TEST_F(SettingsTest, ReadDefaultTakesLines2To4AndUnscramblesTheLastTwo) {
  Write("default.txt", "\r\nTIPO=2;DBNAME=b.fdb\r\n" + Cifra("SYSDBA") + "\r\n" +
                           Cifra("pass;word") + "\r\nignored\r\n");
  const DefaultSettings settings = ReadDefault(dir_);
  EXPECT_EQ(settings.StrConexao, "TIPO=2;DBNAME=b.fdb");
  EXPECT_EQ(settings.UsuarioBD, "SYSDBA");
  EXPECT_EQ(settings.SenhaBD, "pass;word");

  Write("default.txt", "anything\nTIPO=1\n\n");  // an empty last line and no fourth
  EXPECT_EQ(ErrorOf([&] { ReadDefault(dir_); }), err::kInputPastEnd);
  Write("default.txt", "anything\nTIPO=1\n\n\n");
  EXPECT_EQ(ReadDefault(dir_).SenhaBD, "");
}

TEST_F(SettingsTest, ReadRunLineTakesTheFirstLineOnly) {
  EXPECT_EQ(ErrorOf([&] { ReadRunLine(dir_); }), err::kFileNotFound);
  Write("Tarvelinko.txt", "05/12/2026|-7|100|180|12\r\nother\r\n");
  EXPECT_EQ(ReadRunLine(dir_), "05/12/2026|-7|100|180|12");
  Write("Tarvelinko.txt", "");
  EXPECT_EQ(ErrorOf([&] { ReadRunLine(dir_); }), err::kInputPastEnd);
}

TEST_F(SettingsTest, SettingsDirectoryFollowsKzQuboDir) {
  const char* saved = getenv("KZ_QUBO_DIR");
  const std::optional<std::string> previous =
      saved ? std::optional<std::string>(saved) : std::nullopt;

  unsetenv("KZ_QUBO_DIR");
  EXPECT_EQ(SettingsDirectory(), fs::path("/etc/kz-qubo/"));
  setenv("KZ_QUBO_DIR", "", 1);
  EXPECT_EQ(SettingsDirectory(), fs::path("/etc/kz-qubo/"));
  setenv("KZ_QUBO_DIR", dir_.c_str(), 1);
  Write("Tarvelinko.txt", "from the folder\n");
  EXPECT_EQ(ReadRunLine(SettingsDirectory()), "from the folder");

  if (previous) {
    setenv("KZ_QUBO_DIR", previous->c_str(), 1);
  } else {
    unsetenv("KZ_QUBO_DIR");
  }
}

struct RunLineCase {
  const char* line;
  int32_t error;  // 0: converts to the fields below
  int32_t sta_epn_canc;
  int32_t epn_de = 100;
  int32_t epn_ate = 180;
  int32_t cod_usuario = 12;
};

TEST(ConvertRunLineTest, FieldsConvertInOrder) {
  const RunLineCase cases[] = {
      {"05/12/2026|-7|100|180|12", 0, -7},
      {"05/12/2026|7-|100|180|12", 0, -7},
      {"05/12/2026|-7,0|100|180|12", 0, -7},
      {"05/12/2026|-6,5|100|180|12", 0, -6},  // half to even
      {"05/12/2026||100|180|12", 0, 0},
      {"05/12/2026|-2147483648| 100 |+180|12,4|ignored|x", 0, INT32_MIN},
      {"05/12/2026|-7", err::kTypeMismatch, 0},  // field 3 is empty
      {"05/12/2026|-7|1OO|180|12", err::kTypeMismatch, 0},
      {"05/12/2026|-7|100|180|99999999999", err::kOverflow, 0},
      {"05/12/2026|-2147483649|100|180|12", err::kOverflow, 0},
      {"05/12/2026|99999999999||", err::kOverflow, 0},  // field 2 before field 3
      {"31/02/2026|-7|100|180|12", err::kTypeMismatch, 0},
      {"|99999999999|100|180|12", err::kTypeMismatch, 0},  // field 1 first
  };
  for (const RunLineCase& t : cases) {
    SCOPED_TRACE(t.line);
    RunSettings run;
    ASSERT_EQ(ErrorOf([&] { run = ConvertRunLine(t.line); }), t.error);
    if (t.error != 0) continue;
    EXPECT_EQ(run.DataCanc, DateTime::Date(2026, 12, 5));
    EXPECT_EQ(run.StaEpnCanc, t.sta_epn_canc);
    EXPECT_EQ(run.EpnDe, t.epn_de);
    EXPECT_EQ(run.EpnAte, t.epn_ate);
    EXPECT_EQ(run.CodUsuario, t.cod_usuario);
  }
}

TEST(TextToLongTest, SignBlanksRoundingAndRange) {
  const std::pair<const char*, int32_t> good[] = {
      {" \t-12 ", -12},
      {"+12", 12},
      {"2,5", 2},
      {"3,5", 4},
      {"-2,5", -2},
      {"2,50001", 3},
      {"2,50000", 2},
      {",5", 0},
      {"2147483647", INT32_MAX},
      {"2147483647,49", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"-2147483648,5", INT32_MIN},
  };
  for (const auto& [text, expected] : good) {
    int32_t value = 0;
    EXPECT_EQ(ErrorOf([&] { value = TextToLong(text); }), 0) << text;
    EXPECT_EQ(value, expected) << text;
  }
  const std::pair<const char*, int32_t> bad[] = {
      {"", err::kTypeMismatch},
      {"-", err::kTypeMismatch},
      {"1.000", err::kTypeMismatch},  // a point groups thousands in the locale
      {"1 2", err::kTypeMismatch},
      {"1,2,3", err::kTypeMismatch},
      {"- 1", err::kTypeMismatch},
      {"1-", err::kTypeMismatch},
      {"99999999999999999999x", err::kTypeMismatch},  // not a number wins over too large
      {"2147483648", err::kOverflow},
      {"2147483647,5", err::kOverflow},
      {"-2147483649", err::kOverflow},
      {"99999999999999999999", err::kOverflow},
  };
  for (const auto& [text, error] : bad)
    EXPECT_EQ(ErrorOf([&] { TextToLong(text); }), error) << text;
}

}  // namespace
}  // namespace kz
