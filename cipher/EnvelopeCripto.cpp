#include "cipher/EnvelopeCripto.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cipher/ConstantesCripto.h"
#include "cipher/Des.h"
#include "state/LibState.h"
#include "support/FuncoesArquivo.h"
#include "support/FuncoesString.h"

// Version tags of the module's data; nothing reads them.
extern const char VersaoCriptoDes[];
extern const char VersaoCriptoEnvelope[];
const char VersaoCriptoDes[] = "VERSAO: 1.02";
const char VersaoCriptoEnvelope[] = "VERSAO: 1.00";

namespace {

// Direction patterns of the three DES steps of a block.
struct Padrao {
  int d1, d2, d3;
};
constexpr Padrao kEDE{DES_CIFRA, DES_DECIFRA, DES_CIFRA};
constexpr Padrao kDED{DES_DECIFRA, DES_CIFRA, DES_DECIFRA};
constexpr Padrao kEEE{DES_CIFRA, DES_CIFRA, DES_CIFRA};
constexpr Padrao kDDD{DES_DECIFRA, DES_DECIFRA, DES_DECIFRA};

constexpr bool MesmoPadrao(const Padrao& a, const Padrao& b) { return a.d1 == b.d1 && a.d2 == b.d2 && a.d3 == b.d3; }

// Reading of one hexadecimal character as both ends do it: 'A'-'F' count 10 to
// 15, any other character its low four bits.
constexpr uint8_t ValorHex(uint8_t c) { return (c >= 'A' && c <= 'F') ? static_cast<uint8_t>(c - 'A' + 10) : c & 0x0F; }

// Closes a descriptor on every path.
struct Descritor {
  int fd;
  explicit Descritor(int f) : fd(f) {}
  ~Descritor() {
    if (fd >= 0) close(fd);
  }
  Descritor(const Descritor&) = delete;
  Descritor& operator=(const Descritor&) = delete;
};

// Round keys of ChaveCripto1..3 for the fast form, rebuilt when the key fields
// changed since they were made.
const EscalaDes* EscalasAtuais() {
  EstadoCripto& c = LibState.cripto;
  uint8_t chaves[24];
  std::memcpy(chaves, c.ChaveCripto1, 8);
  std::memcpy(chaves + 8, c.ChaveCripto2, 8);
  std::memcpy(chaves + 16, c.ChaveCripto3, 8);
  if (!c.EscalaValida || std::memcmp(chaves, c.ChavesDaEscala, sizeof chaves) != 0) {
    DesPreparaEscala(std::span<const uint8_t, 8>(c.ChaveCripto1, 8), c.Escala[0]);
    DesPreparaEscala(std::span<const uint8_t, 8>(c.ChaveCripto2, 8), c.Escala[1]);
    DesPreparaEscala(std::span<const uint8_t, 8>(c.ChaveCripto3, 8), c.Escala[2]);
    std::memcpy(c.ChavesDaEscala, chaves, sizeof chaves);
    c.EscalaValida = 1;
  }
  LimpaSegura(chaves, sizeof chaves);
  return c.Escala;
}

// Triple DES of one block with the envelope keys in the order 1-2-3 (ordem
// ORDEM_CHAVES_123) or 3-2-1: with the round keys `e` (fast form, taken once
// per envelope), or the reference form when `e` is null.
void AplicaTriplo(const EscalaDes* e, const Padrao& p, std::span<uint8_t, 8> bloco, int ordem) {
  if (e == nullptr) {
    TriploDesBloco(p.d1, p.d2, p.d3, bloco, ordem);
    return;
  }
  if (ordem == ORDEM_CHAVES_123)
    TriploDesBlocoRapido(p.d1, p.d2, p.d3, e[0], e[1], e[2], bloco);
  else
    TriploDesBlocoRapido(p.d1, p.d2, p.d3, e[2], e[1], e[0], bloco);
}

void MontaCabecalho() {
  EstadoCripto& c = LibState.cripto;
  std::memcpy(c.CabecalhoCripto, cripto::kConstanteCabecalho, 8);
  c.CabecalhoCripto[8] = 0;
  TransformaChave(std::span<uint8_t>(c.CabecalhoCripto, 8));
}

// Gathers one 8-byte group of the key-control file.
void ColheGrupo(std::span<const uint8_t> conteudo, int base, int grupo, uint8_t saida[8]) {
  for (int i = 0; i < 8; ++i) saida[i] = conteudo[static_cast<size_t>(base + cripto::kDeslocamentos[grupo][i])];
}

}  // namespace

void TransformaChave(std::span<uint8_t> buffer) {
  uint8_t encadeamento = 0;
  for (auto& b : buffer) {
    uint8_t original = b;
    b = static_cast<uint8_t>((static_cast<uint8_t>(b ^ encadeamento) - cripto::kTransformaK1) ^ cripto::kTransformaK2);
    encadeamento = original;
  }
}

void RegistraErroCripto(const char* texto) {
  if (texto == nullptr) return;
  Descritor arq(open(cripto::kArquivoErro, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0200));
  if (arq.fd < 0) return;
  size_t resta = std::strlen(texto);
  while (resta > 0) {
    ssize_t n = write(arq.fd, texto, resta);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    texto += n;
    resta -= static_cast<size_t>(n);
  }
}

int32_t ExtraiChavesCripto(std::span<const uint8_t> conteudo, std::span<uint8_t, 8> chave1,
                           std::span<uint8_t, 8> chave2, std::span<uint8_t, 8> chave3) {
  if (conteudo.size() < static_cast<size_t>(cripto::kTamanhoArquivoChaves)) return 0;
  const int base = conteudo[cripto::kPosicaoBase];
  uint8_t kek[8], verificacao[8], g1[8], g2[8], g3[8];
  ColheGrupo(conteudo, base, cripto::kGrupoKek, kek);
  TransformaChave(kek);
  ColheGrupo(conteudo, base, cripto::kGrupoVerificacao, verificacao);
  DesBloco(DES_DECIFRA, verificacao, kek, verificacao);
  int32_t ok = std::memcmp(verificacao, cripto::kConstanteCabecalho, 8) == 0 ? 1 : 0;
  if (ok) {
    ColheGrupo(conteudo, base, cripto::kGrupoChave1, g1);
    ColheGrupo(conteudo, base, cripto::kGrupoChave1 + 1, g2);
    ColheGrupo(conteudo, base, cripto::kGrupoChave1 + 2, g3);
    DesBloco(DES_DECIFRA, g1, kek, chave1);
    DesBloco(DES_DECIFRA, g2, g1, chave2);
    DesBloco(DES_DECIFRA, g3, g2, chave3);
    LimpaSegura(g1, sizeof g1);
    LimpaSegura(g2, sizeof g2);
    LimpaSegura(g3, sizeof g3);
  }
  LimpaSegura(kek, sizeof kek);
  LimpaSegura(verificacao, sizeof verificacao);
  return ok;
}

int32_t CarregaChavesCripto(std::span<uint8_t> trabalho) {
  EstadoCripto& c = LibState.cripto;
  LimpaSegura(c.ChaveCripto1, sizeof c.ChaveCripto1);
  LimpaSegura(c.ChaveCripto2, sizeof c.ChaveCripto2);
  LimpaSegura(c.ChaveCripto3, sizeof c.ChaveCripto3);
  LimpaSegura(c.CabecalhoCripto, sizeof c.CabecalhoCripto);

  // Read with the system calls straight into the lent buffer: a stdio stream
  // would keep a copy of the key material in its own buffer after closing,
  // out of reach of the caller's wipe.
  size_t lidos = 0;
  const size_t total = cripto::kTamanhoArquivoChaves;
  {
    Descritor arq(open(cripto::kArquivoChaves, O_RDONLY | O_CLOEXEC));
    if (arq.fd < 0) {
      RegistraErroCripto("ERRO ABERT ARQ");
      return 0;
    }
    if (trabalho.size() < total) {
      RegistraErroCripto("ERRO TAM BUF");
      return 0;
    }
    while (lidos < total) {
      const ssize_t n = read(arq.fd, trabalho.data() + lidos, total - lidos);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      lidos += static_cast<size_t>(n);
    }
  }
  if (lidos != total) {
    RegistraErroCripto("ERRO LEIT ARQ");
    return 0;
  }
  if (!ExtraiChavesCripto(trabalho.first(total), std::span<uint8_t, 8>(c.ChaveCripto1, 8),
                          std::span<uint8_t, 8>(c.ChaveCripto2, 8), std::span<uint8_t, 8>(c.ChaveCripto3, 8))) {
    RegistraErroCripto("ARQ INV");
    return 0;
  }
  MontaCabecalho();
  c.CriptoIniciada = 1;
  return 1;
}

int32_t DefineChavesCripto(const char* texto1, const char* texto2, const char* texto3) {
  const char* textos[3] = {texto1, texto2, texto3};
  for (const char* t : textos)
    if (t == nullptr || std::strlen(t) != 16) return 0;
  EstadoCripto& c = LibState.cripto;
  uint8_t* chaves[3] = {c.ChaveCripto1, c.ChaveCripto2, c.ChaveCripto3};
  for (int k = 0; k < 3; ++k) {
    const auto* t = reinterpret_cast<const uint8_t*>(textos[k]);
    for (int i = 0; i < 8; ++i) chaves[k][i] = static_cast<uint8_t>((ValorHex(t[2 * i]) << 4) | ValorHex(t[2 * i + 1]));
    chaves[k][8] = 0;
  }
  MontaCabecalho();
  c.CriptoIniciada = 1;
  return 1;
}

int32_t CifraEnvelopeForma(FormaDes forma, std::span<const uint8_t> mensagem, std::span<uint8_t> saida) {
  if (!LibState.cripto.CriptoIniciada) {
    RegistraErroCripto("CHAVES INV (E)");
    return -1;
  }
  const size_t tamanho = mensagem.size();
  if (tamanho == 0) {
    RegistraErroCripto("TAM MSG INV (E)");
    return -1;
  }
  const size_t capacidade = saida.size();
  if (capacidade < 2 * tamanho + 18) {
    RegistraErroCripto("TAM BUF SAIDA INV (E)");
    return -1;
  }
  if (tamanho <= 7) {
    std::memcpy(saida.data(), mensagem.data(), tamanho);
    return static_cast<int32_t>(tamanho);
  }
  const size_t blocos = tamanho / 8 + 1;
  const bool sobra = tamanho % 8 != 0;
  const EscalaDes* escalas = forma == FormaDes::Rapida ? EscalasAtuais() : nullptr;
  Padrao padrao = kDED;
  size_t escritos = 0;
  uint8_t bloco[8];
  for (size_t k = 1; k <= blocos; ++k) {
    if (k == blocos && sobra)
      padrao = kEEE;
    else
      padrao = MesmoPadrao(padrao, kDED) ? kEDE : kDED;
    if (k == 1)
      std::memcpy(bloco, LibState.cripto.CabecalhoCripto, 8);
    else
      std::memcpy(bloco, mensagem.data() + (k - 2) * 8, 8);
    AplicaTriplo(escalas, padrao, bloco, ORDEM_CHAVES_123);
    if (escritos + 16 >= capacidade) {
      LimpaSegura(bloco, sizeof bloco);
      RegistraErroCripto("ESTOURO BUF SAIDA 1 (E)");
      return -1;
    }
    BytesParaHex(reinterpret_cast<char*>(saida.data() + escritos), bloco, sizeof bloco);
    escritos += 16;
  }
  LimpaSegura(bloco, sizeof bloco);
  const size_t resto = tamanho % 8;
  if (resto > 0) {
    if (escritos + resto >= capacidade) {
      RegistraErroCripto("ESTOURO BUF SAIDA 2 (E)");
      return -1;
    }
    std::memcpy(saida.data() + escritos, mensagem.data() + tamanho - resto, resto);
    escritos += resto;
  }
  return static_cast<int32_t>(escritos);
}

int32_t DecifraEnvelopeForma(FormaDes forma, std::span<const uint8_t> envelope, std::span<uint8_t> saida) {
  if (!LibState.cripto.CriptoIniciada) {
    RegistraErroCripto("CHAVES INV (D)");
    return -1;
  }
  const size_t tamanho = envelope.size();
  if (tamanho == 0) {
    RegistraErroCripto("TAM MSG INV (D)");
    return -1;
  }
  const size_t capacidade = saida.size();
  // Below half the length, an odd length not rounded down.
  if (2 * capacidade < tamanho) {
    RegistraErroCripto("TAM BUF SAIDA INV (D)");
    return -1;
  }
  if (tamanho <= 7) {
    // Short messages travel unchanged; like every other output they leave
    // one byte of the capacity unused, so a caller may end the text there.
    if (tamanho >= capacidade) {
      RegistraErroCripto("TAM BUF SAIDA INV (D)");
      return -1;
    }
    std::memcpy(saida.data(), envelope.data(), tamanho);
    return static_cast<int32_t>(tamanho);
  }
  // A sender's envelope is 16 header characters, 16 per block and a clear tail
  // of 0 to 7: any other length cannot be one (and would skip the header check).
  if (tamanho < 16 || tamanho % 16 > 7) {
    RegistraErroCripto("TAM MSG INV (D)");
    return -1;
  }
  const size_t grupos = tamanho / 16;
  const bool sobra = tamanho % 16 != 0;
  const EscalaDes* escalas = forma == FormaDes::Rapida ? EscalasAtuais() : nullptr;
  Padrao padrao = kEDE;
  size_t escritos = 0;
  uint8_t bloco[8];
  for (size_t k = 1; k <= grupos; ++k) {
    const uint8_t* hex = envelope.data() + (k - 1) * 16;
    for (int i = 0; i < 8; ++i) bloco[i] = static_cast<uint8_t>((ValorHex(hex[2 * i]) << 4) | ValorHex(hex[2 * i + 1]));
    if (k == grupos && sobra)
      padrao = kDDD;
    else
      padrao = MesmoPadrao(padrao, kEDE) ? kDED : kEDE;
    AplicaTriplo(escalas, padrao, bloco, ORDEM_CHAVES_321);
    if (k == 1) {
      if (std::memcmp(bloco, LibState.cripto.CabecalhoCripto, 8) != 0) {
        LimpaSegura(bloco, sizeof bloco);
        RegistraErroCripto("HEADER / CHAVES NAO CONFEREM (D)");
        return -2;
      }
      continue;
    }
    size_t n = 0;
    while (n < 8 && bloco[n] != 0) ++n;
    if (escritos + n >= capacidade) {
      LimpaSegura(bloco, sizeof bloco);
      RegistraErroCripto("ESTOURO BUF SAIDA 1 (D)");
      return -1;
    }
    std::memcpy(saida.data() + escritos, bloco, n);
    escritos += n;
  }
  LimpaSegura(bloco, sizeof bloco);
  const size_t resto = tamanho - grupos * 16;
  if (resto > 0) {
    if (escritos + resto >= capacidade) {
      RegistraErroCripto("ESTOURO BUF SAIDA 2 (D)");
      return -1;
    }
    std::memcpy(saida.data() + escritos, envelope.data() + grupos * 16, resto);
    escritos += resto;
  }
  return static_cast<int32_t>(escritos);
}

int32_t CifraEnvelope(std::span<const uint8_t> mensagem, std::span<uint8_t> saida) {
  return CifraEnvelopeForma(FormaDes::Rapida, mensagem, saida);
}

int32_t DecifraEnvelope(std::span<const uint8_t> envelope, std::span<uint8_t> saida) {
  return DecifraEnvelopeForma(FormaDes::Rapida, envelope, saida);
}
