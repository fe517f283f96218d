#include "data/bloco.h"

#include <ibase.h>

#include <cstring>

#include "common/caracteres.h"
#include "data/connection.h"
#include "data/fb_session.h"
#include "data/record_set.h"
#include "data/sql_trace.h"
#include "data/value_codec.h"

using namespace Firebird;

namespace kz {
namespace {

// A block past these sizes is not sent: the commitment goes statement by
// statement (the server takes 64 KB of text and of parameters).
constexpr size_t kMaxTexto = 60000;
constexpr size_t kMaxMensagem = 60000;
// Prepared blocks kept per connection; past it the one used longest ago goes.
// Each holds the compiled statements of a commitment (about 1.5 MB in the
// embedded engine: 40 take about 60 MB), and a run meets a few dozen shapes.
constexpr size_t kMaxFormas = 40;

bool Letra(char ch) {
  return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || ch == '_' || ch == '$';
}
bool Digito(char ch) { return ch >= '0' && ch <= '9'; }

// Text parameters are declared in lengths of powers of two, so that texts of
// about the same length share one prepared block.
size_t Faixa(size_t caracteres) {
  size_t n = 32;
  while (n < caracteres) n *= 2;
  return n > 32765 ? 32765 : n;
}

}  // namespace

std::optional<std::string> Parametriza(const std::string& sql, const std::string& charset,
                                       std::vector<Parametro>& parametros) {
  std::string out;
  out.reserve(sql.size());
  const size_t n = sql.size();
  const auto novo = [&](std::string declaracao, std::string valor) {
    parametros.push_back({std::move(declaracao), std::move(valor)});
    out += ":P" + std::to_string(parametros.size());
  };
  for (size_t i = 0; i < n;) {
    const char ch = sql[i];
    if (ch == '\'') {
      // A text literal, quotes doubled inside: the same text as a VARCHAR of
      // the connection's character set (the literal's own).
      std::string valor;
      size_t j = i + 1;
      for (;; ++j) {
        if (j >= n) return std::nullopt;  // unterminated: not ours to judge
        if (sql[j] == '\'') {
          if (j + 1 < n && sql[j + 1] == '\'') {
            valor += '\'';
            ++j;
            continue;
          }
          break;
        }
        valor += sql[j];
      }
      const size_t caracteres = Caracteres(valor);
      if (caracteres > 32765) return std::nullopt;
      std::string declaracao =
          "VARCHAR(" + std::to_string(Faixa(caracteres)) + ") CHARACTER SET " + charset;
      novo(std::move(declaracao), std::move(valor));
      i = j + 1;
    } else if (Letra(ch)) {
      size_t j = i;
      while (j < n && (Letra(sql[j]) || Digito(sql[j]))) ++j;
      out.append(sql, i, j - i);
      i = j;
    } else if (ch == '"') {
      const size_t j = sql.find('"', i + 1);
      if (j == std::string::npos) return std::nullopt;
      out.append(sql, i, j + 1 - i);
      i = j + 1;
    } else if (Digito(ch) || (ch == '.' && i + 1 < n && Digito(sql[i + 1]))) {
      // An exact number: BIGINT, or NUMERIC(18, its decimals).
      size_t j = i;
      std::string digitos;
      int escala = -1;
      for (; j < n && (Digito(sql[j]) || (sql[j] == '.' && escala < 0)); ++j) {
        if (sql[j] == '.') {
          escala = 0;
        } else {
          digitos += sql[j];
          if (escala >= 0) ++escala;
        }
      }
      if (j < n && (sql[j] == 'e' || sql[j] == 'E' || Letra(sql[j]))) return std::nullopt;
      const size_t inicio = digitos.find_first_not_of('0');
      const size_t significativos = inicio == std::string::npos ? 0 : digitos.size() - inicio;
      if (significativos > 18 || escala > 18) return std::nullopt;
      if (escala < 0) {
        novo("BIGINT", digitos);
      } else {
        novo("NUMERIC(18," + std::to_string(escala) + ")", digitos);
      }
      i = j;
    } else if (ch == '-' && i + 1 < n && sql[i + 1] == '-') {
      return std::nullopt;  // a comment: never sent by the batch
    } else {
      out += ch;
      ++i;
    }
  }
  return out;
}

std::vector<Coluna> DescreveConsulta(Connection& c, const std::string& sql) {
  FbSession& s = c.Session();
  // The bytes a character takes in each character set, by its number.
  std::map<int, std::pair<std::string, int>> conjuntos;
  {
    RecordSet rs;
    rs.Open(
        "SELECT RDB$CHARACTER_SET_ID, TRIM(RDB$CHARACTER_SET_NAME), RDB$BYTES_PER_CHARACTER "
        "FROM RDB$CHARACTER_SETS",
        c);
    for (; !rs.Eof(); rs.MoveNext()) {
      conjuntos[rs.FieldAt(0).ToLong()] = {rs.FieldAt(1).ToText(), rs.FieldAt(2).ToLong()};
    }
  }
  FbStatus st;
  IStatement* stmt = nullptr;
  IMessageMetadata* meta = nullptr;
  std::vector<Coluna> out;
  ITransaction* tra = s.Current();
  const bool propria = tra == nullptr;
  try {
    if (propria) tra = s.Start(ModoTransacao::kLeitura);
    stmt = s.att->prepare(&st, tra, static_cast<unsigned>(sql.size()), sql.data(), SQL_DIALECT_V6,
                          IStatement::PREPARE_PREFETCH_METADATA);
    meta = stmt->getOutputMetadata(&st);
    const std::vector<ColumnLayout> layout = ReadLayout(meta);
    for (const ColumnLayout& col : layout) {
      const auto numerico = [&](const char* inteiro, int precisao) {
        return col.scale == 0
                   ? std::string(inteiro)
                   : "NUMERIC(" + std::to_string(precisao) + "," + std::to_string(-col.scale) + ")";
      };
      std::string tipo;
      switch (col.type) {
        case SQL_SHORT:
          tipo = numerico("SMALLINT", 4);
          break;
        case SQL_LONG:
          tipo = numerico("INTEGER", 9);
          break;
        case SQL_INT64:
          tipo = numerico("BIGINT", 18);
          break;
        case SQL_FLOAT:
          tipo = "FLOAT";
          break;
        case SQL_DOUBLE:
          tipo = "DOUBLE PRECISION";
          break;
        case SQL_TYPE_DATE:
          tipo = "DATE";
          break;
        case SQL_TYPE_TIME:
          tipo = "TIME";
          break;
        case SQL_TIMESTAMP:
          tipo = "TIMESTAMP";
          break;
        case SQL_BOOLEAN:
          tipo = "BOOLEAN";
          break;
        case SQL_TEXT:
        case SQL_VARYING: {
          const auto it = conjuntos.find(static_cast<int>(col.charset & 0xFF));
          if (it == conjuntos.end() || it->second.second <= 0) throw ForaDoBloco{};
          tipo = std::string(col.type == SQL_TEXT ? "CHAR(" : "VARCHAR(") +
                 std::to_string(col.length / static_cast<unsigned>(it->second.second)) +
                 ") CHARACTER SET " + it->second.first;
          break;
        }
        default:
          throw ForaDoBloco{};
      }
      out.push_back({col.alias, tipo});
    }
    meta->release();
    meta = nullptr;
    stmt->free(&st);
    stmt = nullptr;
    if (propria) tra->commit(&st);
  } catch (const FbException& e) {
    if (meta) meta->release();
    ReleaseQuietly(stmt);
    if (propria) ReleaseQuietly(tra);
    s.Fail(e);
  } catch (...) {
    if (meta) meta->release();
    ReleaseQuietly(stmt);
    if (propria) ReleaseQuietly(tra);
    throw;
  }
  return out;
}

namespace {

// The block's text for these writes and reads, and its parameters' values.
struct Forma {
  std::string texto;
  std::vector<Parametro> parametros;
};

std::optional<Forma> MontaForma(const std::vector<Escrita>& escritas,
                                const LeiturasDoBloco& leituras, const std::string& charset) {
  Forma f;
  std::string corpo;
  for (const Escrita& e : escritas) {
    const std::optional<std::string> sql = Parametriza(e.sql, charset, f.parametros);
    if (!sql) return std::nullopt;
    switch (e.tipo) {
      case Escrita::Tipo::kComando:
        corpo += *sql + ";\n";
        break;
      case Escrita::Tipo::kAtualizaSenaoInsere: {
        const std::optional<std::string> insercao = Parametriza(e.insercao, charset, f.parametros);
        if (!insercao) return std::nullopt;
        corpo += *sql + ";\nIF (ROW_COUNT = 0) THEN " + *insercao + ";\n";
        break;
      }
      case Escrita::Tipo::kExigeLinha: {
        // The query's first row, as a record set's first row: none, or a
        // value that is no whole number, fails the block, and the statement
        // by statement run meets the same error where it belongs.
        const size_t select = sql->find_first_not_of(' ');
        if (select == std::string::npos) return std::nullopt;
        corpo += "KZ_N = NULL;\n" + sql->substr(0, select + 6) + " FIRST 1" +
                 sql->substr(select + 6) +
                 " INTO :KZ_N;\nIF (ROW_COUNT = 0 OR KZ_N IS NULL) THEN KZ_N = CAST('sem linha' "
                 "AS INTEGER);\n";
        break;
      }
    }
  }
  f.texto = "EXECUTE BLOCK (KZ_PROXIMO INTEGER = ?";
  for (size_t i = 0; i < f.parametros.size(); ++i) {
    f.texto += ", P" + std::to_string(i + 1) + " " + f.parametros[i].declaracao + " = ?";
  }
  f.texto += ")\nRETURNS (KZ_Q SMALLINT, KZ_K BIGINT";
  for (const Coluna& c : leituras.colunas) f.texto += ", " + c.nome + " " + c.tipo;
  f.texto += ")\nAS\nDECLARE KZ_N INTEGER;\nBEGIN\n" + corpo + "KZ_Q = -1;\nSUSPEND;\n" +
             leituras.psql + "END";
  if (f.texto.size() > kMaxTexto) return std::nullopt;
  return f;
}

// `valor` as parameter `i` of `msg` (VARCHAR text, BIGINT or NUMERIC digits).
void Grava(IMessageMetadata* meta, unsigned i, const std::string& valor,
           std::vector<unsigned char>& msg) {
  FbStatus st;
  unsigned char* p = msg.data() + meta->getOffset(&st, i);
  *reinterpret_cast<short*>(msg.data() + meta->getNullOffset(&st, i)) = 0;
  if ((meta->getType(&st, i) & ~1u) == SQL_VARYING) {
    if (valor.size() > meta->getLength(&st, i)) throw ForaDoBloco{};
    const auto n = static_cast<uint16_t>(valor.size());
    std::memcpy(p, &n, sizeof n);
    std::memcpy(p + 2, valor.data(), valor.size());
    return;
  }
  int64_t v = 0;
  for (char ch : valor) v = v * 10 + (ch - '0');
  std::memcpy(p, &v, sizeof v);
}

}  // namespace

ResultadoDoBloco ExecutaBloco(Connection& c, const std::vector<Escrita>& escritas,
                              const LeiturasDoBloco& leituras, std::optional<int32_t> proximo) {
  FbSession& s = c.Session();
  const std::optional<Forma> forma = MontaForma(escritas, leituras, s.charset);
  if (!forma) throw ForaDoBloco{};
  TraceSql(SqlKind::kBlock, forma->texto);
  ITransaction* tra = s.Current();
  if (!tra) throw ForaDoBloco{};
  const ComandoEmCurso comando(s, forma->texto);
  FbStatus st;
  IMessageMetadata* entrada = nullptr;
  IMessageMetadata* saida = nullptr;
  IResultSet* rs = nullptr;
  ResultadoDoBloco r;
  bool escritas_feitas = false;
  try {
    if (s.blocos.size() >= kMaxFormas && !s.blocos.count(forma->texto)) s.LiberaBloco();
    FbSession::Preparado& preparado = s.blocos[forma->texto];
    preparado.uso = ++s.usos;
    IStatement*& stmt = preparado.stmt;
    if (!stmt) {
      stmt =
          s.att->prepare(&st, tra, static_cast<unsigned>(forma->texto.size()), forma->texto.data(),
                         SQL_DIALECT_V6, IStatement::PREPARE_PREFETCH_METADATA);
    }
    entrada = stmt->getInputMetadata(&st);
    saida = stmt->getOutputMetadata(&st);
    if (entrada->getMessageLength(&st) > kMaxMensagem) {
      entrada->release();
      saida->release();
      throw ForaDoBloco{};
    }
    std::vector<unsigned char> msg(entrada->getMessageLength(&st), 0);
    if (proximo) {
      std::memcpy(msg.data() + entrada->getOffset(&st, 0), &*proximo, sizeof *proximo);
    } else {
      *reinterpret_cast<short*>(msg.data() + entrada->getNullOffset(&st, 0)) = -1;
    }
    for (size_t i = 0; i < forma->parametros.size(); ++i) {
      Grava(entrada, static_cast<unsigned>(i + 1), forma->parametros[i].valor, msg);
    }
    const std::vector<ColumnLayout> layout = ReadLayout(saida);
    std::vector<unsigned char> buf(saida->getMessageLength(&st), 0);
    rs = stmt->openCursor(&st, tra, entrada, msg.data(), saida, 0);
    while (rs->fetchNext(&st, buf.data()) == IStatus::RESULT_OK) {
      LinhaLida linha;
      linha.q = DecodeColumn(layout[0], buf.data()).ToInteger();
      if (linha.q == -1) {
        escritas_feitas = true;
        continue;
      }
      const Value k = DecodeColumn(layout[1], buf.data());
      linha.k = k.IsNull() ? 0 : static_cast<int64_t>(k.ToDouble());
      if (const auto g = leituras.grupos.find(linha.q); g != leituras.grupos.end()) {
        for (size_t i = 0; i < g->second.second; ++i) {
          linha.valores.push_back(DecodeColumn(layout[2 + g->second.first + i], buf.data()));
        }
      }
      r.linhas.push_back(std::move(linha));
    }
    rs->close(&st);
    rs = nullptr;
    entrada->release();
    saida->release();
  } catch (const FbException& e) {
    ReleaseQuietly(rs);
    if (entrada) entrada->release();
    if (saida) saida->release();
    if (!escritas_feitas) comando.Fail(e);
    // The writes are in; only the reads for the next commitment failed.
    r.leitura_incompleta = true;
  }
  return r;
}

}  // namespace kz
