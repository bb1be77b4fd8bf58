// The serial ports of a machine read from a small sysfs tree (tests/pinpadctl/
// maquina: a USB-serial converter, a CDC-ACM pinpad, an on-board UART, a
// placeholder port without a UART and a virtual terminal), who holds a port,
// and the explanations of a port that is in use or not ours to open.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wchar.h>

#include <cerrno>
#include <clocale>
#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

#include "common/SeguraPorta.h"
#include "common/TestUtil.h"
#include "tools/pinpadctl/Porta.h"
#include "tools/pinpadctl/Portas.h"

namespace {

using namespace pinpadctl;
namespace fs = std::filesystem;

bool Contem(const std::string& texto, const std::string& trecho) { return texto.find(trecho) != std::string::npos; }

// A copy of the fixture machine with its device files, so that ports can be
// locked and attributes changed.
struct Maquina {
  testutil::DiretorioTemp tmp;
  std::string sys, dev;
  explicit Maquina(bool comDispositivos = true) {
    fs::copy(MAQUINA_DIR, tmp.caminho(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    sys = tmp.arquivo("sys");
    dev = tmp.arquivo("dev");
    if (comDispositivos)
      for (const char* d : {"ttyACM0", "ttyUSB0", "ttyS0", "ttyS1"}) testutil::GravaArquivo(dev + "/" + d, "");
  }
  std::vector<PortaSerie> Lista() const { return ListaPortas(sys, dev, "/proc"); }
};

TEST(ListaPortas, SoPortasComAparelhoCadaUmaComoOSysfsDescreve) {
  Maquina m;
  const auto portas = m.Lista();
  struct Esperado {
    const char* nome;
    const char* porId;
    const char* driver;
    const char* usb;
    const char* fabricante;
    const char* produto;
    const char* serie;
    bool console;
  } esperados[] = {
      {"ttyACM0", "usb-F_brica_Zeta_Pinpad_Z-16_SN0042-if00", "cdc_acm", "1a2b:3c4d", "F\xC3\xA1" "brica Zeta",
       "Pinpad Z-16", "SN0042", false},
      // The platform driver, not the serial-core "port"; the kernel's console.
      {"ttyS0", "", "serial", "", "", "", "", true},
      {"ttyUSB0", "usb-FTDI_FT232R_USB_UART_A10K3XQZ-if00-port0", "ftdi_sio", "0403:6001", "FTDI", "FT232R USB UART",
       "A10K3XQZ", false},
  };
  // ttyS1 (type 0: no UART), tty0 and console (virtual) are not serial ports.
  ASSERT_EQ(portas.size(), std::size(esperados));
  for (size_t i = 0; i < portas.size(); ++i) {
    const auto& p = portas[i];
    const auto& e = esperados[i];
    EXPECT_EQ(p.nome, e.nome);
    EXPECT_EQ(p.dispositivo, m.dev + "/" + e.nome);
    EXPECT_EQ(p.porId, *e.porId ? m.dev + "/serial/by-id/" + e.porId : "") << e.nome;
    EXPECT_EQ(p.driver, e.driver) << e.nome;
    EXPECT_EQ(p.usb, e.usb) << e.nome;
    EXPECT_EQ(p.fabricante, e.fabricante) << e.nome;
    EXPECT_EQ(p.produto, e.produto) << e.nome;
    EXPECT_EQ(p.serie, e.serie) << e.nome;
    EXPECT_EQ(p.emUso, 0) << e.nome;
    EXPECT_EQ(p.console, e.console) << e.nome;
  }
  EXPECT_TRUE(Contem(TabelaPortas(portas, false), "  console do sistema  ")) << TabelaPortas(portas, false);
}

TEST(ListaPortas, NumerosEmOrdemNumericaEDispositivoAusenteEmUsoDesconhecido) {
  Maquina m(false);
  const std::string acm = "../../devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/tty/ttyACM0";
  for (const char* n : {"ttyACM10", "ttyACM2"}) fs::create_directory_symlink(acm, m.sys + "/class/tty/" + n);
  std::vector<std::string> nomes;
  for (const auto& p : m.Lista()) {
    nomes.push_back(p.nome);
    EXPECT_EQ(p.emUso, -1) << p.nome;  // no device file to look up
  }
  EXPECT_EQ(nomes, (std::vector<std::string>{"ttyACM0", "ttyACM2", "ttyACM10", "ttyS0", "ttyUSB0"}));
  EXPECT_TRUE(Contem(TabelaPortas(m.Lista(), false), "  ?  ")) << TabelaPortas(m.Lista(), false);
  EXPECT_TRUE(Contem(JsonPortas(m.Lista(), false), "\"em_uso\":null"));
  EXPECT_TRUE(ListaPortas(m.tmp.arquivo("nada"), m.dev, "/proc").empty());
  EXPECT_EQ(TabelaPortas({}, false), "Nenhuma porta serial encontrada.\n");
}

TEST(ListaPortas, PortaSeguraPorOutroProgramaDizQuem) {
  Maquina m;
  testutil::SeguraPorta dono(m.dev + "/ttyACM0");
  ASSERT_TRUE(dono.ativo());
  const auto portas = m.Lista();
  ASSERT_EQ(portas.size(), 3u);
  EXPECT_EQ(portas[0].emUso, 1);
  EXPECT_EQ(portas[0].donoPid, dono.pid());
  EXPECT_EQ(portas[0].donoPrograma, "segurador");
  EXPECT_EQ(portas[2].emUso, 0);
  // The probe leaves the held port and the console alone.
  const Sonda esperadas[] = {Sonda::EmUso, Sonda::Console, Sonda::NaoFeita};
  for (size_t i = 0; i < portas.size(); ++i) EXPECT_EQ(SondaRecusada(portas[i]), esperadas[i]) << portas[i].nome;
  const std::string pid = std::to_string(dono.pid());
  EXPECT_TRUE(Contem(TabelaPortas(portas, false), "sim, pid " + pid + " (segurador)"));
  EXPECT_TRUE(Contem(JsonPortas(portas, false), "\"em_uso\":true,\"dono\":{\"pid\":" + pid + ",\"programa\":\"segurador\"}"))
      << JsonPortas(portas, false);
  // Through its stable name too.
  const PortaSerie p = DescrevePorta(portas[0].porId, m.sys, m.dev, "/proc");
  EXPECT_EQ(p.nome, "ttyACM0");
  EXPECT_EQ(p.usb, "1a2b:3c4d");
  EXPECT_EQ(p.emUso, 1);
  EXPECT_EQ(p.donoPid, dono.pid());
  dono.Solta();
  EXPECT_EQ(m.Lista()[0].emUso, 0);
}

// Terminal columns before the EM USO column of each line of a port table
// (its title, or the "nao" or "console do sistema" in it).
std::vector<size_t> ColunasAteEmUso(const std::string& tabela) {
  std::vector<size_t> colunas;
  size_t ini = 0;
  while (ini < tabela.size()) {
    const size_t fim = tabela.find('\n', ini);
    const std::string linha = tabela.substr(ini, fim - ini);
    ini = fim + 1;
    size_t pos = linha.find("EM USO");
    for (const char* cel : {"  nao  ", "  console do sistema  "})
      if (pos == std::string::npos && linha.find(cel) != std::string::npos) pos = linha.find(cel) + 2;
    EXPECT_NE(pos, std::string::npos) << linha;
    if (pos == std::string::npos) return {};
    std::mbstate_t estado{};
    size_t largura = 0;
    for (size_t i = 0; i < pos;) {
      wchar_t wc = 0;
      size_t n = std::mbrtowc(&wc, linha.data() + i, pos - i, &estado);
      if (n == 0 || n > pos - i) {
        n = 1;  // not a character of the locale: one column, as the tool writes it
        wc = L'?';
        estado = {};
      }
      const int w = ::wcwidth(wc);
      largura += w < 0 ? 1 : static_cast<size_t>(w);
      i += n;
    }
    colunas.push_back(largura);
  }
  return colunas;
}

// The table lines up by the columns a terminal gives each character (a wide
// character takes two; counting characters misaligned such a line), the JSON
// is UTF-8 as sysfs gives it (not taken for Latin-1 again), and a byte that is
// not UTF-8 does not make the JSON invalid.
TEST(ListaPortas, TabelaAlinhadaEJsonUtf8Valido) {
  // Columns as a UTF-8 terminal shows them.
  struct LocaleUtf8 {
    LocaleUtf8() { std::setlocale(LC_ALL, "C.UTF-8"); }
    ~LocaleUtf8() { std::setlocale(LC_ALL, "C"); }
  } locale;
  ASSERT_STREQ(std::setlocale(LC_ALL, nullptr), "C.UTF-8");
  Maquina m;
  testutil::GravaArquivo(m.sys + "/devices/pci0000:00/0000:00:14.0/usb1/1-1/product", "FT232R \xFF\"\x01\n");
  const auto portas = m.Lista();
  const std::string tabela = TabelaPortas(portas, false);
  std::vector<size_t> colunas = ColunasAteEmUso(tabela);
  ASSERT_EQ(colunas.size(), 4u) << tabela;
  for (size_t c : colunas) EXPECT_EQ(c, colunas[0]) << tabela;

  {
    // A product name in Chinese: two columns a character.
    Maquina largo;
    testutil::GravaArquivo(largo.sys + "/devices/pci0000:00/0000:00:14.0/usb1/1-1/product",
                           "\xE4\xB8\xB2\xE5\x8F\xA3 USB\n");
    const std::string t = TabelaPortas(largo.Lista(), false);
    colunas = ColunasAteEmUso(t);
    ASSERT_EQ(colunas.size(), 4u) << t;
    for (size_t c : colunas) EXPECT_EQ(c, colunas[0]) << t;
  }

  const std::string json = JsonPortas(portas, false);
  EXPECT_EQ(json.rfind("{\"formato\":1,\"portas\":[{\"dispositivo\":", 0), 0u) << json;
  EXPECT_TRUE(Contem(json, "\"fabricante\":\"F\xC3\xA1" "brica Zeta\"")) << json;
  EXPECT_TRUE(Contem(json, "\"produto\":\"FT232R \xEF\xBF\xBD\\\"\\u0001\"")) << json;
  EXPECT_TRUE(Contem(json, "\"nome\":\"ttyS0\",\"driver\":\"serial\",\"usb\":null")) << json;
  EXPECT_TRUE(Contem(json, "\"console\":true,\"em_uso\":false}")) << json;
}

// The probe's cell: the pinpad's own fields (Latin-1, control bytes shown as
// '.'), and the error of a pinpad that answered the open but not the
// information request, with nothing of the block to show.
TEST(ListaPortas, CelulaDaSonda) {
  struct Caso {
    const char* fabricante;
    const char* modelo;
    const char* versao;
    int32_t codigo;
    const char* celula;
  } casos[] = {
      {"F\xE1" "brica\x01Zeta", "Z-16", "1.06", 0, "pinpad: F\xC3\xA1" "brica.Zeta Z-16 versao 1.06"},
      {"", "", "", 31, "pinpad (erro 31)"},
      {"ACME", "", "", 12, "pinpad: ACME (erro 12)"},
      {"", "", "", 0, "pinpad"},
  };
  for (const auto& c : casos) {
    PortaSerie p;
    p.dispositivo = "/dev/ttyACM0";
    p.emUso = 0;
    p.sonda = Sonda::Pinpad;
    p.codigoSonda = c.codigo;
    p.info.fabricante = c.fabricante;
    p.info.modelo = c.modelo;
    p.info.versao = c.versao;
    const std::string t = TabelaPortas({p}, true);
    EXPECT_TRUE(Contem(t, std::string("  ") + c.celula + "  -\n")) << t;
  }
}

// ---- Explanations ------------------------------------------------------------------

// Joining the device's group helps only when the group may read and write it
// (a pseudo-terminal of root with mode 0600 once had "join root" suggested).
TEST(ExplicaSemPermissao, SugereOGrupoSoQuandoEleLeEEscreve) {
  struct Caso {
    mode_t modo;
    const char* grupo;
    bool sugere;
  } casos[] = {
      {S_IFCHR | 0660, "dialout", true}, {S_IFCHR | 0670, "dialout", true}, {S_IFCHR | 0600, "root", false},
      {S_IFCHR | 0640, "dialout", false}, {S_IFCHR | 0620, "tty", false},    {S_IFCHR | 0606, "root", false},
  };
  for (const auto& c : casos) {
    const std::string t = ExplicaSemPermissao("/dev/ttyACM0", c.modo, "root", c.grupo);
    EXPECT_TRUE(Contem(t, "Permissao negada")) << t;
    EXPECT_TRUE(Contem(t, "/dev/ttyACM0")) << t;
    EXPECT_TRUE(Contem(t, std::string("grupo '") + c.grupo + "'")) << t;
    EXPECT_EQ(Contem(t, std::string("usermod -aG ") + c.grupo), c.sugere) << t;
    if (!c.sugere) {
      char modo[8];
      snprintf(modo, sizeof modo, "%04o", static_cast<unsigned>(c.modo & 07777));
      EXPECT_TRUE(Contem(t, modo)) << t;
      EXPECT_TRUE(Contem(t, "nao resolve")) << t;
    }
  }
}

// A terminal that another process holds with its lock is refused before the
// library opens it, and the holder is named; once the lock goes it is fine.
TEST(ExaminaPorta, TerminalSeguroPorOutroProgramaEstaEmUso) {
  const int mestre = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(mestre, 0);
  ASSERT_EQ(grantpt(mestre), 0);
  ASSERT_EQ(unlockpt(mestre), 0);
  const std::string escravo = ptsname(mestre);
  EXPECT_TRUE(ExaminaPorta(escravo).ok);
  {
    testutil::SeguraPorta dono(escravo, "kolvar-x");
    ASSERT_TRUE(dono.ativo());
    const ExameDePorta ex = ExaminaPorta(escravo);
    EXPECT_FALSE(ex.ok);
    EXPECT_EQ(ex.erro, EBUSY);
    EXPECT_TRUE(Contem(ex.explicacao, "em uso por pid " + std::to_string(dono.pid()) + " (kolvar-x)")) << ex.explicacao;
    std::string explicacao;
    EXPECT_TRUE(PortaEmUso(escravo, &explicacao));
    EXPECT_EQ(explicacao, ex.explicacao);
  }
  EXPECT_TRUE(ExaminaPorta(escravo).ok);
  std::string explicacao;
  EXPECT_FALSE(PortaEmUso(escravo, &explicacao));
  close(mestre);
  EXPECT_EQ(TextoDono(0, ""), "um processo de outro espaco de nomes");
  EXPECT_EQ(TextoDono(77, ""), "pid 77");
}

}  // namespace
