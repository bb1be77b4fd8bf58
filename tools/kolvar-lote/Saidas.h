#pragma once
// kolvar-lote's records (--json, --junit, --html): each file is opened before
// the first port starts, so that a path that cannot be written is refused
// before any pinpad is touched, and written whole at the end. A write that
// fails then is reported: nothing is said to be saved that was not.
#include <string>

namespace lote {

struct Saida {
  std::string caminho;  // empty: the record was not asked for
  int fd = -1;
};

// Opens (creating it when missing, without emptying it yet) the file of a
// record. Returns false with errno set when it cannot be opened for writing.
bool AbreSaida(Saida& s);

// Replaces the file's content with `texto` and closes it. Returns false with
// errno set when any byte did not reach the file (a full disk, /dev/full).
bool GravaSaida(Saida& s, const std::string& texto);

}  // namespace lote
