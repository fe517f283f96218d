#include "tests/support/sales_fixture.h"

namespace kz::test {

std::string Lit(const std::string& text) {
  std::string out = "'";
  for (char ch : text) out += ch == '\'' ? "''" : std::string(1, ch);
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

void SeedMixedCommitments(TestDb& db, int first, int count, int mark) {
  // An invoice and its one instalment; `chave` holds the five key columns.
  const auto receivable = [&](const std::string& chave, const std::string& valor) {
    db.Exec("UPDATE OR INSERT INTO TB_REC_CADFAT VALUES (" + chave + ", " + valor + ")");
    db.Exec("UPDATE OR INSERT INTO TB_REC_CADDUP VALUES (" + chave + ", 1, " + valor + ")");
  };
  db.Conn().BeginTrans();
  receivable("4, '12-2017', '0', '0', '0'", "100000");
  for (int p = 11; p <= 15; ++p) {
    const std::string prod = std::to_string(p);
    db.Exec("UPDATE OR INSERT INTO TB_VDA_VENPRO (PROVEN, ANOVEN, MES12) VALUES (" + prod +
            ", 2017, 1000)");
    db.Exec("UPDATE OR INSERT INTO TB_EST_SALDO (PROEST, QTDEST) VALUES (" + prod + ", 100)");
  }
  for (int codigo = first; codigo < first + count; ++codigo) {
    const std::string cod = std::to_string(codigo), cli = std::to_string(1000 + codigo);
    const std::vector<Item> itens = {{11 + codigo % 5, "1", "2.50"},
                                     {20 + codigo % 7, "2", "1.25"}};
    const bool u1 = codigo % 8 == 0;  // duplicates of series U1 take an asterisk
    const std::string cheque = "C" + cod;
    if (codigo % 4 == 0) {
      InsereEmpenho(db, codigo, 1000 + codigo, 1, u1 ? "U1" : "", mark, itens, {{1, "30.00"}});
      receivable(cli + ", " + Lit(cod + (u1 ? "*" : "")) + ", '0', '0', '0'", "30");
    } else if (codigo % 4 == 1) {
      InsereEmpenho(db, codigo, 1000 + codigo, 0, "", mark, itens, {{2, "40.00"}});
    } else if (codigo % 4 == 2) {
      InsereEmpenho(db, codigo, 1000 + codigo, 1, "", mark, itens,
                    {{3, "50.00", cheque, "001", "0456"}});
      receivable(cli + ", " + Lit(cheque) + ", '001', '0456', " + Lit(cod), "50");
    } else {
      InsereEmpenho(db, codigo, 1000 + codigo, 0, "", mark, itens, {{4, "20.00"}, {2, "15.00"}});
    }
  }
  db.Conn().CommitTrans();
}

}  // namespace kz::test
