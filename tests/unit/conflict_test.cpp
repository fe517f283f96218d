// Lock conflicts are known by the database's error codes, never by their
// text, and a step that keeps meeting them neither spins nor gives up early.
#include <gtest/gtest.h>
#include <ibase.h>

#include <chrono>
#include <string>
#include <vector>

#include "data/familia_sql.h"
#include "data/fb_session.h"
#include "data/handler.h"

namespace kz {
namespace {

using namespace std::chrono_literals;

RuntimeError Erro(std::vector<intptr_t> v, int lock_timeout_s = 0,
                  std::chrono::milliseconds waited = 0ms) {
  v.push_back(isc_arg_end);
  Firebird::IStatus* st = FbApi::Get().master->getStatus();
  st->setErrors(v.data());
  const Firebird::FbException e(st);
  st->dispose();
  return ToRuntimeError(e, "", "UPDATE T SET V=1", lock_timeout_s, waited);
}

RuntimeError Conflito(const char* holder) {
  return Erro({isc_arg_gds, isc_deadlock, isc_arg_gds, isc_update_conflict, isc_arg_gds,
               isc_concurrent_transaction, isc_arg_string, reinterpret_cast<intptr_t>(holder)});
}

// Catches a kind read from the text (a trigger's message saying "deadlock"),
// a holder not read from its text argument, and a lock timeout taken for a
// conflict to run again.
TEST(ConflictTest, TheKindComesFromTheErrorCodes) {
  const auto texto = [](const char* s) { return reinterpret_cast<intptr_t>(s); };
  const struct {
    RuntimeError erro;
    ErrorKind kind;
    int64_t holder;
  } cases[] = {
      {Conflito("27"), ErrorKind::kLockConflict, 27},
      {Erro({isc_arg_gds, isc_except, isc_arg_number, 1, isc_arg_gds, isc_random, isc_arg_string,
             texto("deadlock avoided, try later")}),
       ErrorKind::kOther, 0},
      {Erro({isc_arg_gds, isc_unique_key_violation, isc_arg_string, texto("PK"), isc_arg_string,
             texto("T")}),
       ErrorKind::kUniqueKey, 0},
      {Erro({isc_arg_gds, isc_cancelled}), ErrorKind::kCancelled, 0},
      {Erro({isc_arg_gds, isc_net_read_err}), ErrorKind::kConnectionLost, 0},
      {Erro({isc_arg_gds, isc_deadlock, isc_arg_gds, isc_update_conflict}, 1, 900ms),
       ErrorKind::kLockTimeout, 0},
      {Erro({isc_arg_gds, isc_deadlock, isc_arg_gds, isc_update_conflict}, 10, 300ms),
       ErrorKind::kLockConflict, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.erro.Kind(), c.kind) << c.erro.Description();
    EXPECT_EQ(c.erro.Holder(), c.holder) << c.erro.Description();
    EXPECT_EQ(c.erro.Statement(), "UPDATE T");
  }
}

// Catches a retry after an error that is no conflict, retries that never
// pause (a spin) or pause at once, no bound, and a holder that never ends
// taken for a run of ordinary conflicts.
TEST(ConflictTest, RetriesArePacedAndBounded) {
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

// Catches a family that shows values or misses the object's name.
TEST(ConflictTest, StatementFamilies) {
  const std::pair<const char*, const char*> cases[] = {
      {" UPDATE TB_CTG_CADPLA SET SldD12=SldD12+(10.5) WHERE", "UPDATE TB_CTG_CADPLA"},
      {"Delete From RetornoLanca Where Marca=-7", "DELETE FROM RETORNOLANCA"},
      {" SELECT PROEPNIT,SUM(QTDEPNIT) as SomaPro  FROM TB_VDA_CADEPNIT WHERE",
       "SELECT FROM TB_VDA_CADEPNIT"},
      {"EXECUTE PROCEDURE CANCELA_SAIDA_ESTOQUE (-7,12)",
       "EXECUTE PROCEDURE CANCELA_SAIDA_ESTOQUE"},
      {"INSERT INTO TB_CTG_CADLAN (CodEmp) VALUES ('x')", "INSERT INTO TB_CTG_CADLAN"},
      {"SAVEPOINT KZ_FECHAMENTO", "SAVEPOINT"},
  };
  for (const auto& [sql, familia] : cases) EXPECT_EQ(FamiliaSql(sql), familia) << sql;
}

}  // namespace
}  // namespace kz
