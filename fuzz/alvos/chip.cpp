// The chip answer's TLV field as the trace sees it: RemoveDadosCartao is what
// TraceBit55 writes, on the field's bytes (at most 999). The input is the field.
//
// The property, stated against a strict reading written here on its own:
// entries of a first tag byte from 40 to FF (the universal class, 00 to 3F, is
// padding or not EMV data), a tag of one or two bytes (a second byte below 80),
// a length in the short, 81 or 82 form and a value inside its template, going
// into the value of every constructed tag and every dictionary template. Let C
// be the offset of the first entry it cannot be sure of (anywhere, at any
// depth; none when the whole field reads cleanly) and B the offset just after
// that entry's tag and length bytes, as far as they go. Before C the step is
// certain; from C on, a walk that went on could stand at any alignment, and a
// card number or track could start at any of them. Then, whatever the input:
//  1. the strict reading of the trace meets no sensitive tag (5A, 57, 56,
//     9F6B) at any depth, the last entry's included even when it is cut short;
//  2. nothing from B on reaches the trace: with every byte from B on changed,
//     the trace is the same. (The value of an entry at any alignment from C on
//     starts at B or later, so no card number behind the point where the walk
//     lost certainty is traced in any form.)
//  3. the trace is never longer than the field.
#include <cstring>
#include <vector>

#include "fuzz/ApoioFuzz.h"
#include "pinpad/ParametrosChip.h"
#include "support/Tlv.h"

namespace {

bool Sensivel(uint32_t tag) { return tag == 0x5A || tag == 0x57 || tag == 0x56 || tag == 0x9F6B; }

bool Molde(uint32_t tag) {
  const uint32_t primeiro = tag > 0xFF ? tag >> 8 : tag;
  return (primeiro & 0x20) != 0 || TagFormato(tag) == 5;
}

struct Estrita {
  bool limpa = true;      // the whole data reads cleanly
  size_t c = 0, b = 0;    // the first unsure entry, and the end of its header
  bool sensivel = false;  // a sensitive tag was read somewhere
};

// The strict reading of d[ini, fim); false when it stops at an unsure entry.
bool Le(const std::vector<uint8_t>& d, size_t ini, size_t fim, Estrita& r) {
  const size_t n = d.size();
  for (size_t p = ini; p < fim;) {
    const size_t e = p;
    auto Inseguro = [&](size_t ateAqui) {
      r.limpa = false;
      r.c = e;
      r.b = std::min(ateAqui, n);
      return false;
    };
    uint32_t tag = d[p++];
    if (tag < 0x40) return Inseguro(p);
    if ((tag & 0x1F) == 0x1F) {
      if (p >= fim) return Inseguro(p);
      const uint8_t b2 = d[p++];
      if (b2 & 0x80) return Inseguro(p);
      tag = tag << 8 | b2;
    }
    if (Sensivel(tag)) r.sensivel = true;
    if (p >= fim) return Inseguro(p);
    const uint8_t l = d[p++];
    size_t extra = l == 0x81 ? 1 : (l == 0x82 ? 2 : 0);
    if (l >= 0x80 && !extra) return Inseguro(p);
    if (p + extra > fim) return Inseguro(p + extra);
    size_t vl = l < 0x80 ? l : 0;
    for (size_t i = 0; i < extra; ++i) vl = vl << 8 | d[p++];
    if (p + vl > fim) return Inseguro(p);
    if (Molde(tag) && vl > 0 && !Le(d, p, p + vl, r)) return false;
    p += vl;
  }
  return true;
}

Estrita LeEstrita(const std::vector<uint8_t>& d) {
  Estrita r;
  Le(d, 0, d.size(), r);
  return r;
}

std::vector<uint8_t> Trace(std::vector<uint8_t> d) {
  const size_t n = RemoveDadosCartao(d.data(), d.size());
  FUZZ_EXIGE(n <= d.size());
  d.resize(n);
  return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho) {
  if (tamanho > 999) return 0;  // a three-digit count
  const std::vector<uint8_t> campo(dados, dados + tamanho);
  const std::vector<uint8_t> traco = Trace(campo);

  FUZZ_EXIGE(!LeEstrita(traco).sensivel);

  const Estrita r = LeEstrita(campo);
  if (!r.limpa && r.b < campo.size()) {
    std::vector<uint8_t> outro = campo;
    for (size_t i = r.b; i < outro.size(); ++i) outro[i] = static_cast<uint8_t>(~outro[i]);
    FUZZ_EXIGE(Trace(outro) == traco);
  }
  return 0;
}
