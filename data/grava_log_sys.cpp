#include "data/grava_log_sys.h"

#include "data/prepara_sql.h"

namespace kz {

void GravaLogSys(Modulo1& M, const Value& usuario, const std::string& sistema,
                 const std::string& operacao, const std::string& texto) {
  M.Sql = std::string(" INSERT INTO TB_GER_LOGSYS (UsuLog,SisLog,OpeLog,TabLog,DatLog,MaqLog) ") +
          " VALUES (?,?,?,?,?,?)";
  const std::string maquina = M.NomeMaquina.substr(0, 20);
  M.Sql = PreparaSql(M.Sql, {usuario, Value(sistema), Value(operacao), Value(texto),
                             Value(M.DataHoraSistema), Value(maquina)});
  M.Conexao.Execute(M.Sql);
}

}  // namespace kz
