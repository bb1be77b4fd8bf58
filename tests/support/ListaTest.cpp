#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/FuncoesArquivo.h"
#include "support/Lista.h"

namespace {
void* V(uintptr_t n) { return reinterpret_cast<void*>(n); }
uintptr_t N(void* v) { return reinterpret_cast<uintptr_t>(v); }

std::vector<uintptr_t> Valores(Lista* l) {
  std::vector<uintptr_t> r;
  for (NoLista* no = l->cabeca; no != nullptr; no = no->proximo) r.push_back(N(no->valor));
  return r;
}

Lista* Com(std::initializer_list<uintptr_t> valores) {
  Lista* l = ListaCria();
  for (uintptr_t v : valores) ListaInclui(l, V(v));
  return l;
}
using Vec = std::vector<uintptr_t>;
}  // namespace

TEST(ListaInsere, PositionsAtHeadMiddleAndPastTheEnd) {
  struct Caso {
    int posicao;
    Vec esperado;
  };
  const Caso casos[] = {{0, {9, 1, 2}}, {-4, {9, 1, 2}}, {1, {1, 9, 2}}, {2, {1, 2, 9}}, {5, {1, 2, 9}}};
  for (const auto& c : casos) {
    Lista* l = Com({1, 2});
    EXPECT_EQ(ListaInsere(l, V(9), c.posicao), 0);
    EXPECT_EQ(Valores(l), c.esperado) << c.posicao;
    EXPECT_EQ(N(ListaAtual(l)), 9u);  // the cursor is on the new node
    EXPECT_EQ(ListaQuantidade(l), 3);
    EXPECT_EQ(N(ListaRetiraUltimo(l)), c.esperado.back());  // the tail is kept right
    ListaDestroi(l);
  }
  Lista* vazia = ListaCria();
  EXPECT_EQ(ListaInsere(vazia, V(7), 0), 0);
  EXPECT_EQ(Valores(vazia), Vec{7});
  EXPECT_EQ(ListaInclui(vazia, V(8)), vazia);
  EXPECT_EQ(Valores(vazia), (Vec{7, 8}));
  ListaDestroi(vazia);
  EXPECT_EQ(ListaInsere(nullptr, V(1), 0), -1);
}

TEST(Lista, CursorWalksAndObtem) {
  Lista* l = Com({1, 2, 3});
  EXPECT_EQ(N(ListaPrimeiro(l)), 1u);
  EXPECT_EQ(N(ListaProximo(l)), 2u);
  EXPECT_EQ(N(ListaAtual(l)), 2u);
  EXPECT_EQ(N(ListaProximo(l)), 3u);
  EXPECT_EQ(ListaProximo(l), nullptr);
  EXPECT_EQ(ListaProximo(l), nullptr);  // stays at the end
  ListaReinicia(l);
  EXPECT_EQ(N(ListaAtual(l)), 1u);
  EXPECT_EQ(N(ListaObtem(l, 2)), 3u);
  EXPECT_EQ(ListaObtem(l, 3), nullptr);
  EXPECT_EQ(ListaObtem(l, -1), nullptr);
  ListaDestroi(l);
}

TEST(Lista, RemovalsMoveACursorOffTheRemovedNode) {
  Lista* l = Com({1, 2, 3, 4});
  ListaPrimeiro(l);
  EXPECT_EQ(N(ListaRetiraPrimeiro(l)), 1u);
  EXPECT_EQ(N(ListaAtual(l)), 2u);
  ListaObtem(l, 1);  // on 3
  EXPECT_EQ(N(ListaRemoveValor(l, V(3))), 3u);
  EXPECT_EQ(N(ListaAtual(l)), 4u);
  EXPECT_EQ(ListaRemoveValor(l, V(99)), nullptr);
  EXPECT_EQ(N(ListaRetiraUltimo(l)), 4u);  // cursor was on the tail
  EXPECT_EQ(ListaAtual(l), nullptr);
  EXPECT_EQ(Valores(l), Vec{2});
  EXPECT_EQ(N(ListaRetiraUltimo(l)), 2u);
  EXPECT_EQ(ListaRetiraUltimo(l), nullptr);
  EXPECT_EQ(ListaRetiraPrimeiro(l), nullptr);
  EXPECT_EQ(ListaQuantidade(l), 0);
  EXPECT_EQ(ListaInclui(l, V(5)), l);  // still usable when emptied
  EXPECT_EQ(Valores(l), Vec{5});
  ListaDestroi(l);
  EXPECT_EQ(ListaQuantidade(nullptr), -1);
}

TEST(Lista, RemovePosicaoRemovesTheFirstNodeWithThatValue) {
  Lista* l = Com({5, 6, 5, 7});
  EXPECT_EQ(N(ListaRemovePosicao(l, 2)), 5u);
  EXPECT_EQ(Valores(l), (Vec{6, 5, 7}));
  EXPECT_EQ(ListaRemovePosicao(l, 3), nullptr);
  EXPECT_EQ(ListaRemovePosicao(l, -1), nullptr);
  ListaDestroi(l);
}

TEST(Lista, EmptyingAndDestroyingHandOverOrFreeTheValues) {
  static std::vector<uintptr_t> vistos;
  Lista* l = Com({3, 1, 2});
  ListaEsvaziaComFuncao(l, [](void* v) { vistos.push_back(N(v)); });
  EXPECT_EQ(vistos, (Vec{3, 1, 2}));
  EXPECT_EQ(ListaQuantidade(l), 0);
  ListaDestroi(l);

  // Values from Aloca are freed: the leak checker sees any that are not.
  Lista* blocos = ListaCria();
  for (int i = 0; i < 3; ++i) ListaInclui(blocos, Aloca(16, 0, __FILE__, __LINE__));
  ListaDestroiLiberando(blocos);

  Lista* nos = Com({1, 2});
  ListaLiberaNos(nos);
  EXPECT_EQ(ListaQuantidade(nos), 0);
  EXPECT_EQ(ListaPrimeiro(nos), nullptr);
  ListaDestroi(nos);
  ListaDestroi(nullptr);
}
