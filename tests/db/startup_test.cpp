// Start-up in process: settings files and the database fill the run context.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "app/frm_processo.h"
#include "tests/support/batch_runner.h"

namespace kz {
namespace {

TEST(StartUp, FillsTheRunContextFromSettingsAndTheFirstParametersRow) {
  test::TestDb db;
  test::SeedBasics(db);
  db.Exec("INSERT INTO TB_GER_PARAMETROS (EMPCTG, CTACTOVDA) VALUES (9, '9.9')");
  test::BatchRunner files(db);
  files.WriteDefault("TIPO=2;DBNAME=" + db.Location(), "SYSDBA", "");
  files.WriteRunLine("05/12/2026|-7|100|180|12\r\n09/09/2009|-1|1|1|1");
  ::setenv("KZ_QUBO_DIR", files.Dir().c_str(), 1);

  Modulo1 M;
  frmProcesso F(M);
  CarregaContexto(F);
  ::unsetenv("KZ_QUBO_DIR");

  EXPECT_EQ(F.DataCanc, DateTime::Date(2026, 12, 5));
  EXPECT_EQ(F.StaEpnCanc, -7);
  EXPECT_EQ(F.EpnDe, 100);
  EXPECT_EQ(F.EpnAte, 180);
  EXPECT_EQ(M.CodUsuario, 12);
  EXPECT_EQ(F.UsuarioBD, "SYSDBA");
  EXPECT_EQ(F.StrConexao,
            "DRIVER=Firebird/InterBase(r) driver;UID=SYSDBA;PWD=;DBNAME=" + db.Location());
  EXPECT_EQ(M.EmpCtg, 1);
  EXPECT_EQ(F.CtaCli, " 1.1.02 ");   // taken unchanged
  EXPECT_EQ(F.CtaCtoVda, "4.1.01");  // CHAR padding and blanks removed
  EXPECT_EQ(F.CtaEstBai, "1.1.03");
  EXPECT_EQ(F.LocCxaMat, 1);
  EXPECT_EQ(F.LocCxaFil, 2);
  EXPECT_FLOAT_EQ(F.Mora, 2.5f);
  EXPECT_TRUE(std::regex_match(M.DataHoraSistema,
                               std::regex(R"((0[1-9]|1[0-2])/\d\d/\d{4} \d\d:\d\d:\d\d)")))
      << M.DataHoraSistema;
  // Start-up only reads, and leaves the two record sets open for the batch.
  EXPECT_FALSE(M.Conexao.InTransaction());
  EXPECT_EQ(F.RsAux.State(), 1);
  EXPECT_EQ(F.RsPar.State(), 1);
}

}  // namespace
}  // namespace kz
