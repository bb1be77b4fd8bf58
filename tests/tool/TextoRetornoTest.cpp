#include "tool/TextoRetorno.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Caso {
  uint32_t codigo;
  const char* texto;
};

constexpr Caso Casos[] = {
    {0, "OK"},
    {1, "Em processamento"},
    {2, "PPCOMP_NOTIFY"},
    {10, "Chamada invalida a funcao. Operacoees previas sao necessarias."},
    {13, "Operacao cancelada pelo operador."},
    {18, "Funcao nao disponivel na Biblioteca do pinpad"},
    {30, "porta serial do pinpad provavelmente ocupada."},
    {31, "pinpad provavelmente desconectado ou problemas com a interface serial."},
    {32, "Status informado pelo pinpad n\xE3o \xE9 conhecido."},
    {33, "Mensagem recebida do pinpad possui formato inv\xE1lido."},
    {34, "Tempo esgotado ao esperar pela resposta do pinpad"},
    {40, "Erro interno do pinpad."},
    {76, "PPCOMP_ERRFALBACK"},
    {100, "PPCOMP_QXCRIPTERR"},
};

TEST(TextoRetorno, DaOTextoDeCadaCodigoDaTabelaEmLatin1) {
  for (const auto& c : Casos) EXPECT_EQ(std::string(TextoRetorno(c.codigo)), c.texto) << c.codigo;
}

TEST(TextoRetorno, CodigoSemTextoDaVazioEmVezDoTextoAnterior) {
  for (uint32_t codigo : {3u, 9u, 23u, 29u, 35u, 77u, 99u, 101u, static_cast<uint32_t>(-1)}) {
    TextoRetorno(0);
    EXPECT_STREQ(TextoRetorno(codigo), "") << codigo;
  }
}

TEST(TextoRetorno, DevolveSempreOMesmoBufferSobrescrito) {
  const char* a = TextoRetorno(13);
  const char* b = TextoRetorno(0);
  EXPECT_EQ(a, b);
  EXPECT_STREQ(a, "OK");
}

}  // namespace
