#pragma once

#include <cstdint>
#include <string>

#include "common/date_time.h"
#include "common/value.h"
#include "data/connection.h"
#include "data/record_set.h"

namespace kz {

// Module-level values of a run: the connection, the statement buffer, the
// step marker and what start-up read that every routine may use.
struct Modulo1 {
  Connection Conexao;
  OpcoesConexao Opcoes;  // how Conexao waits, and its role; taken again to verify a lost commit
  int32_t EmpCtg = 0;
  int32_t CodUsuario = 0;
  std::string DataHoraSistema;  // server clock at start-up, "mm/dd/yyyy hh:mm:ss"
  std::string Sql;              // the statement last prepared
  int16_t PontoRetorno = 0;     // the step a deadlock retry goes back to
  std::string NomeMaquina;      // this machine's host name, whole
  int ErrosGravados = 0;        // error rows recorded in this run
  // KZ_RETORNO=lote, read at start-up: new entries leave their RetornoLanca
  // row in place and the run empties the queue of its mark once, at the end.
  bool RetornoEmLote = false;
  int64_t LancamentosNovos = 0;  // new entries inserted, counted in that mode
  // KZ_ENVIO=bloco, read at start-up: each commitment's statements go to the
  // server as one block (batch/envio_em_bloco.h).
  bool EnvioEmBloco = false;
};

// Window-level values: what start-up read for the run, the record sets of the
// batch and the commitment being cancelled.
struct frmProcesso {
  explicit frmProcesso(Modulo1& modulo) : M(modulo) {}
  frmProcesso(const frmProcesso&) = delete;
  frmProcesso& operator=(const frmProcesso&) = delete;

  Modulo1& M;

  // Settings line.
  DateTime DataCanc;
  int32_t StaEpnCanc = 0;
  int32_t EpnDe = 0;
  int32_t EpnAte = 0;
  // Connection values.
  std::string StrConexao;
  std::string UsuarioBD;
  std::string SenhaBD;
  std::string Linha;
  // Parameters row.
  std::string CtaCtoVda;
  std::string CtaEstBai;
  std::string CtaCli;
  std::string CtaVdaPrz;
  std::string CtaVdaVis;
  std::string CtaVdaCar;
  std::string CtaCxaMat;
  std::string CtaCxaFil;
  std::string CtaDscCli;
  int32_t LocCxaMat = 0;
  int32_t LocCxaFil = 0;
  float Mora = 0;

  // Record sets of the batch; destroyed before the connection they use.
  RecordSet RsEpn;
  RecordSet RsPag;
  RecordSet RsConv;
  RecordSet RsEstat;
  RecordSet RsPar;
  RecordSet RsAux;

  // The commitment being cancelled.
  int32_t CodEpn = 0;
  Value CliEpn;
  std::string CodTitulo;  // document code of the receivable being reversed
};

}  // namespace kz
