#include "tests/support/books.h"

namespace kz::test {

std::vector<std::string> BooksMismatches(TestDb& db) {
  std::vector<std::string> out;
  for (int mes = 1; mes <= 12; ++mes) {
    const std::string m = std::to_string(mes);
    for (const char* lado : {"D", "C"}) {
      const std::string conta = lado[0] == 'D' ? "CTADEB" : "CTACRE";
      const auto rows = db.Rows(
          "SELECT P.CODEMP, P.CODCON, P.SLD" + std::string(lado) + m +
          ", (SELECT COALESCE(SUM(L.VALLAN), 0) FROM TB_CTG_CADLAN L WHERE L.CODEMP = P.CODEMP "
          "AND L.MESLAN = " +
          m + " AND L." + conta + " STARTING WITH P.CODCON) FROM TB_CTG_CADPLA P");
      for (const auto& r : rows) {
        if (r[2] != r[3]) {
          out.push_back("company " + r[0] + " account " + r[1] + " Sld" + lado + m + ": stored " +
                        r[2] + ", entries " + r[3]);
        }
      }
    }
  }
  return out;
}

}  // namespace kz::test
