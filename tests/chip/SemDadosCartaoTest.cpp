// A card reading, both chip steps and a PIN entry with frame tracing on (a valid
// trace key): no trace file may hold the card number, track 2 or the PIN block,
// while the caller's own outputs hold what it asked for. The second test runs
// every path that carries card data in one go (Kolvar's flow, serial pinpad,
// hostile chip data with nested templates, SC5000, host link mode) and searches
// every file written for the sentinels.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "DispositivoSimulado.h"
#include "PeerPty.h"
#include "common/TestUtil.h"
#include "emv/ApoioE2E.h"
#include "pinpad/ParametrosChip.h"
#include "pinpad/pinpad.h"
#include "pinpad/sc5000.h"
#include "state/LibState.h"
#include "tests/hostlink/HostTeste.h"
#include "tool/Processo.h"

namespace {

using apoioe2e::Consulta;

const std::string pan = "5413330089010434";

std::string HexDe(const std::string& s) {
  std::string r;
  char c[3];
  for (unsigned char b : s) {
    std::snprintf(c, sizeof c, "%02X", b);
    r += c;
  }
  return r;
}

std::string Data(int dias) {
  std::time_t t = std::time(nullptr) + dias * 86400;
  std::tm tm{};
  localtime_r(&t, &tm);
  char s[16];
  std::strftime(s, sizeof s, "%Y%m%d", &tm);
  return s;
}

TEST(SemDadosCartao, NenhumArquivoDeTraceGuardaCartaoTrilhaOuSenha) {
  testutil::ResetaLibState();
  testutil::DiretorioTemp pasta;
  auto chave = e2e::Executa(e2e::Programa("letrace"), {"--gera-chave", Data(-1), Data(1)}, 10000);
  ASSERT_EQ(chave.status, 0) << chave.erro;
  std::string textoChave = chave.saida.substr(0, chave.saida.find_first_of("\r\n"));
  testutil::GravaArquivo(pasta.arquivo("pinpad.ini"), "[PinPad]\nHabilitaTrace=1\nChaveTrace=" + textoChave + "\n");
  ASSERT_EQ(DefineArquivoConfiguracao(pasta.arquivo("pinpad.ini").c_str()), PPCOMP_OK);
  CarregaConfiguracaoPinPad();
  ASSERT_EQ(ConfiguraTracePinPad(nullptr, nullptr, 0, 0, ("DiretorioTrace=" + pasta.caminho()).c_str()), 0);

  e2e::Simulador sim({"--pan", pan, "--senha", "4321", "--chave", "2=0123456789ABCDEFFEDCBA9876543210"});
  ASSERT_TRUE(sim.ativo());
  ASSERT_EQ(PP_Open(sim.dispositivo().c_str()), PPCOMP_OK);
  char msg[64], seg[8];

  char cartao[600] = {};
  ASSERT_EQ(PP_StartGetCard(nullptr, ("0001" + std::string(36, '0')).c_str()), PPCOMP_OK);
  ASSERT_EQ(Consulta([&] { return PP_GetCard(cartao, seg, msg); }), PPCOMP_OK);
  EXPECT_NE(std::string(cartao, sizeof cartao).find(pan), std::string::npos);

  // The caller asks for the card number and track 2 in both chip steps.
  char goc[TamRespostaChip] = {};
  ASSERT_EQ(PP_StartGoOnChip((std::string(83, '0') + "000").c_str(), "0025A57", nullptr), PPCOMP_OK);
  ASSERT_EQ(Consulta([&] { return PP_GoOnChip(goc, msg); }), PPCOMP_OK);
  EXPECT_NE(std::string(goc).find("5A08" + pan), std::string::npos) << goc;
  char fnc[TamRespostaChip] = {};
  ASSERT_EQ(PP_FinishChip("0000000000", "0025A57", fnc), PPCOMP_OK);
  const size_t p57 = std::string(fnc).find(pan + "D");
  ASSERT_NE(p57, std::string::npos) << fnc;
  const std::string trilha2Chip = std::string(fnc).substr(p57, 32);

  // PIN entry: method 1, key index 02, working key, account number, no messages.
  std::string gpn = "102" + std::string(32, '0') + "16" + pan + "   " + "0";
  char pin[64] = {};
  ASSERT_EQ(PP_StartGetPIN(gpn.c_str()), PPCOMP_OK);
  ASSERT_EQ(Consulta([&] { return PP_GetPIN(pin, msg); }), PPCOMP_OK);
  const std::string bloco(pin, 16);
  ASSERT_NE(bloco, std::string(16, '0'));
  PP_Close("");
  FinalizaLibPinPad();

  std::vector<std::string> arquivos;
  for (const auto& e : std::filesystem::directory_iterator(pasta.caminho()))
    if (e.path().extension() == ".dmp") arquivos.push_back(e.path().string());
  ASSERT_FALSE(arquivos.empty());
  for (const std::string& a : arquivos) {
    auto lido = e2e::Executa(e2e::Programa("letrace"), {a}, 20000);
    ASSERT_EQ(lido.status, 0) << lido.erro;
    const std::string& t = lido.saida;
    SCOPED_TRACE(a);
    EXPECT_NE(t.find("Bit55"), std::string::npos);  // the chip answers were traced, without the card data
    EXPECT_NE(t.find("RxM"), std::string::npos);    // so were the frames
    for (const std::string& proibido :
         {pan, HexDe(pan), trilha2Chip, pan + "=", HexDe(pan + "="), bloco, HexDe(bloco)}) {
      EXPECT_EQ(t.find(proibido), std::string::npos) << proibido << "\n" << t;
    }
  }
  testutil::ResetaLibState();
}

// ---- Every path at once --------------------------------------------------------

const std::string kChaves[3] = {"0123456789ABCDEF", "FEDCBA9876543210", "89ABCDEF01234567"};

std::string CampoTam(const std::string& dados) {
  char n[24];
  std::snprintf(n, sizeof n, "%03zu", dados.size());
  return n + dados;
}

// One BER-TLV entry in hexadecimal around a hexadecimal value.
std::string Tlv(const std::string& tag, const std::string& valor) {
  const size_t n = valor.size() / 2;
  char c[16];
  if (n < 0x80)
    std::snprintf(c, sizeof c, "%02zX", n);
  else
    std::snprintf(c, sizeof c, "81%02zX", n & 0xFF);
  return tag + c + valor;
}

// Card data of `p` in the tags that carry it: PAN, track 2 and track 1
// equivalents, contactless track 2.
std::string DadosCartaoTlv(const std::string& p) {
  return Tlv("5A", p) + Tlv("57", p + "D2612201") + Tlv("56", HexDe("B" + p + "^TESTE")) + Tlv("9F6B", p + "D2612201");
}

class DiretorioCorrente {
 public:
  explicit DiretorioCorrente(const std::string& dir) {
    if (getcwd(anterior_, sizeof anterior_) == nullptr || chdir(dir.c_str()) != 0) anterior_[0] = '\0';
  }
  ~DiretorioCorrente() {
    if (anterior_[0] && chdir(anterior_) != 0) {
    }
  }
  DiretorioCorrente(const DiretorioCorrente&) = delete;
  DiretorioCorrente& operator=(const DiretorioCorrente&) = delete;
  bool ok() const { return anterior_[0] != '\0'; }

 private:
  char anterior_[4096] = {};
};

TEST(SemDadosCartao, NenhumArquivoDeNenhumCaminhoGuardaOsSentinelas) {
  testutil::ResetaLibState();
  testutil::DiretorioTemp pasta;
  DiretorioCorrente aqui(pasta.caminho());  // key-control file and cipher log live here
  ASSERT_TRUE(aqui.ok());
  auto chave = e2e::Executa(e2e::Programa("letrace"), {"--gera-chave", Data(-1), Data(1)}, 10000);
  ASSERT_EQ(chave.status, 0) << chave.erro;
  const std::string textoChave = chave.saida.substr(0, chave.saida.find_first_of("\r\n"));
  const std::string ini = pasta.arquivo("pinpad.ini");
  testutil::GravaArquivo(ini, "[PinPad]\nHabilitaTrace=1\nChaveTrace=" + textoChave + "\n");
  const std::string geractl = e2e::Programa("geractl");
  ASSERT_EQ(e2e::Executa(geractl, {"grava", "QXCLICTL.BIN", kChaves[0], kChaves[1], kChaves[2]}, 10000).status, 0);

  std::vector<std::string> sentinelas;  // card number, tracks and PIN blocks seen by callers
  auto Sentinela = [&](const std::string& s) {
    sentinelas.push_back(s);
    sentinelas.push_back(HexDe(s));
  };
  Sentinela(pan);
  Sentinela(pan + "=");
  char msg[64], seg[8];

  // 1. Kolvar's flow with the test host preloaded, its configuration turning the
  //    trace on: Kolvar writes its trace into the working directory.
  {
    e2e::Simulador sim({"--teclas", "OK,OK", "--pan", pan});
    ASSERT_TRUE(sim.ativo());
    setenv("HOSTTESTE_CHAVES", (kChaves[0] + ":" + kChaves[1] + ":" + kChaves[2]).c_str(), 1);
    setenv("HOSTTESTE_CONFIG", ini.c_str(), 1);
    setenv("LD_PRELOAD", (std::string(PINPAD_LIB_DIR) + "/libhostteste.so").c_str(), 1);
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanAntes = asan ? asan : "";
    setenv("ASAN_OPTIONS", (asanAntes + (asanAntes.empty() ? "" : ":") + "verify_asan_link_order=0").c_str(), 1);
    auto k = e2e::Kolvar({sim.dispositivo()});
    unsetenv("LD_PRELOAD");
    unsetenv("HOSTTESTE_CHAVES");
    unsetenv("HOSTTESTE_CONFIG");
    setenv("ASAN_OPTIONS", asanAntes.c_str(), 1);
    EXPECT_EQ(k.status, 0) << k.saida << k.erro;
  }

  ASSERT_EQ(DefineArquivoConfiguracao(ini.c_str()), PPCOMP_OK);
  CarregaConfiguracaoPinPad();
  ASSERT_EQ(ConfiguraTracePinPad(nullptr, nullptr, 0, 0, ("DiretorioTrace=" + pasta.caminho()).c_str()), 0);

  // 2. Serial pinpad: card reading, both chip steps asking for the card data,
  //    PIN entry.
  {
    e2e::Simulador sim({"--pan", pan, "--senha", "4321", "--chave", "2=0123456789ABCDEFFEDCBA9876543210"});
    ASSERT_TRUE(sim.ativo());
    ASSERT_EQ(PP_Open(sim.dispositivo().c_str()), PPCOMP_OK);
    char cartao[600] = {};
    ASSERT_EQ(PP_StartGetCard(nullptr, ("0001" + std::string(36, '0')).c_str()), PPCOMP_OK);
    ASSERT_EQ(Consulta([&] { return PP_GetCard(cartao, seg, msg); }), PPCOMP_OK);
    char goc[TamRespostaChip] = {};
    ASSERT_EQ(PP_StartGoOnChip((std::string(83, '0') + "000").c_str(), "0025A57", nullptr), PPCOMP_OK);
    ASSERT_EQ(Consulta([&] { return PP_GoOnChip(goc, msg); }), PPCOMP_OK);
    char fnc[TamRespostaChip] = {};
    ASSERT_EQ(PP_FinishChip("0000000000", "0025A57", fnc), PPCOMP_OK);
    const size_t p57 = std::string(fnc).find(pan + "D");
    ASSERT_NE(p57, std::string::npos) << fnc;
    Sentinela(std::string(fnc).substr(p57, 32));
    std::string gpn = "102" + std::string(32, '0') + "16" + pan + "   " + "0";
    char pin[64] = {};
    ASSERT_EQ(PP_StartGetPIN(gpn.c_str()), PPCOMP_OK);
    ASSERT_EQ(Consulta([&] { return PP_GetPIN(pin, msg); }), PPCOMP_OK);
    Sentinela(std::string(pin, 16));
    PP_Close("");
  }

  // 3. A pinpad whose chip answers carry the card data inside tag 80 and inside
  //    templates nested twelve deep, the caller asking for the templates.
  {
    std::string aninhado = DadosCartaoTlv(pan);
    const char* moldes[] = {"61", "A5", "E1", "80", "77", "70"};  // the outermost is 70
    for (int i = 0; i < 12; ++i) aninhado = Tlv(moldes[i % 6], aninhado);
    const std::string tlvGoc = Tlv("80", DadosCartaoTlv(pan)) + "9F2701809F26081122334455667788";
    const std::string tlvFnc = aninhado + "9F270140";
    char n[24];
    std::snprintf(n, sizeof n, "%03zu", tlvGoc.size() / 2);
    const std::string respGoc = "000000" + std::string(36, '0') + n + tlvGoc + "000";
    std::snprintf(n, sizeof n, "%03zu", tlvFnc.size() / 2);
    const std::string respFnc = "0" + std::string(n) + tlvFnc + "00" "000";
    using namespace testlink;
    ASSERT_EQ(AbreDispositivoSimulado(), PPCOMP_OK);
    PortaFecha();  // PP_Open opens it again, on the same simulated device
    RespondeAoProximoQuadro(Concatena({{kACK}, Quadro("OPN000")}));
    RespondeAoProximoQuadro(Concatena({{kACK}, Quadro("GOC000" + CampoTam(respGoc))}));
    RespondeAoProximoQuadro(Concatena({{kACK}, Quadro("FNC000" + CampoTam(respFnc))}));
    RespondeAoProximoQuadro(Concatena({{kACK}, Quadro("CLO000")}));
    ASSERT_EQ(PP_Open("/simulado"), PPCOMP_OK);
    char goc[TamRespostaChip] = {}, fnc[TamRespostaChip] = {};
    ASSERT_EQ(PP_StartGoOnChip((std::string(83, '0') + "000").c_str(), "004807077E1", nullptr), PPCOMP_OK);
    ASSERT_EQ(Consulta([&] { return PP_GoOnChip(goc, msg); }), PPCOMP_OK);
    EXPECT_NE(std::string(goc).find(pan), std::string::npos) << goc;  // the caller asked for tag 80
    ASSERT_EQ(PP_FinishChip("0000000000", "004807077E1", fnc), PPCOMP_OK);
    EXPECT_NE(std::string(fnc).find(pan), std::string::npos) << fnc;
    PP_Close("");
    LibState.serial.Chamadas = nullptr;
  }

  // 4. SC5000: serial number, PIN and card.
  {
    e2e::Simulador sim({"--sc5000", "--pan", pan, "--chave", "1=0123456789ABCDEFFEDCBA9876543210", "--teclas",
                        "OK,CARTAO:300"});
    ASSERT_TRUE(sim.ativo());
    ASSERT_EQ(SC5000AbrePorta(sim.dispositivo().c_str()), PPCOMP_OK);
    char serie[17] = {};
    ASSERT_EQ(PP_SC5000_GetSerialNumber(serie), PPCOMP_OK);
    ASSERT_EQ(PP_SC5000_StartGetPIN("1", pan.c_str(), nullptr), PPCOMP_OK);
    char bloco[17] = {};
    ASSERT_EQ(Consulta([&] { return PP_SC5000_GetPIN(bloco); }), PPCOMP_OK);
    Sentinela(std::string(bloco, 16));
    ASSERT_EQ(PP_StartGetCardCripto("2", "0123456789ABCDEF"), PPCOMP_OK);
    char t1[PP_SC5000_TAM_TRILHA] = {}, t2[PP_SC5000_TAM_TRILHA] = {};
    ASSERT_EQ(Consulta([&] { return PP_SC5000_GetCard(t1, t2); }), PPCOMP_OK);
    ASSERT_EQ(std::string(t2).rfind(pan + "=", 0), 0u) << t2;
    Sentinela(t2);
    SC5000FechaPorta();
  }

  // 5. Host link mode: card reading, chip step and PIN through the test host,
  //    then an answer under other keys (the cipher writes its error log).
  {
    e2e::Simulador sim({"--pan", pan, "--senha", "4321", "--chave", "2=0123456789ABCDEFFEDCBA9876543210"});
    ASSERT_TRUE(sim.ativo());
    hostteste::Config c;
    for (int i = 0; i < 3; ++i) c.chaves[i] = kChaves[i];
    hostteste::Configura(c);
    ASSERT_EQ(DefineFuncoesHost(hostteste::HostRecebe, hostteste::HostComando), 0);
    ASSERT_EQ(PP_Open(sim.dispositivo().c_str()), PPCOMP_OK);
    char cartao[600] = {};
    ASSERT_EQ(PP_StartGetCard(nullptr, ("0001" + std::string(36, '0')).c_str()), PPCOMP_OK);
    ASSERT_EQ(Consulta([&] { return PP_GetCard(cartao, seg, msg); }), PPCOMP_OK);
    EXPECT_NE(std::string(cartao, sizeof cartao).find(pan), std::string::npos);
    char goc[TamRespostaChip] = {};
    ASSERT_EQ(PP_StartGoOnChip((std::string(83, '0') + "000").c_str(), "0025A57", nullptr), PPCOMP_OK);
    ASSERT_EQ(Consulta([&] { return PP_GoOnChip(goc, msg); }), PPCOMP_OK);
    std::string gpn = "102" + std::string(32, '0') + "16" + pan + "   " + "0";
    char pin[64] = {};
    ASSERT_EQ(PP_StartGetPIN(gpn.c_str()), PPCOMP_OK);
    ASSERT_EQ(Consulta([&] { return PP_GetPIN(pin, msg); }), PPCOMP_OK);
    Sentinela(std::string(pin, 16));
    c.falha = hostteste::Falha::OutrasChaves;
    hostteste::Configura(c);
    char info[300] = {};
    EXPECT_EQ(PP_GetInfo("00", info), PPCOMP_QXCRIPTERR);
    c.falha = hostteste::Falha::Nenhuma;
    hostteste::Configura(c);
    PP_Close("");
    hostteste::HostComando(651, nullptr);
    DefineFuncoesHost(nullptr, nullptr);
  }
  FinalizaLibPinPad();

  // Every file any component wrote: trace files decoded as letrace reads them,
  // every file also as raw bytes.
  int traces = 0;
  bool logCifra = false;
  std::string decodificado;
  for (const auto& e : std::filesystem::recursive_directory_iterator(pasta.caminho())) {
    if (!e.is_regular_file()) continue;
    const std::string a = e.path().string();
    SCOPED_TRACE(a);
    std::vector<std::string> conteudos = {testutil::LeArquivo(a)};
    if (e.path().extension() == ".dmp") {
      auto lido = e2e::Executa(e2e::Programa("letrace"), {a}, 20000);
      EXPECT_EQ(lido.status, 0) << lido.erro;
      conteudos.push_back(lido.saida);
      decodificado += lido.saida;
      ++traces;
    }
    logCifra = logCifra || e.path().filename() == "QXCLIERR.TXT";
    for (const std::string& t : conteudos)
      for (const std::string& proibido : sentinelas) EXPECT_EQ(t.find(proibido), std::string::npos) << proibido;
  }
  // Kolvar's process and this one trace into the same daily file; every path left
  // its records there, and the cipher its error log beside it.
  EXPECT_GE(traces, 1);
  for (const char* marca : {"PP_EncryptBuffer", "Bit55", "PP_StartGetCardCripto", "PP_GetPIN", "RxM"})
    EXPECT_NE(decodificado.find(marca), std::string::npos) << marca;
  EXPECT_TRUE(logCifra);
  testutil::ResetaLibState();
}

}  // namespace
