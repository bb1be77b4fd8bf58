#pragma once
// Reading binary trace files back: one record at a time, with the value
// unscrambled, and a way to resume after a damaged stretch.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct RegistroLido {
  size_t deslocamento = 0;  // offset of the record in the file
  uint8_t tipo = 0;
  uint8_t dataHora[7] = {};  // packed digits YYYY MM DD hh mm ss
  uint32_t relogio = 0;      // clock() when written
  int32_t pid = 0;
  uint32_t thread = 0;
  uint16_t especie = 0;  // 0 text, 1 integer, 2 binary
  uint32_t ponteiro = 0;
  uint16_t tamanhoDados = 0;  // the length the caller passed (low 16 bits)
  std::string origem, tag, rotulo;
  std::vector<uint8_t> valor;  // unscrambled
};

// Decodes the record at `pos`. On success fills `reg`, moves `pos` past the
// record and returns true. Otherwise returns false with the reason in `motivo`
// and `pos` unchanged. Never reads outside `dados`.
bool LeRegistro(std::span<const uint8_t> dados, size_t& pos, RegistroLido& reg, std::string& motivo);

// Decodes every record of a whole file into `lidos`. Stops at the first record
// that cannot be decoded and returns false, with its offset and the reason in
// `motivo`; the records before it stay in `lidos`.
bool LeTodosRegistros(std::span<const uint8_t> dados, std::vector<RegistroLido>& lidos, std::string& motivo);

// The first offset after `pos` at which a whole record can be decoded, or
// dados.size() when there is none.
size_t ProximoRegistroValido(std::span<const uint8_t> dados, size_t pos);

// "YYYY-MM-DD hh:mm:ss" from the packed digits (a damaged digit shows as a
// hexadecimal letter).
std::string TextoDataHora(const RegistroLido& reg);

// One line of text, or one JSON object (no line end).
std::string FormataTexto(const RegistroLido& reg);
std::string FormataJson(const RegistroLido& reg);
