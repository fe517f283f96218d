// Texts that look like SQL, markers, Null, dates or numbers, and very long
// texts, in every text column the run reads, and Null where a column allows
// it: no statement may break and nothing may be stored altered.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/batch_runner.h"
#include "tests/support/sales_fixture.h"
#include "tests/support/snapshot.h"

namespace kz {
namespace {

using test::Lit;
using test::TestDb;
using Rows = std::vector<std::vector<std::string>>;

// Room for the long texts; the host schema's widths are smaller.
constexpr const char* kWider = R"(
ALTER TABLE TB_VDA_CADCPG ALTER COLUMN NOMCPG TYPE VARCHAR(5000);
ALTER TABLE TB_VDA_EPNPAG ALTER COLUMN CHQPAG TYPE VARCHAR(400);
ALTER TABLE TB_VDA_EPNPAG ALTER COLUMN BCOPAG TYPE VARCHAR(400);
ALTER TABLE TB_VDA_EPNPAG ALTER COLUMN AGCPAG TYPE VARCHAR(400);
ALTER TABLE TB_VDA_CADEPN ALTER COLUMN NFSEPN TYPE VARCHAR(5000);
ALTER TABLE TB_CTG_CADLAN ALTER COLUMN HISLAN2 TYPE VARCHAR(5000);
ALTER TABLE TB_GER_LOGSYS ALTER COLUMN TABLOG TYPE VARCHAR(500);
)";

// A chart row for the account and every account above it (each beginning).
void Chart(TestDb& db, const std::string& conta) {
  for (size_t n = 1; n <= conta.size(); ++n) {
    db.Exec("UPDATE OR INSERT INTO TB_CTG_CADPLA (CODEMP, CODCON) VALUES (1, " +
            Lit(conta.substr(0, n)) + ") MATCHING (CODEMP, CODCON)");
  }
}

// 5000 characters of quotes, markers, Null, dates and comma decimals.
std::string Long() {
  std::string s;
  while (s.size() < 5000) s += "O'B? Null 1/2/2017 12,50 ";
  return s.substr(0, 5000);
}

// The text T goes into the payment conditions' names, the cheques' numbers,
// banks and agencies, and commitment 7's series (NfsEpn). When it is short
// enough for an account code, it is also the conditions' accounts (T and 3.T)
// and the parameters' cost accounts (T and 4.T), and the cheque receivables
// are keyed by it. Commitment 8 has Null client, sale type and series.
TEST(Hostile, TextsAreStoredAndComparedAsWritten) {
  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"quotes", "O'Brien' OR 'a'='a"},
      {"question marks", "1.1?01?"},
      {"Null as text", "Null"},
      {"null as text", "null"},
      {"a date", "1/2/2017"},
      {"a short date", "10/10/10"},
      {"a comma decimal", "12,50"},
      {"5000 characters", Long()},
      {"a NUL byte", std::string("A\0B", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string& t = c.text;
    const bool conta = t.size() <= 18;
    const std::string deb = conta ? t : "1.1.01", cre = conta ? "3." + t : "3.1.02";
    const std::string est = conta ? t : "1.1.03", cto = conta ? "4." + t : "4.1.01";
    // Bank and agency keys are 10 characters wide. A cheque key longer than
    // the receivables' index allows (about 2,000 bytes over its five columns)
    // is refused by the server even in a lookup, so the long text is cut to
    // 400 characters there; the host's cheque columns are 20 wide.
    const std::string chq = conta ? t : t.substr(0, 400);
    const std::string bco = conta ? t.substr(0, 10) : t.substr(0, 400);

    TestDb db;
    db.ExecScript(kWider);
    test::SeedBasics(db);
    test::SeedSales(db);
    for (const std::string& a : {deb, cre, est, cto}) Chart(db, a);
    db.Exec("UPDATE TB_GER_PARAMETROS SET CTAESTBAI = " + Lit(est) + ", CTACTOVDA = " + Lit(cto));
    for (const auto& [codigo, dup] : {std::pair{21, 1}, {22, 2}, {23, 3}, {24, 0}}) {
      db.Exec("INSERT INTO TB_VDA_CADCPG VALUES (" + std::to_string(codigo) + ", " + Lit(t) + ", " +
              Lit(deb) + ", " + Lit(cre) + ", " + std::to_string(dup) + ", 4)");
    }
    test::InsereEmpenho(
        db, 7, 88, 1, t, -7, {{11, "2", "10.50"}},
        {{21, "150.00"}, {22, "100.00"}, {23, "50.00", chq, bco, bco}, {24, "9.00"}});
    test::InsereEmpenho(db, 8, 0, 0, "", -7, {{12, "1", "4.00"}},
                        {{21, "30.00"}, {23, "20.00", chq, bco, bco}});
    db.Exec("UPDATE TB_VDA_CADEPN SET CLIEPN = NULL, TPVEPN = NULL WHERE CODEPN = 8");
    db.ExecScript(R"(
INSERT INTO TB_REC_CADFAT VALUES (88, '7', '0', '0', '0', 150);
INSERT INTO TB_REC_CADDUP VALUES (88, '7', '0', '0', '0', 1, 150);
INSERT INTO TB_REC_CADFAT VALUES (4, '12-2017', '0', '0', '0', 1000);
INSERT INTO TB_REC_CADDUP VALUES (4, '12-2017', '0', '0', '0', 1, 1000);
INSERT INTO TB_REC_CADFAT VALUES (88, 'OUTRO', '001', '0456', '7', 1);
INSERT INTO TB_REC_CADDUP VALUES (88, 'OUTRO', '001', '0456', '7', 1, 1);
)");
    if (conta) {  // the cheque's own rows; a long key cannot be stored
      const std::string chave = "88, " + Lit(chq) + ", " + Lit(bco) + ", " + Lit(bco) + ", '7'";
      db.Exec("INSERT INTO TB_REC_CADFAT VALUES (" + chave + ", 50)");
      db.Exec("INSERT INTO TB_REC_CADDUP VALUES (" + chave + ", 1, 50)");
    }

    test::BatchRunner run(db);
    run.WriteDefaultFor(db);
    run.WriteRunLine("25/12/2017|-7|100|180|12");
    const test::BatchResult r = run.Run();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(db.Rows("SELECT PROCEDIMENTO, DESCRICAO_DO_ERRO FROM TB_GER_ERRQUBO"), Rows{});
    EXPECT_EQ(db.Rows("SELECT CODEPN, CLIEPN, TPVEPN, NFSEPN, STAEPN FROM TB_VDA_CADEPN ORDER BY "
                      "CODEPN"),
              (Rows{{"7", "88", "1", t, "4"}, {"8", "<null>", "<null>", "<null>", "4"}}));
    const std::string cmv = "EXTORNO CUSTO MERC VENDIDA", canc = "CANCELAMENTO DE EMPENHO";
    EXPECT_EQ(db.Rows("SELECT DOCLAN, CTADEB, CTACRE, VALLAN, HISLAN1, HISLAN2 FROM TB_CTG_CADLAN "
                      "ORDER BY NUMLAN"),
              (Rows{{"7", est, cto, "21", cmv, ""},
                    {"7", cre, deb, "150", canc, t},
                    {"7", cre, deb, "100", canc, t},
                    {"7", cre, deb, "50", canc, t},
                    {"7", cre, deb, "9", canc, t},
                    {"8", est, cto, "4", cmv, ""},
                    {"8", cre, deb, "30", canc, t},
                    {"8", cre, deb, "20", canc, t}}));
    // Commitment 7's duplicates and cheque are gone, the card invoice is
    // reduced by 97.5; nothing of client Null existed, and the other cheque
    // of client 88 stays.
    EXPECT_EQ(db.Rows("SELECT CLIFAT, CODFAT, VALFAT FROM TB_REC_CADFAT ORDER BY CLIFAT"),
              (Rows{{"4", "12-2017", "902,5"}, {"88", "OUTRO", "1"}}));
    EXPECT_EQ(db.Rows("SELECT CLIDUP, CODDUP, VALDUP FROM TB_REC_CADDUP ORDER BY CLIDUP"),
              (Rows{{"4", "12-2017", "902,5"}, {"88", "OUTRO", "1"}}));
    const std::string lnc_cmv = "Lnc: 0 [" + est + "] [" + cto + "]";
    const std::string lnc = "Lnc: 0 [" + cre + "] [" + deb + "]";
    EXPECT_EQ(db.Rows("SELECT OPELOG, TABLOG FROM TB_GER_LOGSYS ORDER BY SEQLOG"),
              (Rows{{"Cadastra", lnc_cmv},
                    {"Cadastra", lnc},
                    {"Exclui", "Fatura/Duplicatas: 7"},
                    {"Cadastra", lnc},
                    {"Altera", "Fatura Cartao/Empenho: 12-2017/7"},
                    {"Cadastra", lnc},
                    {"Exclui", "Cheque/Empenho:" + chq + "/7"},
                    {"Cadastra", lnc},
                    {"Cadastra", lnc_cmv},
                    {"Cadastra", lnc},
                    {"Exclui", "Fatura/Duplicatas: 8"},
                    {"Cadastra", lnc},
                    {"Exclui", "Cheque/Empenho:" + chq + "/8"},
                    {"Cancela", "Empenhos de 100 a 180"}}));
    EXPECT_EQ(test::BooksMismatches(db), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace kz
