// Pinpad frames reach the trace only while the trace key is valid, and masked;
// the extra parameter list never shows the card number.
#include <filesystem>
#include <random>
#include <string>
#include <vector>

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

// A key is good only when both halves are real dates and the start is not
// after the end; any other decoding (hexadecimal letters, day 0, 31 February,
// month 13) is no key at all, even if today sorts between its halves.
TEST_F(TraceQuadros, ChaveSoValeComDuasDatasValidasEmOrdem) {
  FixaRelogio(Instante(2026, 12, 10));
  struct Caso {
    const char* titulo;
    const char* inicio;
    const char* fim;
    int32_t valida;
  } casos[] = {
      {"valid period", "20261201", "20261231", 1},
      {"one day", "20261210", "20261210", 1},
      {"29 February of a leap year to today", "20240229", "20261210", 1},
      {"reversed period", "20261231", "20261201", 0},
      {"reversed around today", "20270101", "20260101", 0},
      {"hexadecimal letters", "1A2B3C4D", "F0E1D2C3", 0},
      {"day 0", "20261200", "20261231", 0},
      {"day 32", "20261201", "20261232", 0},
      {"month 13", "20261201", "20261301", 0},
      {"31 February", "20261201", "20270231", 0},
      {"29 February of a common year", "20230229", "20271231", 0},
      {"month 0", "20260001", "20271231", 0},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.titulo);
    TraceCtx* ctx = Abre("q.dmp", Parametros(c.inicio, c.fim).c_str());
    EXPECT_EQ(TraceChaveValida(), c.valida);
    TraceFecha(ctx);
  }
}

// Typing errors and random keys: a one-digit typo of a real key, or a random
// key, must not open the trace to pinpad frames.
TEST_F(TraceQuadros, ChaveComErroDeDigitacaoOuAleatoriaNaoVale) {
  FixaRelogio(Instante(2026, 12, 10));
  char real[17];
  ASSERT_EQ(ValidadeParaChaveTrace("20261201", "20261231", real), 0);
  auto valida = [&](const std::string& chave) {
    TraceCtx* ctx = Abre("q.dmp", ("ChaveTrace=" + chave).c_str());
    const int32_t v = TraceChaveValida();
    TraceFecha(ctx);
    return v;
  };
  ASSERT_EQ(valida(real), 1);
  std::vector<std::string> aceitas;
  for (size_t i = 0; i < 16; ++i)
    for (char d : std::string("0123456789ABCDEF")) {
      if (d == real[i]) continue;
      std::string chave = real;
      chave[i] = d;
      if (valida(chave)) aceitas.push_back(chave);
    }
  // Of the 240 typos only one still decodes to two real dates in order
  // (20261201 to 20760221): a key of its own, which no rule on the dates can
  // tell from a minted one.
  EXPECT_EQ(aceitas, std::vector<std::string>{"860A69DDD10F7345"}) << "typos of " << real;
  std::mt19937 gen(11);
  int aleatorias = 0;
  for (int k = 0; k < 2000; ++k) {
    char chave[17];
    for (int i = 0; i < 16; ++i) chave[i] = "0123456789ABCDEF"[gen() % 16];
    chave[16] = '\0';
    if (valida(chave)) ++aleatorias;
  }
  EXPECT_EQ(aleatorias, 0) << "random keys out of 2000 that enable frame tracing";
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

// The parameter-list reader takes a key with blanks (space, tab, CR, LF) around
// it and in any case, in any section: the card number under such a key is
// hidden too.
TEST_F(TraceQuadros, ParametrosAdicionaisEscondemOCartaoComBrancosEmVoltaDaChave) {
  Abre();
  const std::string estrelas(16, '*');
  const std::string cartao = "4111111111111111";
  struct Caso {
    const char* titulo;
    std::string texto;
    std::string esperado;
  };
  const Caso casos[] = {
      {"blanks around '='", "NumCartaoCripto = " + cartao, "NumCartaoCripto =" + estrelas},
      {"blanks before the key", "A=1,  NumCartaoCripto=" + cartao + ",B=2",
       "A=1,  NumCartaoCripto=" + estrelas + ",B=2"},
      {"tab, CR and LF, other case", "A=1,\r\n\tnumCARTAOcripto\t\r\n=" + cartao,
       "A=1,\r\n\tnumCARTAOcripto\t\r\n=" + estrelas},
      {"in a later section", "A=1<#>NumCartaoCripto = " + cartao + "<#>B=2",
       "A=1<#>NumCartaoCripto =" + estrelas + "<#>B=2"},
      {"quoted value with blanks", "NumCartaoCripto =\"4111 1111,1111 1111\",B=2",
       "NumCartaoCripto =" + estrelas + ",B=2"},
      {"a longer key is another key", "NumCartaoCriptoX = 1", "NumCartaoCriptoX = 1"},
      // The value ends where the reader ends it: an escaped quote does not close it.
      {"escaped quote", "A=1,NumCartaoCripto=\"4111\\\"2222,3333444455\",B=2", "A=1,NumCartaoCripto=" + estrelas + ",B=2"},
      {"escaped quote, unclosed, in a section", "A=1<#>NumCartaoCripto=\"41\\\"11,2222<#>3333\"",
       "A=1<#>NumCartaoCripto=" + estrelas + "<#>3333\""},
  };
  for (const Caso& c : casos) TraceParametrosAdicionais("PA", c.texto.c_str());
  const auto regs = Registros(Arquivo("trace.dmp"));
  ASSERT_EQ(regs.size(), std::size(casos));
  for (size_t i = 0; i < std::size(casos); ++i) {
    SCOPED_TRACE(casos[i].titulo);
    EXPECT_EQ(ValorTexto(regs[i]), casos[i].esperado);
  }
}

}  // namespace
