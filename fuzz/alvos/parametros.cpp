// The tokenizer and the parameter lists: lines and lists as they come from
// configuration files and callers, with token and value buffers of the
// caller's size.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/ApoioFuzz.h"
#include "support/FuncoesString.h"
#include "support/FuncoesArquivo.h"

using fuzz::AteNul;
using fuzz::BufferSujo;
using fuzz::Leitor;
using fuzz::TextoC;

namespace {

bool CodigoParam(int r) { return r == PARAM_OK || r == PARAM_ERRO || r == PARAM_NAO_ACHOU || r == PARAM_SEM_MEMORIA; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho) {
  Leitor l(dados, tamanho);
  const uint8_t modo = l.Byte();
  const size_t cap = 1 + l.Byte() % 64;
  const std::string delim = AteNul(l.Texto(modo & 3));
  const std::string chave = AteNul(l.Pedaco());
  const std::string cabecalho = AteNul(l.Texto((modo >> 2) & 3));
  const std::string novo = AteNul(l.Pedaco());
  const std::string texto = AteNul(l.Resto());

  // Tokens off a line, until the line is used up.
  {
    TextoC linha(texto);
    for (int i = 0; i < 64 && linha.b.p()[0] != '\0'; ++i) {
      BufferSujo token(cap);
      const size_t antes = std::strlen(linha.b.p());
      int r;
      switch (i % 3) {
        case 0: r = ExtraiToken(linha.b.p(), delim.c_str(), modo & 0x10, modo & 0x20, token.p(), cap); break;
        case 1: r = ExtraiPalavra(linha.b.p(), token.p(), cap); break;
        default: r = ExtraiCampo(linha.b.p(), delim.c_str(), modo & 0x40, token.p(), cap); break;
      }
      FUZZ_EXIGE(r == 0);
      FUZZ_EXIGE(token.Terminado());
      FUZZ_EXIGE(linha.b.Terminado());
      const size_t depois = std::strlen(linha.b.p());
      FUZZ_EXIGE(depois <= antes);
      if (depois == antes && !(modo & 0x20)) break;  // not consuming: the line may stay as it was
    }
  }
  (void)BuscaForaDeAspas(texto.c_str(), chave.empty() ? ',' : chave[0]);

  // Lookups, into a buffer of the caller's size and into a returned block.
  {
    BufferSujo valor(cap);
    char* p = valor.p();
    int r = ParamObtemValorEx(texto.c_str(), (modo & 4) ? cabecalho.c_str() : nullptr,
                              (modo & 8) ? "<#>" : nullptr, delim.empty() ? "," : delim.c_str(), modo >> 6,
                              chave.c_str(), &p, cap);
    FUZZ_EXIGE(CodigoParam(r));
    FUZZ_EXIGE(p == valor.p());
    if (r == PARAM_OK) FUZZ_EXIGE(valor.Terminado());
    char* alocado = nullptr;
    r = ParamObtemValor(texto.c_str(), cabecalho.c_str(), modo >> 6, chave.c_str(), &alocado, 0);
    FUZZ_EXIGE(CodigoParam(r));
    if (alocado) Libera(alocado, __FILE__, __LINE__);
    (void)ParamObtemInt(texto.c_str(), nullptr, 0, chave.c_str(), 3);
    (void)ParamObtemDouble(texto.c_str(), nullptr, 1, chave.c_str(), 3.5);
    BufferSujo dst(cap);
    r = ListaObtemTexto(texto.c_str(), chave.c_str(), dst.p(), cap);
    FUZZ_EXIGE(r == 0 || r == 1);
    if (r == 1) FUZZ_EXIGE(dst.Terminado());
    else FUZZ_EXIGE(dst.IntactoDesde(0));
    (void)ListaObtemInt(texto.c_str(), chave.c_str(), 9);
  }

  // Where the values of the key lie, for the trace's masking: every value a
  // reader returns for the key is exactly the value read from one of the
  // ranges given (the range read again as the only entry of a list).
  {
    std::vector<std::pair<size_t, size_t>> faixas;
    ParamLocalizaValores(
        texto.c_str(), chave.c_str(),
        [](void* ctx, size_t de, size_t ate) {
          static_cast<std::vector<std::pair<size_t, size_t>>*>(ctx)->emplace_back(de, ate);
        },
        &faixas);
    std::vector<std::string> lidos;
    for (const auto& [de, ate] : faixas) {
      FUZZ_EXIGE(de <= ate && ate <= texto.size());
      char* v = nullptr;
      const std::string so = "k=" + texto.substr(de, ate - de);
      if (ListaObtemValor(so.c_str(), ",", "k", &v, 0) == PARAM_OK && v) {
        lidos.emplace_back(v);
        Libera(v, __FILE__, __LINE__);
      }
    }
    auto Coberto = [&](char* v) {
      const bool achou = std::find(lidos.begin(), lidos.end(), std::string(v)) != lidos.end();
      Libera(v, __FILE__, __LINE__);
      return achou;
    };
    char* v = nullptr;
    if (!chave.empty() && ListaObtemValor(texto.c_str(), ",", chave.c_str(), &v, 0) == PARAM_OK && v)
      FUZZ_EXIGE(Coberto(v));
    v = nullptr;
    if (!chave.empty() && ParamObtemValor(texto.c_str(), nullptr, modo >> 6, chave.c_str(), &v, 0) == PARAM_OK && v)
      FUZZ_EXIGE(Coberto(v));
  }

  // In-place change in a buffer of the text's size plus a little room.
  {
    const size_t folga = cap % 17;
    TextoC t(texto, folga);
    const size_t capTexto = texto.size() + 1 + folga;
    const int r = ParamAlteraValor(t.b.p(), capTexto, (modo & 4) ? cabecalho.c_str() : nullptr, modo >> 6,
                                   chave.c_str(), novo.c_str());
    FUZZ_EXIGE(CodigoParam(r));
    FUZZ_EXIGE(t.b.Terminado());
    if (r == PARAM_SEM_MEMORIA || r == PARAM_ERRO) FUZZ_EXIGE(std::strcmp(t.b.p(), texto.c_str()) == 0);
  }
  return 0;
}
