// Envelope of a 1,291-byte message (the longest the host link carries) out and
// back, side by side with OpenSSL's triple-DES ECB over the same bytes with
// its keys set once: the median of the per-round ratios of interleaved
// batches, in processor time (goal: 1.2x or less). Before timing, the fast
// form is checked against the reference (table by table, bit by bit) form on
// random keys; the reference form's own figure is shown for scale.
//
//   bench_cipher [rounds]
#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cipher/EnvelopeCripto.h"
#include "comum/Figuras.h"

namespace {

constexpr size_t kTamanho = 1291;
constexpr char kChaves[3][17] = {"0123456789ABCDEF", "FEDCBA9876543210", "89ABCDEF01234567"};

std::vector<uint8_t> Mensagem() {
  std::vector<uint8_t> m(kTamanho);
  for (size_t i = 0; i < m.size(); ++i) m[i] = static_cast<uint8_t>(' ' + i % 95);
  return m;
}

// Both forms give the same envelope and the same message back on random keys.
bool FormasConcordam() {
  std::mt19937 gerador(20261210);
  const auto msg = Mensagem();
  std::vector<uint8_t> a(2 * kTamanho + 18), b(2 * kTamanho + 18), volta(kTamanho + 16);
  for (int k = 0; k < 8; ++k) {
    char textos[3][17];
    for (auto& t : textos) {
      for (int i = 0; i < 16; ++i) t[i] = "0123456789ABCDEF"[gerador() % 16];
      t[16] = '\0';
    }
    DefineChavesCripto(textos[0], textos[1], textos[2]);
    const int32_t n = CifraEnvelopeForma(FormaDes::Rapida, msg, a);
    if (n <= 0 || CifraEnvelopeForma(FormaDes::Referencia, msg, b) != n ||
        std::memcmp(a.data(), b.data(), static_cast<size_t>(n)) != 0)
      return false;
    const int32_t v = DecifraEnvelopeForma(FormaDes::Rapida, std::span(a.data(), static_cast<size_t>(n)), volta);
    if (v != static_cast<int32_t>(kTamanho) || std::memcmp(volta.data(), msg.data(), kTamanho) != 0) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int rodadas = argc > 1 ? std::max(3, std::atoi(argv[1])) : 21;
  const bool concordam = FormasConcordam();

  DefineChavesCripto(kChaves[0], kChaves[1], kChaves[2]);
  const auto msg = Mensagem();
  std::vector<uint8_t> env(2 * kTamanho + 18), volta(kTamanho + 16);
  int falhas = 0;
  auto envelope = [&](FormaDes forma, int vezes) {
    for (int i = 0; i < vezes; ++i) {
      const int32_t n = CifraEnvelopeForma(forma, msg, env);
      if (DecifraEnvelopeForma(forma, std::span(env.data(), static_cast<size_t>(n)), volta) !=
          static_cast<int32_t>(kTamanho))
        ++falhas;
    }
  };

  uint8_t chave[24];
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 8; ++i) {
      unsigned v = 0;
      std::sscanf(kChaves[k] + 2 * i, "%2x", &v);
      chave[8 * k + i] = static_cast<uint8_t>(v);
    }
  // Same bytes, rounded up to whole blocks; encrypt then decrypt, keys set once.
  auto blocos = msg;
  blocos.resize((kTamanho + 7) / 8 * 8, 0);
  std::vector<uint8_t> cifrado(blocos.size() + 8), claro(blocos.size() + 8);
  EVP_CIPHER_CTX* cifra = EVP_CIPHER_CTX_new();
  EVP_CIPHER_CTX* decifra = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(cifra, EVP_des_ede3_ecb(), nullptr, chave, nullptr);
  EVP_DecryptInit_ex(decifra, EVP_des_ede3_ecb(), nullptr, chave, nullptr);
  EVP_CIPHER_CTX_set_padding(cifra, 0);
  EVP_CIPHER_CTX_set_padding(decifra, 0);
  const int tam = static_cast<int>(blocos.size());
  auto openssl = [&](int vezes) {
    for (int i = 0; i < vezes; ++i) {
      int n = 0, v = 0;
      EVP_EncryptUpdate(cifra, cifrado.data(), &n, blocos.data(), tam);
      EVP_DecryptUpdate(decifra, claro.data(), &v, cifrado.data(), n);
      if (v != tam) ++falhas;
    }
  };

  constexpr int kLote = 100;
  envelope(FormaDes::Rapida, kLote);  // warm up
  openssl(kLote);
  const bench::Razoes r = bench::Intercala([&] { envelope(FormaDes::Rapida, kLote); }, [&] { openssl(kLote); },
                                           rodadas, bench::Tempo::Processador);
  const double ref = bench::Cronometra([&] { envelope(FormaDes::Referencia, 2); }, bench::Tempo::Processador) / 2;
  EVP_CIPHER_CTX_free(cifra);
  EVP_CIPHER_CTX_free(decifra);

  const double us = r.medianaA / kLote * 1e6, usOpenssl = r.medianaB / kLote * 1e6;
  std::printf("envelope out and back, %zu bytes: %.1f us, OpenSSL 3DES ECB %.1f us, ratio %.3f (%s)\n", kTamanho, us,
              usOpenssl, r.mediana, bench::Dispersao(r).c_str());
  std::printf("reference form: %.0f us (%.0fx OpenSSL); forms agree on random keys: %s; failures: %d\n", ref * 1e6,
              ref / (r.medianaB / kLote), concordam ? "yes" : "NO", falhas);
  bench::Figura("envelope 1291 B out+back / OpenSSL 3DES ECB", bench::Texto("%.3fx", r.mediana), "<= 1.2x",
                bench::Atende(r.mediana <= 1.2 && falhas == 0),
                bench::Texto("%.1f us vs %.1f us; ", us, usOpenssl) + bench::Dispersao(r));
  bench::Figura("envelope fast form = reference form (8 random key sets)", concordam ? "same" : "DIFFERENT", "same",
                bench::Atende(concordam));
  return concordam && falhas == 0 ? 0 : 1;
}
