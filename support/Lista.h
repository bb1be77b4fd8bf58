#pragma once
// Singly linked list of values with a cursor. Values are usually pointers
// owned by the caller; a null value doubles as "none" in results, so a list
// never holds null. Lists and nodes live in sized blocks (Aloca / Libera).
// A null list is accepted everywhere and gives the "none" result.
#include <cstdint>

struct NoLista {
  NoLista* proximo;
  void* valor;
};

struct Lista {
  NoLista* cabeca;
  NoLista* cauda;
  NoLista* cursor;  // null: past the end
  int32_t quantidade;
};

// An empty list, or null when out of memory.
Lista* ListaCria();
// Appends at the tail and moves the cursor to the new node; returns the list,
// or null for a null list, a null value or no memory.
Lista* ListaInclui(Lista* lista, void* valor);
// Inserts so that the new node is element `posicao` (0-based); 0 or less puts
// it at the head, past the end at the tail. The cursor moves to it. 0, or -1
// for a null list, a null value or no memory.
int ListaInsere(Lista* lista, void* valor, int posicao);
// Unlinks the head and returns its value (null when empty); a cursor on it
// moves to the next node.
void* ListaRetiraPrimeiro(Lista* lista);
// Unlinks the tail and returns its value (null when empty); a cursor on it is
// cleared (ListaAtual then gives null until ListaPrimeiro / ListaReinicia).
void* ListaRetiraUltimo(Lista* lista);
// Unlinks the first node holding the value and returns the value, or null; a
// cursor on it moves to the next node.
void* ListaRemoveValor(Lista* lista, void* valor);
// Removes the value at the position (0-based) by removing the first node
// holding that value, and returns it; null when the position is not below the
// count. The cursor moves only as ListaRemoveValor moves it.
void* ListaRemovePosicao(Lista* lista, int posicao);
// Cursor to the head / one step on / stay; the value under the cursor, or
// null at the end.
void* ListaPrimeiro(Lista* lista);
void* ListaProximo(Lista* lista);
void* ListaAtual(Lista* lista);
// Cursor to the node at the position; its value, or null (cursor at the end).
void* ListaObtem(Lista* lista, int posicao);
// Cursor back to the head.
void ListaReinicia(Lista* lista);
// The count; -1 for a null list.
int32_t ListaQuantidade(const Lista* lista);

using FuncaoListaValor = void (*)(void* valor);
// Takes the values off the head one by one, passing each to `funcao`.
void ListaEsvaziaComFuncao(Lista* lista, FuncaoListaValor funcao);
// Takes the values off the head one by one and frees each with Libera.
void ListaEsvaziaLiberando(Lista* lista);
// Frees every node (not the values); the list record stays, empty.
void ListaLiberaNos(Lista* lista);
// Frees every node and the list record, not the values.
void ListaDestroi(Lista* lista);
// ListaEsvaziaComFuncao / ListaEsvaziaLiberando, then ListaDestroi.
void ListaDestroiComFuncao(Lista* lista, FuncaoListaValor funcao);
void ListaDestroiLiberando(Lista* lista);
