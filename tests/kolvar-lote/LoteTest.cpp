// kolvar-lote: the reading of Kolvar's console lines, and whole benches run
// against several simpinpads at once with the table, JSON and JUnit records.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/SeguraPorta.h"
#include "common/TestUtil.h"
#include "tool/Processo.h"
#include "tools/kolvar-lote/Lote.h"
#include "tools/kolvar-lote/Processos.h"
#include "tools/pinpadctl/Texto.h"

namespace {

bool Contem(const std::string& texto, const std::string& trecho) { return texto.find(trecho) != std::string::npos; }

const std::string Info =
    "FABRICA             MODELO X           0FW 1.0              1.06APP             SERIE-77            ";

// Kolvar's console as it prints it, fed line by line.
lote::Porta Le(const std::vector<std::string>& linhas, int status) {
  lote::Porta p;
  p.porta = "/dev/ttyACM0";
  for (const auto& l : linhas) lote::LinhaKolvar(p, l);
  lote::Conclui(p, status);
  return p;
}

TEST(LoteConsole, VereditoDasLinhasDoKolvar) {
  const std::string ts = "[10/12/2026 14:47:54] ";
  struct Caso {
    const char* titulo;
    std::vector<std::string> linhas;
    int status;
    const char* veredito;
  } casos[] = {
      {"3DES", {ts + "Resultado: PinPad COMPATIVEL com Veltrana M4120 com criptografia 3DES"}, 0, "COMPATIVEL 3DES"},
      {"DES after a cancelled 3DES screen",
       {ts + "Resultado: PinPad COMPATIVEL com Veltrana M4120 com criptografia 3DES",
        ts + "Resultado: PinPad COMPATIVEL com Veltrana M4120 com criptografia DES"},
       0,
       "COMPATIVEL 3DES"},
      {"refused", {ts + "Erro 11 - Parametro invalido passado a funcao.", ts + "Resultado: PinPad NAO COMPATIVEL com Veltrana M4120"}, 0, "NAO COMPATIVEL"},
      // Kolvar prints NAO COMPATIVEL for any failed request: after a code that
      // says the pinpad could not be talked to, whatever the exit status (the
      // pinpad may answer the final key again), it is that error.
      {"pinpad silent during encryption, back for the final key",
       {ts + "Processando...", ts + "Processando...",
        ts + "Erro 31 - pinpad provavelmente desconectado ou problemas com a interface serial.",
        ts + "Resultado: PinPad NAO COMPATIVEL com Veltrana M4120", ts + "Finalize a operacao no pinpad"},
       0,
       "ERRO 31"},
      {"answer time-out", {ts + "Erro 34 - Tempo esgotado ao esperar pela resposta do pinpad", ts + "Resultado: PinPad NAO COMPATIVEL com Veltrana M4120"}, 34, "ERRO 34"},
      {"refusal after an earlier prompt error",
       {ts + "Erro PP_GetKey (31) - pinpad provavelmente desconectado ou problemas com a interface serial.",
        ts + "Erro 40 - Erro interno do pinpad.", ts + "Resultado: PinPad NAO COMPATIVEL com Veltrana M4120"},
       0,
       "NAO COMPATIVEL"},
      {"1.07", {ts + "Resultado: Teste nao se aplica. Pinpad (1.07) usado na homologacao Veltrana M4120."}, 13, "NAO SE APLICA"},
      {"cancel", {ts + "Teste cancelado pelo operador"}, 0, "CANCELADO"},
      {"open fails: the serial layer's stderr line has no time stamp",
       {"Erro 2[No such file or directory] na abertura da /x", ts + "Erro 30 - porta serial do pinpad provavelmente ocupada."},
       30,
       "ERRO 30"},
      {"key wait fails", {ts + "Erro PP_GetKey (31) - pinpad provavelmente desconectado ou problemas com a interface serial."}, 31, "ERRO 31"},
      {"killed", {}, -1, "INDEFINIDO"},
  };
  for (const auto& c : casos) EXPECT_EQ(Le(c.linhas, c.status).veredito, c.veredito) << c.titulo;

  auto p = Le({"Kolvar v1.003 - Compatibilidade com Veltrana M4120", ts + "PinPad: [" + Info + "]"}, 0);
  EXPECT_EQ(p.fabricante, "FABRICA");
  EXPECT_EQ(p.modelo, "MODELO X");
  EXPECT_EQ(p.versao, "1.06");
  EXPECT_EQ(p.serie, "SERIE-77");
}

TEST(LoteConsole, AprovacaoEErrosDeExecucao) {
  lote::Porta p;
  for (const char* v : {"COMPATIVEL 3DES", "COMPATIVEL DES"}) {
    p.veredito = v;
    EXPECT_TRUE(lote::Aprovada(p, false));
  }
  p.veredito = lote::NaoSeAplica;
  EXPECT_FALSE(lote::Aprovada(p, false));
  EXPECT_TRUE(lote::Aprovada(p, true));
  EXPECT_FALSE(lote::ErroDeExecucao(p));
  for (const char* v : {"ERRO 30", "PORTA REPETIDA", "NAO E TERMINAL", "EM USO", "TEMPO ESGOTADO", "INDEFINIDO"}) {
    p.veredito = v;
    EXPECT_TRUE(lote::ErroDeExecucao(p)) << v;
  }
  EXPECT_EQ(lote::NomeArquivo(3, "/dev/ttyACM0"), "03-ttyACM0.txt");
  EXPECT_EQ(lote::NomeArquivo(12, "/dev/serial/by-id/usb-X:Y"), "12-usb-X_Y.txt");
  EXPECT_EQ(lote::NomeArquivo(1, "/dev/.."), "01-porta.txt");
}

// ---- Whole benches against simpinpad ------------------------------------------------

struct Bancada {
  std::vector<std::unique_ptr<e2e::Simulador>> sims;
  testutil::DiretorioTemp tmp;
  e2e::Resultado r;
};

// Four pinpads (compatible, not applicable, no key at either index, operator
// cancels), one port that does not exist and the first port again.
void Roda(Bancada& b, const std::vector<std::string>& extra = {}) {
  const std::vector<std::vector<std::string>> perfis = {
      {"--teclas", "OK,OK", "--serie", "SN-COMPATIVEL"},
      {"--versao", "1.07", "--serie", "SN-NAOSEAPLICA"},
      {"--sem-chave", "2", "--sem-chave", "8", "--serie", "SN-SEMCHAVE"},
      {"--teclas", "CANCEL", "--serie", "SN-CANCELA"},
  };
  std::vector<std::string> args = {"--saida", b.tmp.arquivo("saida"), "--json", b.tmp.arquivo("r.json"), "--junit",
                                   b.tmp.arquivo("r.xml")};
  args.insert(args.end(), extra.begin(), extra.end());
  for (const auto& p : perfis) {
    b.sims.push_back(std::make_unique<e2e::Simulador>(p));
    ASSERT_TRUE(b.sims.back()->ativo());
    args.push_back(b.sims.back()->dispositivo());
  }
  args.push_back(b.tmp.arquivo("ttyNADA"));
  args.push_back(b.sims[0]->dispositivo());
  b.r = e2e::Executa(e2e::Programa("kolvar-lote"), args, 60000);
}

// Children started at the start line run nothing of their program until it is
// given; one stopped while waiting ends by the signal, as Kolvar would, and
// does not hold the others back.
TEST(LoteProcessos, LargadaSoltaTodosDeUmaVez) {
  testutil::DiretorioTemp tmp;
  const std::string programa = tmp.arquivo("marca");
  testutil::GravaArquivo(programa, "#!/bin/sh\n: > \"$1\"\n");
  chmod(programa.c_str(), 0755);
  // Appended, not "m" + temporary: g++ 12 at -O3 warns (-Wrestrict) on the latter.
  auto marca = [&](size_t i) { return tmp.arquivo(std::to_string(i) + ".marca"); };
  const int nulo = open("/dev/null", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(nulo, 0);
  lote::Largada largada;
  ASSERT_TRUE(lote::AbreLargada(largada));
  std::vector<pid_t> pids;
  for (size_t i = 0; i < 4; ++i) {
    pids.push_back(lote::LancaFilho(programa, marca(i), nulo, largada));
    ASSERT_GT(pids.back(), 0);
  }
  usleep(200 * 1000);
  for (size_t i = 0; i < pids.size(); ++i) {
    EXPECT_FALSE(std::filesystem::exists(marca(i))) << i;
    EXPECT_EQ(waitpid(pids[i], nullptr, WNOHANG), 0) << i;
  }
  ASSERT_EQ(kill(pids[3], SIGTERM), 0);
  int st = 0;
  ASSERT_EQ(waitpid(pids[3], &st, 0), pids[3]);
  EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGTERM) << st;
  lote::Larga(largada);
  EXPECT_EQ(largada.leitura, -1);
  EXPECT_EQ(largada.escrita, -1);
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(waitpid(pids[i], &st, 0), pids[i]);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << i << " " << st;
    EXPECT_TRUE(std::filesystem::exists(marca(i))) << i;
  }
  EXPECT_FALSE(std::filesystem::exists(marca(3)));
  close(nulo);
}

TEST(KolvarLote, QuatroPinpadsUmaPortaInexistenteEUmaRepetida) {
  Bancada b;
  Roda(b);
  const auto& r = b.r;
  EXPECT_EQ(r.status, 1) << r.saida << r.erro;
  const std::string d = b.sims[0]->dispositivo();
  // The table: one row per port given, in order.
  std::vector<std::string> linhas;
  {
    auto ini = r.saida.find("\nPORTA ");
    ASSERT_NE(ini, std::string::npos) << r.saida;
    std::string resto = r.saida.substr(ini + 1);
    for (size_t p = 0; p < resto.size();) {
      auto f = resto.find('\n', p);
      std::string l = resto.substr(p, f - p);
      if (l.empty()) break;
      linhas.push_back(l);
      p = f + 1;
    }
  }
  ASSERT_EQ(linhas.size(), 7u) << r.saida;
  EXPECT_TRUE(Contem(linhas[0], "PORTA")) << linhas[0];
  for (const char* t : {"FABRICANTE", "MODELO", "SERIE", "VERSAO", "VEREDITO", "STATUS", "SEGUNDOS"})
    EXPECT_TRUE(Contem(linhas[0], t));
  struct Esperado {
    const char* serie;
    const char* versao;
    const char* veredito;
    const char* status;
  } esperados[] = {
      {"SN-COMPATIVEL", "1.06", "COMPATIVEL 3DES", "0"}, {"SN-NAOSEAPLICA", "1.07", "NAO SE APLICA", "0"},
      {"SN-SEMCHAVE", "1.06", "NAO COMPATIVEL", "0"},    {"SN-CANCELA", "1.06", "CANCELADO", "0"},
      {"", "", "ERRO 30", "30"},                         {"", "", "PORTA REPETIDA", "-"},
  };
  for (size_t i = 0; i < 6; ++i) {
    const auto& e = esperados[i];
    const std::string& l = linhas[i + 1];
    if (*e.serie) {
      EXPECT_TRUE(Contem(l, "SIMPINPAD")) << l;
      EXPECT_TRUE(Contem(l, "SIM-16X2")) << l;
      EXPECT_TRUE(Contem(l, e.serie)) << l;
      EXPECT_TRUE(Contem(l, std::string(" ") + e.versao + " ")) << l;
    }
    EXPECT_TRUE(Contem(l, std::string("  ") + e.veredito + " ")) << l;
    EXPECT_TRUE(Contem(l, std::string("  ") + e.status + " ")) << l;
  }

  // The JSON record.
  const std::string json = testutil::LeArquivo(b.tmp.arquivo("r.json"));
  EXPECT_TRUE(Contem(json, "\"todas_aprovadas\":false")) << json;
  EXPECT_TRUE(Contem(json, "{\"porta\":\"" + d +
                               "\",\"fabricante\":\"SIMPINPAD\",\"modelo\":\"SIM-16X2\",\"serie\":\"SN-COMPATIVEL\","
                               "\"versao\":\"1.06\",\"veredito\":\"COMPATIVEL 3DES\",\"aprovada\":true,\"status\":0,"))
      << json;
  EXPECT_TRUE(Contem(json, "\"veredito\":\"ERRO 30\",\"aprovada\":false,\"status\":30,")) << json;
  EXPECT_TRUE(Contem(json, "\"veredito\":\"PORTA REPETIDA\",\"aprovada\":false,\"status\":null,")) << json;
  EXPECT_TRUE(Contem(json, "\"console\":\"05-ttyNADA.txt\"")) << json;

  // The JUnit record: four pinpad verdicts that fail, two runs in error.
  const std::string xml = testutil::LeArquivo(b.tmp.arquivo("r.xml"));
  EXPECT_TRUE(Contem(xml, "<testsuite name=\"kolvar-lote\" tests=\"6\" failures=\"3\" errors=\"2\"")) << xml;
  EXPECT_TRUE(Contem(xml, "<failure message=\"NAO COMPATIVEL (status 0)\" type=\"NAO COMPATIVEL\"/>")) << xml;
  EXPECT_TRUE(Contem(xml, "<error message=\"ERRO 30 (status 30)\" type=\"ERRO 30\"/>")) << xml;
  EXPECT_EQ(std::count(xml.begin(), xml.end(), '\x0c'), 0);

  // Kolvar's own console, byte for byte, in one file per port.
  const std::string c1 = testutil::LeArquivo(b.tmp.arquivo("saida/01-" + d.substr(d.rfind('/') + 1) + ".txt"));
  auto campo = [](std::string s, size_t n) {
    s.resize(n, ' ');
    return s;
  };
  const std::string info = campo("SIMPINPAD", 20) + campo("SIM-16X2", 19) + "0" + campo("SIMPINPAD 1.0", 20) + "1.06" +
                           campo("SIMPINPAD APP", 16) + campo("SN-COMPATIVEL", 20);
  EXPECT_EQ(e2e::SemHorario(c1), "Kolvar v1.003 - Compatibilidade com Veltrana M4120\n[TS] Iniciando teste\n"
                                 "[TS] PinPad: [" + info + "]\n[TS] Confirme a operacao no pinpad\n"
                                 "[TS] Processando...\n"
                                 "[TS] Resultado: PinPad COMPATIVEL com Veltrana M4120 com criptografia 3DES\n"
                                 "[TS] Finalize a operacao no pinpad\n");
  const std::string c5 = testutil::LeArquivo(b.tmp.arquivo("saida/05-ttyNADA.txt"));
  EXPECT_TRUE(Contem(c5, "Erro 2[No such file or directory] na abertura da ")) << c5;
  EXPECT_TRUE(Contem(c5, "] Erro 30 - porta serial do pinpad provavelmente ocupada.\n")) << c5;
  // Not a terminal: plain state lines.
  EXPECT_TRUE(Contem(r.saida, ": aguardando o operador (confirmar)\n")) << r.saida;
  EXPECT_TRUE(Contem(r.saida, ": terminado: COMPATIVEL 3DES\n"));
}

TEST(KolvarLote, SaiZeroSoQuandoTodosSaoCompativeis) {
  e2e::Simulador a({"--teclas", "OK,OK"}), c({"--sem-chave", "2", "--teclas", "OK,OK"});
  ASSERT_TRUE(a.ativo() && c.ativo());
  testutil::DiretorioTemp tmp;
  auto r = e2e::Executa(e2e::Programa("kolvar-lote"), {"--saida", tmp.arquivo("s"), a.dispositivo(), c.dispositivo()});
  EXPECT_EQ(r.status, 0) << r.saida;
  EXPECT_TRUE(Contem(r.saida, "COMPATIVEL 3DES")) << r.saida;
  EXPECT_TRUE(Contem(r.saida, "COMPATIVEL DES")) << r.saida;

  e2e::Simulador n({"--versao", "1.10"});
  ASSERT_TRUE(n.ativo());
  auto s = e2e::Executa(e2e::Programa("kolvar-lote"), {"--saida", tmp.arquivo("t"), n.dispositivo()});
  EXPECT_EQ(s.status, 1);
  auto t = e2e::Executa(e2e::Programa("kolvar-lote"),
                        {"--aceita-nao-aplica", "--saida", tmp.arquivo("u"), n.dispositivo()});
  EXPECT_EQ(t.status, 0) << t.saida;
}

// The library would write its frames into a regular file: such a path is
// reported and never handed to Kolvar; the other ports still run.
TEST(KolvarLote, CaminhoQueNaoEhTerminalNaoVaiAoKolvar) {
  e2e::Simulador a({"--teclas", "OK,OK"});
  ASSERT_TRUE(a.ativo());
  testutil::DiretorioTemp tmp;
  const std::string arquivo = tmp.arquivo("planilha.csv");
  testutil::GravaArquivo(arquivo, "dados do laboratorio\n");
  auto r = e2e::Executa(e2e::Programa("kolvar-lote"),
                        {"--saida", tmp.arquivo("s"), "--json", tmp.arquivo("r.json"), arquivo, a.dispositivo()});
  EXPECT_EQ(r.status, 1) << r.saida;
  EXPECT_EQ(testutil::LeArquivo(arquivo), "dados do laboratorio\n");
  const std::string json = testutil::LeArquivo(tmp.arquivo("r.json"));
  EXPECT_TRUE(Contem(json, "\"veredito\":\"NAO E TERMINAL\",\"aprovada\":false,\"status\":null")) << json;
  EXPECT_TRUE(Contem(json, "\"veredito\":\"COMPATIVEL 3DES\"")) << json;
  EXPECT_TRUE(Contem(testutil::LeArquivo(tmp.arquivo("s/01-planilha.csv.txt")), "nao e um dispositivo de terminal"));
}

// A bare number names the port the library opens ("1" is /dev/ttyS0): given
// with that device's path too, it is the same port twice. A stand-in Kolvar
// runs, so nothing is written to the machine's serial port.
TEST(KolvarLote, NumeroDePortaEhODispositivoQueABibliotecaAbre) {
  if (access("/dev/ttyS0", F_OK) != 0) GTEST_SKIP() << "no /dev/ttyS0 on this machine";
  testutil::DiretorioTemp tmp;
  const std::string kolvar = tmp.arquivo("kolvar-quieto");
  testutil::GravaArquivo(kolvar, "#!/bin/sh\necho 'Kolvar v1.003 - Compatibilidade com Veltrana M4120'\n");
  chmod(kolvar.c_str(), 0755);
  auto r = e2e::Executa(e2e::Programa("kolvar-lote"), {"--saida", tmp.arquivo("s"), "--json", tmp.arquivo("r.json"),
                                                       "--kolvar", kolvar, "1", "/dev/ttyS0"});
  const std::string json = testutil::LeArquivo(tmp.arquivo("r.json"));
  EXPECT_TRUE(Contem(json, "\"veredito\":\"PORTA REPETIDA\",\"aprovada\":false,\"status\":null,\"segundos\":0.000,"
                           "\"console\":\"02-ttyS0.txt\"")) << json;
  EXPECT_TRUE(Contem(testutil::LeArquivo(tmp.arquivo("s/01-1.txt")), "Kolvar v1.003")) << r.saida;
}

TEST(KolvarLote, UsoKolvarAusenteEPastaPadrao) {
  testutil::DiretorioTemp tmp;
  auto ajuda = e2e::Executa(e2e::Programa("kolvar-lote"), {"--help"});
  EXPECT_EQ(ajuda.status, 0);
  for (const char* t : {"--saida", "--json", "--junit", "--kolvar"}) EXPECT_TRUE(Contem(ajuda.saida, t)) << t;
  EXPECT_EQ(e2e::Executa(e2e::Programa("kolvar-lote"), {}).status, 255);
  auto semKolvar = e2e::Executa(e2e::Programa("kolvar-lote"), {"--kolvar", tmp.arquivo("nao-ha"), "/dev/null"});
  EXPECT_EQ(semKolvar.status, 255);
  EXPECT_TRUE(Contem(semKolvar.erro, "Kolvar nao encontrado")) << semKolvar.erro;

  // Without --saida: a time-stamped folder in the working directory.
  const auto antes = std::filesystem::current_path();
  std::filesystem::current_path(tmp.caminho());
  auto r = e2e::Executa(e2e::Programa("kolvar-lote"), {tmp.arquivo("ttyNADA")});
  std::filesystem::current_path(antes);
  EXPECT_EQ(r.status, 1);
  int pastas = 0;
  for (const auto& e : std::filesystem::directory_iterator(tmp.caminho())) {
    const std::string nome = e.path().filename().string();
    EXPECT_EQ(nome.rfind("kolvar-lote-", 0), 0u) << nome;
    EXPECT_EQ(nome.size(), std::string("kolvar-lote-20261210-144754").size()) << nome;
    EXPECT_TRUE(std::filesystem::exists(e.path() / "01-ttyNADA.txt"));
    ++pastas;
  }
  EXPECT_EQ(pastas, 1);
}

// A port path with accents: the JSON and the JUnit are valid UTF-8 with the
// path as it was given, the table lines up by the characters shown.
TEST(KolvarLote, TextoEmQualquerLingua) {
  setenv("LC_ALL", "C.UTF-8", 1);
  e2e::Simulador a({"--teclas", "OK,OK"}), b({"--teclas", "OK,OK"});
  ASSERT_TRUE(a.ativo() && b.ativo());
  testutil::DiretorioTemp tmp;
  const std::string porta = tmp.arquivo("pinpad-a\xC3\xA7\xC3\xA3o");
  ASSERT_EQ(symlink(a.dispositivo().c_str(), porta.c_str()), 0);
  auto r = e2e::Executa(e2e::Programa("kolvar-lote"), {"--saida", tmp.arquivo("s"), "--json", tmp.arquivo("r.json"),
                                                        "--junit", tmp.arquivo("r.xml"), porta, b.dispositivo()});
  EXPECT_EQ(r.status, 0) << r.saida << r.erro;
  const std::string json = testutil::LeArquivo(tmp.arquivo("r.json"));
  const std::string xml = testutil::LeArquivo(tmp.arquivo("r.xml"));
  for (const std::string* t : {&json, &xml}) EXPECT_TRUE(pinpadctl::Utf8Valido(*t)) << *t;
  EXPECT_EQ(json.rfind("{\"versao_formato\":1,", 0), 0u) << json;
  EXPECT_TRUE(Contem(json, "{\"porta\":\"" + porta + "\",\"fabricante\":\"SIMPINPAD\"")) << json;
  EXPECT_TRUE(Contem(xml, "<testcase classname=\"kolvar-lote\" name=\"" + porta + "\"")) << xml;

  // The VEREDITO column starts at the same character on all three lines.
  setlocale(LC_ALL, "C.UTF-8");
  auto ini = r.saida.find("\nPORTA ");
  ASSERT_NE(ini, std::string::npos) << r.saida;
  std::vector<size_t> colunas;
  for (size_t p = ini + 1, f; (f = r.saida.find('\n', p)) != std::string::npos && f > p; p = f + 1) {
    const std::string linha = r.saida.substr(p, f - p);
    size_t v = linha.find("VEREDITO");
    if (v == std::string::npos) v = linha.find("COMPATIVEL 3DES");
    ASSERT_NE(v, std::string::npos) << linha;
    colunas.push_back(pinpadctl::Largura(linha.substr(0, v)));
  }
  setlocale(LC_ALL, "C");
  ASSERT_EQ(colunas.size(), 3u) << r.saida;
  EXPECT_EQ(colunas[1], colunas[0]) << r.saida;
  EXPECT_EQ(colunas[2], colunas[0]) << r.saida;
  unsetenv("LC_ALL");
}

TEST(KolvarLote, ArgumentosEstritosECorSoNumTerminal) {
  testutil::DiretorioTemp tmp;
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"--limite", "1e3", "/dev/ttyACM0"}, {"--limite", "nan", "/dev/ttyACM0"}, {"--limite", "5x", "/dev/ttyACM0"},
           {""}, {"--opcao-x", "/dev/ttyACM0"}, {"--saida"}}) {
    auto r = e2e::Executa(e2e::Programa("kolvar-lote"), args);
    EXPECT_EQ(r.status, 255) << args[0];
    EXPECT_TRUE(Contem(r.erro, "Uso: kolvar-lote")) << r.erro;
    EXPECT_EQ(r.saida, "") << args[0];
  }

  e2e::Simulador a({"--teclas", "OK,OK"});
  ASSERT_TRUE(a.ativo());
  unsetenv("NO_COLOR");
  setenv("TERM", "xterm", 1);
  auto t = e2e::ExecutaEmTerminal(e2e::Programa("kolvar-lote"), {"--saida", tmp.arquivo("s"), a.dispositivo()});
  EXPECT_EQ(t.status, 0) << t.saida;
  EXPECT_TRUE(Contem(t.saida, "\033[32mCOMPATIVEL 3DES\033[0m")) << t.saida;
  setenv("NO_COLOR", "1", 1);
  auto n = e2e::ExecutaEmTerminal(e2e::Programa("kolvar-lote"), {"--saida", tmp.arquivo("n"), a.dispositivo()});
  EXPECT_TRUE(Contem(n.saida, "COMPATIVEL 3DES")) << n.saida;
  EXPECT_FALSE(Contem(n.saida, "\033[32m")) << n.saida;
  unsetenv("NO_COLOR");
  auto p = e2e::Executa(e2e::Programa("kolvar-lote"), {"--saida", tmp.arquivo("p"), a.dispositivo()});
  EXPECT_FALSE(Contem(p.saida, "\033[")) << p.saida;
}

// A port that another program holds is reported as such and never handed to
// Kolvar (the two would garble each other's exchanges); the others still run.
TEST(KolvarLote, PortaEmUsoNaoVaiAoKolvar) {
  e2e::Simulador ocupado, livre({"--teclas", "OK,OK"});
  ASSERT_TRUE(ocupado.ativo() && livre.ativo());
  testutil::SeguraPorta dono(ocupado.dispositivo(), "segurador");
  ASSERT_TRUE(dono.ativo());
  testutil::DiretorioTemp tmp;
  auto r = e2e::Executa(e2e::Programa("kolvar-lote"),
                        {"--saida", tmp.arquivo("s"), "--json", tmp.arquivo("r.json"), "--junit", tmp.arquivo("r.xml"),
                         ocupado.dispositivo(), livre.dispositivo()});
  EXPECT_EQ(r.status, 1) << r.saida << r.erro;
  const std::string quem = "pid " + std::to_string(dono.pid()) + " (segurador)";
  EXPECT_TRUE(e2e::Quadros(ocupado.log()).empty()) << ocupado.log();
  // Its table row: the verdict, no status, no time.
  const size_t inicio = r.saida.rfind("\n" + ocupado.dispositivo() + " ");
  ASSERT_NE(inicio, std::string::npos) << r.saida;
  std::string linha = r.saida.substr(inicio + 1);
  linha = linha.substr(0, linha.find('\n'));
  EXPECT_TRUE(Contem(linha, "  EM USO ")) << linha;
  EXPECT_EQ(linha.substr(linha.size() - 3), "  -") << linha;
  const std::string json = testutil::LeArquivo(tmp.arquivo("r.json"));
  EXPECT_TRUE(Contem(json, "\"veredito\":\"EM USO\",\"aprovada\":false,\"status\":null,\"segundos\":0.000,"
                           "\"console\":\"01-" + ocupado.dispositivo().substr(ocupado.dispositivo().rfind('/') + 1) +
                           ".txt\",\"dono\":{\"pid\":" + std::to_string(dono.pid()) + ",\"programa\":\"segurador\"}"))
      << json;
  EXPECT_TRUE(Contem(json, "\"veredito\":\"COMPATIVEL 3DES\"")) << json;
  const std::string xml = testutil::LeArquivo(tmp.arquivo("r.xml"));
  EXPECT_TRUE(Contem(xml, "<error message=\"EM USO: " + quem + "\" type=\"EM USO\"/>")) << xml;
  EXPECT_TRUE(Contem(xml, "kolvar-lote: a porta esta em uso por " + quem + "; o Kolvar nao foi executado")) << xml;
}

}  // namespace
