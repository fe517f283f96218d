// cancela-empenhos: cancels, in one transaction, every sales commitment of
// the status named in the settings. With no arguments it runs the batch;
// --help, --version and --check are its only options (any other argument is
// ignored).
#include <signal.h>

#include <cstdio>
#include <exception>
#include <string_view>

#include "app/core_dumps.h"
#include "app/frm_processo.h"
#include "app/versao.h"
#include "batch/previa.h"
#include "common/mensagem.h"
#include "data/vigia.h"

namespace {

constexpr const char* kAjuda =
    "Uso: cancela-empenhos [--check | --help | --version]\n"
    "\n"
    "Cancela, numa unica transacao, todos os empenhos (TB_VDA_CADEPN) do status\n"
    "indicado em Tarvelinko.txt e desfaz o que cada venda causou. Sem argumentos\n"
    "executa o lote; outros argumentos sao ignorados.\n"
    "\n"
    "  --check    previa somente leitura: conecta, conta o que a execucao faria e\n"
    "             nao grava nada (nem o relatorio). Saida 0 seguiria, 2 recusada,\n"
    "             4 falha na partida.\n"
    "  --help     esta ajuda\n"
    "  --version  a versao\n"
    "\n"
    "Configuracao: $KZ_QUBO_DIR (padrao /etc/kz-qubo/) com default.txt e\n"
    "Tarvelinko.txt. Ambiente: KZ_LOCK_TIMEOUT, KZ_CONNECT_TIMEOUT,\n"
    "KZ_COMMIT_TIMEOUT, KZ_BATIMENTO (segundos), KZ_RETORNO=lote,\n"
    "KZ_ENVIO=bloco (um bloco por empenho), KZ_SQL_TRACE=<arquivo>.\n"
    "Relatorio: \"Resultado do Cancelamento.txt\" no diretorio atual.\n"
    "\n"
    "Saida: 0 confirmado; 1 confirmado com erros contabeis gravados; 2 recusado;\n"
    "3 desfeito (tambem apos SIGTERM/SIGINT/SIGHUP), pode ser executado de novo;\n"
    "4 falha na partida, nada alterado; 5 confirmado, mas o relatorio nao foi\n"
    "gravado; 6 resultado desconhecido: a resposta do commit se perdeu.\n"
    "Veja cancela-empenhos(8).\n";

bool Tem(int argc, char** argv, std::string_view opcao) {
  for (int a = 1; a < argc; ++a) {
    if (argv[a] == opcao) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // The process holds the database password: no core file may keep it.
  kz::DisableCoreDumps();
  if (Tem(argc, argv, "--help")) {
    std::fputs(kAjuda, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (Tem(argc, argv, "--version")) {
    std::printf("cancela-empenhos %s\n", kz::kVersao);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  // A closed standard error must not kill a run that has committed.
  ::signal(SIGPIPE, SIG_IGN);
  // Past a file size limit a write must fail (the report says so), not kill
  // the process.
  ::signal(SIGXFSZ, SIG_IGN);
  kz::vigia::Inicia();
  int status = kz::kExitRolledBack;
  {
    kz::Modulo1 M;
    M.NomeMaquina = kz::NomeDaMaquina();
    kz::frmProcesso F(M);
    try {
      status = Tem(argc, argv, "--check") ? kz::Verifica(F) : kz::Form_Load(F);
    } catch (const std::exception& e) {
      // Unwinding closes the connection, which rolls back what was not
      // committed.
      kz::Mensagem(kz::Prioridade::kErro, e.what());
    }
  }
  kz::vigia::Termina();
  return status;
}
