#pragma once
// kolvar-lote's report for people: one self-contained HTML page (no network,
// no external files) that reads on screen and prints whole.
#include <string>
#include <vector>

#include "tools/kolvar-lote/Lote.h"

namespace lote {

struct DadosDoRelatorio {
  std::string inicio;  // local date and time the bench started
  double segundos = 0;
  std::string pasta;   // folder of the console files
  std::string versao;  // kolvar-lote's
  bool aceitaNaoAplica = false;
  int sinal = 0;       // the signal that interrupted the bench, 0 when none
};

// The page: the run (date, machine, versions), one row per port with the
// pinpad's fields, the verdict in colour, the time taken and a bar of where
// that time went, then each port's console and display texts, folded.
// Port paths are the user's bytes (UTF-8; invalid sequences replaced); the
// pinpad's fields are Latin-1 and converted.
std::string Html(const std::vector<Porta>& portas, const DadosDoRelatorio& dados);

// Text made fit for HTML: `latin1` says the bytes are Latin-1 (converted to
// UTF-8) rather than UTF-8 (kept, with invalid sequences and control
// characters replaced by U+FFFD); &, <, > and " are escaped.
std::string TextoHtml(std::string_view s, bool latin1);

}  // namespace lote
