#include "tests/support/snapshot.h"

#include <algorithm>
#include <iterator>

namespace kz::test {

std::vector<std::string> Snapshot(TestDb& db, bool entry_numbers) {
  const std::string lancamento =
      std::string("CODEMP, ") + (entry_numbers ? "NUMLAN, " : "") +
      "CTADEB, CTACRE, DATLAN, MESLAN, VALLAN, DOCLAN, INTLAN, HISLAN1, HISLAN2, HISLAN3, "
      "HISLAN4, USULAN";
  // The tables with columns left out (see the header), then those taken whole.
  std::vector<std::pair<std::string, std::string>> tabelas = {
      {"TB_CTG_CADLAN", lancamento},
      {"RETORNOLANCA", entry_numbers ? "*" : "MARCA"},
      {"TB_GER_LOGSYS", "USULOG, SISLOG, OPELOG, TABLOG, MAQLOG"},
      {"TB_GER_ERRQUBO", "PROCEDIMENTO, DESCRICAO_DO_ERRO, CODIGO_SQL"},
      {"TB_EST_MOVEST", "TIPMOV, PROMOV, QTDMOV, STAMOV, USUMOV"}};
  for (const char* tabela : {"TB_CTG_CADPLA", "TB_CTG_NUMLAN", "TB_VDA_CADEPN", "TB_VDA_VENPRO",
                             "TB_REC_CADFAT", "TB_REC_CADDUP", "TB_EST_SALDO"}) {
    tabelas.emplace_back(tabela, "*");
  }
  std::vector<std::string> out;
  for (const auto& [tabela, colunas] : tabelas) {
    for (const auto& row : db.Rows("SELECT " + colunas + " FROM " + tabela)) {
      std::string line = tabela;
      for (const std::string& v : row) line += "|" + v;
      out.push_back(std::move(line));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> SnapshotDiff(const std::vector<std::string>& expected,
                                      const std::vector<std::string>& actual) {
  std::vector<std::string> out;
  const auto only = [&](const auto& a, const auto& b, const std::string& mark) {
    std::vector<std::string> lines;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(lines));
    for (size_t i = 0; i < lines.size() && i < 20; ++i) out.push_back(mark + lines[i]);
  };
  only(expected, actual, "- ");
  only(actual, expected, "+ ");
  return out;
}

std::vector<std::string> BooksMismatches(TestDb& db) {
  std::vector<std::string> out;
  for (int mes = 1; mes <= 12; ++mes) {
    const std::string m = std::to_string(mes);
    for (const char* lado : {"D", "C"}) {
      const std::string conta = lado[0] == 'D' ? "CTADEB" : "CTACRE";
      for (const auto& r :
           db.Rows("SELECT P.CODEMP, P.CODCON, P.SLD" + std::string(lado) + m +
                   ", (SELECT COALESCE(SUM(L.VALLAN), 0) FROM TB_CTG_CADLAN L "
                   "WHERE L.CODEMP = P.CODEMP AND L.MESLAN = " +
                   m + " AND L." + conta + " STARTING WITH P.CODCON) FROM TB_CTG_CADPLA P")) {
        if (r[2] == r[3]) continue;
        out.push_back("company " + r[0] + " account " + r[1] + " Sld" + lado + m + ": stored " +
                      r[2] + ", entries " + r[3]);
      }
    }
  }
  return out;
}

}  // namespace kz::test
