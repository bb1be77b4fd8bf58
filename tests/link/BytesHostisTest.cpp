// Thousands of random byte streams through the receive paths, on a simulated
// device (a system-call table that hands out scripted chunks, never sleeps and
// runs its clock 50 ms ahead per look): every stream ends within the limits,
// with a known code, and nothing is written outside the caller's buffers.
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "DispositivoSimulado.h"
#include "PeerPty.h"
#include "common/TestUtil.h"
#include "link/Enlace.h"
#include "link/Serial.h"
#include "pinpad/ppcomp.h"
#include "state/LibState.h"

using namespace testlink;

namespace {

constexpr int kDescritorSimulado = 77;

struct Dispositivo {
  std::deque<Bytes> pedacos;  // what each read hands out
  Bytes escrito;
  int64_t relogioNs = 1'000'000'000;
  int chamadas = 0;
  int relogios = 0;  // looks at the clock
} g_disp;

int Abre(const char*, int) { return kDescritorSimulado; }
int Fecha(int) { return 0; }
ssize_t Le(int, void* b, size_t n) {
  ++g_disp.chamadas;
  if (g_disp.pedacos.empty()) return 0;
  Bytes& p = g_disp.pedacos.front();
  const size_t k = std::min(n, p.size());
  std::memcpy(b, p.data(), k);
  p.erase(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(k));
  if (p.empty()) g_disp.pedacos.pop_front();
  return static_cast<ssize_t>(k);
}
ssize_t Escreve(int, const void* d, size_t n) {
  const uint8_t* b = static_cast<const uint8_t*>(d);
  g_disp.escrito.insert(g_disp.escrito.end(), b, b + n);
  return static_cast<ssize_t>(n);
}
int Espera(pollfd* p, nfds_t, int) {
  ++g_disp.chamadas;
  p->revents = 0;
  if (p->events & POLLOUT) {
    p->revents = POLLOUT;
    return 1;
  }
  if (g_disp.pedacos.empty()) return 0;
  p->revents = POLLIN;
  return 1;
}
int LeConfig(int, termios*) { return 0; }
int AplicaConfig(int, int, const termios*) { return 0; }
int Descarta(int, int) { return 0; }
int Dorme(const timespec*, timespec*) { return 0; }
int Relogio(clockid_t, timespec* ts) {
  ++g_disp.relogios;
  g_disp.relogioNs += 50'000'000;
  ts->tv_sec = static_cast<time_t>(g_disp.relogioNs / 1'000'000'000);
  ts->tv_nsec = static_cast<long>(g_disp.relogioNs % 1'000'000'000);
  return 0;
}

constexpr ChamadasSerial kSimulado = {Abre,    Fecha,   Le,      Escreve,          Espera,
                                      LeConfig, AplicaConfig, Descarta, Dorme, Relogio,
                                      nullptr, simulado::Tranca, simulado::Ioctl, simulado::Duplica};

class BytesHostis : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::ResetaLibState();
    g_disp = Dispositivo{};
    LibState.serial.Chamadas = &kSimulado;
    ASSERT_EQ(PortaAbre("/simulado", 19200), PPCOMP_OK);
  }
  void TearDown() override { testutil::ResetaLibState(); }
};

std::string TextoAleatorio(std::mt19937& g, size_t n) {
  std::string s(n, ' ');
  for (char& c : s) c = static_cast<char>(0x20 + g() % 95);
  return s;
}

// A stream made of pieces: good frames (their texts go to `bons`), damaged
// frames, cut frames, garbage.
Bytes Fluxo(std::mt19937& g, std::vector<std::string>& bons) {
  Bytes f;
  const int pecas = 1 + static_cast<int>(g() % 4);
  for (int i = 0; i < pecas; ++i) {
    std::string texto = TextoAleatorio(g, 3) + std::to_string(100 + g() % 900);
    const int campos = static_cast<int>(g() % 3);
    for (int k = 0; k < campos; ++k) {
      const size_t n = g() % 40;
      const size_t declarado = (g() % 8 == 0) ? n + 1 + g() % 5 : n;  // sometimes longer than the data
      char d[4];
      std::snprintf(d, sizeof d, "%03zu", declarado % 1000);
      texto += d + TextoAleatorio(g, n);
    }
    Bytes q = Quadro(texto);
    switch (g() % 6) {
      case 0:  // damaged CRC
        q.back() ^= static_cast<uint8_t>(1 + g() % 255);
        break;
      case 1:  // cut
        q.resize(g() % q.size());
        break;
      case 2:  // garbage, any byte value
        q.assign(g() % 300, 0);
        for (auto& b : q) b = static_cast<uint8_t>(g());
        break;
      case 3:  // a non-printable byte inside, with a correct CRC
        if (texto.size() > 4) {
          texto[3 + g() % (texto.size() - 3)] = static_cast<char>(g() % 0x20);
          q = Quadro(texto);
        }
        break;
      default:
        bons.push_back(texto);  // a field may still claim more than it holds
        break;
    }
    f.insert(f.end(), q.begin(), q.end());
  }
  return f;
}

// Splits the stream into reads of random sizes.
void Entrega(std::mt19937& g, const Bytes& f) {
  size_t pos = 0;
  while (pos < f.size()) {
    const size_t n = std::min(f.size() - pos, static_cast<size_t>(1 + g() % 64));
    g_disp.pedacos.emplace_back(f.begin() + static_cast<std::ptrdiff_t>(pos),
                                f.begin() + static_cast<std::ptrdiff_t>(pos + n));
    pos += n;
  }
}

struct Saida {
  char buf[24];
  char guarda[8];
};

TEST_F(BytesHostis, ResponsesEndWithKnownCodesInsideTheBuffers) {
  std::mt19937 g(4120);
  int respostas = 0, erros = 0;
  for (int caso = 0; caso < 3000; ++caso) {
    SCOPED_TRACE(caso);
    LibState.enlace.TamTotalRx = 0;
    LibState.enlace.TentativasNack = 0;
    LibState.enlace.LeiturasVazias = 0;
    g_disp.pedacos.clear();
    g_disp.chamadas = 0;
    std::vector<std::string> bons;
    const Bytes f = Fluxo(g, bons);
    Entrega(g, f);

    Saida a, b;
    std::memset(&a, '#', sizeof a);
    std::memset(&b, '#', sizeof b);
    int32_t ta = static_cast<int32_t>(g() % (sizeof a.buf + 1)), tb = static_cast<int32_t>(sizeof b.buf);
    char codigo[4];
    const int32_t aguarda = static_cast<int32_t>(g() % 2);
    const int32_t r = PinPadRecebeResposta(aguarda, codigo, &ta, a.buf, &tb, b.buf, nullptr);

    EXPECT_TRUE(r >= 0 && r <= 999) << r;  // three status digits, or a link code
    EXPECT_EQ(std::string(a.guarda, 8), std::string(8, '#'));
    EXPECT_EQ(std::string(b.guarda, 8), std::string(8, '#'));
    EXPECT_GE(ta, 0);
    EXPECT_LE(ta, static_cast<int32_t>(sizeof a.buf));
    EXPECT_LE(tb, static_cast<int32_t>(sizeof b.buf));
    EXPECT_GE(LibState.enlace.TamTotalRx, 0);
    EXPECT_LE(LibState.enlace.TamTotalRx, kTamBufferEnlace);
    EXPECT_LT(g_disp.chamadas, 2000);
    erros += r == PPCOMP_COMMERR;
    if (r == PPCOMP_COMMERR || r == PPCOMP_PROCESSING) continue;
    ++respostas;
    // Anything else is the status of one of the good frames (statuses are 100
    // to 999 here), taken whole.
    bool achou = false;
    for (const std::string& t : bons)
      achou = achou || (t.compare(0, 3, codigo) == 0 && std::stoi(t.substr(3, 3)) == r);
    EXPECT_TRUE(achou) << r << " " << codigo;
  }
  // Both kinds of ending are well represented.
  EXPECT_GT(respostas, 300);
  EXPECT_GT(erros, 300);
}

// The status of an answer is three decimal digits. Anything else in its place is
// a malformed answer, never a code of its own: "   " or " 0 " must not read as
// success, ":;<" not as 1514 (each character's low four bits).
TEST_F(BytesHostis, StatusThatIsNotThreeDigitsIsACommunicationError) {
  struct Caso {
    const char* texto;
    int32_t esperado;
  } casos[] = {
      {"GIN000", PPCOMP_OK},
      {"GIN013", PPCOMP_CANCEL},
      {"GIN999", 999},
      {"GIN   ", PPCOMP_COMMERR},
      {"GIN 0 ", PPCOMP_COMMERR},
      {"GIN/00", PPCOMP_COMMERR},
      {"GIN:;<", PPCOMP_COMMERR},
      {"GIN00A003ABC", PPCOMP_COMMERR},
      {"GIN-01", PPCOMP_COMMERR},
      // A notification is one whatever stands in its status.
      {"NTM   003MSG", PPCOMP_NOTIFY},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.texto);
    LibState.enlace.TamTotalRx = 0;
    g_disp.pedacos.clear();
    g_disp.pedacos.push_back(Quadro(c.texto));
    char codigo[4];
    char campo[8];
    std::memset(campo, '#', sizeof campo);
    int32_t tam = sizeof campo;
    EXPECT_EQ(PinPadRecebeResposta(1, codigo, &tam, campo, nullptr), c.esperado);
  }
}

// ETB and two bytes held without a SYN before them are no complete frame: the
// receive goes on reading the device (and gives up after its empty reads)
// instead of going round without reading until the time limit, which on a real
// clock is ten seconds of a busy processor and a trace record per round.
TEST_F(BytesHostis, HeldBytesWithoutSynDoNotSpinTheReceive) {
  for (const Bytes& retidos : {Bytes{0x17, 0x77, 0x36}, Bytes{'x', 0x17, 'a', 'b'}, Bytes{0x17, 0x17, 0x17}}) {
    SCOPED_TRACE(retidos.size());
    LibState.enlace.TamTotalRx = 0;
    LibState.enlace.TentativasNack = 0;
    LibState.enlace.LeiturasVazias = 0;
    g_disp.pedacos.clear();
    g_disp.pedacos.push_back(retidos);
    g_disp.chamadas = 0;
    g_disp.relogios = 0;
    char codigo[4];
    EXPECT_EQ(PinPadRecebeResposta(1, codigo, nullptr), PPCOMP_COMMERR);
    // Every round waits on the device: a few looks at the clock per device call.
    EXPECT_LT(g_disp.relogios, 10 * g_disp.chamadas) << g_disp.chamadas;
  }
}

TEST_F(BytesHostis, SC5000FramesEndWithKnownCodesInsideTheBuffer) {
  std::mt19937 g(5000);
  int contagem[PPCOMP_COMMERR + 1] = {};
  for (int caso = 0; caso < 3000; ++caso) {
    SCOPED_TRACE(caso);
    LibState.enlace.TamTotalRx = 0;
    LibState.enlace.TentativasNack = 0;
    g_disp.pedacos.clear();
    g_disp.chamadas = 0;
    Bytes f;
    const int pecas = 1 + static_cast<int>(g() % 4);
    for (int i = 0; i < pecas; ++i) {
      Bytes q;
      switch (g() % 5) {
        case 0:
          q.assign(g() % 200, 0);
          for (auto& c : q) c = static_cast<uint8_t>(g());
          break;
        case 1: q = {kEOT}; break;
        case 2:  // start and end markers of different kinds: no frame ends there
          q = QuadroSC5000(TextoAleatorio(g, g() % 60), g() % 2 ? kSTX : kSI, 0);
          q[q.size() - 2] = q[0] == kSTX ? kSO : kETX;
          break;
        default: {
          const bool stx = g() % 2;
          q = QuadroSC5000(TextoAleatorio(g, g() % 60), stx ? kSTX : kSI, stx ? kETX : kSO);
          if (g() % 3 == 0) q.back() ^= 0x20;
        }
      }
      f.insert(f.end(), q.begin(), q.end());
    }
    Entrega(g, f);
    Saida a;
    std::memset(&a, '#', sizeof a);
    int32_t tam = -1;
    const int32_t r = PinPadRecebeSC5000(static_cast<int32_t>(g() % 2), a.buf, sizeof a.buf, &tam);
    ASSERT_TRUE(r == PPCOMP_OK || r == PPCOMP_PROCESSING || r == PPCOMP_CANCEL || r == PPCOMP_COMMERR) << r;
    ++contagem[r];
    if (r == PPCOMP_OK) {
      EXPECT_GT(tam, 1);
      EXPECT_LE(tam, static_cast<int32_t>(sizeof a.buf));
    }
    EXPECT_EQ(std::string(a.guarda, 8), std::string(8, '#'));
    EXPECT_GE(LibState.enlace.TamTotalRx, 0);
    EXPECT_LE(LibState.enlace.TamTotalRx, kTamBufferEnlace);
    EXPECT_LT(g_disp.chamadas, 2000);
  }
  EXPECT_GT(contagem[PPCOMP_OK], 300);
  EXPECT_GT(contagem[PPCOMP_COMMERR], 100);
  EXPECT_GT(contagem[PPCOMP_CANCEL], 10);
}

}  // namespace
