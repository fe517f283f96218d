#include "app/escolhe_conexao.h"

#include <gtest/gtest.h>

#include <string>

#include "common/runtime_error.h"

namespace kz {
namespace {

const std::string kOleDb = "Provider=ZStyle IBOLE Provider;User=";
const std::string kOdbc = "DRIVER=Firebird/InterBase(r) driver;UID=";

struct Case {
  const char* name;
  std::string text;
  std::string user;
  std::string password;
  std::string expected;
};

TEST(EscolheConexaoTest, RewritesTheShortFormsAndLeavesOtherTexts) {
  const Case cases[] = {
      {"ole db", R"(TIPO=1;DATA SOURCE=C:\DADOS\BASE.FDB)", "SYSDBA", "masterkey",
       kOleDb + R"(SYSDBA;Password=masterkey;Data Source=C:\DADOS\BASE.FDB)"},
      {"odbc", R"(TIPO=2;DBNAME=C:\DADOS\BASE.FDB)", "SYSDBA", "masterkey",
       kOdbc + R"(SYSDBA;PWD=masterkey;DBNAME=C:\DADOS\BASE.FDB)"},
      {"items after the location dropped", R"(TIPO=1;DATA SOURCE=C:\DADOS\BASE.FDB;ROLE=X)", "u",
       "p", kOleDb + R"(u;Password=p;Data Source=C:\DADOS\BASE.FDB)"},
      {"markers in any case, location keeps its case", "tipo=1;data source=srv:/Dados/Base.fdb",
       "u", "p", kOleDb + "u;Password=p;Data Source=srv:/Dados/Base.fdb"},
      {"ZStyle marker", "ZStyle;Data Source=b.fdb", "u", "p",
       kOleDb + "u;Password=p;Data Source=b.fdb"},
      {"Interbase marker", "Interbase;dbname=b.fdb;x", "u", "p", kOdbc + "u;PWD=p;DBNAME=b.fdb"},
      {"TIPO=12 holds TIPO=1", "TIPO=12;DATA SOURCE=b.fdb", "u", "p",
       kOleDb + "u;Password=p;Data Source=b.fdb"},
      {"empty user and password", "TIPO=2;DBNAME=b.fdb", "", "", kOdbc + ";PWD=;DBNAME=b.fdb"},
      {"user with ; inserted as it is", "TIPO=2;DBNAME=b.fdb", "a;b", "p=q",
       kOdbc + "a;b;PWD=p=q;DBNAME=b.fdb"},
      {"empty location", "TIPO=1;DATA SOURCE=;ROLE=X", "u", "p",
       kOleDb + "u;Password=p;Data Source="},
      {"full text unchanged", "Provider=Other;Data Source=b.fdb", "u", "p",
       "Provider=Other;Data Source=b.fdb"},
      {"empty text unchanged", "", "u", "p", ""},
      // Without the keyword the location starts at the 12th (7th) character.
      {"no DATA SOURCE=", "TIPO=1;LOCAL=b.fdb;x", "u", "p",
       kOleDb + "u;Password=p;Data Source=L=b.fdb"},
      {"no DBNAME=", "INTERBASE b.fdb", "u", "p", kOdbc + "u;PWD=p;DBNAME=ASE b.fdb"},
      {"no keyword, text shorter than 12", "TIPO=1", "u", "p",
       kOleDb + "u;Password=p;Data Source="},
      // The ODBC test looks at the text the OLE DB test left.
      {"TIPO=2 only in the original text", "TIPO=1;TIPO=2;DATA SOURCE=a.fdb;DBNAME=b.fdb", "u", "p",
       kOleDb + "u;Password=p;Data Source=a.fdb"},
      {"user brings INTERBASE into the rewritten text", "TIPO=1;DATA SOURCE=a.fdb", "interbase",
       "p", kOdbc + "interbase;PWD=p;DBNAME=er=ZStyle IBOLE Provider"},
      {"location brings TIPO=2 and DBNAME=", "TIPO=1;DATA SOURCE=/TIPO=2/DBNAME=b.fdb", "u", "p",
       kOdbc + "u;PWD=p;DBNAME=b.fdb"},
  };
  for (const Case& t : cases) {
    std::string text = t.text;
    EscolheConexao(text, t.user, t.password);
    EXPECT_EQ(text, t.expected) << t.name;
  }
}

struct LongCase {
  const char* name;
  std::string text;
  int32_t error;  // 0: none
};

TEST(EscolheConexaoTest, PositionsBeyond16BitsOverflow) {
  const std::string far(32760, 'x');
  const LongCase cases[] = {
      {"long location without ;", "TIPO=2;DBNAME=" + far, 0},
      {"; beyond 32767", "TIPO=2;DBNAME=" + far + ";R", err::kOverflow},
      {"keyword beyond 32767", "TIPO=2;" + far + "DBNAME=b", err::kOverflow},
      {"long text without the marker", far + ";" + far, 0},
  };
  for (const LongCase& t : cases) {
    std::string text = t.text;
    int32_t error = 0;
    try {
      EscolheConexao(text, "u", "p");
    } catch (const RuntimeError& e) {
      error = e.Number();
    }
    EXPECT_EQ(error, t.error) << t.name;
  }
}

}  // namespace
}  // namespace kz
