// The receivable, statistics and cost reversals of one commitment against
// real databases: which rows change, the activity rows, the failure path and
// a real lock conflict.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "data/handler.h"
#include "reversal/estat_venda.h"
#include "reversal/grava_cartao.h"
#include "reversal/grava_chq.h"
#include "reversal/grava_dup.h"
#include "reversal/lanca_cmv.h"
#include "tests/support/test_db.h"

namespace kz {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// Commitment 4711 of client 88 (NfsEpn Null) and the payment conditions
// 1 (duplicates), 2 (card, agreement 50), 3 (cheque) and 4 (card, agreement
// 99 that does not exist); each case adds the rows it needs.
class ReversalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::SeedBasics(db);
    db.ExecScript(R"(
INSERT INTO TB_VDA_CADCPG VALUES (1, 'DUPLICATA', '1.1.01', '3.1.02', 1, NULL);
INSERT INTO TB_VDA_CADCPG VALUES (2, 'CARTAO', '1.1.01', '3.1.02', 2, 50);
INSERT INTO TB_VDA_CADCPG VALUES (3, 'CHEQUE', '1.1.01', '3.1.02', 3, NULL);
INSERT INTO TB_VDA_CADCPG VALUES (4, 'CARTAO X', '1.1.01', '3.1.02', 2, 99);
INSERT INTO TB_VDA_CADEPN (CODEPN, CLIEPN, TPVEPN, NFSEPN, STAEPN) VALUES (4711, 88, 1, NULL, -7);
)");
    M.Conexao.Open(db.ConnText());
    M.EmpCtg = 1;
    M.CodUsuario = 12;
    M.DataHoraSistema = "12/13/2017 10:00:00";
    M.NomeMaquina = "estacao";
    F.DataCanc = DateTime::Date(2017, 12, 13);
    F.StaEpnCanc = -7;
    F.CtaEstBai = "1.1.03";
    F.CtaCtoVda = "4.1.01";
  }

  // Removes what a case may have written, so the next case starts clean.
  void Limpa() {
    for (const char* t :
         {"TB_VDA_EPNPAG", "TB_VDA_CADCONV", "TB_VDA_CADEPNIT", "TB_VDA_VENPRO", "TB_REC_CADFAT",
          "TB_REC_CADDUP", "TB_GER_LOGSYS", "TB_GER_ERRQUBO", "TB_CTG_CADLAN", "RETORNOLANCA"})
      db.Exec(std::string("DELETE FROM ") + t);
  }

  // Opens the run's transaction and stands the record sets on 4711.
  void Abre() {
    M.Conexao.BeginTrans();
    FechaRs(F.RsEpn);
    FechaRs(F.RsPag);
    F.RsEpn.Open("SELECT * FROM TB_VDA_CADEPN WHERE CODEPN=4711", M.Conexao, adOpenKeyset);
    F.RsPag.Open("Select * From EpnPag_Cpg Where EpnPag=4711", M.Conexao, adOpenKeyset);
    F.CodEpn = 4711;
    F.CliEpn = F.RsEpn.Fields("CliEpn");
  }

  Rows Log() { return db.Rows("SELECT OPELOG, TABLOG FROM TB_GER_LOGSYS ORDER BY SEQLOG"); }

  test::TestDb db;
  Modulo1 M;
  frmProcesso F{M};
};

TEST_F(ReversalTest, CardLowersTheInvoiceAndFirstInstalmentByTheNetValue) {
  struct Case {
    const char* valor;
    const char* desc;
    const char* venc;
    const char* codigo;
    const char* reduzido;
  } cases[] = {
      {"100.00", "2.5", "1", "12-2017", "902,5"},
      {"33.33", "3", "30", "12-2017", "967,6699"},
      {"100.00", "0", "0", "13-12-2017", "900"},
      {"100.00", "100", "NULL", "12-2017", "1000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codigo + std::string(" ") + c.desc);
    Limpa();
    db.Exec(std::string("INSERT INTO TB_VDA_EPNPAG VALUES (4711, 1, 2, ") + c.valor +
            ", NULL, NULL, NULL)");
    db.Exec(std::string("INSERT INTO TB_VDA_CADCONV VALUES (50, 'VISA', ") + c.venc + ", " +
            c.desc + ")");
    for (const char* cod : {"13-12-2017", "12-2017"}) {
      const std::string k = std::string("50, '") + cod + "', ";
      db.Exec("INSERT INTO TB_REC_CADFAT VALUES (" + k + "'0', '0', '0', 1000)");
      db.Exec("INSERT INTO TB_REC_CADFAT VALUES (" + k + "'341', '0', '0', 1000)");
      db.Exec("INSERT INTO TB_REC_CADDUP VALUES (" + k + "'0', '0', '0', 1, 1000)");
      db.Exec("INSERT INTO TB_REC_CADDUP VALUES (" + k + "'0', '0', '0', 2, 1000)");
    }
    Abre();
    GravaCartao(F, F.RsPag.Fields("ValPag").ToCurrency());
    M.Conexao.CommitTrans();
    EXPECT_EQ(F.CodTitulo, c.codigo);
    // Only the bank-less invoice of the code and its instalment 1 change.
    Rows fat, dup;
    for (const char* cod : {"12-2017", "13-12-2017"}) {
      const std::string v = std::string(cod) == c.codigo ? c.reduzido : "1000";
      fat.insert(fat.end(), {{cod, "0", v}, {cod, "341", "1000"}});
      dup.insert(dup.end(), {{cod, "1", v}, {cod, "2", "1000"}});
    }
    EXPECT_EQ(db.Rows("SELECT CODFAT, BCOFAT, VALFAT FROM TB_REC_CADFAT ORDER BY 1, 2"), fat);
    EXPECT_EQ(db.Rows("SELECT CODDUP, NUMPAR, VALDUP FROM TB_REC_CADDUP ORDER BY 1, 2"), dup);
    EXPECT_EQ(Log(),
              (Rows{{"Altera", std::string("Fatura Cartao/Empenho: ") + c.codigo + "/4711"}}));
  }
}

TEST_F(ReversalTest, DuplicatesOfTheDocumentCodeWithoutBankAreDeleted) {
  const Rows sem_4711 = {{"88", "4711", "341"}, {"88", "4711*", "0"}};
  const Rows sem_4711x = {{"88", "4711", "0"}, {"88", "4711", "0"}, {"88", "4711", "341"}};
  const struct {
    const char* nfs;
    Rows fat, dup;
  } cases[] = {{"'U1'", {{"88", "4711"}, {"89", "4711"}}, sem_4711x},
               {"'U2'", {{"88", "4711*"}, {"89", "4711"}}, sem_4711},
               {"'u1'", {{"88", "4711*"}, {"89", "4711"}}, sem_4711},
               {"NULL", {{"88", "4711*"}, {"89", "4711"}}, sem_4711}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.nfs);
    Limpa();
    db.Exec(std::string("UPDATE TB_VDA_CADEPN SET NFSEPN=") + c.nfs);
    db.ExecScript(R"(
INSERT INTO TB_REC_CADFAT VALUES (88, '4711', '0', '0', '0', 10);
INSERT INTO TB_REC_CADFAT VALUES (88, '4711*', '0', '0', '0', 10);
INSERT INTO TB_REC_CADFAT VALUES (89, '4711', '0', '0', '0', 10);
INSERT INTO TB_REC_CADDUP VALUES (88, '4711', '0', '0', '0', 1, 5);
INSERT INTO TB_REC_CADDUP VALUES (88, '4711', '0', '0', '0', 2, 5);
INSERT INTO TB_REC_CADDUP VALUES (88, '4711*', '0', '0', '0', 1, 5);
INSERT INTO TB_REC_CADDUP VALUES (88, '4711', '341', '0', '0', 1, 5);
)");
    Abre();
    GravaDup(F, Currency::FromInt(10));
    M.Conexao.CommitTrans();
    EXPECT_EQ(db.Rows("SELECT CLIFAT, CODFAT FROM TB_REC_CADFAT ORDER BY 1, 2"), c.fat);
    EXPECT_EQ(db.Rows("SELECT CLIDUP, CODDUP, BCODUP FROM TB_REC_CADDUP ORDER BY 2, 3"), c.dup);
    EXPECT_EQ(Log(), (Rows{{"Exclui", "Fatura/Duplicatas: 4711"}}));
  }
}

TEST_F(ReversalTest, ChequeDeletesOnlyItsOwnRows) {
  for (const char* cheque : {"000123", "O'12"}) {
    SCOPED_TRACE(cheque);
    const std::string q = cheque == std::string("O'12") ? "O''12" : cheque;  // as SQL literal
    Limpa();
    db.Exec("INSERT INTO TB_VDA_EPNPAG VALUES (4711, 1, 3, 10, '" + q + "', '001', '0456')");
    for (const std::string& k : {q + "', '001', '0456', '4711'", q + "', '001', '0456', '4712'",
                                 std::string("000124', '001', '0456', '4711'")}) {
      db.Exec("INSERT INTO TB_REC_CADFAT VALUES (88, '" + k + ", 10)");
      db.Exec("INSERT INTO TB_REC_CADDUP VALUES (88, '" + k + ", 1, 10)");
    }
    Abre();
    GravaChq(F, Currency::FromInt(10));
    M.Conexao.CommitTrans();
    const Rows resto = {{"000124", "4711"}, {cheque, "4712"}};
    EXPECT_EQ(db.Rows("SELECT CODFAT, CONFAT FROM TB_REC_CADFAT ORDER BY 2"), resto);
    EXPECT_EQ(db.Rows("SELECT CODDUP, CONDUP FROM TB_REC_CADDUP ORDER BY 2"), resto);
    EXPECT_EQ(Log(), (Rows{{"Exclui", std::string("Cheque/Empenho:") + cheque + "/4711"}}));
  }
}

TEST_F(ReversalTest, StatisticsLoseTheQuantitiesInTheMonthOfTheCancellation) {
  for (int mes : {12, 3}) {
    SCOPED_TRACE(mes);
    Limpa();
    db.ExecScript(R"(
INSERT INTO TB_VDA_CADEPNIT VALUES (4711, 1, 1, 1, 0);
INSERT INTO TB_VDA_CADEPNIT VALUES (4711, 2, 1, 2, 0);
INSERT INTO TB_VDA_CADEPNIT VALUES (4711, 3, 2, 5, 0);
INSERT INTO TB_VDA_VENPRO VALUES (1, 2017, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10);
INSERT INTO TB_VDA_VENPRO VALUES (1, 2016, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10);
)");
    F.DataCanc = DateTime::Date(2017, mes, 13);
    Abre();
    EstatVenda(F);
    M.Conexao.CommitTrans();
    Rows esperado = {{"1", "2016"}, {"1", "2017"}, {"2", "2017"}};
    for (int m = 1; m <= 12; ++m) {
      esperado[0].push_back("10");
      esperado[1].push_back(m == mes ? "7" : "10");
      esperado[2].push_back(m == mes ? "-5" : "0");
    }
    EXPECT_EQ(db.Rows("SELECT * FROM TB_VDA_VENPRO ORDER BY 1, 2"), esperado);
  }
}

TEST_F(ReversalTest, CostOfGoodsSoldIsPostedAsOneEntry) {
  const struct {
    const char* itens[2];
    const char* valor;
  } cases[] = {{{"(4711, 1, 1, 2, 10.50)", "(4711, 2, 2, 3, 4.00)"}, "33"},
               {{"(4711, 1, 1, 2, 0)", "(4711, 2, 2, 3, 0)"}, "0"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.valor);
    Limpa();
    for (const char* item : c.itens)
      db.Exec(std::string("INSERT INTO TB_VDA_CADEPNIT VALUES ") + item);
    Abre();
    LancaCMV(F, 4711);
    M.Conexao.CommitTrans();
    EXPECT_EQ(db.Rows("SELECT CTADEB, CTACRE, DATLAN, VALLAN, DOCLAN, INTLAN, HISLAN1, HISLAN2, "
                      "HISLAN3, HISLAN4 FROM TB_CTG_CADLAN"),
              (Rows{{"1.1.03", "4.1.01", "13/12/2017", c.valor, "4711", "-7",
                     "EXTORNO CUSTO MERC VENDIDA", "", "", ""}}));
  }
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_GER_ERRQUBO"), 0);
}

// Each failure records its routine's error, undoes the whole transaction
// (a change made before the call included) and ends the run.
TEST_F(ReversalTest, FailureRecordsTheRoutineRollsBackAndEndsTheRun) {
  const struct {
    const char* rotina;
    const char* pagamento;
    std::function<void(frmProcesso&)> chama;
  } cases[] = {
      {"GravaCartao", "(4711, 1, 4, 10, NULL, NULL, NULL)",
       [](frmProcesso& f) { GravaCartao(f, Currency::FromInt(10)); }},
      {"GravaChq", "(4711, 1, 3, 10, NULL, '001', '0456')",
       [](frmProcesso& f) { GravaChq(f, Currency::FromInt(10)); }},
      {"EstatVenda", "(4711, 1, 1, 10, NULL, NULL, NULL)", [](frmProcesso& f) { EstatVenda(f); }},
      {"LancaCMV", "(4711, 1, 1, 10, NULL, NULL, NULL)", [](frmProcesso& f) { LancaCMV(f, 4711); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rotina);
    Limpa();
    db.Exec(std::string("INSERT INTO TB_VDA_EPNPAG VALUES ") + c.pagamento);
    Abre();
    M.Conexao.Execute("UPDATE TB_CTG_NUMLAN SET NOLANCA = 999 WHERE CODEMP = 1");
    testing::internal::CaptureStderr();
    EXPECT_THROW(c.chama(F), RunEnded);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(M.Conexao.InTransaction());
    EXPECT_EQ(db.Count("SELECT NOLANCA FROM TB_CTG_NUMLAN WHERE CODEMP = 1"), 100);
    EXPECT_EQ(db.Rows("SELECT PROCEDIMENTO FROM TB_GER_ERRQUBO"), (Rows{{c.rotina}}));
    EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_GER_LOGSYS"), 0);
  }
}

// Another attachment holds the instalment until it commits: the instalment
// update is run again, the invoice update is not.
TEST_F(ReversalTest, CardDeadlockRunsOnlyTheInstalmentUpdateAgain) {
  db.ExecScript(R"(
INSERT INTO TB_VDA_EPNPAG VALUES (4711, 1, 2, 100, NULL, NULL, NULL);
INSERT INTO TB_VDA_CADCONV VALUES (50, 'VISA', 1, 2.5);
INSERT INTO TB_REC_CADFAT VALUES (50, '12-2017', '0', '0', '0', 1000);
INSERT INTO TB_REC_CADDUP VALUES (50, '12-2017', '0', '0', '0', 1, 1000);
)");
  Connection other;
  other.Open(db.ConnText());
  other.BeginTrans();
  other.Execute("UPDATE TB_REC_CADDUP SET VALDUP = VALDUP + 1 WHERE NUMPAR = 1");
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    other.CommitTrans();
  });
  Abre();
  GravaCartao(F, Currency::FromInt(100));
  later.join();
  M.Conexao.CommitTrans();
  EXPECT_EQ(M.PontoRetorno, 2);
  EXPECT_EQ(db.Rows("SELECT VALFAT FROM TB_REC_CADFAT UNION ALL SELECT VALDUP FROM TB_REC_CADDUP"),
            (Rows{{"902,5"}, {"903,5"}}));
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_GER_ERRQUBO"), 0);
}

}  // namespace
}  // namespace kz
