#include "data/prepara_sql.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/unit/outcome.h"

namespace kz {
namespace {

// Catches a missing or reordered date shape (each of the seven has a row), a
// date guessed from ##/##/## or from an impossible day, the Null word matched
// with case, a stored text (Verbatim) rewritten as a date, Null or number, an
// embedded quote left single, and a comma decimal not written with a point.
TEST(PreparaSqlTest, RenderingRules) {
  const std::pair<Value, const char*> cases[] = {
      {"25/12/2017", "'12/25/2017'"},
      {"1/2/2017", "'02/01/2017'"},
      {"05/1/2017", "'01/05/2017'"},
      {"5/12/2017", "'12/05/2017'"},
      {"5/1/17", "'01/05/2017'"},
      {"25/1/29", "'01/25/2029'"},
      {"5/12/30", "'12/05/1930'"},
      {DateTime::Date(2017, 12, 25), "'12/25/2017'"},
      {"10/10/10", "'10/10/10'"},
      {"31/02/2017", "'31/02/2017'"},
      {DateTime{2017, 12, 25, 10, 0, 0}, "25/12/2017 10:00:00"},
      {Value::Null(), "Null"},
      {"null", "Null"},
      {"NULL", "Null"},
      {Value::Verbatim("1/2/2017"), "'1/2/2017'"},
      {Value::Verbatim("Null"), "'Null'"},
      {Value::Verbatim("12,50"), "'12,50'"},
      {Value::Verbatim("O'Brien?"), "'O''Brien?'"},
      {Value(), ""},
      {"", "''"},
      {"O'Brien", "'O''Brien'"},
      {int32_t{-7}, "-7"},
      {Currency::Parse("-12,5"), "-12.5"},
      {0.25, "0.25"},
      {1.5e20, "1.5E+20"},
      {"12,50", "12.50"},
      {" -12,5 ", " -12.5 "},
      {"1.234,56", "'1.234,56'"},  // thousands points: not a plain comma decimal
      {"12,5x", "'12,5x'"},
  };
  for (const auto& [v, rendered] : cases) EXPECT_EQ(RenderValue(v), rendered) << rendered;
}

// Catches markers counted inside a rendered value, values used out of order,
// and extra values not ignored.
TEST(PreparaSqlTest, Templates) {
  const struct {
    const char* modelo;
    std::vector<Value> valores;
    const char* sql;
  } cases[] = {
      {" UPDATE TB_VDA_VENPRO SET MES? = MES? - (?) ",
       {int16_t{5}, int16_t{5}, int16_t{3}},
       " UPDATE TB_VDA_VENPRO SET MES5 = MES5 - (3) "},
      {"UPDATE T SET DEB=DEB+(?) WHERE C=?",
       {Currency::Parse("-12,5"), int32_t{4}},
       "UPDATE T SET DEB=DEB+(-12.5) WHERE C=4"},
      {"WHERE CodEmp=? AND X=1", {Value()}, "WHERE CodEmp= AND X=1"},
      {"A=? AND B=?", {"x?y", int32_t{2}}, "A='x?y' AND B=2"},
      {"??", {Value(), int32_t{3}}, "3"},
      {"N=?", {"O'Brien"}, "N='O''Brien'"},
      {"D=? AND V=?", {"1/2/2017", Value::Null()}, "D='02/01/2017' AND V=Null"},
      {"'?'", {int32_t{1}}, "'1'"},  // a marker inside a template literal is still a marker
      {"X=?", {int32_t{1}, int32_t{2}}, "X=1"},
      {"SELECT 1 FROM RDB$DATABASE", {int32_t{1}}, "SELECT 1 FROM RDB$DATABASE"},
  };
  for (const auto& c : cases) EXPECT_EQ(PreparaSql(c.modelo, c.valores), c.sql) << c.modelo;
}

// Catches an unbounded tail, a missing value not raising 9, and marker
// positions that do not overflow past 16 bits.
TEST(PreparaSqlTest, LimitsAndFailures) {
  EXPECT_EQ(PreparaSql("?" + std::string(6000, 'x'), {"v"}), "'v'" + std::string(5000, 'x'));
  // The cut follows the first marker; a later one keeps what is left of it.
  EXPECT_EQ(
      PreparaSql("?" + std::string(4990, 'x') + "?" + std::string(6000, 'y'), {"v", int32_t{1}}),
      "'v'" + std::string(4990, 'x') + "1" + std::string(9, 'y'));
  EXPECT_EQ(Outcome([] { return PreparaSql("A=? AND B=?", {int32_t{1}}); }), "#9");
  const std::string far = std::string(32766, ' ');
  EXPECT_EQ(PreparaSql(far + "?", {int32_t{1}}), far + "1");
  EXPECT_EQ(Outcome([&] { return PreparaSql(far + " ?", {int32_t{1}}); }), "#6");
}

}  // namespace
}  // namespace kz
