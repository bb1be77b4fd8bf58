#pragma once
// DES (FIPS 46) on single 64-bit blocks and its triple application with the
// envelope keys. Blocks and keys are 8 bytes; bit 1 is the most significant bit
// of the first byte. Parity bits (low bit of each key byte) are ignored.
#include <cstdint>
#include <span>

#include "state/EstadoCripto.h"

// Direction flags: 0 encrypts, any other value decrypts.
inline constexpr int DES_CIFRA = 0;
inline constexpr int DES_DECIFRA = 1;

// Key orders of TriploDesBloco.
inline constexpr int ORDEM_CHAVES_123 = 0;  // enveloping
inline constexpr int ORDEM_CHAVES_321 = 1;  // opening

// Clears `destino`, then for entry i (from 0) sets output bit i when the source
// bit named by the table's 1-based entry i is set. Entries naming a bit outside
// the source, and output bits beyond the destination, are skipped.
void DesPermuta(std::span<const uint8_t> origem, std::span<uint8_t> destino, std::span<const uint8_t> tabela);

// Rotates the two 28-bit halves C (bits 1-28) and D (bits 29-56) of the packed
// 7-byte key register left by the schedule's amount for `rodada` (1 to 16).
// Rounds outside 1..16 leave the register unchanged.
void DesRotacionaChave(std::span<uint8_t, 7> registro, int rodada);

// One DES operation on one block, the reference form: table by table and bit
// by bit, subkeys rebuilt on every call. `entrada` and `saida` may be the same.
void DesBloco(int direcao, std::span<const uint8_t, 8> entrada, std::span<const uint8_t, 8> chave,
              std::span<uint8_t, 8> saida);

// Triple DES on `bloco` in place with the keys ChaveCripto1..3 of LibState, in
// the order 1-2-3 or 3-2-1; each step has its own direction flag. Reference form.
void TriploDesBloco(int direcao1, int direcao2, int direcao3, std::span<uint8_t, 8> bloco, int ordem);

// Fast form: same results as the reference, with the round keys prepared once
// and the S-boxes merged with the permutation P into word tables.
void DesPreparaEscala(std::span<const uint8_t, 8> chave, EscalaDes& escala);
void DesBlocoRapido(int direcao, const EscalaDes& escala, std::span<const uint8_t, 8> entrada,
                    std::span<uint8_t, 8> saida);
// Triple DES in place with three prepared keys given in the order they apply.
void TriploDesBlocoRapido(int direcao1, int direcao2, int direcao3, const EscalaDes& chave1,
                          const EscalaDes& chave2, const EscalaDes& chave3, std::span<uint8_t, 8> bloco);
