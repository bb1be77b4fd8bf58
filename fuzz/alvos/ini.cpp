// INI files: the content of the file, and the section, key and value a caller
// reads or writes, with read buffers of the caller's size.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <fstream>

#include "fuzz/ApoioFuzz.h"
#include "support/ArquivoIni.h"

using fuzz::AteNul;
using fuzz::BufferSujo;
using fuzz::Leitor;

namespace {

// A text argument from the input: null, or the bytes up to the first NUL.
const char* Arg(const std::string& s, bool nulo) { return nulo ? nullptr : s.c_str(); }

// What the reader makes of a value: tabs dropped, blanks trimmed.
std::string ComoLido(std::string v) {
  v.erase(std::remove(v.begin(), v.end(), '\t'), v.end());
  const size_t i = v.find_first_not_of(' ');
  if (i == std::string::npos) return "";
  const size_t f = v.find_last_not_of(' ');
  return v.substr(i, f - i + 1);
}

void Le(const char* secao, const char* chave, const char* padrao, uint16_t cap, const char* arq) {
  BufferSujo b(cap);
  const int r = IniLeTexto(secao, chave, padrao, b.p(), cap, arq);
  FUZZ_EXIGE(r >= 0);
  if (cap > 0) {
    FUZZ_EXIGE(r < cap);
    FUZZ_EXIGE(b.Terminado());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho) {
  Leitor l(dados, tamanho);
  const uint8_t modo = l.Byte();
  const uint16_t cap = static_cast<uint16_t>(l.Byte() * 3);
  const std::string secao = AteNul(l.Pedaco());
  const std::string chave = AteNul(l.Pedaco());
  const std::string valor = AteNul(l.Pedaco());
  const std::string conteudo = l.Resto();

  const std::string arq = fuzz::PastaTrabalho() + "/f.ini";
  if (modo & 0x80) {
    unlink(arq.c_str());
  } else {
    std::ofstream(arq, std::ios::binary | std::ios::trunc) << conteudo;
  }
  const char* s = Arg(secao, modo & 1);
  const char* c = Arg(chave, modo & 2);
  const char* v = Arg(valor, modo & 4);

  Le(s, c, v, cap, arq.c_str());
  Le(s, nullptr, "", cap, arq.c_str());
  Le(nullptr, nullptr, nullptr, cap, arq.c_str());
  (void)IniLeInteiro(s, c, -7, arq.c_str());
  (void)IniExiste(arq.c_str());

  if (modo & 8) {
    const int r = IniGravaTexto(s, c, v, arq.c_str());
    FUZZ_EXIGE(r == 0 || r == 1);
    struct stat st{};
    if (stat(arq.c_str(), &st) == 0 && r == 1) FUZZ_EXIGE(st.st_size <= INI_TAM_ARQUIVO);
    // What a write sets is what the next read returns.
    // (An empty value does not create a missing key.)
    if (r == 1 && s && c && v && *v && (modo & 0x10)) {
      char lido[INI_TAM_LINHA + 2];
      IniLeTexto(s, c, "\x01padrao", lido, sizeof lido, arq.c_str());
      FUZZ_EXIGE(std::string(lido) == ComoLido(v));
    }
    Le(s, c, v, cap, arq.c_str());
  }
  return 0;
}
