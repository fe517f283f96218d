// The receivable, statistics and cost reversals of one commitment against
// real databases: which rows change, the activity rows, the failure path and
// a real lock conflict.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "data/handler.h"
#include "reversal/estat_venda.h"
#include "reversal/grava_cartao.h"
#include "reversal/grava_chq.h"
#include "reversal/grava_dup.h"
#include "reversal/lanca_cmv.h"
#include "tests/support/sales_fixture.h"
#include "tests/support/test_db.h"

namespace kz {
namespace {

using Rows = std::vector<std::vector<std::string>>;

Rows Sorted(Rows rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

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

  // Removes what an earlier case wrote and adds this case's rows.
  void Prepara(const std::string& script) {
    for (const char* t :
         {"TB_VDA_EPNPAG", "TB_VDA_CADCONV", "TB_VDA_CADEPNIT", "TB_VDA_VENPRO", "TB_REC_CADFAT",
          "TB_REC_CADDUP", "TB_GER_LOGSYS", "TB_GER_ERRQUBO", "TB_CTG_CADLAN", "RETORNOLANCA"})
      db.Exec(std::string("DELETE FROM ") + t);
    db.ExecScript(script);
  }

  // Opens the run's transaction, stands the record sets on 4711, runs the
  // routine and commits.
  void Roda(const std::function<void()>& rotina) {
    M.Conexao.BeginTrans();
    FechaRs(F.RsEpn);
    FechaRs(F.RsPag);
    F.RsEpn.Open("SELECT * FROM TB_VDA_CADEPN WHERE CODEPN=4711", M.Conexao, adOpenKeyset);
    F.RsPag.Open("Select * From EpnPag_Cpg Where EpnPag=4711", M.Conexao, adOpenKeyset);
    F.CodEpn = 4711;
    F.CliEpn = F.RsEpn.Fields("CliEpn");
    rotina();
    M.Conexao.CommitTrans();
  }

  // Every receivable row, sorted: kind, client, code, bank, account,
  // instalment (invoices: 0), amount.
  Rows Recebiveis() {
    return Sorted(db.Rows(
        "SELECT 'F', CLIFAT, CODFAT, BCOFAT, CONFAT, 0, VALFAT FROM TB_REC_CADFAT UNION ALL "
        "SELECT 'D', CLIDUP, CODDUP, BCODUP, CONDUP, NUMPAR, VALDUP FROM TB_REC_CADDUP"));
  }
  Rows Log() { return db.Rows("SELECT OPELOG, TABLOG FROM TB_GER_LOGSYS ORDER BY SEQLOG"); }

  test::TestDb db;
  Modulo1 M;
  frmProcesso F{M};
};

// Agreement 50's invoices of both code shapes, one of each also banked, and
// two instalments of each; all of 1000.
const char* kFaturasDoConvenio = R"(
INSERT INTO TB_REC_CADFAT VALUES (50, '12-2017', '0', '0', '0', 1000);
INSERT INTO TB_REC_CADFAT VALUES (50, '12-2017', '341', '0', '0', 1000);
INSERT INTO TB_REC_CADDUP VALUES (50, '12-2017', '0', '0', '0', 1, 1000);
INSERT INTO TB_REC_CADDUP VALUES (50, '12-2017', '0', '0', '0', 2, 1000);
INSERT INTO TB_REC_CADFAT VALUES (50, '13-12-2017', '0', '0', '0', 1000);
INSERT INTO TB_REC_CADFAT VALUES (50, '13-12-2017', '341', '0', '0', 1000);
INSERT INTO TB_REC_CADDUP VALUES (50, '13-12-2017', '0', '0', '0', 1, 1000);
INSERT INTO TB_REC_CADDUP VALUES (50, '13-12-2017', '0', '0', '0', 2, 1000);
)";

// Catches the discount rounded twice or to cents (97,5 and 32,3301), or to
// four decimals before the net value is computed (the host's column here
// holds six), the invoice code of the wrong shape for the agreement's due day
// (Null counts as monthly), and a change to a banked invoice, instalment 2 or
// another code.
TEST_F(ReversalTest, CardLowersTheInvoiceAndFirstInstalmentByTheNetValue) {
  db.Exec("ALTER TABLE TB_VDA_CADCONV ALTER COLUMN DESCCONV TYPE NUMERIC(18,6)");
  const std::tuple<const char*, const char*, const char*, const char*, const char*> cases[] = {
      // payment, DescConv, VencConv, invoice code, what is left of 1000
      {"100.00", "2.5", "1", "12-2017", "902,5"},
      {"33.33", "3", "30", "12-2017", "967,6699"},
      {"100.00", "0", "0", "13-12-2017", "900"},
      {"10.00", "2.5", "NULL", "12-2017", "990,25"},
      {"1000.00", "2.00004", "1", "12-2017", "20,0004"},
      {"300.00", "33.333333", "1", "12-2017", "800"},
  };
  for (const auto& [valor, desc, venc, codigo, resto] : cases) {
    SCOPED_TRACE(std::string(codigo) + " " + desc);
    Prepara(std::string("INSERT INTO TB_VDA_EPNPAG VALUES (4711, 1, 2, ") + valor +
            ", NULL, NULL, NULL); INSERT INTO TB_VDA_CADCONV VALUES (50, 'VISA', " + venc + ", " +
            desc + ");" + kFaturasDoConvenio);
    Roda([&] { GravaCartao(F, F.RsPag.Fields("ValPag").ToCurrency()); });
    Rows mudou;
    for (const auto& r : Recebiveis()) {
      if (r.back() != "1000") mudou.push_back(r);
    }
    EXPECT_EQ(mudou, (Rows{{"D", "50", codigo, "0", "0", "1", resto},
                           {"F", "50", codigo, "0", "0", "0", resto}}));
    EXPECT_EQ(Log(), (Rows{{"Altera", std::string("Fatura Cartao/Empenho: ") + codigo + "/4711"}}));
  }
}

// Series "U1" (exactly, and never Null) gives code 4711*, others 4711. Catches
// the wrong code, a banked row or another client's row deleted.
TEST_F(ReversalTest, DuplicatesOfTheDocumentCodeWithoutBankAreDeleted) {
  const Rows todos = {
      {"D", "88", "4711", "0", "0", "1", "5"},   {"D", "88", "4711", "0", "0", "2", "5"},
      {"D", "88", "4711", "341", "0", "1", "5"}, {"D", "88", "4711*", "0", "0", "1", "5"},
      {"F", "88", "4711", "0", "0", "0", "10"},  {"F", "88", "4711*", "0", "0", "0", "10"},
      {"F", "89", "4711", "0", "0", "0", "10"}};
  for (const auto& [nfs, codigo] :
       {std::pair("'U1'", "4711*"), {"'u1'", "4711"}, {"NULL", "4711"}}) {
    SCOPED_TRACE(nfs);
    std::string script = std::string("UPDATE TB_VDA_CADEPN SET NFSEPN=") + nfs + ";";
    Rows resto;
    for (const auto& r : todos) {
      script += std::string("INSERT INTO TB_REC_CAD") + (r[0] == "F" ? "FAT" : "DUP") +
                " VALUES (" + r[1] + ", '" + r[2] + "', '" + r[3] + "', '0', '0', " +
                (r[0] == "F" ? "" : r[5] + ", ") + r[6] + ");";
      if (r[1] != "88" || r[2] != codigo || r[3] != "0") resto.push_back(r);
    }
    Prepara(script);
    Roda([&] { GravaDup(F, Currency::FromInt(10)); });
    EXPECT_EQ(Recebiveis(), Sorted(resto));
    EXPECT_EQ(Log(), (Rows{{"Exclui", "Fatura/Duplicatas: 4711"}}));
  }
}

// Catches another cheque's or another commitment's rows deleted, and a cheque
// number with a quote breaking the statement.
TEST_F(ReversalTest, ChequeDeletesOnlyItsOwnRows) {
  for (const std::string cheque : {"000123", "O'12"}) {
    SCOPED_TRACE(cheque);
    std::string script = "INSERT INTO TB_VDA_EPNPAG VALUES (4711, 1, 3, 10, " + test::Lit(cheque) +
                         ", '001', '0456');";
    for (const auto& [chq, epn] :
         {std::pair(cheque, "4711"), {cheque, "4712"}, {"000124", "4711"}}) {
      const std::string k = "88, " + test::Lit(chq) + ", '001', '0456', '" + epn + "'";
      script += "INSERT INTO TB_REC_CADFAT VALUES (" + k + ", 10);" +
                "INSERT INTO TB_REC_CADDUP VALUES (" + k + ", 1, 10);";
    }
    Prepara(script);
    Roda([&] { GravaChq(F, Currency::FromInt(10)); });
    EXPECT_EQ(Recebiveis(), Sorted({{"D", "88", "000124", "001", "4711", "1", "10"},
                                    {"D", "88", cheque, "001", "4712", "1", "10"},
                                    {"F", "88", "000124", "001", "4711", "0", "10"},
                                    {"F", "88", cheque, "001", "4712", "0", "10"}}));
    EXPECT_EQ(Log(), (Rows{{"Exclui", "Cheque/Empenho:" + cheque + "/4711"}}));
  }
}

// Catches the wrong month or year, quantities of one product not summed, and a
// missing statistics row not inserted with the negative quantity.
TEST_F(ReversalTest, StatisticsLoseTheQuantitiesInTheMonthOfTheCancellation) {
  for (int mes : {12, 3}) {
    SCOPED_TRACE(mes);
    Prepara(R"(
INSERT INTO TB_VDA_CADEPNIT VALUES (4711, 1, 1, 1, 0);
INSERT INTO TB_VDA_CADEPNIT VALUES (4711, 2, 1, 2, 0);
INSERT INTO TB_VDA_CADEPNIT VALUES (4711, 3, 2, 5, 0);
INSERT INTO TB_VDA_VENPRO VALUES (1, 2017, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10);
INSERT INTO TB_VDA_VENPRO VALUES (1, 2016, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10);
)");
    F.DataCanc = DateTime::Date(2017, mes, 13);
    Roda([&] { EstatVenda(F); });
    Rows esperado = {{"1", "2016"}, {"1", "2017"}, {"2", "2017"}};
    for (int m = 1; m <= 12; ++m) {
      esperado[0].push_back("10");
      esperado[1].push_back(m == mes ? "7" : "10");
      esperado[2].push_back(m == mes ? "-5" : "0");
    }
    EXPECT_EQ(db.Rows("SELECT * FROM TB_VDA_VENPRO ORDER BY 1, 2"), esperado);
  }
}

// Catches a cost not summed as quantity × unit cost, wrong accounts, date,
// document, mark or history, and a zero cost left unposted.
TEST_F(ReversalTest, CostOfGoodsSoldIsPostedAsOneEntry) {
  const std::tuple<const char*, const char*, const char*> cases[] = {{"10.50", "4.00", "33"},
                                                                     {"0", "0", "0"}};
  for (const auto& [custo1, custo2, valor] : cases) {
    Prepara(std::string("INSERT INTO TB_VDA_CADEPNIT VALUES (4711, 1, 1, 2, ") + custo1 +
            "); INSERT INTO TB_VDA_CADEPNIT VALUES (4711, 2, 2, 3, " + custo2 + ");");
    Roda([&] { LancaCMV(F, 4711); });
    EXPECT_EQ(db.Rows("SELECT CTADEB, CTACRE, DATLAN, VALLAN, DOCLAN, INTLAN, HISLAN1, HISLAN2, "
                      "HISLAN3, HISLAN4 FROM TB_CTG_CADLAN"),
              (Rows{{"1.1.03", "4.1.01", "13/12/2017", valor, "4711", "-7",
                     "EXTORNO CUSTO MERC VENDIDA", "", "", ""}}));
    EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_GER_ERRQUBO"), 0);
  }
}

// Each failure records its routine's error, undoes the whole transaction (a
// change made before the call included) and ends the run. Catches an error
// recorded under another name, a missing rollback, and a run that goes on.
TEST_F(ReversalTest, FailureRecordsTheRoutineRollsBackAndEndsTheRun) {
  const std::tuple<const char*, const char*, std::function<void()>> cases[] = {
      {"GravaCartao", "4, 10, NULL, NULL, NULL", [&] { GravaCartao(F, Currency::FromInt(10)); }},
      {"GravaChq", "3, 10, NULL, '001', '0456'", [&] { GravaChq(F, Currency::FromInt(10)); }},
      {"EstatVenda", "1, 10, NULL, NULL, NULL", [&] { EstatVenda(F); }},
      {"LancaCMV", "1, 10, NULL, NULL, NULL", [&] { LancaCMV(F, 4711); }},
  };
  for (const auto& [rotina, pagamento, chama] : cases) {
    SCOPED_TRACE(rotina);
    Prepara(std::string("INSERT INTO TB_VDA_EPNPAG VALUES (4711, 1, ") + pagamento + ")");
    testing::internal::CaptureStderr();
    EXPECT_THROW(Roda([&] {
                   M.Conexao.Execute("UPDATE TB_CTG_NUMLAN SET NOLANCA = 999 WHERE CODEMP = 1");
                   chama();
                 }),
                 RunEnded);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(M.Conexao.InTransaction());
    EXPECT_EQ(db.Count("SELECT NOLANCA FROM TB_CTG_NUMLAN WHERE CODEMP = 1"), 100);
    EXPECT_EQ(db.Rows("SELECT PROCEDIMENTO FROM TB_GER_ERRQUBO"), (Rows{{rotina}}));
    EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_GER_LOGSYS"), 0);
  }
}

// Another attachment holds the instalment until it commits: the instalment
// update runs again, the invoice update does not (it would lower it twice).
TEST_F(ReversalTest, CardDeadlockRunsOnlyTheInstalmentUpdateAgain) {
  Prepara(R"(
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
  EXPECT_NO_THROW(Roda([&] { GravaCartao(F, Currency::FromInt(100)); }));
  later.join();
  EXPECT_EQ(M.PontoRetorno, 2);
  EXPECT_EQ(db.Rows("SELECT VALFAT FROM TB_REC_CADFAT UNION ALL SELECT VALDUP FROM TB_REC_CADDUP"),
            (Rows{{"902,5"}, {"903,5"}}));
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_GER_ERRQUBO"), 0);
}

}  // namespace
}  // namespace kz
