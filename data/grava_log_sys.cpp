#include "data/grava_log_sys.h"

#include "common/caracteres.h"
#include "data/prepara_sql.h"

namespace kz {

void GravaLogSys(Modulo1& M, const Value& usuario, const std::string& sistema,
                 const std::string& operacao, const std::string& texto) {
  M.Sql = std::string(" INSERT INTO TB_GER_LOGSYS (UsuLog,SisLog,OpeLog,TabLog,DatLog,MaqLog) ") +
          " VALUES (?,?,?,?,?,?)";
  const std::string maquina = Primeiros(M.NomeMaquina, 20);
  // The texts go in as written: a name or a cheque number in the log text
  // must not be read as a date, a number or Null on the way.
  M.Sql = PreparaSql(
      M.Sql, {usuario, Value::Verbatim(sistema), Value::Verbatim(operacao), Value::Verbatim(texto),
              Value::Verbatim(M.DataHoraSistema), Value::Verbatim(maquina)});
  M.Conexao.Execute(M.Sql);
}

}  // namespace kz
