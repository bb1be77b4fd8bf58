#pragma once
// Chip-processing parameters around the two EMV chip steps: the caller's tag
// lists are kept for the transaction, extended with the library's fixed tags
// before the step, and the answer is traced (card data removed) and cut back to
// the caller's tags after it.
//
// These are the hooks the PP_StartGoOnChip / PP_GoOnChip / PP_FinishChip
// wrappers call. Until the tag-list handling is in place they pass the lists
// through unchanged and leave answers as they are.

// Before the slot call of PP_StartGoOnChip: keeps (tags, tagsOpt) and returns
// the optional list to send in place of tagsOpt (may be null).
const char* ChipPreparaStartGoOnChip(const char* tags, const char* tagsOpt);
// After the slot call of PP_StartGoOnChip, whatever its result.
void ChipTraceStartGoOnChip(const char* entrada, const char* tags, const char* listaEnviada);
// After PP_GoOnChip returned PPCOMP_OK: traces and filters the answer in place.
void ChipPosProcessaGoOnChip(char* saida);
// Before the slot call of PP_FinishChip: keeps tags and returns the list to send.
const char* ChipPreparaFinishChip(const char* tags);
// After PP_FinishChip returned PPCOMP_OK: traces and filters the answer in place.
void ChipPosProcessaFinishChip(char* saida);
