#include "app/escolhe_conexao.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/outcome.h"

namespace kz {
namespace {

const std::string kOleDb = "Provider=ZStyle IBOLE Provider;User=u;Password=p;Data Source=";
const std::string kOdbc = "DRIVER=Firebird/InterBase(r) driver;UID=u;PWD=p;DBNAME=";

// Catches a marker matched with case, a test run on the wrong text, a wrong
// fallback position when the keyword is missing, and 16-bit positions that
// do not overflow.
TEST(EscolheConexaoTest, RewritesTheShortFormsAndLeavesOtherTexts) {
  const std::string far(32760, 'x');
  const struct {
    std::string text, expected;
  } cases[] = {
      {R"(TIPO=1;DATA SOURCE=C:\DADOS\BASE.FDB;ROLE=X)", kOleDb + R"(C:\DADOS\BASE.FDB)"},
      {R"(TIPO=2;DBNAME=C:\DADOS\BASE.FDB)", kOdbc + R"(C:\DADOS\BASE.FDB)"},
      {"tipo=1;data source=srv:/Dados/Base.fdb", kOleDb + "srv:/Dados/Base.fdb"},
      {"ZStyle;Data Source=b.fdb", kOleDb + "b.fdb"},
      {"Interbase;dbname=b.fdb;x", kOdbc + "b.fdb"},
      {"TIPO=12;DATA SOURCE=b.fdb", kOleDb + "b.fdb"},  // TIPO=12 holds TIPO=1
      {"Provider=Other;Data Source=b.fdb", "Provider=Other;Data Source=b.fdb"},
      // Without the keyword the location starts at the 12th (7th) character.
      {"TIPO=1;LOCAL=b.fdb;x", kOleDb + "L=b.fdb"},
      {"INTERBASE b.fdb", kOdbc + "ASE b.fdb"},
      {"TIPO=1", kOleDb},
      // The ODBC test looks at the text the OLE DB test left.
      {"TIPO=1;TIPO=2;DATA SOURCE=a.fdb;DBNAME=b.fdb", kOleDb + "a.fdb"},
      {"TIPO=1;DATA SOURCE=/TIPO=2/DBNAME=b.fdb", kOdbc + "b.fdb"},
      {"TIPO=2;DBNAME=" + far, kOdbc + far},
      {"TIPO=2;DBNAME=" + far + ";R", "#6"},
      {"TIPO=2;" + far + "DBNAME=b", "#6"},
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    EXPECT_EQ(Outcome([&] {
                EscolheConexao(text, "u", "p");
                return text;
              }),
              c.expected)
        << c.text.substr(0, 60);
  }
  // User and password go in as they are, whatever they hold.
  std::string text = "TIPO=2;DBNAME=b.fdb";
  EscolheConexao(text, "a;b", "p=q");
  EXPECT_EQ(text, "DRIVER=Firebird/InterBase(r) driver;UID=a;b;PWD=p=q;DBNAME=b.fdb");
}

}  // namespace
}  // namespace kz
