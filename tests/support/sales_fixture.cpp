#include "tests/support/sales_fixture.h"

namespace kz::test {

std::string Lit(const std::string& text) {
  std::string out = "'";
  for (char ch : text) {
    out += ch;
    if (ch == '\'') out += '\'';
  }
  return out + "'";
}

void SeedSales(TestDb& db) {
  db.ExecScript(R"(
INSERT INTO TB_VDA_CADCPG VALUES (1, 'DUPLICATA 30 DIAS', '1.1.01', '3.1.02', 1, NULL);
INSERT INTO TB_VDA_CADCPG VALUES (2, 'CARTAO DE CREDITO', '1.1.01', '3.1.02', 2, 4);
INSERT INTO TB_VDA_CADCPG VALUES (3, 'CHEQUE PRE', '1.1.01', '3.1.02', 3, NULL);
INSERT INTO TB_VDA_CADCPG VALUES (4, 'DINHEIRO', '1.1.01', '3.1.02', 0, NULL);
INSERT INTO TB_VDA_CADCONV VALUES (4, 'CARTAO MENSAL', 1, 2.5);
INSERT INTO TB_VDA_CADCONV VALUES (5, 'CARTAO DIARIO', 0, 3);
)");
}

void InsereEmpenho(TestDb& db, int codigo, int cliente, int tpv, const std::string& nfs, int status,
                   const std::vector<Item>& itens, const std::vector<Pagamento>& pagamentos) {
  const std::string cod = std::to_string(codigo);
  db.Exec("INSERT INTO TB_VDA_CADEPN (CODEPN, CLIEPN, TPVEPN, NFSEPN, STAEPN) VALUES (" + cod +
          ", " + std::to_string(cliente) + ", " + std::to_string(tpv) + ", " +
          (nfs.empty() ? std::string("NULL") : Lit(nfs)) + ", " + std::to_string(status) + ")");
  int seq = 0;
  for (const Item& i : itens) {
    db.Exec("INSERT INTO TB_VDA_CADEPNIT VALUES (" + cod + ", " + std::to_string(++seq) + ", " +
            std::to_string(i.produto) + ", " + i.quantidade + ", " + i.custo + ")");
  }
  seq = 0;
  for (const Pagamento& p : pagamentos) {
    db.Exec("INSERT INTO TB_VDA_EPNPAG VALUES (" + cod + ", " + std::to_string(++seq) + ", " +
            std::to_string(p.condicao) + ", " + p.valor + ", " + Lit(p.cheque) + ", " +
            Lit(p.banco) + ", " + Lit(p.agencia) + ")");
  }
}

}  // namespace kz::test
