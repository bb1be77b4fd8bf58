// Host messages and envelopes: DecifraEnvelope and DecifraMensagem on bytes as
// a host hands them over, ExpandeTexto on packed text, each into an output of
// the caller's capacity. A second mode envelopes the input first and then
// damages the envelope, so that the decryption paths past the header check
// are reached too.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <span>

#include "cipher/EnvelopeCripto.h"
#include "fuzz/ApoioFuzz.h"
#include "link/CifraEnlace.h"
#include "state/LibState.h"

using fuzz::BufferSujo;
using fuzz::Leitor;

namespace {

void Chaves() {
  fuzz::ResetaEstado();
  DefineChavesCripto("0123456789ABCDEF", "FEDCBA9876543210", "89ABCDEF01234567");
}

// DecifraEnvelope into `cap` bytes: the length, -1 or -2; the length leaves
// one byte of the capacity unused and nothing is written past it.
void Envelope(const std::string& env, size_t cap) {
  BufferSujo saida(cap);
  const int32_t r = DecifraEnvelope(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(env.data()), env.size()),
                                    std::span<uint8_t>(saida.u(), cap));
  FUZZ_EXIGE(r >= -2);
  if (r >= 0) FUZZ_EXIGE(static_cast<size_t>(r) < cap);
}

void Mensagem(const std::string& txt, size_t cap) {
  BufferSujo saida(cap);
  const int32_t r = DecifraMensagem(txt.data(), static_cast<int32_t>(txt.size()), saida.p(), static_cast<int32_t>(cap));
  FUZZ_EXIGE(r >= -2);
  // A message may fill the whole capacity (the host link's reader keeps the
  // byte for the terminator itself).
  if (r >= 0) FUZZ_EXIGE(static_cast<size_t>(r) <= cap);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho) {
  static const std::string& pasta = fuzz::PastaTrabalho();  // the error log goes there
  (void)pasta;
  Leitor l(dados, tamanho);
  const uint8_t modo = l.Byte();
  const size_t cap = 1 + l.Dois() % 1200;
  Chaves();

  if ((modo & 3) == 0) {
    // Bytes as they come.
    const std::string bruto = l.Resto();
    Envelope(bruto, cap);
    Mensagem(bruto, cap);
    BufferSujo texto(cap);
    const int32_t r = ExpandeTexto(reinterpret_cast<const uint8_t*>(bruto.data()), static_cast<int32_t>(bruto.size()),
                                   texto.p(), static_cast<int32_t>(cap));
    FUZZ_EXIGE(r >= -1);
    if (r >= 0) FUZZ_EXIGE(static_cast<size_t>(r) <= cap);
    return 0;
  }

  // Our own envelope or message form of the input, then a damage chosen by the
  // input: a byte changed, the end cut.
  const uint8_t posDano = l.Byte();
  const uint8_t valorDano = l.Byte();
  const uint8_t corte = l.Byte();
  const std::string msg = l.Resto();
  std::vector<uint8_t> env(msg.size() * 3 + 64);
  int32_t n;
  if ((modo & 3) == 1) {
    n = CifraEnvelope(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(msg.data()), msg.size()),
                      std::span<uint8_t>(env.data(), env.size()));
  } else {
    n = CifraMensagem((modo & 3) == 2, (modo & 4) ? TabelaCifraSecundaria : TabelaCifraEnvio, msg.data(),
                      static_cast<int32_t>(msg.size()), reinterpret_cast<char*>(env.data()),
                      static_cast<int32_t>(env.size()));
  }
  if (n < 0) return 0;
  std::string e(reinterpret_cast<const char*>(env.data()), static_cast<size_t>(n));
  // Round trip first: what was enveloped opens again. Messages of the link are
  // printable ASCII (the packed form knows no other), and a block opens up to
  // its first zero byte.
  // A message of the link starts with its three-letter command code. Text that
  // starts like a header ("3:8F;...", "F;...") is not one: its clear form
  // ("QX:" and the text) cannot be told from a header.
  const bool imprimivel = std::all_of(msg.begin(), msg.end(), [](char ch) { return ch >= 0x20 && ch <= 0x7E; });
  const bool comoComando = msg.size() >= 3 && std::all_of(msg.begin(), msg.begin() + 3, [](char ch) {
                             return std::isupper(static_cast<unsigned char>(ch)) != 0;
                           });
  if (!(modo & 8) && imprimivel && comoComando) {
    // The decoder asks for at least half the envelope's length.
    BufferSujo saida(std::max(msg.size() + 1, e.size() / 2 + 1));
    int32_t r;
    if ((modo & 3) == 1)
      r = DecifraEnvelope(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(e.data()), e.size()),
                          std::span<uint8_t>(saida.u(), saida.tamanho()));
    else
      r = DecifraMensagem(e.data(), static_cast<int32_t>(e.size()), saida.p(), static_cast<int32_t>(saida.tamanho()));
    FUZZ_EXIGE(r == static_cast<int32_t>(msg.size()));
    FUZZ_EXIGE(std::memcmp(saida.p(), msg.data(), msg.size()) == 0);
  }
  if (!e.empty()) {
    if (modo & 0x10) e[posDano % e.size()] = static_cast<char>(valorDano);
    if (modo & 0x20) e.resize(e.size() - corte % e.size());
  }
  if ((modo & 3) == 1) Envelope(e, cap);
  Mensagem(e, cap);
  return 0;
}
