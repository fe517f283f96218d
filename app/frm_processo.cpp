#include "app/frm_processo.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "app/escolhe_conexao.h"
#include "app/settings.h"
#include "batch/previa.h"
#include "batch/processa.h"
#include "common/mensagem.h"
#include "data/connection_text.h"
#include "data/grava_erro.h"
#include "data/record_set.h"
#include "data/vigia.h"
#include "ledger/retorno_em_lote.h"

namespace kz {
namespace {

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// SQLCODE of a missing privilege.
constexpr int32_t kSemPermissao = -551;
// SQLCODE of a read-only database.
constexpr int32_t kSomenteLeitura = -817;
// The role of grants.sql.
constexpr const char* kPapel = "KZ_CANCELA_EMPENHOS";

// The first read of the run refused: the login holds no role that grants
// what the run needs (none named, not granted, or misspelt). Says so, with
// the login and role the server sees.
[[noreturn]] void SemPapel(Modulo1& M, const RuntimeError& e) {
  std::string login = "?", papel = "?";
  try {
    RecordSet quem;
    quem.Open("SELECT CURRENT_USER, CURRENT_ROLE FROM RDB$DATABASE", M.Conexao);
    login = Trim(quem.FieldAt(0).ToText());
    papel = Trim(quem.FieldAt(1).ToText());
  } catch (const RuntimeError&) {
  }
  throw RuntimeError(
      e.Number(),
      "o login " + login + " nao tem um papel que conceda o que a execucao precisa (esperado: " +
          (M.Opcoes.role.empty() ? std::string(kPapel) : M.Opcoes.role) + ", em uso: " + papel +
          "); conceda o papel ao login (grants.sql) e nomeie-o com ROLE= na linha 2 de "
          "default.txt\n-" +
          e.Description());
}

}  // namespace

std::string NomeDaMaquina() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

void CarregaContexto(frmProcesso& F) {
  Modulo1& M = F.M;
  const auto dir = SettingsDirectory();

  DefaultSettings d = ReadDefault(dir);
  F.StrConexao = d.StrConexao;
  F.UsuarioBD = d.UsuarioBD;
  F.SenhaBD = d.SenhaBD;

  F.Linha.clear();
  F.Linha = ReadRunLine(dir);
  const RunSettings r = ConvertRunLine(F.Linha);
  F.DataCanc = r.DataCanc;
  F.StaEpnCanc = r.StaEpnCanc;
  F.EpnDe = r.EpnDe;
  F.EpnAte = r.EpnAte;
  M.CodUsuario = r.CodUsuario;

  // How the run waits. Unset, it waits as long as it takes, as it always did.
  M.Opcoes.lock_timeout_s = SegundosDoAmbiente("KZ_LOCK_TIMEOUT");
  M.Opcoes.connect_timeout_s = SegundosDoAmbiente("KZ_CONNECT_TIMEOUT");
  M.Opcoes.commit_timeout_s = SegundosDoAmbiente("KZ_COMMIT_TIMEOUT");
  if (M.Opcoes.commit_timeout_s == 0) M.Opcoes.commit_timeout_s = kEsperaPeloCommit;
  // The SQL role and the character set are items of the settings line as
  // written: the short forms keep only the location, user and password of it.
  const ConnectionTarget escrito = ParseConnectionText(F.StrConexao);
  M.Opcoes.role = escrito.role;
  M.Opcoes.charset = escrito.charset;
  // So that a database administrator finds the run in MON$ATTACHMENTS.
  M.Opcoes.processo = "cancela-empenhos";

  const std::string antes = F.StrConexao;
  EscolheConexao(F.StrConexao, F.UsuarioBD, F.SenhaBD);
  // A short form puts the user and password of lines 3 and 4 into the text,
  // where a ";" in them would end the item: they go to the client library
  // as they are instead.
  if (F.StrConexao != antes) M.Opcoes.login = OpcoesConexao::Login{F.UsuarioBD, F.SenhaBD};
  M.Conexao.Open(F.StrConexao, M.Opcoes);
  // A connection made again (a lost commit's check) takes the same one.
  M.Opcoes.charset = M.Conexao.Charset();

  FechaRs(F.RsAux);
  F.RsAux.Open("SELECT CURRENT_TIMESTAMP AS DATASIS FROM RDB$DATABASE", M.Conexao);
  M.DataHoraSistema = F.RsAux.Fields("DataSis").ToDate().MmDdYyyyHhMmSs();

  FechaRs(F.RsPar);
  try {
    F.RsPar.Open("SELECT * FROM TB_GER_PARAMETROS", M.Conexao);
  } catch (const RuntimeError& e) {
    if (e.Number() != kSemPermissao) throw;
    SemPapel(M, e);
  }
  const RecordSet& p = F.RsPar;
  M.EmpCtg = p.Fields("EmpCtg").ToLong();
  F.CtaCli = p.Fields("CtaCli").ToText();
  F.CtaVdaPrz = Trim(p.Fields("CtaVdaPrz").ToText());
  F.CtaVdaVis = Trim(p.Fields("CtaVdaVis").ToText());
  F.CtaVdaCar = Trim(p.Fields("CtaVdaCar").ToText());
  F.CtaCxaMat = Trim(p.Fields("CtaCxaMat").ToText());
  F.CtaCxaFil = Trim(p.Fields("CtaCxaFil").ToText());
  F.CtaDscCli = Trim(p.Fields("CtaDscCli").ToText());
  F.LocCxaMat = Value(Trim(p.Fields("LocCxaMat").ToText())).ToLong();
  F.LocCxaFil = Value(Trim(p.Fields("LocCxaFil").ToText())).ToLong();
  F.CtaCtoVda = Trim(p.Fields("CtaCtoVda").ToText());
  F.CtaEstBai = Trim(p.Fields("CtaEstBai").ToText());
  F.Mora = static_cast<float>(p.Fields("Mora").ToDouble());

  const char* envio = std::getenv("KZ_ENVIO");
  M.EnvioEmBloco = envio && std::string(envio) == "bloco";
  const char* retorno = std::getenv("KZ_RETORNO");
  M.RetornoEmLote =
      retorno && std::string(retorno) == "lote" && AdmiteRetornoEmLote(M, F.StaEpnCanc);
}

int Form_Load(frmProcesso& F) {
  try {
    CarregaContexto(F);
    // Every statement of the run would fail after the report was begun.
    if (F.M.Conexao.SomenteLeitura()) {
      Raise(kSomenteLeitura,
            "o banco de dados esta somente para leitura (gfix -mode read_only); "
            "nada foi feito");
    }
  } catch (const RuntimeError& e) {
    Mensagem(Prioridade::kErro, "Erro " + std::to_string(e.Number()) + ": " + e.Description());
    F.M.Conexao.Close();
    return kExitStartupFailed;
  } catch (const Interrompido&) {
    // Stopped while reading the run context: nothing was changed.
    F.M.Conexao.Close();
    return kExitRolledBack;
  }
  const ResultadoDoLote r = Processa(F);
  switch (r.fim) {
    case FimDoLote::Confirmado:
      if (!r.relatorio_gravado) return kExitCommittedNoReport;
      return F.M.ErrosGravados > 0 ? kExitCommittedWithErrors : kExitCommitted;
    case FimDoLote::Recusado:
      return kExitRefused;
    case FimDoLote::Desfeito:
      return kExitRolledBack;
    case FimDoLote::Incerto:
      return kExitUnknown;
    case FimDoLote::SemInicio:
      return kExitStartupFailed;
  }
  return kExitRolledBack;
}

}  // namespace kz

namespace kz {

int Verifica(frmProcesso& F) {
  try {
    CarregaContexto(F);
    return Previa(F) == FimDaPrevia::kSeguiria ? kExitCommitted : kExitRefused;
  } catch (const RuntimeError& e) {
    Mensagem(Prioridade::kErro, "Erro " + std::to_string(e.Number()) + ": " + e.Description());
  } catch (const Interrompido&) {
  }
  F.M.Conexao.Close();
  return kExitStartupFailed;
}

}  // namespace kz
