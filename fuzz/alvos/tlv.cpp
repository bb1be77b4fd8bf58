// TLV data and tag lists, in both forms: search, rename, removal, list upkeep
// and field building, on data of exactly the input's size.
#include <cstring>

#include "fuzz/ApoioFuzz.h"
#include "support/Tlv.h"

using fuzz::BufferSujo;
using fuzz::Leitor;

namespace {

bool CodigoBusca(int r) { return r == TLV_ENCONTRADO || r == TLV_ERRO_DADOS || r == TLV_NAO_ENCONTRADO; }

void Binario(uint32_t tag, uint32_t outra, const std::string& dados, int texto) {
  const size_t n = dados.size();
  // Exactly the data, then room for a wider tag in a second buffer.
  BufferSujo b(n ? n : 1);
  std::memcpy(b.p(), dados.data(), n);
  const int tam = static_cast<int>(n);
  TlvLocal local{};
  int r = TlvBusca(b.u(), tam, texto, tag, &local);
  FUZZ_EXIGE(CodigoBusca(r));
  if (r == TLV_ENCONTRADO) {
    FUZZ_EXIGE(local.inicio >= b.u() && local.valor >= local.inicio);
    FUZZ_EXIGE(local.tamanhoValor >= 0 && local.tamanhoTotal >= local.tamanhoValor);
    FUZZ_EXIGE(local.valor + local.tamanhoValor <= b.u() + n);
    FUZZ_EXIGE(local.inicio + local.tamanhoTotal <= b.u() + n);
  }
  int32_t tv = -1;
  unsigned char* v = TlvObtemValor(b.u(), tam, texto, tag, &tv);
  if (v) FUZZ_EXIGE(v >= b.u() && tv >= 0 && v + tv <= b.u() + n);
  (void)ListaTagsContem(b.u(), tam, texto, tag);

  {
    const size_t cap = n + 4;
    BufferSujo c(cap);
    std::memcpy(c.p(), dados.data(), n);
    int32_t novo = -1;
    r = TlvTrocaTag(c.u(), tam, cap, texto, tag, outra, &novo);
    FUZZ_EXIGE(CodigoBusca(r) || r == TLV_FORMATOS_DIFERENTES || r == TLV_SEM_ESPACO);
    if (r == TLV_ENCONTRADO) FUZZ_EXIGE(novo >= 0 && static_cast<size_t>(novo) <= cap);
  }
  {
    BufferSujo c(n ? n : 1);
    std::memcpy(c.p(), dados.data(), n);
    int32_t novo = -1;
    r = TlvRemoveTag(c.u(), tam, texto, tag, &novo);
    FUZZ_EXIGE(CodigoBusca(r));
    if (r == TLV_ENCONTRADO) FUZZ_EXIGE(novo >= 0 && novo <= tam);
    std::memcpy(c.p(), dados.data(), n);
    novo = -1;
    r = TlvRemoveVazios(c.u(), tam, texto, &novo);
    FUZZ_EXIGE(r == 0 || r == TLV_ERRO_DADOS);
    if (r == 0) FUZZ_EXIGE(novo >= 0 && novo <= tam);
    std::memcpy(c.p(), dados.data(), n);
    novo = -1;
    r = ListaTagsRemoveRepetidas(c.u(), tam, texto, &novo);
    FUZZ_EXIGE(r >= 0);
    FUZZ_EXIGE(novo >= 0 && novo <= tam);
  }
  {
    const size_t cap = n + 2;
    BufferSujo c(cap);
    std::memcpy(c.p(), dados.data(), n);
    int32_t novo = -1;
    r = ListaTagsInclui(c.u(), tam, cap, texto, tag, static_cast<int>(outra & 1), &novo);
    FUZZ_EXIGE(r == 0 || r == -1 || r == TLV_SEM_ESPACO);
    if (r == 0) FUZZ_EXIGE(novo >= 0 && static_cast<size_t>(novo) <= cap);
  }
}

void Texto(uint32_t tag, uint32_t outra, const std::string& dados) {
  // The text form: a NUL-terminated string in a buffer that ends at its NUL, or
  // one with a little room after it.
  std::string s = dados;
  s.erase(std::find(s.begin(), s.end(), '\0'), s.end());
  const size_t n = s.size();
  {
    BufferSujo b(n + 1);
    std::memcpy(b.p(), s.c_str(), n + 1);
    TlvLocal local{};
    const int r = TlvBusca(b.p(), tag, &local);
    FUZZ_EXIGE(CodigoBusca(r));
    if (r == TLV_ENCONTRADO) FUZZ_EXIGE(local.valor + local.tamanhoValor <= b.u() + n);
    int32_t tv = -1;
    (void)TlvObtemValor(b.p(), tag, &tv);
    (void)ListaTagsContem(b.p(), tag);
    int32_t novo = -1;
    if (TlvRemoveTag(b.p(), tag, &novo) == TLV_ENCONTRADO) FUZZ_EXIGE(std::strlen(b.p()) <= n);
    std::memcpy(b.p(), s.c_str(), n + 1);
    (void)TlvRemoveVazios(b.p(), &novo);
    FUZZ_EXIGE(std::strlen(b.p()) <= n);
    std::memcpy(b.p(), s.c_str(), n + 1);
    (void)ListaTagsRemoveRepetidas(b.p(), &novo);
    FUZZ_EXIGE(std::strlen(b.p()) <= n);
  }
  {
    const size_t cap = n + 1 + (outra >> 8) % 6;
    BufferSujo b(cap);
    std::memcpy(b.p(), s.c_str(), n + 1);
    int32_t novo = -1;
    const int r = TlvTrocaTag(b.p(), cap, tag, outra, &novo);
    FUZZ_EXIGE(CodigoBusca(r) || r == TLV_FORMATOS_DIFERENTES || r == TLV_SEM_ESPACO);
    FUZZ_EXIGE(b.Terminado());
    std::memcpy(b.p(), s.c_str(), n + 1);
    const int r2 = ListaTagsInclui(b.p(), cap, tag, 0, &novo);
    FUZZ_EXIGE(r2 == 0 || r2 == -1 || r2 == TLV_SEM_ESPACO);
    FUZZ_EXIGE(b.Terminado());
  }
  {
    // Building a field from the text as a value, into a buffer that already
    // holds some text.
    const size_t cap = 1 + (outra >> 4) % 300;
    BufferSujo b(cap);
    b.p()[0] = '\0';
    const size_t limite = cap;
    char* r = TlvMontaCampoTag(b.p(), limite, tag, s.c_str());
    FUZZ_EXIGE(b.Terminado());
    if (r) FUZZ_EXIGE(std::strlen(b.p()) < cap);
    char* r2 = TlvMontaCampo(b.p(), limite, tag, static_cast<int>(outra % 7), static_cast<int>((outra >> 3) % 20) - 1,
                             s.c_str());
    FUZZ_EXIGE(b.Terminado());
    (void)r2;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho) {
  Leitor l(dados, tamanho);
  const uint32_t tag = l.Dois();
  const uint32_t outra = l.Dois();
  const std::string resto = l.Resto();
  Binario(tag, outra, resto, 0);
  Binario(tag, outra, resto, 1);
  Texto(tag, outra, resto);
  // Bit tests, with their own bounds.
  if (!resto.empty()) {
    const auto* b = reinterpret_cast<const unsigned char*>(resto.data());
    const int n = static_cast<int>(resto.size());
    const int bit = static_cast<int>(static_cast<int16_t>(tag));
    const int m = BitLigadoMsb(b, n, bit, 7);
    FUZZ_EXIGE(m == 0 || m == 1 || m == 7);
    const int s = BitLigadoLsb(b, n, bit);
    FUZZ_EXIGE(s == 0 || s == 1 || s == -1);
  }
  return 0;
}
