#include "tool/TextoRetorno.h"

#include <cstring>
#include <string>

namespace {

// Longest text (70 characters) plus the terminator.
char BufferTexto[71];

// Texts by code, 0 to 100; null where the table has no entry. Codes 32 and 33
// carry single Latin-1 bytes (E3, E9, E1).
constexpr const char* TabelaTextos[101] = {
    /*   0 */ "OK",
    /*   1 */ "Em processamento",
    /*   2 */ "PPCOMP_NOTIFY",
    /*   3 */ nullptr,
    /*   4 */ "PPCOMP_F1",
    /*   5 */ "PPCOMP_F2",
    /*   6 */ "PPCOMP_F3",
    /*   7 */ "PPCOMP_F4",
    /*   8 */ "PPCOMP_BACKSP",
    /*   9 */ nullptr,
    /*  10 */ "Chamada invalida a funcao. Operacoees previas sao necessarias.",
    /*  11 */ "Parametro invalido passado a funcao.",
    /*  12 */ "Esgotado o tempo maximo estipulado para a operacao.",
    /*  13 */ "Operacao cancelada pelo operador.",
    /*  14 */ "Pinpad ja aberto",
    /*  15 */ "Pinpad nao foi aberto",
    /*  16 */ "Erro interno de execucao",
    /*  17 */ "Funcao nao suportada pelo modelo de pinpad",
    /*  18 */ "Funcao nao disponivel na Biblioteca do pinpad",
    /*  19 */ "PPCOMP_ERRMANDAT",
    /*  20 */ "PPCOMP_TABEXP",
    /*  21 */ "PPCOMP_TABERR",
    /*  22 */ "PPCOMP_NOAPPLIC",
    /*  23 */ nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    /*  30 */ "porta serial do pinpad provavelmente ocupada.",
    /*  31 */ "pinpad provavelmente desconectado ou problemas com a interface serial.",
    /*  32 */ "Status informado pelo pinpad n\xE3o \xE9 conhecido.",
    /*  33 */ "Mensagem recebida do pinpad possui formato inv\xE1lido.",
    /*  34 */ "Tempo esgotado ao esperar pela resposta do pinpad",
    /*  35 */ nullptr, nullptr, nullptr, nullptr, nullptr,
    /*  40 */ "Erro interno do pinpad.",
    /*  41 */ "PPCOMP_MCDATAERR",
    /*  42 */ "PPCOMP_ERRPIN",
    /*  43 */ "PPCOMP_NOCARD",
    /*  44 */ "PPCOMP_PINBUSY",
    /*  45 */ nullptr, nullptr, nullptr, nullptr, nullptr,
    /*  50 */ "PPCOMP_SAMERR",
    /*  51 */ "PPCOMP_NOSAM",
    /*  52 */ "PPCOMP_SAMINV",
    /*  53 */ nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    /*  60 */ "PPCOMP_DUMBCARD",
    /*  61 */ "PPCOMP_ERRCARD",
    /*  62 */ "PPCOMP_CARDINV",
    /*  63 */ "PPCOMP_CARDBLOCKED",
    /*  64 */ "PPCOMP_CARDNAUTH",
    /*  65 */ "PPCOMP_CARDEXPIRED",
    /*  66 */ "PPCOMP_CARDERRSTRUCT",
    /*  67 */ "PPCOMP_CARDINVALIDAT",
    /*  68 */ "PPCOMP_CARDPROBLEMS",
    /*  69 */ "PPCOMP_CARDINVDATA",
    /*  70 */ "PPCOMP_CARDAPPNAV",
    /*  71 */ "PPCOMP_CARDAPPNAUT",
    /*  72 */ "PPCOMP_NOBALANCE",
    /*  73 */ "PPCOMP_LIMITEXC",
    /*  74 */ "PPCOMP_CARDNOTEFFECT",
    /*  75 */ "PPCOMP_VCINVCURR",
    /*  76 */ "PPCOMP_ERRFALBACK",
    /*  77 */ nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    /*  88 */ nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    /*  99 */ nullptr,
    /* 100 */ "PPCOMP_QXCRIPTERR",
};

constexpr bool TextosCabemNoBuffer() {
  for (const char* t : TabelaTextos) {
    if (t && std::char_traits<char>::length(t) >= sizeof BufferTexto) return false;
  }
  return true;
}
static_assert(TextosCabemNoBuffer(), "every text fits the result buffer");
static_assert(TabelaTextos[100] != nullptr && TabelaTextos[99] == nullptr, "table rows line up with the codes");

}  // namespace

const char* TextoRetorno(uint32_t codigo) {
  // Without a text the buffer becomes empty rather than keep the text of an
  // earlier, unrelated code.
  const char* texto = codigo < 101 ? TabelaTextos[codigo] : nullptr;
  std::strcpy(BufferTexto, texto ? texto : "");
  return BufferTexto;
}
