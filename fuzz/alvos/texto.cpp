// The string routines that parse: amounts, numbers, card numbers from tracks,
// hexadecimal, replacement and escapes, each with the caller's capacity.
#include <cstring>

#include "fuzz/ApoioFuzz.h"
#include "support/FuncoesString.h"

using fuzz::AteNul;
using fuzz::BufferSujo;
using fuzz::Leitor;

namespace {

// The text in a heap block of its size plus `folga` bytes; returns the capacity.
size_t Copia(BufferSujo& b, const std::string& s) {
  std::memcpy(b.p(), s.c_str(), s.size() + 1);
  return b.tamanho();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho) {
  Leitor l(dados, tamanho);
  const uint8_t modo = l.Byte();
  const size_t cap = 1 + l.Byte() % 48;
  const std::string busca = AteNul(l.Pedaco());
  const std::string troca = AteNul(l.Pedaco());
  const std::string s = AteNul(l.Resto());
  const size_t n = s.size();

  {
    BufferSujo dst(cap);
    const int r = ExtraiNumeroCartao(s.c_str(), dst.p(), cap);
    FUZZ_EXIGE(r == 0 || r == -1);
    if (r == 0) {
      FUZZ_EXIGE(dst.Terminado());
      for (const char* p = dst.p(); *p; ++p) FUZZ_EXIGE(*p >= '0' && *p <= '9');
    }
  }
  {
    BufferSujo dst(cap);
    FormataDecimal(dst.p(), cap, s.c_str(), modo % 5, ',');
    FUZZ_EXIGE(dst.Terminado());
    BufferSujo moeda(41);
    FormataMoeda(moeda.p(), s.c_str());
    FUZZ_EXIGE(moeda.Terminado());
  }
  {
    const int a = AnalisaValor(s.c_str());
    FUZZ_EXIGE(a >= -4);
    BufferSujo b(n + 1 + cap % 8);
    const size_t c = Copia(b, s);
    const int r = NormalizaValor(b.p(), c, modo % 6);
    FUZZ_EXIGE(r == 0 || r == -1);
    FUZZ_EXIGE(b.Terminado());
    if (r == -1) FUZZ_EXIGE(std::strcmp(b.p(), s.c_str()) == 0);
  }
  {
    BufferSujo b(n + 1 + cap % 16);
    const size_t c = Copia(b, s);
    const int r = StrSubstitui(b.p(), c, busca.c_str(), (modo & 1) ? nullptr : troca.c_str());
    FUZZ_EXIGE(r >= -1);
    FUZZ_EXIGE(b.Terminado());
    if (r == -1) FUZZ_EXIGE(std::strcmp(b.p(), s.c_str()) == 0);
  }
  {
    BufferSujo b(n + 1);
    Copia(b, s);
    ConverteEscapes(b.p());
    FUZZ_EXIGE(std::strlen(b.p()) <= n);
    Copia(b, s);
    StrTrim(b.p());
    Copia(b, s);
    StrSoDigitosSemZeros(b.p());
    FUZZ_EXIGE(std::strlen(b.p()) <= n);
    BufferSujo d(n + 1);
    FUZZ_EXIGE(StrSoDigitos(s.c_str(), d.p()) <= static_cast<int>(n));
    FUZZ_EXIGE(StrSoAlfanumericos(s.c_str(), d.p()) <= static_cast<int>(n));
    const int largura = static_cast<int>(n + cap % 20);
    BufferSujo centro(static_cast<size_t>(largura) + 1);
    Copia(centro, s);
    StrCentraliza(centro.p(), '*', largura);
    FUZZ_EXIGE(centro.Terminado());
    BufferSujo zeros(cap + 1);
    StrAlinhaZeros(zeros.p(), s.c_str(), static_cast<int>(cap));
    FUZZ_EXIGE(std::strlen(zeros.p()) == cap);
  }
  {
    (void)StrToIntDef(s.c_str(), 5);
    (void)StrToDoubleDef(s.c_str(), 5.0);
    (void)ValorParaInt64(s.c_str());
    uint32_t v = 0;
    const char* fim = LeNumero(s.c_str(), &v);
    FUZZ_EXIGE(fim >= s.c_str() && fim <= s.c_str() + n);
    BufferSujo bytes(cap);
    HexParaBytes(bytes.p(), s.c_str(), cap);
    BufferSujo base(33);
    IntParaStrBase(static_cast<int32_t>(v), base.p(), 2 + modo % 36);
    FUZZ_EXIGE(base.Terminado());
    (void)TemDuasDecimais(s.c_str(), ',');
    (void)StrValorCaracteres(s.c_str());
    if (busca.size() >= n) (void)StrComparaSemCaixaN(busca.c_str(), s.c_str(), n);
  }
  return 0;
}
