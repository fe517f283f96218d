#include "batch/lote.h"

#include <string>

#include "batch/canc_epn.h"
#include "data/handler.h"
#include "data/prepara_sql.h"
#include "data/record_set.h"
#include "data/vigia.h"

namespace kz {
namespace {

// Locks one commitment that still has the run's status; false when it has
// another by now.
bool TravaUm(frmProcesso& F, int32_t codigo) {
  Modulo1& M = F.M;
  M.Sql = PreparaSql("SELECT CodEpn FROM TB_VDA_CADEPN WHERE CODEPN=? AND STAEPN=? WITH LOCK",
                     {Value(codigo), Value(F.StaEpnCanc)});
  bool travado = false;
  RepeteEmDeadlock([&] {
    RecordSet trava;
    trava.Open(M.Sql, M.Conexao, adOpenForwardOnly);
    travado = !trava.Eof();
  });
  return travado;
}

// The code of the commitment after the current one, when there is one.
std::optional<int32_t> Proximo(const frmProcesso& F) {
  try {
    const std::optional<Value> codigo = F.RsEpn.Adiante("CodEpn");
    if (codigo && !codigo->IsNull()) return codigo->ToLong();
  } catch (const RuntimeError&) {
    // Not a code: that commitment fails where the run meets it.
  }
  return std::nullopt;
}

}  // namespace

bool SelecionaEmpenhos(frmProcesso& F) {
  Modulo1& M = F.M;
  M.Sql = PreparaSql("SELECT * FROM TB_VDA_CADEPN WHERE STAEPN=?", {Value(F.StaEpnCanc)});
  FechaRs(F.RsEpn);
  F.RsEpn.Open(M.Sql, M.Conexao, adOpenKeyset);
  if (M.EnvioEmBloco) F.RsEpn.Materializa();
  return !F.RsEpn.Eof();
}

void CancelaSelecionados(frmProcesso& F, Lote& lote) {
  for (; !F.RsEpn.Eof(); F.RsEpn.MoveNext()) {
    lote.atual = F.RsEpn.Fields("CodEpn");
    const int32_t codigo = lote.atual->ToLong();
    if (lote.feitos.contains(codigo)) continue;
    if (!lote.travados.contains(codigo)) {
      if (!TravaUm(F, codigo)) continue;
      ++lote.total;
    }
    if (!F.M.EnvioEmBloco || !lote.bloco.CancEpn(F, codigo, Proximo(F))) CancEpn(F, codigo);
    lote.cancelados.push_back(codigo);
    lote.feitos.insert(codigo);
    lote.atual.reset();
    vigia::Progresso(lote.cancelados.size(), lote.total);
  }
  lote.atual.reset();
}

}  // namespace kz
