#include "tests/support/fixture.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "data/record_set.h"

namespace kz::test {
namespace {

// A value as the tests spell it, without the product's display rules:
// numbers with a point, dates as yyyy-mm-dd [hh:mm:ss].
std::string Show(const Value& v) {
  char b[64];
  const Value::Type t = v.GetType();
  if (t == Value::Type::Null) return "<null>";
  if (t == Value::Type::Text) return v.ToText();
  if (t == Value::Type::Double)
    return std::string(b, std::snprintf(b, sizeof b, "%.15g", v.ToDouble()));
  if (t == Value::Type::Date) {
    const DateTime d = v.ToDate();
    std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, d.hour,
                  d.minute, d.second);
    return std::string(b, d.HasTime() ? 19 : 10);
  }
  if (t != Value::Type::Currency) return std::to_string(v.ToLong());
  std::string s = v.ToCurrency().Display();
  std::replace(s.begin(), s.end(), ',', '.');
  return s;
}

}  // namespace

int ServerPort() {
  const char* port = std::getenv("KZ_TEST_FB_PORT");
  return port && *port ? std::atoi(port) : 3050;
}

std::string ServerPassword() {
  const char* password = std::getenv("KZ_TEST_FB_PASSWORD");
  return password ? password : "masterkey";
}

std::string ServerPrefix() {
  const int port = ServerPort();
  return port == 3050 ? "127.0.0.1:" : "127.0.0.1/" + std::to_string(port) + ":";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Lit(const std::string& text) {
  std::string out = "'";
  for (char ch : text) out += ch == '\'' ? "''" : std::string(1, ch);
  return out + "'";
}

TestDb::TestDb(bool server, const std::string& seed, const std::string& charset)
    : server_(server), charset_(charset) {
  char tmpl[] = "/tmp/kz-test-XXXXXX";
  if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
  std::filesystem::permissions(dir_, std::filesystem::perms::all);
  if (server_) password_ = ServerPassword();
  Isql("CREATE DATABASE " + Lit(Location()) + " DEFAULT CHARACTER SET " + charset + ";", "");
  // Unsafe writes: a test database need not survive a power cut, and every
  // commit would wait for the disk.
  if (std::system(("gfix -write async -user SYSDBA" + Login() + " " + Lit(Location())).c_str()) !=
      0) {
    throw std::runtime_error("gfix failed on " + Location());
  }
  Exec(ReadFile(KZ_SOURCE_DIR "/sql/schema.sql") + seed);
}

// The password switch of isql and gfix (none embedded).
std::string TestDb::Login() const { return server_ ? " -password " + Lit(password_) : ""; }

void TestDb::Isql(const std::string& script, const std::string& database) {
  const std::string log = (dir_ / "isql.log").string();
  const std::string command = "isql-fb -q -ch " + charset_ + " -user SYSDBA" + Login() + " " +
                              database + " >" + log + " 2>&1";
  FILE* isql = ::popen(command.c_str(), "w");
  const std::string input = "SET BAIL ON;\n" + script + "\n;\nCOMMIT;\n";
  if (!isql || std::fwrite(input.data(), 1, input.size(), isql) != input.size() ||
      ::pclose(isql) != 0) {
    throw std::runtime_error("isql: " + ReadFile(log) + "\n" + script.substr(0, 300));
  }
}

TestDb::~TestDb() {
  conn_.Close();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string TestDb::Location() const {
  return (server_ ? ServerPrefix() : "") + (dir_ / "base.fdb").string();
}

std::string TestDb::ConnText() const {
  return "DBNAME=" + Location() + ";UID=SYSDBA;PWD=" + password_;
}

Connection& TestDb::Conn() {
  if (conn_.State() == 0) conn_.Open(ConnText() + ";CHARSET=" + charset_);
  return conn_;
}

void TestDb::Detach() { conn_.Close(); }

void TestDb::Exec(const std::string& script) {
  conn_.Close();
  Isql(script, Lit(Location()));
}

void TestDb::GrantRole(const std::string& user, const std::string& password) {
  Exec(ReadFile(KZ_SOURCE_DIR "/sql/grants.sql") +
       (server_ ? "CREATE OR ALTER USER " + user + " PASSWORD " + Lit(password) + ";" : "") +
       "GRANT KZ_CANCELA_EMPENHOS TO USER " + user + ";");
}

Rows TestDb::Select(const std::string& sql) {
  Rows out;
  RecordSet rs;
  rs.Open(sql, Conn());
  for (; !rs.Eof(); rs.MoveNext()) {
    std::string& row = out.emplace_back();
    for (int i = 0; i < rs.FieldCount(); ++i) row += (i ? "|" : "") + Show(rs.FieldAt(i));
  }
  return out;
}

int64_t TestDb::Count(const std::string& sql) {
  RecordSet rs;
  rs.Open(sql, Conn());
  return rs.Eof() || rs.FieldAt(0).IsNull() ? 0 : rs.FieldAt(0).ToLong();
}

Rows TestDb::Snapshot(bool numbers) {
  std::vector<std::pair<std::string, std::string>> tables = {
      {"TB_CTG_CADLAN", std::string("CODEMP,") + (numbers ? "NUMLAN," : "") +
                            "CTADEB,CTACRE,DATLAN,MESLAN,VALLAN,DOCLAN,INTLAN,HISLAN1,HISLAN2,"
                            "HISLAN3,HISLAN4,USULAN"},
      {"RETORNOLANCA", numbers ? "*" : "MARCA"},
      {"TB_GER_LOGSYS", "USULOG,SISLOG,OPELOG,TABLOG"},
      {"TB_GER_ERRQUBO",
       "PROCEDIMENTO,SUBSTRING(DESCRICAO_DO_ERRO FROM 1 FOR POSITION('-',DESCRICAO_DO_ERRO,2)),"
       "CODIGO_SQL"},
      {"TB_EST_MOVEST", "TIPMOV,PROMOV,QTDMOV,STAMOV,USUMOV"}};
  for (const char* t : {"TB_CTG_CADPLA", "TB_CTG_NUMLAN", "TB_VDA_CADEPN", "TB_VDA_VENPRO",
                        "TB_REC_CADFAT", "TB_REC_CADDUP", "TB_EST_SALDO"}) {
    tables.emplace_back(t, "*");
  }
  Rows out;
  for (const auto& [table, columns] : tables) {
    for (const std::string& row : Select("SELECT " + columns + " FROM " + table)) {
      out.push_back(table + "|" + row);
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

Rows TestDb::Totals(bool less_entries) {
  std::string sql;
  for (int mes = 1; mes <= 12; ++mes) {
    for (const char* lado : {"D", "C"}) {
      const std::string m = std::to_string(mes), col = std::string("SLD") + lado + m;
      sql += std::string(sql.empty() ? "" : " UNION ALL ") + "SELECT P.CODEMP, P.CODCON, CAST('" +
             col + "' AS VARCHAR(6)) AS COL, P." + col +
             (less_entries ? " - (SELECT COALESCE(SUM(L.VALLAN), 0) FROM TB_CTG_CADLAN L WHERE "
                             "L.CODEMP = P.CODEMP AND L.MESLAN = " +
                                 m + " AND L.CTA" + (*lado == 'D' ? "DEB" : "CRE") +
                                 " STARTING WITH P.CODCON)"
                           : "") +
             " AS D FROM TB_CTG_CADPLA P";
    }
  }
  Rows out = Select("SELECT * FROM (" + sql + ") WHERE D <> 0");
  std::sort(out.begin(), out.end());
  return out;
}

Rows Diff(const Rows& before, const Rows& after, const std::string& skip) {
  Rows out;
  const auto only = [&](const Rows& a, const Rows& b, const char* mark) {
    Rows lines;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(lines));
    for (const std::string& l : lines) {
      if (skip.empty() || !l.starts_with(skip)) out.push_back(mark + l);
    }
  };
  only(before, after, "- ");
  only(after, before, "+ ");
  std::sort(out.begin(), out.end());
  return out;
}

std::string Seed(const std::string& name) {
  return ReadFile(KZ_SOURCE_DIR "/tests/sql/" + name + ".sql");
}

std::string Mixed(int first, int count, int mark) {
  return "EXECUTE PROCEDURE KZ_TESTE_EMPENHOS(" + std::to_string(first) + ", " +
         std::to_string(count) + ", " + std::to_string(mark) + ");";
}

}  // namespace kz::test
