// Envelope of a 1,291-byte message (the longest the host link carries) out and
// back, next to OpenSSL's triple-DES ECB over the same bytes with its keys set
// once. Prints the ratio of our fast form to OpenSSL (goal: 2 or less) and the
// figure of the reference (table by table, bit by bit) form.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cipher/EnvelopeCripto.h"

namespace {

constexpr size_t kTamanho = 1291;
constexpr char kChaves[3][17] = {"0123456789ABCDEF", "FEDCBA9876543210", "89ABCDEF01234567"};

std::vector<uint8_t> Mensagem() {
  std::vector<uint8_t> m(kTamanho);
  for (size_t i = 0; i < m.size(); ++i) m[i] = static_cast<uint8_t>(' ' + i % 95);
  return m;
}

void Envelope(benchmark::State& estado, FormaDes forma) {
  DefineChavesCripto(kChaves[0], kChaves[1], kChaves[2]);
  const auto msg = Mensagem();
  std::vector<uint8_t> env(2 * kTamanho + 18), volta(kTamanho + 16);
  for (auto _ : estado) {
    int32_t n = CifraEnvelopeForma(forma, msg, env);
    int32_t v = DecifraEnvelopeForma(forma, std::span(env.data(), static_cast<size_t>(n)), volta);
    if (v != static_cast<int32_t>(kTamanho)) estado.SkipWithError("round trip failed");
    benchmark::DoNotOptimize(volta.data());
  }
  estado.SetBytesProcessed(static_cast<int64_t>(estado.iterations() * kTamanho));
}

void OpenSsl(benchmark::State& estado) {
  uint8_t chave[24];
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 8; ++i) {
      unsigned v = 0;
      std::sscanf(kChaves[k] + 2 * i, "%2x", &v);
      chave[8 * k + i] = static_cast<uint8_t>(v);
    }
  // Same bytes, rounded up to whole blocks; encrypt then decrypt, keys set once.
  auto msg = Mensagem();
  msg.resize((kTamanho + 7) / 8 * 8, 0);
  std::vector<uint8_t> cifrado(msg.size() + 8), volta(msg.size() + 8);
  EVP_CIPHER_CTX* cifra = EVP_CIPHER_CTX_new();
  EVP_CIPHER_CTX* decifra = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(cifra, EVP_des_ede3_ecb(), nullptr, chave, nullptr);
  EVP_DecryptInit_ex(decifra, EVP_des_ede3_ecb(), nullptr, chave, nullptr);
  EVP_CIPHER_CTX_set_padding(cifra, 0);
  EVP_CIPHER_CTX_set_padding(decifra, 0);
  const int tam = static_cast<int>(msg.size());
  for (auto _ : estado) {
    int n = 0, v = 0;
    EVP_EncryptUpdate(cifra, cifrado.data(), &n, msg.data(), tam);
    EVP_DecryptUpdate(decifra, volta.data(), &v, cifrado.data(), n);
    if (v != tam) estado.SkipWithError("OpenSSL round trip failed");
    benchmark::DoNotOptimize(volta.data());
  }
  estado.SetBytesProcessed(static_cast<int64_t>(estado.iterations() * kTamanho));
  EVP_CIPHER_CTX_free(cifra);
  EVP_CIPHER_CTX_free(decifra);
}

// Console output as usual, plus each run's time per iteration for the ratio.
class Relator : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> tempos;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs)
      if (r.run_type == Run::RT_Iteration) tempos[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("EnvelopeIdaVolta/rapida", Envelope, FormaDes::Rapida);
  benchmark::RegisterBenchmark("EnvelopeIdaVolta/referencia", Envelope, FormaDes::Referencia);
  benchmark::RegisterBenchmark("OpenSSL_3DES_ECB/ida_volta", OpenSsl);
  benchmark::Initialize(&argc, argv);
  Relator relator;
  benchmark::RunSpecifiedBenchmarks(&relator);
  auto& t = relator.tempos;
  const char* rapida = "EnvelopeIdaVolta/rapida";
  const char* referencia = "EnvelopeIdaVolta/referencia";
  const char* openssl = "OpenSSL_3DES_ECB/ida_volta";
  if (t.count(rapida) && t.count(openssl) && t[openssl] > 0) {
    std::printf("\nCifraEnvelope + DecifraEnvelope, %zu bytes, fast form / OpenSSL 3DES ECB: %.2fx (goal: 2x or less)\n",
                kTamanho, t[rapida] / t[openssl]);
  }
  if (t.count(referencia) && t.count(openssl) && t[openssl] > 0) {
    std::printf("reference (table-driven, bit by bit) form / OpenSSL 3DES ECB: %.1fx\n", t[referencia] / t[openssl]);
  }
  benchmark::Shutdown();
  return 0;
}
