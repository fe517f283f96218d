// Statement rendering, connection texts, how errors are known and retried,
// and the account lists of the totals: tables of inputs and what they give.
#include <gtest/gtest.h>
#include <ibase.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/caracteres.h"
#include "data/bloco.h"
#include "data/connection_text.h"
#include "data/familia_sql.h"
#include "data/fb_session.h"
#include "data/handler.h"
#include "data/prepara_sql.h"
#include "ledger/inc_plan.h"
#include "tests/unit/outcome.h"

namespace kz {
namespace {

// Catches a missing or reordered date shape (each of the seven has a row), a
// date guessed from ##/##/## or from an impossible day, the Null word matched
// with case, a stored text (Verbatim) rewritten as a date, Null or number, an
// embedded quote left single, a comma decimal not written with a point, and
// a number not in its shortest text (the exponent from 1E+15; the database's
// exact digits kept).
TEST(PreparaSql, RenderingRules) {
  const std::pair<Value, const char*> cases[] = {
      // clang-format off
      {"25/12/2017", "'12/25/2017'"}, {"1/2/2017", "'02/01/2017'"}, {"05/1/2017", "'01/05/2017'"},
      {"5/12/2017", "'12/05/2017'"}, {"5/1/17", "'01/05/2017'"}, {"25/1/29", "'01/25/2029'"},
      {"5/12/30", "'12/05/1930'"}, {DateTime::Date(2017, 12, 25), "'12/25/2017'"},
      {"10/10/10", "'10/10/10'"}, {"31/02/2017", "'31/02/2017'"},
      {DateTime{2017, 12, 25, 10, 0, 0}, "25/12/2017 10:00:00"}, {Value::Null(), "Null"},
      {"null", "Null"}, {"NULL", "Null"}, {Value::Verbatim("1/2/2017"), "'1/2/2017'"},
      {Value::Verbatim("Null"), "'Null'"}, {Value::Verbatim("12,50"), "'12,50'"},
      {Value::Verbatim("O'Brien?"), "'O''Brien?'"}, {Value(), ""}, {"", "''"},
      {"O'Brien", "'O''Brien'"}, {int32_t{-7}, "-7"}, {Currency::Parse("-12,5"), "-12.5"},
      {0.25, "0.25"}, {1.5e20, "1.5E+20"}, {"12,50", "12.50"}, {" -12,5 ", " -12.5 "},
      {"1.234,56", "'1.234,56'"}, {"12,5x", "'12,5x'"}, {0.1 + 0.2, "0.30000000000000004"},
      {1.5e-7, "0.00000015"}, {1e15, "1E+15"}, {Value::ExactDouble(-1234500, 4), "-123.45"},
      // clang-format on
  };
  for (const auto& [v, rendered] : cases) EXPECT_EQ(RenderValue(v), rendered) << rendered;
}

// Catches markers counted inside a rendered value, values used out of order,
// extra values not ignored, an unbounded tail, a missing value not raising 9,
// and marker positions that do not overflow past 16 bits.
TEST(PreparaSql, TemplatesAndLimits) {
  const std::string far(32766, ' ');
  const struct {
    std::string modelo;
    std::vector<Value> valores;
    std::string sql;
  } cases[] = {
      // clang-format off
      {" UPDATE TB_VDA_VENPRO SET MES? = MES? - (?) ", {int16_t{5}, int16_t{5}, int16_t{3}},
       " UPDATE TB_VDA_VENPRO SET MES5 = MES5 - (3) "},
      {"A=? AND B=?", {"x?y", int32_t{2}}, "A='x?y' AND B=2"},
      {"??", {Value(), int32_t{3}}, "3"},
      {"D=? AND V=?", {"1/2/2017", Value::Null()}, "D='02/01/2017' AND V=Null"},
      {"'?'", {int32_t{1}}, "'1'"},  // a marker inside a template literal is still a marker
      {"X=?", {int32_t{1}, int32_t{2}}, "X=1"},
      {"A=? AND B=?", {int32_t{1}}, "#9"},
      {"?" + std::string(6000, 'x'), {"v"}, "'v'" + std::string(5000, 'x')},
      // The cut follows the first marker; a later one keeps what is left of it.
      {"?" + std::string(4990, 'x') + "?" + std::string(6000, 'y'), {"v", int32_t{1}},
       "'v'" + std::string(4990, 'x') + "1" + std::string(9, 'y')},
      {far + "?", {int32_t{1}}, far + "1"},
      {far + " ?", {int32_t{1}}, "#6"},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Outcome([&] { return PreparaSql(c.modelo, c.valores); }), c.sql)
        << c.modelo.substr(0, 50);
  }
}

// Catches a wrong item name or case, a value cut at its second "=" or
// trimmed, a later item overriding the first, and noise items taken.
TEST(ConnectionText, ParseTakesLocationUserPasswordCharsetAndRole) {
  const std::vector<std::vector<std::string>> cases = {
      // text, location, user, password, charset, role
      // clang-format off
      {"DRIVER=Firebird/InterBase(r) driver;UID=SYSDBA;PWD=masterkey;DBNAME=srv:/d/b.fdb",
       "srv:/d/b.fdb", "SYSDBA", "masterkey", "", ""},
      {"Provider=P;User=ana;Password=s;Data Source=C:\\B.FDB", "C:\\B.FDB", "ana", "s", "", ""},
      {"dbname=b.fdb;uid=u;pwd=p;charset=UTF8;role= KZ_R ", "b.fdb", "u", "p", "UTF8", "KZ_R"},
      {"  Data Source = b.fdb ;USER\t=u ;PWD=a=b==", " b.fdb ", "u ", "a=b==", "", ""},
      {"ROLE=R;noequals;;DBNAMEX=z;UID=1st;User=2nd;DBNAME=a;Data Source=b;CHARSET=;Role=S", "a",
       "1st", "", "", "R"},
      // clang-format on
  };
  for (const auto& c : cases) {
    const ConnectionTarget t = ParseConnectionText(c[0]);
    EXPECT_EQ((std::vector<std::string>{c[0], t.location, t.user, t.password, t.charset, t.role}),
              c);
  }
}

RuntimeError Erro(std::vector<intptr_t> v, int lock_timeout_s = 0, int waited_ms = 0,
                  const std::string& senha = "") {
  v.push_back(isc_arg_end);
  Firebird::IStatus* st = FbApi::Get().master->getStatus();
  st->setErrors(v.data());
  const Firebird::FbException e(st);
  st->dispose();
  return ToRuntimeError(e, senha, "UPDATE T SET V=1", lock_timeout_s,
                        std::chrono::milliseconds(waited_ms));
}

// A parameter that holds the password whole is shown as "***", and nothing
// else is touched: a one-letter password inside the library's own words
// stays, so no text tells where it stood. A code the client has no text for
// (a newer server's) is written with its number, name and parameters.
TEST(ErrorTexts, ThePasswordNeverShowsAndNewerCodesAreNamed) {
  const auto texto = [](const char* s) { return reinterpret_cast<intptr_t>(s); };
  const struct {
    std::vector<intptr_t> status;
    const char* senha;
    const char* descricao;
  } cases[] = {
      {{isc_arg_gds, isc_io_error, isc_arg_string, texto("open"), isc_arg_string,
        texto("/tmp/e/base.fdb")},
       "e",
       "I/O error during \"open\" operation for file \"/tmp/e/base.fdb\""},
      {{isc_arg_gds, isc_except, isc_arg_number, 1, isc_arg_gds, isc_random, isc_arg_string,
        texto("login ab;cd=Se recusado")},
       "ab;cd=Se",
       "exception 1\n-***"},
      // A code no client knows; one Firebird 4 added, whose text a Firebird 4
      // client has.
      {{isc_arg_gds, isc_no_priv, isc_arg_string, texto("SELECT"), isc_arg_string, texto("TABLE"),
        isc_arg_string, texto("T"), isc_arg_gds, 335545999, isc_arg_string, texto("KZ_LOTE"),
        isc_arg_number, 7},
       "",
       "no permission for SELECT access to TABLE T\n-erro 335545999 do servidor: KZ_LOTE, 7"},
      {{isc_arg_gds, 335545254, isc_arg_string, texto("KZ_LOTE")},
       "",
       FbApi::Get().util->getClientVersion() >> 8 >= 4
           ? "Effective user is KZ_LOTE"
           : "erro 335545254 do servidor (isc_effective_user): KZ_LOTE"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Erro(c.status, 0, 0, c.senha).Description(), c.descricao);
  }
}

RuntimeError Conflito(const char* holder) {
  return Erro({isc_arg_gds, isc_deadlock, isc_arg_gds, isc_update_conflict, isc_arg_gds,
               isc_concurrent_transaction, isc_arg_string, reinterpret_cast<intptr_t>(holder)});
}

// Catches a kind read from the text (a trigger's message saying "deadlock"),
// a holder not read from its text argument, and a lock timeout (a conflict
// after about the whole timeout) taken for a conflict to run again.
TEST(Conflicts, TheKindComesFromTheErrorCodes) {
  const auto texto = [](const char* s) { return reinterpret_cast<intptr_t>(s); };
  const struct {
    RuntimeError erro;
    ErrorKind kind;
    int64_t holder;
  } cases[] = {
      // clang-format off
      {Conflito("27"), ErrorKind::kLockConflict, 27},
      {Erro({isc_arg_gds, isc_except, isc_arg_number, 1, isc_arg_gds, isc_random, isc_arg_string,
             texto("deadlock avoided, try later")}), ErrorKind::kOther, 0},
      {Erro({isc_arg_gds, isc_unique_key_violation, isc_arg_string, texto("PK"), isc_arg_string,
             texto("T")}), ErrorKind::kUniqueKey, 0},
      {Erro({isc_arg_gds, isc_cancelled}), ErrorKind::kCancelled, 0},
      {Erro({isc_arg_gds, isc_net_read_err}), ErrorKind::kConnectionLost, 0},
      {Erro({isc_arg_gds, isc_deadlock, isc_arg_gds, isc_update_conflict}, 1, 900),
       ErrorKind::kLockTimeout, 0},
      {Erro({isc_arg_gds, isc_deadlock, isc_arg_gds, isc_update_conflict}, 10, 300),
       ErrorKind::kLockConflict, 0},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.erro.Kind(), c.kind) << c.erro.Description();
    EXPECT_EQ(c.erro.Holder(), c.holder) << c.erro.Description();
    EXPECT_EQ(c.erro.Statement(), "UPDATE T");
  }
  // The family a message names: no values, the object's name kept.
  const std::pair<const char*, const char*> familias[] = {
      {" UPDATE TB_CTG_CADPLA SET SldD12=SldD12+(10.5) WHERE", "UPDATE TB_CTG_CADPLA"},
      {"Delete From RetornoLanca Where Marca=-7", "DELETE FROM RETORNOLANCA"},
      {" SELECT PROEPNIT,SUM(QTDEPNIT) as SomaPro  FROM TB_VDA_CADEPNIT WHERE",
       "SELECT FROM TB_VDA_CADEPNIT"},
      {"EXECUTE PROCEDURE CANCELA_SAIDA_ESTOQUE (-7,12)",
       "EXECUTE PROCEDURE CANCELA_SAIDA_ESTOQUE"},
      {"INSERT INTO TB_CTG_CADLAN (CodEmp) VALUES ('x')", "INSERT INTO TB_CTG_CADLAN"},
      {"SAVEPOINT KZ_FECHAMENTO", "SAVEPOINT"},
      {"EXECUTE BLOCK (KZ_PROXIMO INTEGER = ?) AS BEGIN END", "EXECUTE BLOCK"},
  };
  for (const auto& [sql, familia] : familias) EXPECT_EQ(FamiliaSql(sql), familia) << sql;
}

// A block carries each literal of the rendered statements as a parameter of
// the literal's own type and value: texts as VARCHARs of the connection's
// character set (quotes undoubled, lengths by characters in powers of two),
// whole numbers as BIGINT, decimals as NUMERIC(18, their decimals); names,
// Null and signs stay in the text. Catches a digit of a name taken for a
// number, a doubled quote kept, a decimal's scale lost, a length in bytes,
// and a literal no parameter holds exactly (past 18 digits, an exponent)
// carried all the same.
TEST(Bloco, LiteralsBecomeParametersOfTheirOwnType) {
  const struct {
    const char* sql;
    bool utf8;
    const char* texto;  // "" when it cannot be carried
    const char* parametros;
  } cases[] = {
      {" UPDATE TB_CTG_CADPLA SET SldD12=SldD12+(-10.50) WHERE CodEmp=1 AND CodCon IN "
       "('1.1','1')",
       false,
       " UPDATE TB_CTG_CADPLA SET SldD12=SldD12+(-:P1) WHERE CodEmp=:P2 AND CodCon IN (:P3,:P4)",
       "NUMERIC(18,2)=1050|BIGINT=1|VARCHAR(32) CHARACTER SET X=1.1|VARCHAR(32) CHARACTER SET "
       "X=1|"},
      {"VALUES ('O''Brien',Null,'12/25/2017',.5)", false, "VALUES (:P1,Null,:P2,:P3)",
       "VARCHAR(32) CHARACTER SET X=O'Brien|VARCHAR(32) CHARACTER SET X=12/25/2017|"
       "NUMERIC(18,1)=5|"},
      {"SET MES12 = MES12 - (1234567890123456789)", false, "", ""},
      {"SET D = 1.5E+20", false, "", ""},
      {"VALUES ('ŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁ')", true, "VALUES (:P1)",
       "VARCHAR(32) CHARACTER SET X=ŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁ|"},
      {"VALUES ('ŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁ')", false, "VALUES (:P1)",
       "VARCHAR(64) CHARACTER SET X=ŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁŁ|"},
  };
  for (const auto& c : cases) {
    DefineTextosUtf8(c.utf8);
    std::vector<Parametro> ps;
    const std::optional<std::string> texto = Parametriza(c.sql, "X", ps);
    std::string parametros;
    for (const Parametro& p : ps) parametros += p.declaracao + "=" + p.valor + "|";
    EXPECT_EQ(texto.value_or(""), c.texto) << c.sql;
    EXPECT_EQ(parametros, texto ? c.parametros : parametros) << c.sql;
  }
  DefineTextosUtf8(false);
}

// Catches a retry after an error that is no conflict, retries that never
// pause (a spin) or pause at once, no bound, and a holder that never ends
// taken for a run of ordinary conflicts.
TEST(Conflicts, RetriesArePacedAndBounded) {
  static std::vector<int> pausas;
  Retentativa::Pausa = [](std::chrono::milliseconds ms) { pausas.push_back(ms.count()); };
  const auto seguidos = [](int n, bool mesmo) {
    pausas.clear();
    Retentativa r;
    for (int i = 1; i <= n; ++i) {
      const std::string h = std::to_string(mesmo ? 7 : i);
      try {
        if (!r.DeveRepetir(Conflito(h.c_str()))) return std::string("no");
      } catch (const RuntimeError& e) {
        return std::to_string(i) + (e.Kind() == ErrorKind::kLockStuck ? " stuck" : " other");
      }
    }
    return std::string("yes");
  };
  EXPECT_EQ(Retentativa().DeveRepetir(Erro({isc_arg_gds, isc_except})), false);
  EXPECT_EQ(seguidos(1, false), "yes");
  EXPECT_TRUE(pausas.empty());  // the first retry follows a real wait: at once
  EXPECT_EQ(seguidos(12, false), "yes");
  EXPECT_EQ(pausas, (std::vector<int>{10, 20, 40, 80, 160, 320, 640, 1000, 1000, 1000, 1000}));
  EXPECT_EQ(seguidos(Retentativa::kMaxConflitos, false),
            std::to_string(Retentativa::kMaxConflitos) + " stuck");
  EXPECT_EQ(seguidos(5, true), "2 stuck");
}

// The account and every beginning of it, each once; an empty value closes the
// list. Catches an element added twice, a plain substring taken for a quoted
// element ('O' inside 'O''B'), the separator argument unused, and a list
// without the account's first character.
TEST(AccountList, AddsQuotedElementsOnceAndClosesOnAnEmptyValue) {
  const std::tuple<const char*, std::string, const char*, int16_t, const char*> cases[] = {
      // value, list, separator, unquoted, result (and the list afterwards)
      {"1.1", "'1.1.01'", "", 0, "'1.1.01','1.1'"},
      {"1.1", "'1.1.01','1.1'", ",", 0, "'1.1.01','1.1'"},
      {"1.1", "1.1.01", ";", 1, "1.1.01"},  // found as a plain substring
      {"2", "1", " | ", 1, "1 | 2"},
      {"O", "'O''B','O'''", "", 0, "'O''B','O''','O'"},
      {"O", "'O''B','O'", "", 0, "'O''B','O'"},  // whole after a partial match
      {"", "'5'", "", 0, "('5')"},
  };
  for (auto [valor, lista, separador, sem_aspas, resultado] : cases) {
    std::string sep = separador;
    EXPECT_EQ(MontaLista(valor, lista, sep, sem_aspas), resultado);
    EXPECT_EQ(lista, resultado);
  }
  EXPECT_EQ(ListaDeContas("1.1?"), "('1.1?','1.1','1.','1')");
}

}  // namespace
}  // namespace kz
