#pragma once

#include <string_view>

namespace kz {

// How much an operator line matters; under systemd it becomes the journal's
// priority.
enum class Prioridade { kErro = 3, kAviso = 4, kInfo = 6 };

// One operator line on standard error: "Cancelamento de Empenhos: <texto>".
// It is written with one call, so lines of two threads never mix. When
// standard error is the journal (JOURNAL_STREAM names it), the line starts
// with the priority prefix "<n>". Never fails, never waits for input.
void Mensagem(Prioridade prioridade, std::string_view texto);

// Writes raw text to standard error (a terminal's progress line); errors are
// ignored.
void EscreveErroPadrao(std::string_view texto);

}  // namespace kz
