#include "tests/support/fixture.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "data/fb_session.h"
#include "data/record_set.h"

using namespace Firebird;

namespace kz::test {
namespace {

// The statements of an isql-style script: /* */ comments dropped, each ended
// by the current terminator, "SET TERM x ;" honoured.
std::vector<std::string> Split(const std::string& script) {
  const auto trim = [](const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r\n");
    return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(" \t\r\n") + 1 - b);
  };
  std::vector<std::string> out;
  std::string term = ";", cur;
  bool quoted = false;
  for (size_t i = 0; i < script.size(); ++i) {
    if (!quoted && script.compare(i, 2, "/*") == 0) {
      i = std::min(script.find("*/", i), script.size()) + 1;
      continue;
    }
    if (script[i] == '\'') quoted = !quoted;
    if (quoted || script.compare(i, term.size(), term) != 0) {
      cur += script[i];
      continue;
    }
    i += term.size() - 1;
    const std::string stmt = trim(cur);
    cur.clear();
    if (stmt.starts_with("SET TERM")) {
      term = trim(stmt.substr(8));
    } else if (!stmt.empty()) {
      out.push_back(stmt);
    }
  }
  if (!trim(cur).empty()) out.push_back(trim(cur));
  return out;
}

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
  const int64_t raw = v.ToCurrency().Raw();
  std::snprintf(b, sizeof b, "%s%lld.%04lld", raw < 0 ? "-" : "", std::llabs(raw) / 10000,
                std::llabs(raw) % 10000);
  std::string s = b;
  s.erase(s.find_last_not_of('0') + 1);
  return s.back() == '.' ? s.substr(0, s.size() - 1) : s;
}

}  // namespace

int ServerPort() {
  const char* port = std::getenv("KZ_TEST_FB_PORT");
  return port && *port ? std::atoi(port) : 3050;
}

std::string ServerPassword() {
  if (const char* password = std::getenv("KZ_TEST_FB_PASSWORD")) return password;
  std::ifstream in("/etc/firebird/3.0/SYSDBA.password");
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with("ISC_PASSWORD=")) continue;
    std::erase(line, '"');
    return line.substr(13);
  }
  return "masterkey";
}

std::string ServerPrefix() {
  const int port = ServerPort();
  return port == 3050 ? "127.0.0.1:" : "127.0.0.1/" + std::to_string(port) + ":";
}

bool ServerAvailable() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(ServerPort()));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
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

TestDb::TestDb(bool server, const std::string& seed) : server_(server) {
  char tmpl[] = "/tmp/kz-test-XXXXXX";
  if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
  std::filesystem::permissions(dir_, std::filesystem::perms::all);
  if (server_) password_ = ServerPassword();
  FbApi& api = FbApi::Get();
  FbStatus st;
  try {
    IXpbBuilder* dpb = api.util->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&st, isc_dpb_user_name, "SYSDBA");
    dpb->insertString(&st, isc_dpb_password, password_.c_str());
    dpb->insertString(&st, isc_dpb_lc_ctype, "WIN1252");
    dpb->insertString(&st, isc_dpb_set_db_charset, "WIN1252");
    dpb->insertInt(&st, isc_dpb_sql_dialect, 3);
    dpb->insertInt(&st, isc_dpb_force_write, 0);
    if (!server_) dpb->insertString(&st, isc_dpb_config, "Providers=Engine12");
    IAttachment* att = api.dispatcher->createDatabase(
        &st, Location().c_str(), dpb->getBufferLength(&st), dpb->getBuffer(&st));
    dpb->dispose();
    att->detach(&st);
  } catch (const FbException& e) {
    throw std::runtime_error("creating the test database: " + ToRuntimeError(e, "").Description());
  }
  Exec(ReadFile(KZ_SOURCE_DIR "/sql/schema.sql"));
  Exec(seed);
}

TestDb::~TestDb() {
  conn_.Close();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string TestDb::Location() const {
  return (server_ ? ServerPrefix() : "") + (dir_ / "base.fdb").string();
}

std::string TestDb::LocationVia(int port) const {
  return "127.0.0.1/" + std::to_string(port) + ":" + (dir_ / "base.fdb").string();
}

std::string TestDb::ConnText() const {
  return "DBNAME=" + Location() + ";UID=SYSDBA;PWD=" + password_;
}

Connection& TestDb::Conn() {
  if (conn_.State() == 0) conn_.Open(ConnText());
  return conn_;
}

void TestDb::Detach() { conn_.Close(); }

void TestDb::Exec(const std::string& script) {
  for (const std::string& stmt : Split(script)) Conn().Execute(stmt);
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

Rows TestDb::Books() {
  std::string sql;
  for (int mes = 1; mes <= 12; ++mes) {
    for (const char* lado : {"D", "C"}) {
      const std::string m = std::to_string(mes), col = std::string("SLD") + lado + m;
      sql += std::string(sql.empty() ? "" : " UNION ALL ") + "SELECT P.CODEMP, P.CODCON, CAST('" +
             col + "' AS VARCHAR(6)) AS COL, P." + col +
             " - (SELECT COALESCE(SUM(L.VALLAN), 0) FROM TB_CTG_CADLAN L " +
             "WHERE L.CODEMP = P.CODEMP AND L.MESLAN = " + m + " AND L.CTA" +
             (*lado == 'D' ? "DEB" : "CRE") + " STARTING WITH P.CODCON) AS D FROM TB_CTG_CADPLA P";
    }
  }
  return Select("SELECT * FROM (" + sql + ") WHERE D <> 0");
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
