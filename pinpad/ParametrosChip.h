#pragma once
// Chip-processing parameters around the two EMV chip steps: the caller's tag
// lists are kept for the transaction, extended with the library's fixed tags
// before the step, and the answer is traced (card data removed) and cut back to
// the caller's tags after it.
#include <cstddef>
#include <cstdint>
#include <span>

// Answer capacity of PP_GoOnChip / PP_FinishChip: callers' output buffers hold
// at least this many bytes, and nothing here reads or writes beyond it.
inline constexpr int TamRespostaChip = 1000;

// The fixed tags always asked for, as a tag list in text form.
inline constexpr char TagsFixosChip[] = "8C8D8F959B9F0D9F0E9F0F9F1B9F269F279F339F349F359F40";

// Hooks of the PP_StartGoOnChip / PP_GoOnChip / PP_FinishChip wrappers.
// Before the slot call of PP_StartGoOnChip: keeps (tags, tagsOpt) and returns
// the extended optional list to send in place of tagsOpt.
const char* ChipPreparaStartGoOnChip(const char* tags, const char* tagsOpt);
// After the slot call of PP_StartGoOnChip, whatever its result.
void ChipTraceStartGoOnChip(const char* entrada, const char* tags, const char* listaEnviada);
// After PP_GoOnChip returned PPCOMP_OK: traces and filters the answer in place.
void ChipPosProcessaGoOnChip(char* saida);
// Before the slot call of PP_FinishChip: keeps tags and returns the list to send.
const char* ChipPreparaFinishChip(const char* tags);
// After PP_FinishChip returned PPCOMP_OK: traces and filters the answer in place.
void ChipPosProcessaFinishChip(char* saida);

// Clears AreaChip and keeps the two lists (count digits dropped); either may be
// null. A list is cut at the characters actually present and at 1022 characters
// (511 bytes, the longest list a 3-digit count allows callers to pass).
void GuardaTagsChip(const char* tags, const char* tagsOpt);
// Part 2 of AreaChip: the list of part `parte` (1 TagsOpt, 0 Tags) followed by
// every fixed tag listed in neither part, with its 3-digit byte count in front.
const char* MontaListaTagsChip(int parte);
// Keeps only the TLV entries of the field at `inicio` whose tags the caller
// listed, rewrites the count, moves the rest of the answer (through the
// character at `fim`) up behind it and blanks what that frees with zeros.
// Never touches bytes outside `resposta`. Returns the new byte count.
int FiltraTagsChip(std::span<char> resposta, int fim, int inicio);
// Removes, in binary TLV data, every entry with the card number or track data
// (5A, 57, 56, 9F6B), at any template depth. From the first entry the walk
// cannot be sure of (a first tag byte that cannot start an entry, a tag longer
// than two bytes, a length form other than short, 81 and 82, a value past its
// template or the data) nothing more is kept: at most that entry's tag and first
// length byte, and nothing of it when its tag is a sensitive one. Whatever the
// data, no sensitive entry at any alignment the walk could have mis-stepped to
// is kept. Returns the new length.
size_t RemoveDadosCartao(uint8_t* dados, size_t n);
// Traces the TLV field at `campo` (at most `disponivel` characters) without the
// entries that carry the card number or track data, at any template depth.
void TraceBit55(const char* tag, const char* rotulo, const char* campo, int disponivel);
// GeraTraceTrnOffline, offered to callers, is declared in pinpad/pinpad.h.
