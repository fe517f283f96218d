#include "data/grava_erro.h"

#include "common/caracteres.h"
#include "common/date_time.h"
#include "common/mensagem.h"
#include "data/record_set.h"

namespace kz {

void MsgBox(const std::string& texto) { Mensagem(Prioridade::kErro, texto); }

void GravaErro(Modulo1& M, const std::string& rotina, const RuntimeError& erro,
               Connection* conexao) {
  Connection& c = conexao ? *conexao : M.Conexao;
  // A recorded commitment goes statement by statement instead, and meets the
  // error there.
  if (c.Gravando()) throw ForaDoBloco{};
  const std::string& d = erro.Description();
  // What the row says, on the operator's line: the message alone tells
  // nobody what to mend.
  Mensagem(Prioridade::kErro,
           rotina + ": erro " + std::to_string(erro.Number()) + ": " + d.substr(0, d.find('\n')));
  // The row is committed on its own: the rollback that usually follows must
  // not erase the only record of why the run failed.
  Connection::OwnTransaction tra(c);

  RecordSet numero;
  numero.Open("SELECT GEN_ID(NUMERRO,1) AS NUMERO FROM TB_GER_PARAMETROS", c);
  const int32_t sequencia = numero.Fields("NUMERO").ToLong();
  numero.Close();

  RecordSet rs;
  FechaRs(rs);
  rs.Open("SELECT * FROM TB_GER_ERRQUBO", c, adOpenDynamic, adLockOptimistic);
  rs.AddNew();
  rs.SetField("SEQUENCIA", sequencia);
  rs.SetField("DATA_HORA", DateTime::Now().DdMmYyyyHhMmSs());
  rs.SetField("NOME_DA_MAQUINA", M.NomeMaquina);
  rs.SetField("CODIGO_DO_USUARIO", M.CodUsuario);
  rs.SetField("Sistema", "VDA");
  rs.SetField("CODIGO_ROTINA", "C01");
  rs.SetField("NOME_ROTINA", "CANCELAMENTO DE EMPENHOS");
  rs.SetField("PROCEDIMENTO", rotina);
  rs.SetField("NUMERO_DA_LINHA", int32_t{0});
  rs.SetField("DESCRICAO_DO_ERRO",
              std::to_string(erro.Number()) + "-" + ValidoNaConexao(Primeiros(d, 230)));
  rs.SetField("CODIGO_SQL", ValidoNaConexao(Primeiros(M.Sql, 250)));
  rs.SetField("REFERENCIA_DLL", "0");
  rs.Update();
  rs.Close();
  tra.Commit();

  ++M.ErrosGravados;
  MsgBox(kMensagemErroSistema);
  // Errors that end the run whatever routine meets them say why on the
  // operator's line too: the error row alone is not read at 3 a.m.
  if (erro.EndsRun()) {
    Mensagem(Prioridade::kErro,
             d.substr(0, d.find('\n')) + "; a execucao foi desfeita e pode ser executada de novo");
  }
}

}  // namespace kz
