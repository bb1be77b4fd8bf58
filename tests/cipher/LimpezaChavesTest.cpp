// Every local buffer of the cipher module that held a key, or a clear block of
// the key-control file, is wiped before its function returns, on every path.
//
// This program wraps the secure wipe at link time (-Wl,--wrap, see
// CMakeLists.txt): each call is recorded with the bytes the buffer held just
// before it, then passed on. A buffer's wipe is told by what it held (the
// key-encryption key, the decrypted check group, each stored key group, the
// three keys side by side, the file itself), and each one must be wiped exactly
// once: a dropped wipe shows as a count of 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "cipher/ConstantesCripto.h"
#include "cipher/Des.h"
#include "cipher/EnvelopeCripto.h"
#include "link/CifraEnlace.h"
#include "pinpad/ppcomp.h"
#include "state/LibState.h"
#include "tests/cipher/CriptoTestUtil.h"

// The wrapped symbol is LimpaSegura(void*, size_t) as g++ names it where
// size_t is unsigned long.
static_assert(std::is_same_v<size_t, unsigned long>);

namespace {

using Bytes = std::vector<uint8_t>;

bool g_grava = false;
std::vector<Bytes> g_limpezas;  // what each wiped buffer held before its wipe

}  // namespace

extern "C" void* __real__Z11LimpaSeguraPvm(void* buffer, size_t tamanho);

extern "C" void* __wrap__Z11LimpaSeguraPvm(void* buffer, size_t tamanho) {
  if (g_grava && buffer != nullptr) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    g_limpezas.emplace_back(p, p + tamanho);
  }
  return __real__Z11LimpaSeguraPvm(buffer, tamanho);
}

namespace {

// Wipes of a buffer of exactly `conteudo`'s size that held `conteudo`.
int Limpezas(const Bytes& conteudo) {
  return static_cast<int>(std::count(g_limpezas.begin(), g_limpezas.end(), conteudo));
}

// Wipes of a buffer that began with `conteudo` (a work buffer larger than what
// was read into it).
int LimpezasQueComecamCom(const Bytes& conteudo) {
  return static_cast<int>(std::count_if(g_limpezas.begin(), g_limpezas.end(), [&](const Bytes& l) {
    return l.size() >= conteudo.size() && std::equal(conteudo.begin(), conteudo.end(), l.begin());
  }));
}

Bytes Des(int direcao, const Bytes& entrada, const Bytes& chave) {
  Bytes saida(8);
  DesBloco(direcao, std::span<const uint8_t, 8>(entrada.data(), 8), std::span<const uint8_t, 8>(chave.data(), 8),
           std::span<uint8_t, 8>(saida.data(), 8));
  return saida;
}

// A key-control file of random filler holding three keys, and what its
// reading puts in the reader's local buffers.
struct ArquivoChaves {
  Bytes conteudo = Bytes(cripto::kTamanhoArquivoChaves);
  Bytes kek;                               // the stored group through TransformaChave
  Bytes verificacaoClara;                  // the check group decrypted under the kek
  Bytes grupos[3];                         // G1, G2, G3 as stored
  Bytes chaves[3];

  explicit ArquivoChaves(uint32_t semente) {
    std::mt19937 gen(semente);
    conteudo = criptotest::Aleatorios(gen, conteudo.size());
    const int base = conteudo[cripto::kPosicaoBase];
    Bytes grupoKek = criptotest::Aleatorios(gen, 8);
    Poe(base, cripto::kGrupoKek, grupoKek);
    kek = grupoKek;
    TransformaChave(kek);
    verificacaoClara.assign(cripto::kConstanteCabecalho, cripto::kConstanteCabecalho + 8);
    Poe(base, cripto::kGrupoVerificacao, Des(DES_CIFRA, verificacaoClara, kek));
    Bytes anterior = kek;
    for (int k = 0; k < 3; ++k) {
      chaves[k] = criptotest::Aleatorios(gen, 8);
      grupos[k] = Des(DES_CIFRA, chaves[k], anterior);
      Poe(base, cripto::kGrupoChave1 + k, grupos[k]);
      anterior = grupos[k];
    }
  }

  // Spoils the check group: the keys are then refused.
  void EstragaVerificacao() {
    const int base = conteudo[cripto::kPosicaoBase];
    conteudo[static_cast<size_t>(base + cripto::kDeslocamentos[cripto::kGrupoVerificacao][0])] ^= 0x01;
    Bytes guardado(8);
    for (int i = 0; i < 8; ++i)
      guardado[static_cast<size_t>(i)] =
          conteudo[static_cast<size_t>(base + cripto::kDeslocamentos[cripto::kGrupoVerificacao][i])];
    verificacaoClara = Des(DES_DECIFRA, guardado, kek);
  }

  void Grava(size_t tamanho) const {
    FILE* f = std::fopen(cripto::kArquivoChaves, "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(conteudo.data(), 1, tamanho, f), tamanho);
    ASSERT_EQ(std::fclose(f), 0);
  }

 private:
  void Poe(int base, int grupo, const Bytes& bytes) {
    for (int i = 0; i < 8; ++i)
      conteudo[static_cast<size_t>(base + cripto::kDeslocamentos[grupo][i])] = bytes[static_cast<size_t>(i)];
  }
};

class LimpezaChaves : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::ResetaLibState();
    g_limpezas.clear();
  }
  void TearDown() override {
    g_grava = false;
    testutil::ResetaLibState();
  }
  // Records the wipes made while `f` runs.
  template <typename F>
  void Grava(F f) {
    g_limpezas.clear();
    g_grava = true;
    f();
    g_grava = false;
  }
  criptotest::NoDiretorioTemp dir_;
};

TEST_F(LimpezaChaves, ExtraiChavesCriptoLimpaCadaBufferLocalEmCadaCaminho) {
  struct Caso {
    const char* titulo;
    bool verificacaoEstragada;
    int32_t resultado;
  } casos[] = {
      {"keys taken", false, 1},
      {"check group refused", true, 0},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.titulo);
    ArquivoChaves arq(7);
    if (c.verificacaoEstragada) arq.EstragaVerificacao();
    uint8_t k[3][8] = {};
    int32_t r = -1;
    Grava([&] { r = ExtraiChavesCripto(arq.conteudo, k[0], k[1], k[2]); });
    ASSERT_EQ(r, c.resultado);
    EXPECT_EQ(Limpezas(arq.kek), 1) << "key-encryption key";
    EXPECT_EQ(Limpezas(arq.verificacaoClara), 1) << "decrypted check group";
    // The key groups are gathered only once the check group matched.
    for (int g = 0; g < 3; ++g) EXPECT_EQ(Limpezas(arq.grupos[g]), c.resultado) << "key group G" << g + 1;
    if (r == 1) {
      for (int g = 0; g < 3; ++g) EXPECT_EQ(Bytes(k[g], k[g] + 8), arq.chaves[g]) << "key " << g + 1;
    }
  }
  // Too short to be a key-control file: nothing is gathered.
  ArquivoChaves arq(8);
  uint8_t k[3][8] = {};
  Grava([&] { EXPECT_EQ(ExtraiChavesCripto(std::span(arq.conteudo).first(2047), k[0], k[1], k[2]), 0); });
  EXPECT_EQ(Limpezas(arq.kek), 0);
}

// The host link loads the keys on first use into a work buffer of its own,
// which holds the clear file: wiped whether the keys load or not.
TEST_F(LimpezaChaves, BufferDeTrabalhoComOArquivoLimpoEmCadaCaminho) {
  struct Caso {
    const char* titulo;
    bool verificacaoEstragada;
    size_t tamanho;
    int32_t resultado;  // PinPadEscreve, without a host: the keys load, nothing is sent
  } casos[] = {
      {"keys loaded", false, 2048, PPCOMP_COMMERR},
      {"check group refused", true, 2048, PPCOMP_QXCRIPTERR},
      {"file cut short", false, 2000, PPCOMP_QXCRIPTERR},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.titulo);
    testutil::ResetaLibState();
    ArquivoChaves arq(9);
    if (c.verificacaoEstragada) arq.EstragaVerificacao();
    arq.Grava(c.tamanho);
    int32_t r = -1;
    Grava([&] { r = PinPadEscreve(653, "GIN00200", 8); });
    EXPECT_EQ(r, c.resultado);
    EXPECT_EQ(LibState.cripto.CriptoIniciada, c.resultado == PPCOMP_COMMERR ? 1 : 0);
    const Bytes lido(arq.conteudo.begin(), arq.conteudo.begin() + static_cast<long>(c.tamanho));
    EXPECT_EQ(LimpezasQueComecamCom(lido), 1) << "work buffer holding the file";
  }
}

// The fast envelope gathers the three keys side by side to see whether its
// round keys are still theirs.
TEST_F(LimpezaChaves, EnvelopeLimpaAsChavesJuntas) {
  ASSERT_EQ(DefineChavesCripto("0123456789ABCDEF", "23456789ABCDEF01", "456789ABCDEF0123"), 1);
  const Bytes juntas = criptotest::DeHex("0123456789ABCDEF" "23456789ABCDEF01" "456789ABCDEF0123");
  const uint8_t mensagem[16] = {'m', 'e', 'n', 's', 'a', 'g', 'e', 'm', ' ', 'd', 'e', ' ', 't', 'e', 's', 't'};
  uint8_t envelope[64];
  int32_t n = -1;
  Grava([&] { n = CifraEnvelope(mensagem, envelope); });
  ASSERT_EQ(n, 48);
  EXPECT_EQ(Limpezas(juntas), 1);
  uint8_t claro[32];
  Grava([&] { EXPECT_EQ(DecifraEnvelope(std::span(envelope, static_cast<size_t>(n)), claro), 16); });
  EXPECT_EQ(Limpezas(juntas), 1);
}

}  // namespace
