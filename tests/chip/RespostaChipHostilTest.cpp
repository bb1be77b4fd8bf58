// Chip answers whose TLV count promises more than the answer holds, read into
// caller buffers that are not zero-filled and end exactly at their documented
// size (a guard page follows, so any read past it faults in every build): over
// the serial line and through a host in host link mode.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>
#include <string>

#include "DispositivoSimulado.h"
#include "PeerPty.h"
#include "cipher/EnvelopeCripto.h"
#include "common/TestUtil.h"
#include "link/Serial.h"
#include "pinpad/ParametrosChip.h"
#include "pinpad/pinpad.h"
#include "state/LibState.h"

using namespace testlink;

namespace {

// `tamanho` bytes that end where an inaccessible page begins, filled with
// non-digit garbage.
class BufferComGuarda {
 public:
  explicit BufferComGuarda(size_t tamanho) {
    pagina_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    paginas_ = (tamanho + pagina_ - 1) / pagina_ + 1;
    void* m = mmap(nullptr, paginas_ * pagina_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return;
    base_ = static_cast<char*>(m);
    mprotect(base_ + (paginas_ - 1) * pagina_, pagina_, PROT_NONE);
    dados_ = base_ + (paginas_ - 1) * pagina_ - tamanho;
    std::memset(dados_, 'G', tamanho);
  }
  ~BufferComGuarda() {
    if (base_) munmap(base_, paginas_ * pagina_);
  }
  BufferComGuarda(const BufferComGuarda&) = delete;
  BufferComGuarda& operator=(const BufferComGuarda&) = delete;
  char* dados() const { return dados_; }
  bool ok() const { return dados_ != nullptr; }

 private:
  size_t pagina_ = 0, paginas_ = 0;
  char* base_ = nullptr;
  char* dados_ = nullptr;
};

// Host link mode: every send succeeds, every receive hands out the next text.
std::deque<std::string> g_respostasHost;
int32_t HostComando(int32_t, const char*) { return 0; }
int32_t HostRecebe(int32_t, int32_t, int32_t, int32_t capacidade, uint8_t*, char* buffer) {
  buffer[0] = '\0';
  if (g_respostasHost.empty()) return 0;
  std::string t = g_respostasHost.front();
  g_respostasHost.pop_front();
  if (static_cast<int32_t>(t.size()) >= capacidade) return -1;
  std::memcpy(buffer, t.c_str(), t.size() + 1);
  return 0;
}

std::string Campo(const std::string& dados) {
  char n[8];
  std::snprintf(n, sizeof n, "%03zu", dados.size());
  return n + dados;
}

const std::string entradaGoc = std::string(83, '0') + "000";

struct Caso {
  const char* titulo;
  bool goOnChip;
  std::string dados;  // the answer's one field, as the caller's output receives it
};

const Caso kCasos[] = {
    {"GoOnChip, contagem 999 e 4 bytes", true, "000000" + std::string(36, '9') + "999" "9F260111"},
    {"GoOnChip, contagem 999 sem dados", true, "000000" + std::string(36, '9') + "999"},
    {"GoOnChip, contagem 500 e nada depois", true, "000000" + std::string(36, '9') + "500" "5A0841111111"},
    {"FinishChip, contagem 999", false, "0" "999" "9F260111"},
    {"FinishChip, contagens de ISR e Espec grandes", false, "0" "002" "9F2601" "99" "999"},
};

class RespostaChipHostil : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::ResetaLibState();
    g_respostasHost.clear();
  }
  void TearDown() override {
    // A host link stays in use after its close: the final close is answered too.
    g_respostasHost = {"QX:CLO000"};
    FinalizaLibPinPad();
    testutil::ResetaLibState();
  }
};

int32_t Executa(const Caso& c, char* saida) {
  char msg[64];
  if (c.goOnChip) {
    int32_t r = PP_StartGoOnChip(entradaGoc.c_str(), "0029F26", nullptr);
    if (r != PPCOMP_OK) return r;
    do r = PP_GoOnChip(saida, msg);
    while (r == PPCOMP_PROCESSING || r == PPCOMP_NOTIFY);
    return r;
  }
  return PP_FinishChip("0000000000", "0029F26", saida);
}

TEST_F(RespostaChipHostil, ContagemMaiorQueOsDadosPelaSerial) {
  for (const Caso& c : kCasos) {
    SCOPED_TRACE(c.titulo);
    testutil::ResetaLibState();
    ASSERT_EQ(AbreDispositivoSimulado(), PPCOMP_OK);
    Enfileira(Concatena({{kACK}, Quadro((c.goOnChip ? "GOC000" : "FNC000") + Campo(c.dados))}));
    BufferComGuarda saida(TamRespostaChip);
    ASSERT_TRUE(saida.ok());
    EXPECT_EQ(Executa(c, saida.dados()), PPCOMP_OK);
    FinalizaLibPinPad();
  }
}

TEST_F(RespostaChipHostil, ContagemMaiorQueOsDadosPeloHost) {
  for (const Caso& c : kCasos) {
    SCOPED_TRACE(c.titulo);
    testutil::ResetaLibState();
    ASSERT_EQ(DefineChavesCripto("0123456789ABCDEF", "FEDCBA9876543210", "89ABCDEF01234567"), 1);
    ASSERT_EQ(DefineFuncoesHost(HostRecebe, HostComando), 0);
    // The close that ends each case is answered too, so it does not wait out its time-out.
    g_respostasHost = {"QX:" + std::string(c.goOnChip ? "GOC000" : "FNC000") + Campo(c.dados), "QX:CLO000"};
    BufferComGuarda saida(TamRespostaChip);
    ASSERT_TRUE(saida.ok());
    EXPECT_EQ(Executa(c, saida.dados()), PPCOMP_OK);
    FinalizaLibPinPad();
  }
}

// The same answers straight into the post-processing, with the trace of the
// TLV field and the filter both reading.
TEST_F(RespostaChipHostil, PosProcessamentoFicaNoBuffer) {
  for (const Caso& c : kCasos) {
    SCOPED_TRACE(c.titulo);
    BufferComGuarda saida(TamRespostaChip);
    ASSERT_TRUE(saida.ok());
    std::memcpy(saida.dados(), c.dados.data(), c.dados.size());
    if (c.goOnChip) {
      ChipPreparaStartGoOnChip("0029F26", nullptr);
      ChipPosProcessaGoOnChip(saida.dados());
    } else {
      ChipPreparaFinishChip("0029F26");
      ChipPosProcessaFinishChip(saida.dados());
    }
    TraceBit55("GOC", "Bit55", saida.dados() + TamRespostaChip - 4, 4);
  }
}

}  // namespace
