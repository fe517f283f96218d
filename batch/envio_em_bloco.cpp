#include "batch/envio_em_bloco.h"

#include <set>

#include "batch/canc_epn.h"
#include "common/mensagem.h"
#include "common/runtime_error.h"
#include "reversal/estat_venda.h"
#include "reversal/grava_cartao.h"
#include "reversal/lanca_cmv.h"

namespace kz {
namespace {

// The reads of a block, in the order the routines make them, by their KZ_Q.
enum Consulta { kSoma = 1, kCusto = 2, kPagamentos = 3, kConvenio = 4 };
// KZ_Q of the row that closes one card agreement's read, and of the last row.
constexpr int kConvenioLido = 5;
constexpr int kFim = 0;
// A commitment code no run meets, standing for the block's variable while
// the queries are rendered.
constexpr int32_t kMarcador = 2147483646;

std::string Maiusculas(std::string texto) {
  for (char& ch : texto) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return texto;
}

// The query of kind `q` for the commitment (or agreement) `codigo`, as the
// routine that makes it renders it.
std::string Texto(int q, int32_t codigo) {
  switch (q) {
    case kSoma:
      return SqlSomaPorProduto(codigo);
    case kCusto:
      return SqlCustoDasMercadorias(codigo);
    case kPagamentos:
      return SqlPagamentos(codigo);
    default:
      return SqlConvenio(codigo);
  }
}

// `sql` with the one occurrence of the marker's digits replaced by `variavel`.
std::string Troca(const std::string& sql, const std::string& variavel) {
  const std::string marcador = std::to_string(kMarcador);
  const size_t at = sql.find(marcador);
  if (at == std::string::npos || sql.find(marcador, at + 1) != std::string::npos) {
    throw ForaDoBloco{};
  }
  return sql.substr(0, at) + variavel + sql.substr(at + marcador.size());
}

}  // namespace

bool EnvioEmBloco::Prepara(frmProcesso& F) {
  if (pronto_ || desligado_) return pronto_;
  std::vector<std::string> variaveis[5];
  try {
    for (int q = kSoma; q <= kConvenio; ++q) {
      const std::vector<Coluna> colunas = DescreveConsulta(F.M.Conexao, Texto(q, kMarcador));
      leituras_.grupos[q] = {leituras_.colunas.size(), colunas.size()};
      if (q == kConvenio) leituras_.grupos[kConvenioLido] = {0, 0};
      for (size_t k = 0; k < colunas.size(); ++k) {
        const std::string nome = "KZ_" + std::to_string(q) + "_" + std::to_string(k + 1);
        leituras_.colunas.push_back({nome, colunas[k].tipo});
        variaveis[q].push_back(nome);
        nomes_[q - 1].push_back(Maiusculas(colunas[k].nome));
      }
    }
    // The payment's kind and agreement, which say whose agreement to read.
    const auto coluna = [&](const char* nome) {
      for (size_t k = 0; k < nomes_[kPagamentos - 1].size(); ++k) {
        if (nomes_[kPagamentos - 1][k] == nome) return variaveis[kPagamentos][k];
      }
      throw ForaDoBloco{};
    };
    const std::string dup = coluna("DUPCPG"), cvn = coluna("CVNCPG");
    const auto para = [&](int q, const std::string& variavel) {
      std::string into;
      for (const std::string& v : variaveis[q]) into += (into.empty() ? ":" : ", :") + v;
      return "FOR " + Troca(Texto(q, kMarcador), variavel) + " INTO " + into + " DO";
    };
    leituras_.psql =
        "IF (KZ_PROXIMO IS NOT NULL) THEN\nBEGIN\nKZ_Q = " + std::to_string(kSoma) + ";\n" +
        para(kSoma, ":KZ_PROXIMO") + " SUSPEND;\nKZ_Q = " + std::to_string(kCusto) + ";\n" +
        para(kCusto, ":KZ_PROXIMO") + " SUSPEND;\nKZ_Q = " + std::to_string(kPagamentos) + ";\n" +
        para(kPagamentos, ":KZ_PROXIMO") + "\nBEGIN\nSUSPEND;\nIF (" + dup + " = 2 AND " + cvn +
        " IS NOT NULL) THEN\nBEGIN\nKZ_K = " + cvn + ";\nKZ_Q = " + std::to_string(kConvenio) +
        ";\n" + para(kConvenio, ":KZ_K") + " SUSPEND;\nKZ_Q = " + std::to_string(kConvenioLido) +
        ";\nSUSPEND;\nKZ_Q = " + std::to_string(kPagamentos) +
        ";\nEND\nEND\nKZ_Q = " + std::to_string(kFim) + ";\nSUSPEND;\nEND\n";
  } catch (const ForaDoBloco&) {
    desligado_ = true;
  } catch (const RuntimeError& e) {
    if (e.Kind() == ErrorKind::kConnectionLost) throw;
    desligado_ = true;
  }
  if (desligado_) {
    Mensagem(Prioridade::kAviso,
             "KZ_ENVIO=bloco desativado: as consultas de um empenho nao cabem num bloco; os "
             "comandos seguem um a um");
    return false;
  }
  pronto_ = true;
  return true;
}

void EnvioEmBloco::Guarda(const ResultadoDoBloco& r, std::optional<int32_t> para) {
  antecipado_.clear();
  antecipado_para_.reset();
  if (!para || r.leitura_incompleta) return;
  for (int q = kSoma; q <= kPagamentos; ++q) antecipado_[Texto(q, *para)].nomes = nomes_[q - 1];
  std::set<int64_t> lidos;  // agreements read whole; a second read of one gives the same rows
  bool completo = false;
  for (const LinhaLida& l : r.linhas) {
    if (l.q >= kSoma && l.q <= kPagamentos) {
      antecipado_[Texto(l.q, *para)].linhas.push_back(l.valores);
    } else if (l.q == kConvenio || l.q == kConvenioLido) {
      if (l.k < INT32_MIN || l.k > INT32_MAX || lidos.count(l.k)) continue;
      Linhas& convenio = antecipado_[Texto(kConvenio, static_cast<int32_t>(l.k))];
      convenio.nomes = nomes_[kConvenio - 1];
      if (l.q == kConvenio) convenio.linhas.push_back(l.valores);
      if (l.q == kConvenioLido) lidos.insert(l.k);
    } else if (l.q == kFim) {
      completo = true;
    }
  }
  if (completo) {
    antecipado_para_ = para;
  } else {
    antecipado_.clear();
  }
}

bool EnvioEmBloco::CancEpn(frmProcesso& F, int32_t codigo, std::optional<int32_t> proximo) {
  if (!Prepara(F)) return false;
  Modulo1& M = F.M;
  // A block that fails is undone whole by the server; its error decides
  // nothing here: the statement by statement run meets it, or not, where it
  // belongs. Only what ends the run goes on.
  const auto envia = [&](const std::vector<Escrita>& escritas, std::optional<int32_t> para) {
    try {
      Guarda(ExecutaBloco(M.Conexao, escritas, leituras_, para), para);
      return true;
    } catch (const ForaDoBloco&) {
    } catch (const RuntimeError& e) {
      if (e.Kind() == ErrorKind::kConnectionLost) throw;
    }
    antecipado_.clear();
    antecipado_para_.reset();
    return false;
  };
  // Nobody read ahead for this commitment (the first, or one after a
  // failure): a block of reads alone.
  if (antecipado_para_ != codigo && (!envia({}, codigo) || antecipado_para_ != codigo)) {
    return false;
  }

  // What the recording changes of the run, put back when the commitment goes
  // statement by statement after all.
  const std::string sql = M.Sql;
  const int16_t ponto = M.PontoRetorno;
  const int64_t novos = M.LancamentosNovos;
  const int32_t cod_epn = F.CodEpn;
  const Value cli_epn = F.CliEpn;
  const std::string titulo = F.CodTitulo;
  const auto restaura = [&] {
    M.Sql = sql;
    M.PontoRetorno = ponto;
    M.LancamentosNovos = novos;
    F.CodEpn = cod_epn;
    F.CliEpn = cli_epn;
    F.CodTitulo = titulo;
    return false;
  };
  std::vector<Escrita> escritas;
  try {
    Connection::Grava grava(M.Conexao, &antecipado_);
    kz::CancEpn(F, codigo);
    escritas = std::move(grava.Gravado().escritas);
  } catch (const ForaDoBloco&) {
    return restaura();
  }
  return envia(escritas, proximo) || restaura();
}

}  // namespace kz
