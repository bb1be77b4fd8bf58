#include "support/Lista.h"

#include "support/FuncoesArquivo.h"

namespace {
NoLista* NovoNo(void* valor) {
  auto* no = static_cast<NoLista*>(Aloca(sizeof(NoLista), 0, __FILE__, __LINE__));
  if (no != nullptr) no->valor = valor;
  return no;
}

// Unlinks `no`, whose predecessor is `anterior` (null for the head), and
// frees it; returns its value. A cursor on it moves to the next node.
void* Desliga(Lista* lista, NoLista* anterior, NoLista* no) {
  if (anterior == nullptr)
    lista->cabeca = no->proximo;
  else
    anterior->proximo = no->proximo;
  if (lista->cauda == no) lista->cauda = anterior;
  if (lista->cursor == no) lista->cursor = no->proximo;
  --lista->quantidade;
  void* valor = no->valor;
  Libera(no, __FILE__, __LINE__);
  return valor;
}

NoLista* NoNaPosicao(const Lista* lista, int posicao) {
  if (posicao < 0) return nullptr;
  NoLista* no = lista->cabeca;
  for (int i = 0; no != nullptr && i < posicao; ++i) no = no->proximo;
  return no;
}
}  // namespace

Lista* ListaCria() { return static_cast<Lista*>(Aloca(sizeof(Lista), 0, __FILE__, __LINE__)); }

Lista* ListaInclui(Lista* lista, void* valor) {
  if (lista == nullptr || valor == nullptr) return nullptr;
  NoLista* no = NovoNo(valor);
  if (no == nullptr) return nullptr;
  if (lista->cauda == nullptr)
    lista->cabeca = no;
  else
    lista->cauda->proximo = no;
  lista->cauda = no;
  lista->cursor = no;
  ++lista->quantidade;
  return lista;
}

int ListaInsere(Lista* lista, void* valor, int posicao) {
  if (lista == nullptr || valor == nullptr) return -1;
  if (posicao >= lista->quantidade) return ListaInclui(lista, valor) != nullptr ? 0 : -1;
  NoLista* no = NovoNo(valor);
  if (no == nullptr) return -1;
  if (posicao <= 0) {
    no->proximo = lista->cabeca;
    lista->cabeca = no;
    if (lista->cauda == nullptr) lista->cauda = no;
  } else {
    NoLista* anterior = NoNaPosicao(lista, posicao - 1);
    no->proximo = anterior->proximo;
    anterior->proximo = no;
  }
  lista->cursor = no;
  ++lista->quantidade;
  return 0;
}

void* ListaRetiraPrimeiro(Lista* lista) {
  if (lista == nullptr || lista->cabeca == nullptr) return nullptr;
  return Desliga(lista, nullptr, lista->cabeca);
}

void* ListaRetiraUltimo(Lista* lista) {
  if (lista == nullptr || lista->cauda == nullptr) return nullptr;
  NoLista* anterior = nullptr;
  for (NoLista* no = lista->cabeca; no != lista->cauda; no = no->proximo) anterior = no;
  // The tail has no next node, so a cursor on it is cleared by Desliga.
  return Desliga(lista, anterior, lista->cauda);
}

void* ListaRemoveValor(Lista* lista, void* valor) {
  if (lista == nullptr || valor == nullptr) return nullptr;
  NoLista* anterior = nullptr;
  for (NoLista* no = lista->cabeca; no != nullptr; anterior = no, no = no->proximo)
    if (no->valor == valor) return Desliga(lista, anterior, no);
  return nullptr;
}

void* ListaRemovePosicao(Lista* lista, int posicao) {
  if (lista == nullptr || posicao < 0 || posicao >= lista->quantidade) return nullptr;
  return ListaRemoveValor(lista, NoNaPosicao(lista, posicao)->valor);
}

void* ListaPrimeiro(Lista* lista) {
  if (lista == nullptr) return nullptr;
  lista->cursor = lista->cabeca;
  return ListaAtual(lista);
}

void* ListaProximo(Lista* lista) {
  if (lista == nullptr) return nullptr;
  if (lista->cursor != nullptr) lista->cursor = lista->cursor->proximo;
  return ListaAtual(lista);
}

void* ListaAtual(Lista* lista) {
  if (lista == nullptr || lista->cursor == nullptr) return nullptr;
  return lista->cursor->valor;
}

void* ListaObtem(Lista* lista, int posicao) {
  if (lista == nullptr) return nullptr;
  lista->cursor = NoNaPosicao(lista, posicao);
  return ListaAtual(lista);
}

void ListaReinicia(Lista* lista) {
  if (lista != nullptr) lista->cursor = lista->cabeca;
}

int32_t ListaQuantidade(const Lista* lista) { return lista == nullptr ? -1 : lista->quantidade; }

void ListaEsvaziaComFuncao(Lista* lista, FuncaoListaValor funcao) {
  if (lista == nullptr) return;
  while (lista->cabeca != nullptr) {
    void* valor = ListaRetiraPrimeiro(lista);
    if (funcao != nullptr) funcao(valor);
  }
}

void ListaEsvaziaLiberando(Lista* lista) {
  if (lista == nullptr) return;
  while (lista->cabeca != nullptr) Libera(ListaRetiraPrimeiro(lista), __FILE__, __LINE__);
}

void ListaLiberaNos(Lista* lista) {
  if (lista == nullptr) return;
  for (NoLista* no = lista->cabeca; no != nullptr;) {
    NoLista* proximo = no->proximo;
    Libera(no, __FILE__, __LINE__);
    no = proximo;
  }
  lista->cabeca = lista->cauda = lista->cursor = nullptr;
  lista->quantidade = 0;
}

void ListaDestroi(Lista* lista) {
  if (lista == nullptr) return;
  ListaLiberaNos(lista);
  Libera(lista, __FILE__, __LINE__);
}

void ListaDestroiComFuncao(Lista* lista, FuncaoListaValor funcao) {
  ListaEsvaziaComFuncao(lista, funcao);
  ListaDestroi(lista);
}

void ListaDestroiLiberando(Lista* lista) {
  ListaEsvaziaLiberando(lista);
  ListaDestroi(lista);
}
