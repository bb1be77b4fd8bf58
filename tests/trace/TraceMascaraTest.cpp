// Pinpad frames reach the trace only while the trace key is valid, and masked;
// the extra parameter list never shows the card number.
#include <filesystem>
#include <string>

#include "TraceTestUtil.h"
#include "trace/FormatoTrace.h"

namespace {

using namespace tracetest;
using TraceQuadros = TraceTeste;

std::string Parametros(const char* inicio, const char* fim) {
  char chave[17];
  ValidadeParaChaveTrace(inicio, fim, chave);
  return std::string("NivelTrace=1,ChaveTrace=") + chave;
}

TEST_F(TraceQuadros, QuadroSoComChaveValidaNoPeriodo) {
  const std::string gpn = "GPN000036" + std::string(36, '7');
  struct Caso {
    const char* titulo;
    bool comChave;
    time_t agora;
    bool grava;
  } casos[] = {
      {"sem chave", false, Instante(2026, 12, 10), false},
      {"primeiro dia", true, Instante(2026, 12, 1, 0, 0, 0), true},
      {"ultimo dia", true, Instante(2026, 12, 31, 23, 59, 59), true},
      {"antes", true, Instante(2026, 11, 30, 23, 59, 59), false},
      {"depois", true, Instante(2027, 1, 1, 0, 0, 0), false},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.titulo);
    FixaRelogio(c.agora);
    const std::string p = c.comChave ? Parametros("20261201", "20261231") : "NivelTrace=1";
    TraceCtx* ctx = Abre("q.dmp", p.c_str());
    EXPECT_EQ(TraceChaveValida(), c.grava ? 1 : 0);
    TraceDadosPinPad("RxM", "BufferRxPinPad", gpn.data(), static_cast<int32_t>(gpn.size()), 2);
    TraceFecha(ctx);
    const auto regs = Registros(Arquivo("q.dmp"));
    std::filesystem::remove(Arquivo("q.dmp"));
    if (!c.grava) {
      EXPECT_TRUE(regs.empty());
      continue;
    }
    ASSERT_EQ(regs.size(), 1u);
    EXPECT_EQ(regs[0].especie, TRACE_BINARIO);
    EXPECT_EQ(regs[0].tag, "RxM");
    EXPECT_EQ(ValorTexto(regs[0]), "GPN000036" + std::string(36, '*'));
  }
}

TEST_F(TraceQuadros, ChaveValidaExigeTraceAtivo) {
  FixaRelogio(Instante(2026, 12, 10));
  Abre("q.dmp", Parametros("20261201", "20261231").c_str(), nullptr, nullptr, 0);
  EXPECT_EQ(TraceChaveValida(), 0);
}

TEST_F(TraceQuadros, QuadrosDesconhecidoOpnECortado) {
  FixaRelogio(Instante(2026, 12, 10));
  Abre("q.dmp", Parametros("20261201", "20261231").c_str());
  const std::string desconhecido = "\x16XYZ004abcd\x17\x31\x32";
  const std::string opn = "\x16OPN000\x17\x31\x32";
  const std::string longo = "\x16ZZZ" + std::string(2000, '5') + "\x17\x31\x32";
  TraceDadosPinPad("TxM", "BufferTxPinPad", desconhecido.data(), static_cast<int32_t>(desconhecido.size()), 1);
  TraceDadosPinPad("TxM", "BufferTxPinPad", opn.data(), static_cast<int32_t>(opn.size()), 1);
  TraceDadosPinPad("TxM", "BufferTxPinPad", longo.data(), static_cast<int32_t>(longo.size()), 1);
  TraceDadosPinPad("TxM", "nulo", nullptr, 10, 1);
  const auto regs = Registros(Arquivo("q.dmp"));
  ASSERT_EQ(regs.size(), 4u);
  EXPECT_EQ(ValorTexto(regs[0]), "\x16XYZ#######\x17\x31\x32");
  EXPECT_EQ(ValorTexto(regs[1]), opn);
  EXPECT_EQ(regs[2].valor.size(), TAM_QUADRO_MASCARA);
  EXPECT_EQ(ValorTexto(regs[2]), "\x16ZZZ" + std::string(TAM_QUADRO_MASCARA - 4, '#'));
  EXPECT_TRUE(regs[3].valor.empty());
}

TEST_F(TraceQuadros, ParametrosAdicionaisEscondemONumeroDoCartao) {
  Abre();
  const std::string estrelas(16, '*');
  struct Caso {
    const char* texto;
    std::string esperado;
  } casos[] = {
      {"A=1,B=2", "A=1,B=2"},
      {"NumCartaoCripto=4111111111111111", "NumCartaoCripto=" + estrelas},
      {"A=1,NumCartaoCripto=41,B=2", "A=1,NumCartaoCripto=" + estrelas + ",B=2"},
      {"numcartaocripto=5500000000000004999,X=1", "numcartaocripto=" + estrelas + ",X=1"},
      {"NumCartaoCripto=\"4111,1111\",NumCartaoCripto=", "NumCartaoCripto=" + estrelas + ",NumCartaoCripto=" + estrelas},
  };
  for (const Caso& c : casos) TraceParametrosAdicionais("PA", c.texto);
  TraceParametrosAdicionais("PA", nullptr);
  const auto regs = Registros(Arquivo("trace.dmp"));
  ASSERT_EQ(regs.size(), std::size(casos) + 1);
  for (size_t i = 0; i < std::size(casos); ++i) {
    EXPECT_EQ(regs[i].rotulo, "pParamAdic");
    EXPECT_EQ(ValorTexto(regs[i]), casos[i].esperado);
  }
  EXPECT_TRUE(regs.back().valor.empty());
}

}  // namespace
