#include "tests/support/test_db.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "data/fb_session.h"
#include "data/record_set.h"
#include "tests/support/sql_script.h"

using namespace Firebird;

namespace kz::test {

// The test server's port: $KZ_TEST_FB_PORT (set by scripts/test.sh for the
// private server of scripts/fbserver.sh), 3050 when unset.
int ServerPort() {
  const char* port = std::getenv("KZ_TEST_FB_PORT");
  return port && *port ? std::atoi(port) : 3050;
}

std::string ServerPassword() {
  if (const char* password = std::getenv("KZ_TEST_FB_PASSWORD")) return password;
  std::ifstream in("/etc/firebird/3.0/SYSDBA.password");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("ISC_PASSWORD=", 0) != 0) continue;
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

TestDb::TestDb(bool server) : server_(server) {
  char tmpl[] = "/tmp/kz-test-XXXXXX";
  if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
  std::filesystem::permissions(dir_, std::filesystem::perms::all);
  if (server_) password_ = ServerPassword();

  FbApi& api = FbApi::Get();
  FbStatus st;
  IAttachment* att = nullptr;
  try {
    IXpbBuilder* dpb = api.util->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&st, isc_dpb_user_name, "SYSDBA");
    dpb->insertString(&st, isc_dpb_password, password_.c_str());
    dpb->insertString(&st, isc_dpb_lc_ctype, "WIN1252");
    dpb->insertString(&st, isc_dpb_set_db_charset, "WIN1252");
    dpb->insertInt(&st, isc_dpb_sql_dialect, 3);
    dpb->insertInt(&st, isc_dpb_force_write, 0);
    if (!server_) dpb->insertString(&st, isc_dpb_config, "Providers=Engine12");
    att = api.dispatcher->createDatabase(&st, Location().c_str(), dpb->getBufferLength(&st),
                                         dpb->getBuffer(&st));
    dpb->dispose();
    for (const std::string& stmt : SplitScript(ReadFile(KZ_SOURCE_DIR "/sql/schema.sql"))) {
      ITransaction* tra = att->startTransaction(&st, 0, nullptr);
      att->execute(&st, tra, 0, stmt.c_str(), 3, nullptr, nullptr, nullptr, nullptr);
      tra->commit(&st);
    }
    att->detach(&st);
  } catch (const FbException& e) {
    if (att) att->release();
    throw std::runtime_error("creating the test database: " + ToRuntimeError(e, "").Description());
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

void TestDb::Exec(const std::string& sql) { Conn().Execute(sql); }

void TestDb::ExecScript(const std::string& script) {
  for (const std::string& stmt : SplitScript(script)) Exec(stmt);
}

int64_t TestDb::Count(const std::string& sql) {
  RecordSet rs;
  rs.Open(sql, Conn());
  return rs.Eof() || rs.FieldAt(0).IsNull() ? 0 : rs.FieldAt(0).ToLong();
}

std::vector<std::vector<std::string>> TestDb::Rows(const std::string& sql) {
  std::vector<std::vector<std::string>> out;
  RecordSet rs;
  rs.Open(sql, Conn());
  for (; !rs.Eof(); rs.MoveNext()) {
    std::vector<std::string>& row = out.emplace_back();
    for (int i = 0; i < rs.FieldCount(); ++i) {
      row.push_back(rs.FieldAt(i).IsNull() ? "<null>" : rs.FieldAt(i).DisplayText());
    }
  }
  return out;
}

void SeedBasics(TestDb& db) {
  db.ExecScript(R"(
INSERT INTO TB_GER_PARAMETROS (EMPCTG, CTACLI, CTAVDAPRZ, CTAVDAVIS, CTAVDACAR, CTACXAMAT,
  CTACXAFIL, CTADSCCLI, LOCCXAMAT, LOCCXAFIL, CTACTOVDA, CTAESTBAI, MORA)
  VALUES (1, ' 1.1.02 ', '3.1.01', '3.1.02', '3.1.03', '1.1.01', '1.1.01', '3.2.01', ' 1 ', '2',
  ' 4.1.01 ', '1.1.03', 2.5);
INSERT INTO TB_CTG_NUMLAN (CODEMP, NOLANCA) VALUES (1, 100);
INSERT INTO TB_CTG_NUMLAN (CODEMP, NOLANCA) VALUES (2, 500);
)");
  for (int emp : {1, 2}) {
    for (const char* code :
         {"1", "1.1", "1.1.01", "1.1.03", "3", "3.1", "3.1.02", "4", "4.1", "4.1.01"}) {
      db.Exec("INSERT INTO TB_CTG_CADPLA (CODEMP, CODCON) VALUES (" + std::to_string(emp) + ", '" +
              code + "')");
    }
  }
}

}  // namespace kz::test
