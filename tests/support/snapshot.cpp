#include "tests/support/snapshot.h"

#include <algorithm>
#include <iterator>

namespace kz::test {

std::vector<std::string> Snapshot(TestDb& db, bool entry_numbers) {
  const std::string lancamento =
      std::string("CODEMP, ") + (entry_numbers ? "NUMLAN, " : "") +
      "CTADEB, CTACRE, DATLAN, MESLAN, VALLAN, DOCLAN, INTLAN, HISLAN1, HISLAN2, HISLAN3, "
      "HISLAN4, USULAN";
  const std::pair<const char*, std::string> tabelas[] = {
      {"TB_CTG_CADLAN", lancamento},
      {"TB_CTG_CADPLA", "*"},
      {"TB_CTG_NUMLAN", "*"},
      {"RETORNOLANCA", entry_numbers ? "*" : "MARCA"},
      {"TB_VDA_CADEPN", "*"},
      {"TB_VDA_VENPRO", "*"},
      {"TB_REC_CADFAT", "*"},
      {"TB_REC_CADDUP", "*"},
      {"TB_GER_LOGSYS", "USULOG, SISLOG, OPELOG, TABLOG, MAQLOG"},
      {"TB_GER_ERRQUBO", "PROCEDIMENTO, DESCRICAO_DO_ERRO, CODIGO_SQL"},
      {"TB_EST_SALDO", "*"},
      {"TB_EST_MOVEST", "TIPMOV, PROMOV, QTDMOV, STAMOV, USUMOV"},
  };
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
  constexpr size_t kMax = 20;
  std::vector<std::string> missing, extra, out;
  std::set_difference(expected.begin(), expected.end(), actual.begin(), actual.end(),
                      std::back_inserter(missing));
  std::set_difference(actual.begin(), actual.end(), expected.begin(), expected.end(),
                      std::back_inserter(extra));
  for (size_t i = 0; i < missing.size() && i < kMax; ++i) out.push_back("- " + missing[i]);
  for (size_t i = 0; i < extra.size() && i < kMax; ++i) out.push_back("+ " + extra[i]);
  return out;
}

}  // namespace kz::test
