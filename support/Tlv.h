#pragma once
// BER-TLV data objects as chip cards use them (tag, length, value), tag lists
// (tags back to back), and two bit tests on byte arrays.
//
// Every operation works on one of two forms of the same bytes, chosen by the
// flag `texto`:
//   0  binary: the raw bytes with their length in bytes;
//   1  text:   two hexadecimal digits a byte ('0'-'9', 'A'-'F' in either case;
//              any other character counts as 0); counts, lengths and offsets
//              are in characters.
// The overloads taking a `char*` without a length are the text form of the
// same operation: they measure the string (null counting as empty) and, after
// a change in length, write the NUL at the new end.
//
// Tags are one or two bytes: two when the low five bits of the first are all
// set (then 0x9F02 and so on). Lengths: below 0x80 the byte itself, 0x81 one
// more byte, 0x82 two more (big-endian); any other form reads as length 0
// and consumes nothing. Nothing is ever read past the data's length.
#include <cstddef>
#include <cstdint>

// Result of a search. In text form sizes are in characters.
struct TlvLocal {
  int32_t tamanhoTotal;  // tag + length field + value
  int32_t tamanhoValor;
  unsigned char* inicio;  // the entry's tag
  unsigned char* valor;   // the value's first byte
};

inline constexpr int TLV_ENCONTRADO = 0;
inline constexpr int TLV_ERRO_DADOS = -1;      // null data or length below 1
inline constexpr int TLV_NAO_ENCONTRADO = -2;
inline constexpr int TLV_FORMATOS_DIFERENTES = -3;
inline constexpr int TLV_SEM_ESPACO = -4;      // the result would not fit in the caller's buffer

// Templates nested deeper than this are not searched (no real data comes near).
inline constexpr int TLV_MAX_NIVEIS = 32;

// Bit n is bit (7 - n % 8) of byte n / 8 (bit 0 = high bit of the first byte):
// 0 or 1, or `padrao` for a null array, a negative n or n / 8 not below the length.
int BitLigadoMsb(const unsigned char* bytes, int tamanho, int bit, int padrao);
// Bit n is bit (n % 8) of byte n / 8 (bit 0 = low bit): 1 or 0, or -1 for a
// null array, a negative n or n / 8 not below the length.
int BitLigadoLsb(const unsigned char* bytes, int tamanho, int bit);

// One byte (two hexadecimal digits in text form); `contador`, when given, is
// advanced by 1 (binary) or 2 (text). `disponivel` is what may be read from
// the position (bytes or characters; the text form also stops at a NUL);
// missing digits or bytes count as 0.
unsigned char TlvLeByte(const unsigned char* pos, int texto, int* contador, size_t disponivel = SIZE_MAX);
// Reads a tag; returns what was consumed: 1 or 2 (binary), 2 or 4 (text).
int TlvLeTag(const unsigned char* pos, int texto, uint32_t* tag, size_t disponivel = SIZE_MAX);
// Reads a length; returns what was consumed (0 for an unsupported form). In
// text form the length is in characters (twice the byte count).
int TlvLeTamanho(const unsigned char* pos, int texto, int32_t* tamanho, size_t disponivel = SIZE_MAX);

// Format code of a tag: 0 unknown, 1 alphanumeric, 2 binary, 3 numeric (two
// digits a byte), 4 compressed numeric, 5 template (searched into), 6 other
// constructed or proprietary.
int TagFormato(uint32_t tag);
// Fixed length of the tag's value in bytes, or -1 (variable or unknown).
int TagTamanhoFixo(uint32_t tag);

// Finds the first entry with the tag, in document order, descending into the
// values of templates (format 5): TLV_ENCONTRADO with `local` filled,
// TLV_ERRO_DADOS or TLV_NAO_ENCONTRADO. An entry whose value runs past the
// end is not matched; its value is read as further entries.
int TlvBusca(unsigned char* dados, int tamanho, int texto, uint32_t tag, TlvLocal* local);
int TlvBusca(char* dados, uint32_t tag, TlvLocal* local);
// The value of the first entry with the tag (its length, when asked), or null.
unsigned char* TlvObtemValor(unsigned char* dados, int tamanho, int texto, uint32_t tag, int32_t* tamValor);
unsigned char* TlvObtemValor(char* dados, uint32_t tag, int32_t* tamValor);

// Appends one entry in text form to the string `saida` (a buffer of
// `tamSaida` bytes): the tag in 2 or 4 upper-case digits, one length byte,
// then the value:
//   format 3, fixed n: the digits fitted to 2n (zeros on the left, or the
//                      rightmost 2n kept); length n
//   format 3, variable: one leading '0' for an odd count; length (digits + 1) / 2
//   format 1, fixed n: the text cut or space-padded to n, each character as hex
//   format 1, variable: each character as hex; length = character count
//   other formats: the value taken as hex digits as it stands; length = digits / 2
// Returns saida; null (saida unchanged) when saida or valor is null, the entry
// would not fit, or the value is longer than 127 bytes (the one length byte).
char* TlvMontaCampo(char* saida, size_t tamSaida, uint32_t tag, int formato, int tamanhoFixo, const char* valor);
// TlvMontaCampo with the tag's own format and fixed length.
char* TlvMontaCampoTag(char* saida, size_t tamSaida, uint32_t tag, const char* valor);

// Renames the first entry with `tagVelha` (found as by TlvBusca); the rest
// moves down or up when the widths differ. `capacidade` is the buffer's size
// (for the text form, the NUL included). TLV_FORMATOS_DIFERENTES when the two
// tags' formats differ, TLV_SEM_ESPACO when a longer tag does not fit, else as
// TlvBusca. Enclosing templates' lengths are not adjusted.
int TlvTrocaTag(unsigned char* dados, int tamanho, size_t capacidade, int texto, uint32_t tagVelha,
                uint32_t tagNova, int32_t* novoTamanho);
int TlvTrocaTag(char* dados, size_t capacidade, uint32_t tagVelha, uint32_t tagNova, int32_t* novoTamanho);
// Removes the first entry with the tag (also inside a template, whose length
// is not adjusted); returns the search's code.
int TlvRemoveTag(unsigned char* dados, int tamanho, int texto, uint32_t tag, int32_t* novoTamanho);
int TlvRemoveTag(char* dados, uint32_t tag, int32_t* novoTamanho);
// Removes every top-level entry with an empty value. TLV_ERRO_DADOS or 0.
int TlvRemoveVazios(unsigned char* dados, int tamanho, int texto, int32_t* novoTamanho);
int TlvRemoveVazios(char* dados, int32_t* novoTamanho);

// 1 when the tag occurs in the list, else 0 (also for a null or empty list).
int ListaTagsContem(const unsigned char* lista, int tamanho, int texto, uint32_t tag);
int ListaTagsContem(const char* lista, uint32_t tag);
// Appends the tag. -1 when repeats are not allowed and it is already there;
// TLV_SEM_ESPACO when it does not fit in `capacidade` (text: NUL included); else 0.
int ListaTagsInclui(unsigned char* lista, int tamanho, size_t capacidade, int texto, uint32_t tag,
                    int permiteRepetida, int32_t* novoTamanho);
int ListaTagsInclui(char* lista, size_t capacidade, uint32_t tag, int permiteRepetida, int32_t* novoTamanho);
// Removes every later occurrence of a tag already seen; returns how many.
int ListaTagsRemoveRepetidas(unsigned char* lista, int tamanho, int texto, int32_t* novoTamanho);
int ListaTagsRemoveRepetidas(char* lista, int32_t* novoTamanho);
