// The entry layer without a pinpad: initialisation, the operation table,
// configuration and information entry points.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/TestUtil.h"
#include "pinpad/Comandos.h"
#include "pinpad/libpinpad.h"
#include "pinpad/pinpad.h"
#include "pinpad/sc5000.h"
#include "state/LibState.h"

namespace {

class Entrada : public ::testing::Test {
 protected:
  void SetUp() override { testutil::ResetaLibState(); }
  void TearDown() override {
    FinalizaLibPinPad();  // releases the library's trace context
    testutil::ResetaLibState();
  }
};

TEST_F(Entrada, PrimeiraChamadaInicializaEmModoInterno) {
  EXPECT_EQ(LibState.api.PrimeiraChamada, 1);
  EXPECT_EQ(LibState.api.TabelaFuncoes.Open, nullptr);
  // Before PP_Open the command's send fails in the link: the port is not open.
  EXPECT_EQ(PP_Display("x"), PPCOMP_NOTOPEN);
  EXPECT_EQ(LibState.api.PrimeiraChamada, 0);
  EXPECT_EQ(LibState.libemv.LibEMVAtiva, 0);
  EXPECT_EQ(LibState.api.TabelaFuncoes.Display, &PP_Comp_Display);
  EXPECT_EQ(LibState.api.TabelaFuncoes.GetTLV, nullptr);
}

TEST_F(Entrada, TabelaInternaTemAs36FuncoesNaOrdem) {
  const auto& t = TabelaComandosInternos;
  EXPECT_EQ(t.Open, &PP_Comp_Open);
  EXPECT_EQ(t.Abort, &PP_Comp_Abort);
  EXPECT_EQ(t.GetKey, &PP_Comp_GetKey);
  EXPECT_EQ(t.RemoveCard, &PP_Comp_RemoveCard);
  EXPECT_EQ(t.StartGetChip, nullptr);
  EXPECT_EQ(t.GetChip, nullptr);
  EXPECT_EQ(t.ResumeGetChip, nullptr);
  EXPECT_EQ(t.StartGetCard, &PP_Comp_StartGetCard);
  EXPECT_EQ(t.FinishChip, &PP_Comp_FinishChip);
  EXPECT_EQ(t.ConfigProcess, &PP_Comp_ConfigProcess);
  EXPECT_EQ(t.GetTLV, nullptr);
  // Slot order as pointers: the 17th to 19th slots (chip reading) and the last are empty.
  const void* const* slots = reinterpret_cast<const void* const*>(&t);
  for (int i = 0; i < 36; ++i) {
    bool vazio = i == 16 || i == 17 || i == 18 || i == 35;
    EXPECT_EQ(slots[i] == nullptr, vazio) << "slot " << i;
  }
}

TEST_F(Entrada, OperacoesSemImplementacaoDao18SemTrafego) {
  char saida[64] = {};
  EXPECT_EQ(PP_ConfigProcess("x"), PPCOMP_NOFUNC);
  EXPECT_EQ(PP_GetTLV("x", saida), PPCOMP_NOFUNC);
  EXPECT_EQ(PP_GetChip(saida, nullptr, saida), PPCOMP_NOFUNC);
  EXPECT_EQ(PP_ResumeGetChip(), PPCOMP_NOFUNC);
  // Chip reading needs a card read first.
  EXPECT_EQ(PP_StartGetChip("a", "b"), PPCOMP_BADCALL);
}

TEST_F(Entrada, AbortSemComandoPendenteDaOk) { EXPECT_EQ(PP_Abort(), PPCOMP_OK); }

TEST_F(Entrada, TableLoadRecExFiltraPeloTipoDeSlot) {
  // Loading reaches the command set (which fails: no port open) only for
  // slot type 1, the default.
  const char registro[] = "01005AB";
  struct Caso {
    const char* opcoes;
    int32_t esperado;
  } casos[] = {
      {nullptr, PPCOMP_NOTOPEN},          {"", PPCOMP_NOTOPEN},
      {"TipoSlot=1", PPCOMP_NOTOPEN},     {"x=3;tiposlot=1", PPCOMP_NOTOPEN},
      {"TipoSlot=2", PPCOMP_OK},          {"TipoSlot=0", PPCOMP_OK},
      {"Outro=2;TIPOSLOT=2", PPCOMP_OK},  {"TipoSlot=abc", PPCOMP_NOTOPEN},
  };
  for (const auto& c : casos) {
    EXPECT_EQ(PP_TableLoadRecEx(registro, c.opcoes), c.esperado) << (c.opcoes ? c.opcoes : "(null)");
  }
}

TEST_F(Entrada, ObtemInformacaoLibPorCodigo) {
  char saida[16];
  std::memset(saida, 'x', sizeof saida);
  EXPECT_EQ(ObtemInformacaoLib(1, saida), 0);
  EXPECT_STREQ(saida, "4.0.0.3");
  EXPECT_EQ(ObtemInformacaoLib(9999, saida), 0);
  EXPECT_STREQ(saida, "1");
  EXPECT_EQ(ObtemInformacaoLib(2, saida), PPCOMP_BADPARAM);
  EXPECT_EQ(ObtemInformacaoLib(1, nullptr), PPCOMP_BADPARAM);
  EXPECT_EQ(ObtemInformacaoLib(10000, saida), PPCOMP_NOFUNC);  // no EMV library loaded
  EXPECT_EQ(ObtemInformacaoLib(19999, saida), PPCOMP_NOFUNC);
  EXPECT_EQ(ObtemVersaoLib(saida), 0);
  EXPECT_STREQ(saida, "4.0.0.3");
}

TEST_F(Entrada, ArquivoDeConfiguracaoDefinidoELido) {
  testutil::DiretorioTemp dir;
  std::string arquivo = dir.arquivo("pinpad.ini");
  testutil::GravaArquivo(arquivo,
                         "[PinPad]\nVelocidadePinPad=9600\nCriptografiaOtimizada=1\nChaveTrace=ABCDEF0123456789XYZ\n");
  EXPECT_EQ(DefineArquivoConfiguracao(arquivo.c_str()), PPCOMP_OK);
  EXPECT_EQ(LibState.api.PrimeiraChamada, 1);  // neither call initialises the library
  CarregaConfiguracaoPinPad();
  EXPECT_EQ(LibState.api.PrimeiraChamada, 1);
  EXPECT_EQ(LibState.api.VelocidadePinPad, 9600);
  EXPECT_EQ(LibState.api.CriptografiaCompleta, 0);
  EXPECT_EQ(LibState.api.HabilitaTrace, 1);  // the key's default differs from the initial 0
  EXPECT_STREQ(LibState.api.ChaveTrace, "ABCDEF0123456789");  // at most 16 characters

  std::string longo(300, 'a');
  EXPECT_EQ(DefineArquivoConfiguracao(longo.c_str()), PPCOMP_BADPARAM);
  EXPECT_STREQ(LibState.api.ArqConfiguracao, arquivo.c_str());
  EXPECT_EQ(DefineArquivoConfiguracao(nullptr), PPCOMP_OK);
  EXPECT_STREQ(LibState.api.ArqConfiguracao, "");
  LibState.api.HabilitaTrace = 0;  // no trace file from the tear-down
}

// The result is the length of the key text held: a NUL inside the file's value
// ends the text, and the count stops there too.
TEST_F(Entrada, CarregaConfiguracaoDevolveOTamanhoDaChaveGuardada) {
  testutil::DiretorioTemp dir;
  std::string arquivo = dir.arquivo("pinpad.ini");
  struct Caso {
    const char* titulo;
    std::string valor;
    const char* chave;
  };
  const Caso casos[] = {
      {"NUL inside", std::string("AB\0CDEF", 7), "AB"},
      {"NUL first", std::string("\0ABC", 4), ""},
      {"longer than 16", "0123456789ABCDEF01", "0123456789ABCDEF"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.titulo);
    testutil::GravaArquivo(arquivo, "[PinPad]\nChaveTrace=" + c.valor + "\n");
    ASSERT_EQ(DefineArquivoConfiguracao(arquivo.c_str()), PPCOMP_OK);
    EXPECT_EQ(CarregaConfiguracaoPinPad(), static_cast<int32_t>(std::strlen(c.chave)));
    EXPECT_STREQ(LibState.api.ChaveTrace, c.chave);
  }
  LibState.api.HabilitaTrace = 0;  // no trace file from the tear-down
}

TEST_F(Entrada, ConfiguracaoAusenteDaOsPadroes) {
  DefineArquivoConfiguracao("nao-existe.ini");
  CarregaConfiguracaoPinPad();
  EXPECT_EQ(LibState.api.VelocidadePinPad, 19200);
  EXPECT_EQ(LibState.api.CriptografiaCompleta, 1);
  EXPECT_EQ(LibState.api.HabilitaTrace, 1);
  EXPECT_STREQ(LibState.api.ChaveTrace, "");
  LibState.api.HabilitaTrace = 0;  // no trace file from the tear-down
}

TEST_F(Entrada, ConfiguraTraceGuardaLojaETerminalSoComOitoCaracteres) {
  EXPECT_EQ(ConfiguraTracePinPad("LOJA0001", "TERM0001", 1, 0, nullptr), 0);
  EXPECT_STREQ(LibState.api.IdLoja, "LOJA0001");
  EXPECT_STREQ(LibState.api.IdTerminal, "TERM0001");
  EXPECT_EQ(LibState.api.UsaLojaTerminal, 1);
  EXPECT_EQ(ConfiguraTracePinPad("LOJA001", "TERM0001", 0, 0, "DiretorioTrace=."), 0);
  EXPECT_STREQ(LibState.api.IdLoja, "");
  EXPECT_STREQ(LibState.api.IdTerminal, "");
}

TEST_F(Entrada, FuncoesHostGuardadas) {
  auto comando = +[](int32_t, const char*) -> int32_t { return 0; };
  auto recebe = +[](int32_t, int32_t, int32_t, int32_t, uint8_t*, char*) -> int32_t { return 0; };
  EXPECT_EQ(DefineFuncoesHost(recebe, comando), 0);
  EXPECT_EQ(LibState.api.PrimeiraChamada, 0);
  EXPECT_EQ(LibState.api.FuncaoHostComando, comando);
  EXPECT_EQ(LibState.api.FuncaoHostRecebe, recebe);
  // Back to the serial line: a close through these hosts would look for the
  // key-control file and log its absence to the working directory.
  EXPECT_EQ(DefineFuncoesHost(nullptr, nullptr), 0);
  EXPECT_EQ(LibState.api.FuncaoHostComando, nullptr);
}

// A path that is not a terminal (a mistyped file name, /dev/null) is refused
// as any port that cannot be opened: code 30, the serial line on standard
// error naming the path, and not one byte written into the file.
TEST_F(Entrada, OpenDeAlgoQueNaoEhTerminalFalhaSemEscrever) {
  testutil::DiretorioTemp dir;
  const std::string arquivo = dir.arquivo("somefile");
  testutil::GravaArquivo(arquivo, "conteudo\n");
  struct Abertura {
    const char* nome;
    int32_t (*abre)(const char*);
  } aberturas[] = {{"PP_Open", PP_Open}, {"SC5000AbrePorta", SC5000AbrePorta}};
  for (const auto& a : aberturas) {
    for (const std::string& caminho : {arquivo, std::string("/dev/null")}) {
      SCOPED_TRACE(std::string(a.nome) + " " + caminho);
      testing::internal::CaptureStderr();
      EXPECT_EQ(a.abre(caminho.c_str()), PPCOMP_PORTERR);
      const std::string erro = testing::internal::GetCapturedStderr();
      const std::string linha =
          "Erro " + std::to_string(ENOTTY) + "[" + std::strerror(ENOTTY) + "] na abertura da " + caminho + "\n";
      EXPECT_NE(erro.find(linha), std::string::npos) << erro;
      EXPECT_EQ(LibState.serial.PortaPinPad, 0);
      EXPECT_EQ(testutil::LeArquivo(arquivo), "conteudo\n");
      FinalizaLibPinPad();
      testutil::ResetaLibState();
    }
  }
}

TEST(FormataCampo, AlinhaECortaPeloSinalDoPreenchimento) {
  char b[12];
  std::memset(b, '#', sizeof b);
  FormataCampo(b, 2, 6, -' ', "abc", 3);
  EXPECT_EQ(std::string(b, 8), "#abc   #");
  FormataCampo(b, 2, 6, '0', "12", 2);
  EXPECT_EQ(std::string(b, 8), "#000012#");
  FormataCampo(b, 2, 6, -' ', "abcdefghij", 10);
  EXPECT_EQ(std::string(b, 8), "#abcdef#");
  FormataCampoTexto(b, 1, 4, -' ', nullptr);
  EXPECT_EQ(std::string(b, 4), "    ");
}

TEST(CopiaNotificacao, PreencheTrintaEDoisComBrancos) {
  char m[40];
  std::memset(m, '#', sizeof m);
  CopiaNotificacao(m, "AGUARDE PROCESSAMENTO", 20);
  EXPECT_EQ(std::string(m, 33), "AGUARDE PROCESSAMENT            #");
  CopiaNotificacao(m, std::string(40, 'z').c_str(), 40);
  EXPECT_EQ(std::string(m, 33), std::string(32, 'z') + "#");
}

}  // namespace

// Host link mode: open, close and abort go to the host's command function.
namespace host {
std::vector<std::pair<int32_t, std::string>> chamadas;
int32_t resultado650 = 0;
int32_t Comando(int32_t operacao, const char* texto) {
  chamadas.emplace_back(operacao, texto ? texto : "(null)");
  return operacao == 650 ? resultado650 : 0;
}
int32_t Recebe(int32_t, int32_t, int32_t, int32_t, uint8_t*, char*) { return -1; }
}  // namespace host

TEST_F(Entrada, ModoHostUsaOsCodigos650A652) {
  host::chamadas.clear();
  DefineFuncoesHost(host::Recebe, host::Comando);

  host::resultado650 = -5;  // a failing host open is a communication error
  EXPECT_EQ(PP_Open("HOSTPORTA"), PPCOMP_COMMERR);
  ASSERT_EQ(host::chamadas.size(), 1u);
  EXPECT_EQ(host::chamadas[0], std::make_pair(650, std::string("HOSTPORTA")));

  host::chamadas.clear();
  LibState.comandos.AguardaResposta = 1;  // nothing pending: no abort
  EXPECT_EQ(PP_Abort(), PPCOMP_OK);
  EXPECT_TRUE(host::chamadas.empty());
  LibState.comandos.AguardaResposta = 0;
  EXPECT_EQ(PP_Abort(), PPCOMP_OK);
  ASSERT_EQ(host::chamadas.size(), 1u);
  EXPECT_EQ(host::chamadas[0].first, 652);

  host::chamadas.clear();
  PP_Close("");  // whatever the exchange gives, the link is closed with 651
  ASSERT_FALSE(host::chamadas.empty());
  EXPECT_EQ(host::chamadas.back(), std::make_pair(651, std::string("(null)")));
  DefineFuncoesHost(nullptr, nullptr);
}
