// pinpadctl end to end against simpinpad: every command, the explanations of a
// port that does not open, a pinpad with keys at only some indexes, time
// limits, Ctrl-C, and card numbers that never come out whole.
#include <gtest/gtest.h>
#include <grp.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/SeguraPorta.h"
#include "common/TestUtil.h"
#include "pinpadctl/Terminal.h"
#include "tool/Processo.h"

namespace {

using e2e::Resultado;
using e2e::Simulador;

Resultado Pinpadctl(const std::vector<std::string>& args, int limiteMs = 30000) {
  return e2e::Executa(e2e::Programa("pinpadctl"), args, limiteMs);
}

bool Contem(const std::string& texto, const std::string& trecho) { return texto.find(trecho) != std::string::npos; }

// An environment variable for the programs one test runs; put back afterwards.
class Ambiente {
 public:
  Ambiente(const char* nome, const char* valor) : nome_(nome) {
    if (const char* v = std::getenv(nome)) antes_ = v, tinha_ = true;
    if (valor) setenv(nome, valor, 1);
    else unsetenv(nome);
  }
  ~Ambiente() {
    if (tinha_) setenv(nome_.c_str(), antes_.c_str(), 1);
    else unsetenv(nome_.c_str());
  }

 private:
  std::string nome_, antes_;
  bool tinha_ = false;
};

// Valid UTF-8 throughout (what a JSON or XML reader demands).
bool Utf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

// ---- Command line -----------------------------------------------------------------

TEST(PinpadctlUso, AjudaDoProgramaEDeCadaComando) {
  auto r = Pinpadctl({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* c : {"diagnostico", "info", "mostra", "tecla", "cifra", "carimbo", "evento", "remove", "cartao"}) {
    EXPECT_TRUE(Contem(r.saida, c)) << c;
    auto a = Pinpadctl({"/dev/ttyACM0", c, "--help"});
    EXPECT_EQ(a.status, 0) << c;
    EXPECT_TRUE(Contem(a.saida, std::string("PORTA ") + c)) << a.saida;
  }
  EXPECT_TRUE(Contem(Pinpadctl({"cartao", "--help"}).saida, "mascarado"));
}

TEST(PinpadctlUso, LinhaInvalidaSai255SemTocarNaPorta) {
  struct Caso {
    std::vector<std::string> args;
    const char* trecho;
  } casos[] = {
      {{}, "Uso:"},
      {{"/nao/existe"}, "Uso:"},
      {{"/nao/existe", "desconhecido"}, "comando desconhecido"},
      {{"/nao/existe", "info", "--opcao-x"}, "opcao desconhecida"},
      {{"/nao/existe", "mostra", std::string(17, 'A') + "|B"}, "16 caracteres"},
      {{"/nao/existe", "mostra", std::string(33, 'A')}, "32 caracteres"},
      {{"/nao/existe", "cifra", "100", "1122334455667788"}, "0 a 99"},
      {{"/nao/existe", "cifra", "2", "11223344556677"}, "16 digitos"},
      {{"/nao/existe", "tecla", "--espera", "x"}, "--espera"},
      {{"/nao/existe", "diagnostico", "--indices", "9-2"}, "--indices"},
      // Numbers are read whole, arguments counted, options checked against the command.
      {{"/nao/existe", "diagnostico", "--indices", "5x"}, "--indices"},
      {{"/nao/existe", "tecla", "--espera", "1e3"}, "--espera"},
      {{"/nao/existe", "cifra", "5x", "1122334455667788"}, "0 a 99"},
      {{"/nao/existe", "info", "ab"}, "dois digitos"},
      {{"/nao/existe", "carimbo", "5"}, "dois digitos"},
      {{"0", "info"}, "a porta \"0\" nao existe"},
      {{"/nao/existe", "info", "00", "01"}, "argumento a mais: \"01\""},
      {{"/nao/existe", "tecla", "agora"}, "argumento a mais"},
      {{"/nao/existe", "diagnostico", "x"}, "argumento a mais"},
      {{"/nao/existe", "info", "--des"}, "nao tem a opcao --des"},
      {{"/nao/existe", "mostra", "A", "--espera", "5"}, "nao tem a opcao --espera"},
      {{"/nao/existe", "mostra"}, "faltam argumentos"},
  };
  for (const auto& c : casos) {
    auto r = Pinpadctl(c.args);
    EXPECT_EQ(r.status, 255) << c.trecho;
    EXPECT_TRUE(Contem(r.erro, c.trecho)) << r.erro;
    EXPECT_TRUE(Contem(r.erro, "Uso: pinpadctl")) << r.erro;
    EXPECT_EQ(r.saida, "") << c.trecho;
    EXPECT_FALSE(Contem(r.saida + r.erro, "Erro PP_Open")) << c.trecho;
  }
  // In JSON mode the error is also an object on standard output.
  auto j = Pinpadctl({"/nao/existe", "info", "ab", "--json"});
  EXPECT_EQ(j.status, 255);
  EXPECT_TRUE(Contem(j.saida, "{\"versao_formato\":1,\"status\":255,\"texto\":\"linha de comando invalida\",\"erro\":"))
      << j.saida;
  EXPECT_TRUE(Contem(j.erro, "dois digitos")) << j.erro;
}

TEST(PinpadctlUso, VersaoDeCadaPrograma) {
  for (const char* programa : {"pinpadctl", "kolvar-lote", "simpinpad", "letrace", "geractl"}) {
    auto r = e2e::Executa(e2e::Programa(programa), {"--version"});
    EXPECT_EQ(r.status, 0) << programa;
    const std::string inicio = std::string(programa) + " ";
    ASSERT_EQ(r.saida.rfind(inicio, 0), 0u) << programa << ": " << r.saida;
    const std::string versao = r.saida.substr(inicio.size());
    EXPECT_EQ(versao.find_first_not_of("0123456789."), versao.size() - 1) << r.saida;
    EXPECT_EQ(versao.back(), '\n');
    EXPECT_EQ(r.erro, "");
  }
}

// The completion script, sourced in bash, asked what follows the words typed
// (through the function it registered for the program).
std::string Completa(const std::string& linha) {
  static constexpr char Driver[] = R"(
source "$1"
read -ra COMP_WORDS <<< "$2"
[[ $2 == *' ' ]] && COMP_WORDS+=('')
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
f=$(complete -p "${COMP_WORDS[0]}") || exit 1
f=${f#*-F }
${f%% *}
printf '%s\n' "${COMPREPLY[@]}"
)";
  return e2e::Executa("/bin/bash", {"--norc", "--noprofile", "-c", Driver, "bash", COMPLETA_BASH, linha}).saida;
}

TEST(PinpadctlUso, CompletaComandosOpcoesEPortas) {
  testutil::DiretorioTemp tmp;
  testutil::GravaArquivo(tmp.arquivo("pinpad0"), "");
  EXPECT_EQ(Completa("pinpadctl /dev/ttyACM0 di"), "diagnostico\n");
  EXPECT_EQ(Completa("pinpadctl /dev/ttyACM0 c"), "cifra\ncarimbo\ncartao\n");
  EXPECT_EQ(Completa("pinpadctl /dev/ttyACM0 cifra 2 1122334455667788 --3"), "--3des\n");
  EXPECT_EQ(Completa("pinpadctl --json /x diagnostico --t"), "--teclado\n");
  EXPECT_EQ(Completa("pinpadctl --ver"), "--version\n");
  EXPECT_EQ(Completa("pinpadctl " + tmp.arquivo("pinp")), tmp.arquivo("pinpad0") + "\n");
  EXPECT_EQ(Completa("kolvar-lote --ju"), "--junit\n");
  EXPECT_EQ(Completa("pinpadctl por"), "portas\n");
  EXPECT_EQ(Completa("pinpadctl portas --s"), "--sonda\n");
  EXPECT_EQ(Completa("kolvar-lote --ht"), "--html\n");
  EXPECT_EQ(Completa("kolvar-lote --saida x " + tmp.arquivo("pinp")), tmp.arquivo("pinpad0") + "\n");
}

// ---- A port that does not open ---------------------------------------------------

TEST(PinpadctlPorta, ExplicaPorQueAPortaNaoAbreESai30) {
  testutil::DiretorioTemp tmp;
  const std::string arquivo = tmp.arquivo("nao-e-terminal");
  testutil::GravaArquivo(arquivo, "conteudo");
  struct Caso {
    std::string porta;
    const char* trecho;
  } casos[] = {
      {tmp.arquivo("ttyNADA"), "nao existe"},
      {arquivo, "nao e um terminal"},
      {tmp.caminho(), "e uma pasta"},
      {"/dev/null", "nao e um terminal"},
  };
  for (const auto& c : casos) {
    for (const char* comando : {"info", "diagnostico"}) {
      auto r = Pinpadctl({c.porta, comando});
      EXPECT_EQ(r.status, 30) << c.porta << " " << comando;
      // The error, with its explanation, on standard error; the guess "provavelmente
      // ocupada" only when nothing better is known.
      EXPECT_TRUE(Contem(r.erro, "Erro PP_Open (30) - ")) << r.erro;
      EXPECT_TRUE(Contem(r.erro, c.trecho)) << r.erro;
      EXPECT_FALSE(Contem(r.saida + r.erro, "provavelmente ocupada")) << r.saida << r.erro;
      if (std::string(comando) == "info") EXPECT_EQ(r.saida, "");
      else EXPECT_TRUE(Contem(r.saida, "[FALHA] porta: ")) << r.saida;
    }
  }
  // Nothing was written into the file.
  EXPECT_EQ(testutil::LeArquivo(arquivo), "conteudo");

  auto j = Pinpadctl({"--json", tmp.arquivo("ttyNADA"), "diagnostico"});
  EXPECT_EQ(j.status, 30);
  EXPECT_TRUE(Contem(j.saida, "\"passo\":\"porta\",\"ok\":false,\"status\":30")) << j.saida;
  EXPECT_TRUE(Contem(j.saida, "{\"versao_formato\":1,\"porta\":")) << j.saida;
  EXPECT_TRUE(Contem(j.saida, "\"status\":30,\"texto\":\"O dispositivo")) << j.saida;
  EXPECT_FALSE(Contem(j.saida, "provavelmente ocupada")) << j.saida;
}

// pinpadctl run as "nobody" (needs root to drop privileges): exit status and
// output, or -1 when it could not run so.
int ComoNinguem(const std::vector<std::string>& args, std::string& saida) {
  int tubo[2];
  if (pipe(tubo) != 0) return -1;
  const std::string programa = e2e::Programa("pinpadctl");
  std::vector<char*> argv = {const_cast<char*>(programa.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(tubo[1], 1);
    dup2(tubo[1], 2);
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(120);
    execv(programa.c_str(), argv.data());
    _exit(121);
  }
  close(tubo[1]);
  char buf[4096];
  ssize_t n;
  while ((n = read(tubo[0], buf, sizeof buf)) > 0) saida.append(buf, static_cast<size_t>(n));
  close(tubo[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  if (!WIFEXITED(st) || WEXITSTATUS(st) >= 120) return -1;
  return WEXITSTATUS(st);
}

// As an ordinary user, a device of another group is refused; joining the group
// is suggested only when the group may read and write the device (the
// explanation table test covers the case where privileges cannot be dropped).
TEST(PinpadctlPorta, SemPermissaoSoSugereOGrupoQuePodeLerEEscrever) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to drop privileges";
  Simulador sim;
  ASSERT_TRUE(sim.ativo());
  char real[4096];
  ASSERT_NE(realpath(sim.dispositivo().c_str(), real), nullptr);
  struct stat st {};
  ASSERT_EQ(stat(real, &st), 0);
  const group* g = getgrgid(st.st_gid);
  const std::string grupo = g ? g->gr_name : std::to_string(st.st_gid);
  struct Caso {
    mode_t modo;
    bool sugere;
  } casos[] = {{0600, false}, {0660, true}};
  for (const auto& c : casos) {
    ASSERT_EQ(chmod(real, c.modo), 0);
    std::string saida;
    int status = ComoNinguem({real, "diagnostico"}, saida);
    if (status < 0) GTEST_SKIP() << "cannot run as nobody here: " << saida;
    EXPECT_EQ(status, 30) << saida;
    EXPECT_TRUE(Contem(saida, "Permissao negada")) << saida;
    EXPECT_TRUE(Contem(saida, "grupo '" + grupo + "'")) << saida;
    EXPECT_EQ(Contem(saida, "usermod -aG " + grupo), c.sugere) << saida;
  }
}

// A device another program holds in exclusive mode is "busy".
TEST(PinpadctlPorta, DispositivoEmUsoExclusivoEstaOcupado) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to drop privileges";
  Simulador sim;
  ASSERT_TRUE(sim.ativo());
  char real[4096];
  ASSERT_NE(realpath(sim.dispositivo().c_str(), real), nullptr);
  ASSERT_EQ(chmod(real, 0666), 0);
  int fd = open(real, O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ioctl(fd, TIOCEXCL), 0);
  std::string saida;
  int status = ComoNinguem({real, "info"}, saida);
  close(fd);
  if (status < 0) GTEST_SKIP() << "cannot run as nobody here: " << saida;
  EXPECT_EQ(status, 30) << saida;
  EXPECT_TRUE(Contem(saida, "ocupado")) << saida;
  EXPECT_TRUE(Contem(saida, "fuser -v " + std::string(real))) << saida;
}

// A port another program holds (its lock on the device) is refused before a
// byte is sent, naming the holder; nothing reaches the pinpad.
TEST(PinpadctlPorta, PortaEmUsoDizQuemAUsaENaoEnviaNada) {
  Simulador sim;
  ASSERT_TRUE(sim.ativo());
  testutil::SeguraPorta dono(sim.dispositivo(), "segurador");
  ASSERT_TRUE(dono.ativo());
  const std::string quem = "em uso por pid " + std::to_string(dono.pid()) + " (segurador)";
  for (const char* comando : {"info", "diagnostico"}) {
    auto r = Pinpadctl({sim.dispositivo(), comando});
    EXPECT_EQ(r.status, 30) << comando << r.saida;
    EXPECT_TRUE(Contem(r.erro, quem)) << r.erro;
  }
  auto j = Pinpadctl({"--json", sim.dispositivo(), "info"});
  EXPECT_EQ(j.status, 30);
  EXPECT_TRUE(Contem(j.saida, "\"explicacao\":\"A porta \\\"" + sim.dispositivo() + "\\\" esta " + quem)) << j.saida;
  EXPECT_TRUE(e2e::Quadros(sim.log()).empty()) << sim.log();
  dono.Solta();
  EXPECT_EQ(Pinpadctl({sim.dispositivo(), "info"}).status, 0);
}

// ---- Commands against the simulator ------------------------------------------------

TEST(PinpadctlSimulador, InfoMostraOsCamposPeloNome) {
  Simulador sim({"--versao", "1.07", "--fabricante", "FABRICA Z", "--modelo", "MOD 9", "--serie", "SN-0042"});
  ASSERT_TRUE(sim.ativo());
  auto r = Pinpadctl({sim.dispositivo(), "info"});
  EXPECT_EQ(r.status, 0) << r.saida << r.erro;
  EXPECT_TRUE(Contem(r.saida, "Fabricante:        FABRICA Z\n")) << r.saida;
  EXPECT_TRUE(Contem(r.saida, "Modelo:            MOD 9\n"));
  EXPECT_TRUE(Contem(r.saida, "Versao (60-63):    1.07\n"));
  EXPECT_TRUE(Contem(r.saida, "Numero de serie:   SN-0042\n"));
  EXPECT_TRUE(Contem(r.saida, "nao se aplica"));

  auto j = Pinpadctl({"--json", sim.dispositivo(), "info"});
  EXPECT_EQ(j.status, 0);
  EXPECT_TRUE(Contem(j.saida, "\"fabricante\":\"FABRICA Z\",\"modelo\":\"MOD 9\"")) << j.saida;
  EXPECT_TRUE(Contem(j.saida, "\"versao\":\"1.07\""));
  EXPECT_TRUE(Contem(j.saida, "\"serie\":\"SN-0042\",\"kolvar_aplica_teste\":false"));
  EXPECT_TRUE(Contem(j.saida, "\"status\":0,\"texto\":\"OK\"}\n"));
  // Every call opens and closes the pinpad.
  auto quadros = e2e::Quadros(sim.log());
  EXPECT_EQ(std::count(quadros.begin(), quadros.end(), "OPN"), 2);
  EXPECT_EQ(std::count(quadros.begin(), quadros.end(), "CLO032" + std::string(32, ' ')), 2);
}

TEST(PinpadctlSimulador, MostraSeparaAsLinhasNaBarra) {
  Simulador sim;
  ASSERT_TRUE(sim.ativo());
  EXPECT_EQ(Pinpadctl({sim.dispositivo(), "mostra", "LINHA UM|LINHA DOIS"}).status, 0);
  EXPECT_EQ(Pinpadctl({sim.dispositivo(), "mostra", "TEXTO QUE QUEBRA NO DEZESSEIS"}).status, 0);
  auto quadros = e2e::Quadros(sim.log());
  EXPECT_NE(std::find(quadros.begin(), quadros.end(), "DSP032LINHA UM        LINHA DOIS      "), quadros.end());
  EXPECT_NE(std::find(quadros.begin(), quadros.end(), "DSP032TEXTO QUE QUEBRA NO DEZESSEIS   "), quadros.end());
  // The port is closed with the text shown, so it stays on the display.
  EXPECT_NE(std::find(quadros.begin(), quadros.end(), "CLO032LINHA UM        LINHA DOIS      "), quadros.end());
  ASSERT_FALSE(quadros.empty());
  EXPECT_EQ(quadros.back(), "CLO032TEXTO QUE QUEBRA NO DEZESSEIS   ");
  auto displays = e2e::Displays(sim.log());
  ASSERT_FALSE(displays.empty());
  EXPECT_EQ(displays.back(), "TEXTO QUE QUEBRA NO DEZESSEIS   ");
}

TEST(PinpadctlSimulador, TeclaDaONomeEOCodigoComoStatus) {
  Simulador sim({"--teclas", "F2,CANCEL,OK"});
  ASSERT_TRUE(sim.ativo());
  struct Caso {
    int status;
    const char* linha;
  } casos[] = {{5, "Tecla: F2\n"}, {13, "Tecla: CANCEL\n"}, {0, "Tecla: OK\n"}};
  for (const auto& c : casos) {
    auto r = Pinpadctl({sim.dispositivo(), "tecla", "--espera", "5"});
    EXPECT_EQ(r.status, c.status) << r.saida;
    EXPECT_EQ(r.saida, c.linha);
  }
}

TEST(PinpadctlSimulador, EsperaEsgotadaAbortaOComandoEFecha) {
  Simulador sim({"--tecla-padrao", "NENHUMA"});
  ASSERT_TRUE(sim.ativo());
  for (const char* comando : {"tecla", "cartao"}) {
    auto r = Pinpadctl({sim.dispositivo(), comando, "--espera", "0.5"});
    EXPECT_EQ(r.status, 12) << comando;
    EXPECT_TRUE(Contem(r.erro, "Erro espera (12) - Esgotado o tempo maximo estipulado para a operacao.\n"))
        << r.erro;
    EXPECT_LT(r.segundos, 5);
  }
  const std::string log = sim.log();
  EXPECT_EQ(e2e::ContaEventos(log, "RX", "CAN"), 2);
  auto quadros = e2e::Quadros(log);
  ASSERT_FALSE(quadros.empty());
  EXPECT_EQ(quadros.back(), "CLO032" + std::string(32, ' '));
}

TEST(PinpadctlSimulador, CifraNoModoQueOIndiceAceita) {
  Simulador sim({"--sem-chave", "4"});
  ASSERT_TRUE(sim.ativo());
  // Index 2 (double-length key) in triple DES: Kolvar's expected cryptogram.
  auto r = Pinpadctl({sim.dispositivo(), "cifra", "2", "1122334455667788"});
  EXPECT_EQ(r.status, 0) << r.saida;
  EXPECT_EQ(r.saida, "Indice 02, 3DES: 2CEFD8CF1F1CF0C6\n");
  auto d = Pinpadctl({"--json", sim.dispositivo(), "cifra", "8", "1122334455667788", "--des"});
  EXPECT_EQ(d.status, 0);
  EXPECT_TRUE(Contem(d.saida, "\"indice\":8,\"modo\":\"DES\",\"criptograma\":\"")) << d.saida;
  // An empty index: both modes refused, the pinpad's code is the status.
  auto v = Pinpadctl({sim.dispositivo(), "cifra", "4", "1122334455667788"});
  EXPECT_EQ(v.status, 11);
  EXPECT_EQ(v.saida, "");
  EXPECT_EQ(v.erro, "Erro PP_EncryptBuffer (11) - Parametro invalido passado a funcao.\n");
  std::vector<std::string> enb;
  for (const auto& q : e2e::Quadros(sim.log()))
    if (q.rfind("ENB", 0) == 0) enb.push_back(q.substr(0, 9));
  EXPECT_EQ(enb, (std::vector<std::string>{"ENB051102", "ENB051008", "ENB051104", "ENB051004"}));
}

TEST(PinpadctlSimulador, CarimboEventoERemove) {
  Simulador sim({"--teclas", "F1,CHIP,RETIRA"});
  ASSERT_TRUE(sim.ativo());
  auto c = Pinpadctl({sim.dispositivo(), "carimbo"});
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.saida, "Carimbo de tempo (00): 0000000000\n");
  auto e1 = Pinpadctl({sim.dispositivo(), "evento", "--espera", "5"});
  EXPECT_EQ(e1.status, 0);
  EXPECT_EQ(e1.saida, "Evento: tecla F1\n");
  auto e2 = Pinpadctl({"--json", sim.dispositivo(), "evento", "--espera", "5"});
  EXPECT_TRUE(Contem(e2.saida, "\"evento\":\"chip inserido\"")) << e2.saida;
  auto rm = Pinpadctl({sim.dispositivo(), "remove", "TIRE O CARTAO", "--espera", "5"});
  EXPECT_EQ(rm.status, 0);
  EXPECT_EQ(rm.saida, "Cartao retirado\n");
  EXPECT_TRUE(Contem(rm.erro, "pinpad: TIRE O CARTAO")) << rm.erro;
}

// ---- Card data -------------------------------------------------------------------

// A sentinel card number goes through every path that sees card data; neither
// it, nor its hidden middle, nor a track comes out, on any stream or in any file.
TEST(PinpadctlCartao, NumeroSentinelaNuncaSaiInteiro) {
  const std::string pan = "4999988887777666";
  Simulador sim({"--pan", pan, "--nome", "SENTINELA/TESTE", "--validade", "2807", "--teclas", "OK,OK,CARTAO,CARTAO"});
  ASSERT_TRUE(sim.ativo());
  testutil::DiretorioTemp cwd;
  const auto antes = std::filesystem::current_path();
  std::filesystem::current_path(cwd.caminho());
  std::vector<Resultado> rs = {
      Pinpadctl({sim.dispositivo(), "cartao", "--espera", "5"}),
      Pinpadctl({"--json", sim.dispositivo(), "cartao", "--espera", "5"}),
      Pinpadctl({sim.dispositivo(), "evento", "--espera", "5"}),
      Pinpadctl({"--json", sim.dispositivo(), "evento", "--espera", "5"}),
  };
  std::filesystem::current_path(antes);
  EXPECT_TRUE(std::filesystem::is_empty(cwd.caminho())) << "pinpadctl wrote a file";
  for (const auto& r : rs) {
    EXPECT_EQ(r.status, 0) << r.saida << r.erro;
    const std::string tudo = r.saida + r.erro;
    EXPECT_TRUE(Contem(tudo, "499998******7666")) << tudo;
    EXPECT_FALSE(Contem(tudo, pan)) << tudo;
    EXPECT_FALSE(Contem(tudo, "88887777")) << tudo;
    EXPECT_FALSE(Contem(tudo, "=2807")) << tudo;   // track 2
    EXPECT_FALSE(Contem(tudo, "^2807")) << tudo;   // track 1
  }
  EXPECT_TRUE(Contem(rs[0].saida, "Numero:   499998******7666\nValidade: 07/28\nPortador: SENTINELA/TESTE\n"))
      << rs[0].saida;
  EXPECT_TRUE(Contem(rs[1].saida, "\"numero\":\"499998******7666\",\"validade\":\"07/28\",\"portador\":\"SENTINELA/TESTE\""))
      << rs[1].saida;
}

// ---- diagnostico -----------------------------------------------------------------

TEST(PinpadctlDiagnostico, AchaAsChavesSoNosIndicesQueAsTem) {
  Simulador sim({"--sem-chave", "2", "--sem-chave", "8", "--chave", "3=0123456789ABCDEFFEDCBA9876543210", "--chave",
                 "7=0123456789ABCDEF"});
  ASSERT_TRUE(sim.ativo());
  auto r = Pinpadctl({sim.dispositivo(), "diagnostico", "--indices", "0-9"});
  EXPECT_EQ(r.status, 0) << r.saida;
  for (const char* linha : {"[ OK  ] porta: ", "[ OK  ] pinpad responde: ", "[ OK  ] informacao: SIMPINPAD SIM-16X2",
                            "Versao (60-63):    1.06\n", "o Kolvar aplica o teste", "[ OK  ] carimbo de tempo: 0000000000",
                            "[ OK  ] chaves mestras: indices que cifram: 03 (3DES), 07 (3DES)\n", "[ OK  ] display: ",
                            "Resumo: 7 de 7 verificacoes passaram.\n"}) {
    EXPECT_TRUE(Contem(r.saida, linha)) << linha << "\n" << r.saida;
  }
  auto displays = e2e::Displays(sim.log());
  ASSERT_FALSE(displays.empty());
  EXPECT_EQ(displays.back(), "PINPADCTL       TESTE DO DISPLAY");
  EXPECT_EQ(e2e::Quadros(sim.log()).back(), "CLO032PINPADCTL       TESTE DO DISPLAY");

  auto j = Pinpadctl({"--json", sim.dispositivo(), "diagnostico", "--indices", "2-3"});
  EXPECT_EQ(j.status, 0);
  EXPECT_TRUE(Contem(j.saida, "\"indices\":[{\"indice\":3,\"modo\":\"3DES\"}]")) << j.saida;
  EXPECT_TRUE(Contem(j.saida, "\"informacao\":{\"fabricante\":\"SIMPINPAD\"")) << j.saida;
}

TEST(PinpadctlDiagnostico, SemChaveNenhumaFalhaComOCodigoDoPinpad) {
  Simulador sim({"--sem-chave", "2", "--sem-chave", "8", "--teclas", "F3"});
  ASSERT_TRUE(sim.ativo());
  auto r = Pinpadctl({sim.dispositivo(), "diagnostico", "--indices", "0-9", "--teclado", "--espera", "5"});
  EXPECT_EQ(r.status, 11) << r.saida;
  EXPECT_TRUE(Contem(r.saida, "[FALHA] chaves mestras: nenhum indice de 00-09 cifra\n")) << r.saida;
  EXPECT_TRUE(Contem(r.saida, "[ OK  ] teclado: tecla F3\n")) << r.saida;
  EXPECT_TRUE(Contem(r.saida, "chaves mestras         NAO funciona\n"));
  EXPECT_TRUE(Contem(r.erro, "Erro PP_EncryptBuffer (11) - Parametro invalido passado a funcao.\n")) << r.erro;
}

// ---- Ctrl-C ----------------------------------------------------------------------

// pinpadctl started in the background, its output in a file.
struct EmFundo {
  pid_t pid = -1;
  std::string saida;
  EmFundo(const std::vector<std::string>& args, const std::string& arquivo) : saida(arquivo) {
    const std::string programa = e2e::Programa("pinpadctl");
    std::vector<char*> argv = {const_cast<char*>(programa.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid = fork();
    if (pid == 0) {
      FILE* f = std::fopen(arquivo.c_str(), "w");
      if (f) {
        dup2(fileno(f), 1);
        dup2(fileno(f), 2);
      }
      execv(programa.c_str(), argv.data());
      _exit(127);
    }
  }
  int Espera() {
    int st = 0;
    for (int i = 0; i < 1000; ++i) {
      if (waitpid(pid, &st, WNOHANG) == pid) return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
    return -1;
  }
};

TEST(PinpadctlInterrupcao, CtrlCAbortaOComandoPendenteEFechaAPorta) {
  Simulador sim({"--tecla-padrao", "NENHUMA"});
  ASSERT_TRUE(sim.ativo());
  testutil::DiretorioTemp tmp;
  for (const char* comando : {"tecla", "cartao", "evento"}) {
    EmFundo p({sim.dispositivo(), comando, "--espera", "20"}, tmp.arquivo(comando));
    ASSERT_GT(p.pid, 0);
    // Wait until the start command reached the pinpad.
    const size_t antes = e2e::Quadros(sim.log()).size();
    for (int i = 0; i < 500 && e2e::Quadros(sim.log()).size() < antes + 2; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(p.pid, SIGINT);
    EXPECT_EQ(p.Espera(), 130) << comando;
    EXPECT_TRUE(Contem(testutil::LeArquivo(p.saida), "interrompido")) << comando;
  }
  const std::string log = sim.log();
  EXPECT_EQ(e2e::ContaEventos(log, "RX", "CAN"), 3);
  EXPECT_EQ(e2e::ContaEventos(log, "TX", "EOT"), 3);
  auto quadros = e2e::Quadros(log);
  EXPECT_EQ(std::count(quadros.begin(), quadros.end(), "CLO032" + std::string(32, ' ')), 3);
  ASSERT_FALSE(quadros.empty());
  EXPECT_EQ(quadros.back(), "CLO032" + std::string(32, ' '));
}

// ---- The information block ---------------------------------------------------------

// A block shorter than its fields is a failure that says how much came, never a
// success with blank fields.
TEST(PinpadctlInformacao, BlocoVazioOuCurtoEhFalha) {
  for (int tamanho : {0, 60}) {
    Simulador sim({"--tam-info", std::to_string(tamanho)});
    ASSERT_TRUE(sim.ativo());
    const std::string falta = std::to_string(tamanho) + " de 100 caracteres";
    auto r = Pinpadctl({sim.dispositivo(), "info"});
    EXPECT_EQ(r.status, 33) << r.saida << r.erro;
    EXPECT_TRUE(Contem(r.erro, "bloco de informacao incompleto: " + falta)) << r.erro;
    EXPECT_TRUE(Contem(r.erro, "Erro PP_GetInfo (33)")) << r.erro;
    EXPECT_FALSE(Contem(r.saida, "Fabricante:")) << r.saida;

    auto j = Pinpadctl({"--json", sim.dispositivo(), "info"});
    EXPECT_EQ(j.status, 33);
    EXPECT_TRUE(Contem(j.saida, "\"caracteres\":" + std::to_string(tamanho) + ",")) << j.saida;
    EXPECT_TRUE(Contem(j.saida, "\"status\":33,")) << j.saida;

    auto d = Pinpadctl({sim.dispositivo(), "diagnostico", "--indices", "2"});
    EXPECT_EQ(d.status, 33) << d.saida;
    EXPECT_TRUE(Contem(d.saida, "[FALHA] informacao: bloco de informacao incompleto: " + falta + "\n")) << d.saida;
    EXPECT_TRUE(Contem(d.saida, "informacao             NAO funciona\n")) << d.saida;
  }
}

// ---- Text in any language ------------------------------------------------------------

// A port path with accents: a link to the simulator.
struct PinpadAcentuado {
  explicit PinpadAcentuado(const std::vector<std::string>& opcoes = {}) : sim(opcoes) {}
  testutil::DiretorioTemp tmp;
  Simulador sim;
  std::string porta = tmp.arquivo("pinpad-a\xC3\xA7\xC3\xA3o");
  bool ligado = symlink(sim.dispositivo().c_str(), porta.c_str()) == 0;
};

TEST(PinpadctlTexto, DisplayEmLatin1ContadoEmCaracteres) {
  Ambiente locale("LC_ALL", "C.UTF-8");
  PinpadAcentuado p;
  ASSERT_TRUE(p.sim.ativo() && p.ligado);
  auto r = Pinpadctl({"--json", p.porta, "mostra", "A\xC3\x87\xC3\x83O|PRE\xC3\x87O"});
  EXPECT_EQ(r.status, 0) << r.erro;
  EXPECT_TRUE(Utf8(r.saida)) << r.saida;
  // The user's strings come back unchanged; the pinpad got Latin-1.
  EXPECT_TRUE(Contem(r.saida, "\"porta\":\"" + p.porta + "\"")) << r.saida;
  EXPECT_TRUE(Contem(r.saida, "\"linha1\":\"A\xC3\x87\xC3\x83O            \",\"linha2\":\"PRE\xC3\x87O           \""))
      << r.saida;
  auto quadros = e2e::Quadros(p.sim.log());
  EXPECT_NE(std::find(quadros.begin(), quadros.end(), "DSP032A\xC7\xC3O            PRE\xC7O           "), quadros.end());

  // Sixteen characters are sixteen, however many bytes they take.
  std::string dezesseis;
  for (int i = 0; i < 16; ++i) dezesseis += "\xC3\x87";
  EXPECT_EQ(Pinpadctl({p.porta, "mostra", dezesseis + "|X"}).status, 0);
  struct Recusa {
    std::string texto;
    const char* trecho;
  } recusas[] = {
      {dezesseis + "\xC3\x87|X", "16 caracteres"},
      {"PRE\xC3\x87O \xE2\x82\xAC 10", "\"\xE2\x82\xAC\" (U+20AC) nao existe no display"},
      {"A\xC7O", "nao e da codificacao do sistema (UTF-8)"},
  };
  const size_t antes = e2e::Quadros(p.sim.log()).size();
  for (const auto& c : recusas) {
    auto x = Pinpadctl({p.porta, "mostra", c.texto});
    EXPECT_EQ(x.status, 255) << c.trecho;
    EXPECT_TRUE(Contem(x.erro, c.trecho)) << x.erro;
  }
  EXPECT_EQ(e2e::Quadros(p.sim.log()).size(), antes) << "a refused text reached the pinpad";
}

// The library's texts are Latin-1 (code 33 carries an accent): UTF-8 in JSON,
// the locale's encoding for people.
TEST(PinpadctlTexto, TextosLatin1EmUtf8ENoLocale) {
  PinpadAcentuado p({"--tam-info", "0"});
  ASSERT_TRUE(p.sim.ativo() && p.ligado);
  const std::string texto = "Mensagem recebida do pinpad possui formato inv";
  {
    Ambiente locale("LC_ALL", "C.UTF-8");
    auto j = Pinpadctl({"--json", p.porta, "info"});
    EXPECT_EQ(j.status, 33) << j.erro;
    EXPECT_TRUE(Utf8(j.saida)) << j.saida;
    EXPECT_TRUE(Contem(j.saida, "\"porta\":\"" + p.porta + "\"")) << j.saida;
    EXPECT_TRUE(Contem(j.saida, "\"texto\":\"" + texto + "\xC3\xA1lido.\"")) << j.saida;
    EXPECT_TRUE(Contem(j.erro, texto + "\xC3\xA1lido.\n")) << j.erro;
  }
  // A locale without accents gets the plain letters, not stray bytes.
  Ambiente locale("LC_ALL", "C");
  auto t = Pinpadctl({p.porta, "info"});
  EXPECT_TRUE(Contem(t.erro, texto + "alido.\n")) << t.erro;
}

// ---- Colour ----------------------------------------------------------------------------

TEST(PinpadctlCores, SoNumTerminalESemNoColor) {
  Simulador sim({"--sem-chave", "8"});
  ASSERT_TRUE(sim.ativo());
  Ambiente semCor("NO_COLOR", nullptr);
  Ambiente term("TERM", "xterm");
  const std::vector<std::string> args = {sim.dispositivo(), "diagnostico", "--indices", "7-8"};
  auto terminal = e2e::ExecutaEmTerminal(e2e::Programa("pinpadctl"), args);
  EXPECT_EQ(terminal.status, 11) << terminal.saida;
  EXPECT_TRUE(Contem(terminal.saida, "[\033[32m OK  \033[0m] porta: ")) << terminal.saida;
  EXPECT_TRUE(Contem(terminal.saida, "[\033[31mFALHA\033[0m] chaves mestras: ")) << terminal.saida;
  auto tubo = Pinpadctl(args);
  EXPECT_TRUE(Contem(tubo.saida, "[ OK  ] porta: ")) << tubo.saida;
  EXPECT_FALSE(Contem(tubo.saida + tubo.erro, "\033[")) << tubo.saida;
  Ambiente comNoColor("NO_COLOR", "1");
  auto noColor = e2e::ExecutaEmTerminal(e2e::Programa("pinpadctl"), args);
  EXPECT_TRUE(Contem(noColor.saida, "[ OK  ] porta: ")) << noColor.saida;
  EXPECT_FALSE(Contem(noColor.saida, "\033[3")) << noColor.saida;
}

// ---- portas -----------------------------------------------------------------------

TEST(PinpadctlPortas, AjudaEUso) {
  auto geral = Pinpadctl({"--help"});
  EXPECT_TRUE(Contem(geral.saida, "pinpadctl [--json] portas [--sonda]")) << geral.saida;
  auto a = Pinpadctl({"portas", "--help"});
  EXPECT_EQ(a.status, 0);
  EXPECT_TRUE(Contem(a.saida, "--sonda")) << a.saida;
  EXPECT_TRUE(Contem(a.saida, "/dev/serial/by-id")) << a.saida;
  for (const std::vector<std::string>& args : {std::vector<std::string>{"portas", "--x"},
                                               std::vector<std::string>{"portas", "--espera", "0"}}) {
    auto r = Pinpadctl(args);
    EXPECT_EQ(r.status, 255) << args[1];
    EXPECT_TRUE(Contem(r.erro, "Uso: pinpadctl [--json] portas")) << r.erro;
  }
}

// The probe asks each free port at once: the pinpad is found with its fields,
// the port another program holds is never touched, a path that does not exist
// does not open, and the pinpad's port has its settings back.
TEST(PinpadctlPortas, SondaAchaOPinpadENaoTocaNaPortaEmUso) {
  Simulador pinpad({"--fabricante", "FABRICA Z", "--modelo", "MOD 9", "--versao", "1.07", "--serie", "SN-7"});
  Simulador ocupado;
  ASSERT_TRUE(pinpad.ativo() && ocupado.ativo());
  testutil::SeguraPorta dono(ocupado.dispositivo());
  ASSERT_TRUE(dono.ativo());
  testutil::DiretorioTemp tmp;
  ConfiguraDiferente(pinpad.dispositivo());
  const termios antes = Configuracao(pinpad.dispositivo());
  // A generous limit: only a port where nothing answers would cost it.
  auto r = Pinpadctl({"--json", "portas", "--sonda", "--espera", "20", pinpad.dispositivo(), ocupado.dispositivo(),
                      tmp.arquivo("ttyNADA")});
  EXPECT_EQ(r.status, 0) << r.saida << r.erro;
  EXPECT_LT(r.segundos, 10);
  const std::string& j = r.saida;
  EXPECT_EQ(j.rfind("{\"formato\":1,\"portas\":[{\"dispositivo\":\"" + pinpad.dispositivo() + "\"", 0), 0u) << j;
  EXPECT_TRUE(Contem(j, "\"console\":false,\"em_uso\":false,\"sonda\":{\"resultado\":\"pinpad\",\"pinpad\":true,"
                        "\"status\":0,\"fabricante\":\"FABRICA Z\",\"modelo\":\"MOD 9\",\"versao\":\"1.07\","
                        "\"serie\":\"SN-7\"}"))
      << j;
  EXPECT_TRUE(Contem(j, "\"console\":false,\"em_uso\":true,\"dono\":{\"pid\":" + std::to_string(dono.pid()) +
                            ",\"programa\":\"segurador\"},\"sonda\":{\"resultado\":\"em uso\",\"pinpad\":false}"))
      << j;
  EXPECT_TRUE(Contem(j, "\"console\":false,\"em_uso\":null,\"sonda\":{\"resultado\":\"nao abre\",\"pinpad\":false,"
                        "\"status\":30}"))
      << j;
  EXPECT_TRUE(e2e::Quadros(ocupado.log()).empty()) << ocupado.log();
  auto quadros = e2e::Quadros(pinpad.log());
  ASSERT_FALSE(quadros.empty());
  EXPECT_EQ(quadros.front(), "OPN");
  EXPECT_EQ(quadros.back(), "CLO032" + std::string(32, ' '));
  EsperaIguais(Configuracao(pinpad.dispositivo()), antes, "pinpad");

  auto t = Pinpadctl({"portas", "--sonda", "--espera", "20", pinpad.dispositivo(), ocupado.dispositivo()});
  EXPECT_EQ(t.status, 0);
  EXPECT_TRUE(Contem(t.saida, "pinpad: FABRICA Z MOD 9 versao 1.07")) << t.saida;
  EXPECT_TRUE(Contem(t.saida, "sim, pid " + std::to_string(dono.pid()) + " (segurador)  em uso: nao sondada")) << t.saida;
  EXPECT_TRUE(e2e::Quadros(ocupado.log()).empty());
}

// Ctrl-C in the middle of a probe: the port gets its settings back, the
// listing is still printed, the status says it was interrupted.
TEST(PinpadctlPortas, CtrlCNaSondaDevolveAPorta) {
  Simulador mudo({"--sem-ack", "1000"});
  ASSERT_TRUE(mudo.ativo());
  ConfiguraDiferente(mudo.dispositivo());
  const termios antes = Configuracao(mudo.dispositivo());
  testutil::DiretorioTemp tmp;
  EmFundo p({"portas", "--sonda", "--espera", "20", mudo.dispositivo()}, tmp.arquivo("saida"));
  ASSERT_GT(p.pid, 0);
  for (int i = 0; i < 500 && e2e::Quadros(mudo.log()).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_FALSE(e2e::Quadros(mudo.log()).empty());
  const auto inicio = std::chrono::steady_clock::now();
  kill(p.pid, SIGINT);
  EXPECT_EQ(p.Espera(), 130);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio).count(), 3);
  const std::string saida = testutil::LeArquivo(p.saida);
  EXPECT_TRUE(Contem(saida, "sem resposta")) << saida;
  EXPECT_TRUE(Contem(saida, "interrompido")) << saida;
  EsperaIguais(Configuracao(mudo.dispositivo()), antes, "interrompida");
}

}  // namespace
