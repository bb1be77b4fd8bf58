#include "tools/pinpadctl/Portas.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/DonoPorta.h"
#include "tools/pinpadctl/Json.h"
#include "tools/pinpadctl/Texto.h"

namespace pinpadctl {

namespace {

// Levels walked up from a tty's device to find its driver or its USB device:
// a ttyUSB's device is the converter's port, two levels below the USB device;
// a ttyACM's is the interface, one level below.
constexpr int NiveisAcima = 3;

std::string Pai(const std::string& caminho) {
  const size_t barra = caminho.find_last_of('/');
  return barra == std::string::npos || barra == 0 ? std::string() : caminho.substr(0, barra);
}

std::string Base(const std::string& caminho) {
  const size_t barra = caminho.find_last_of('/');
  return barra == std::string::npos ? caminho : caminho.substr(barra + 1);
}

std::string Real(const std::string& caminho) {
  char real[PATH_MAX];
  return realpath(caminho.c_str(), real) ? std::string(real) : std::string();
}

std::string Alvo(const std::string& link) {
  char alvo[PATH_MAX];
  const ssize_t n = readlink(link.c_str(), alvo, sizeof alvo - 1);
  return n > 0 ? std::string(alvo, static_cast<size_t>(n)) : std::string();
}

// First line of a sysfs attribute, blanks at the end removed; "" when absent.
std::string Atributo(const std::string& pasta, const char* nome) {
  FILE* f = std::fopen((pasta + "/" + nome).c_str(), "re");
  if (f == nullptr) return {};
  char linha[256] = {};
  if (std::fgets(linha, sizeof linha, f) == nullptr) linha[0] = '\0';
  std::fclose(f);
  std::string s = linha;
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
  return s;
}

bool Existe(const std::string& caminho) {
  struct stat st {};
  return stat(caminho.c_str(), &st) == 0;
}

// The driver that serves the device. On kernels with the serial-core bus the
// tty's device is a port of that bus (drivers "port" and "ctrl"); the driver
// that knows the hardware sits above it.
std::string Driver(std::string pasta) {
  for (int i = 0; i <= NiveisAcima && !pasta.empty(); ++i, pasta = Pai(pasta)) {
    const std::string alvo = Alvo(pasta + "/driver");
    if (!alvo.empty() && alvo.find("/serial-base/") == std::string::npos) return Base(alvo);
  }
  return {};
}

void LeUsb(std::string pasta, PortaSerie& p) {
  for (int i = 0; i <= NiveisAcima && !pasta.empty(); ++i, pasta = Pai(pasta)) {
    const std::string vendedor = Atributo(pasta, "idVendor");
    if (vendedor.empty()) continue;
    p.usb = vendedor + ":" + Atributo(pasta, "idProduct");
    p.fabricante = Atributo(pasta, "manufacturer");
    p.produto = Atributo(pasta, "product");
    p.serie = Atributo(pasta, "serial");
    return;
  }
}

// The /dev/serial/by-id link that leads to the device named `nome`.
std::string PorId(const std::string& raizDev, const std::string& nome) {
  const std::string pasta = raizDev + "/serial/by-id";
  DIR* d = opendir(pasta.c_str());
  if (d == nullptr) return {};
  std::vector<std::string> achados;
  while (const dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const std::string link = pasta + "/" + e->d_name;
    if (Base(Alvo(link)) == nome) achados.push_back(link);
  }
  closedir(d);
  std::sort(achados.begin(), achados.end());
  return achados.empty() ? std::string() : achados.front();
}

void LeDono(const std::string& raizProc, PortaSerie& p) {
  char programa[64] = {};
  p.emUso = DonoPorta(p.dispositivo.c_str(), raizProc.c_str(), &p.donoPid, programa, sizeof programa);
  if (p.emUso < 0) p.emUso = -1;
  p.donoPrograma = programa;
}

// Whether the kernel's console is on the tty `nome` (the active consoles are
// one line of names).
bool EhConsole(const std::string& raizSys, const std::string& nome) {
  const std::string ativos = " " + Atributo(raizSys + "/class/tty/console", "active") + " ";
  return !nome.empty() && ativos.find(" " + nome + " ") != std::string::npos;
}

// Fills the sysfs fields of the port named `nome`. false when sysfs has no
// such tty or it is not backed by a device.
bool LeSysfs(const std::string& raizSys, const std::string& nome, PortaSerie& p) {
  const std::string classe = raizSys + "/class/tty/" + nome;
  const std::string dispositivo = Real(classe + "/device");
  if (dispositivo.empty()) return false;
  p.nome = nome;
  p.driver = Driver(dispositivo);
  p.console = EhConsole(raizSys, nome);
  LeUsb(dispositivo, p);
  return true;
}

// A serial-core port whose UART type is 0 (unknown) has no hardware behind it.
bool SemUart(const std::string& raizSys, const std::string& nome) {
  const std::string tipo = Atributo(raizSys + "/class/tty/" + nome, "type");
  return !tipo.empty() && std::strtol(tipo.c_str(), nullptr, 0) == 0;
}

// Names in their natural order: the trailing number compared as a number.
bool AntesNatural(const std::string& a, const std::string& b) {
  auto divide = [](const std::string& s, std::string& prefixo, long& numero) {
    size_t i = s.size();
    while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') --i;
    prefixo = s.substr(0, i);
    numero = i < s.size() && s.size() - i < 10 ? std::atol(s.c_str() + i) : -1;
  };
  std::string pa, pb;
  long na = 0, nb = 0;
  divide(a, pa, na);
  divide(b, pb, nb);
  if (pa != pb) return pa < pb;
  if (na != nb) return na < nb;
  return a < b;
}

// ---- Output -----------------------------------------------------------------------

// Length of the valid UTF-8 sequence at s[i], 0 when there is none.
size_t SequenciaUtf8(std::string_view s, size_t i) {
  char32_t cp;
  return LeUtf8(s, i, cp);
}

// JSON string of UTF-8 text (sysfs strings, paths): valid sequences kept,
// any other byte replaced by U+FFFD, control characters escaped.
std::string AspasUtf8(std::string_view s) {
  std::string r = "\"";
  for (size_t i = 0; i < s.size();) {
    const size_t n = SequenciaUtf8(s, i);
    const auto c = static_cast<unsigned char>(s[i]);
    if (n == 0) {
      r += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (n == 1 && (c < 0x20 || c == 0x7F || c == '"' || c == '\\')) {
      // ASCII is the same in Latin-1: the escapes of the Latin-1 form.
      const std::string e = AspasJson(std::string_view(&s[i], 1));
      r.append(e, 1, e.size() - 2);
    } else {
      r.append(s.substr(i, n));
    }
    i += n;
  }
  return r + "\"";
}

// For the table: UTF-8 with control characters shown as '.'.
std::string Visivel(const std::string& utf8) {
  std::string r;
  for (size_t i = 0; i < utf8.size();) {
    const size_t n = SequenciaUtf8(utf8, i);
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (n == 0 || (n == 1 && (c < 0x20 || c == 0x7F))) {
      r += n == 0 ? "\xEF\xBF\xBD" : ".";
      ++i;
    } else {
      r.append(utf8, i, n);
      i += n;
    }
  }
  return r;
}

std::string TextoEmUso(const PortaSerie& p) {
  if (p.emUso > 0) return "sim, " + TextoDono(p.donoPid, p.donoPrograma);
  if (p.console) return "console do sistema";
  return p.emUso < 0 ? "?" : "nao";
}

std::string JuntaCampos(std::initializer_list<std::string> campos) {
  std::string r;
  for (const auto& c : campos) {
    if (c.empty()) continue;
    if (!r.empty()) r += ' ';
    r += c;
  }
  return r;
}

std::string TextoSonda(const PortaSerie& p) {
  switch (p.sonda) {
    case Sonda::NaoFeita:
      return "-";
    case Sonda::EmUso:
      return "em uso: nao sondada";
    case Sonda::Console:
      return "console: nao sondada";
    case Sonda::NaoAbre:
      return "nao abre (" + std::to_string(p.codigoSonda) + ")";
    case Sonda::SemResposta:
      return "sem resposta";
    case Sonda::Pinpad: {
      std::string t = Visivel(Latin1ParaUtf8(JuntaCampos({p.info.fabricante, p.info.modelo})));
      if (!p.info.versao.empty()) t += " versao " + Visivel(Latin1ParaUtf8(p.info.versao));
      t = t.empty() ? std::string("pinpad") : "pinpad: " + t;
      if (p.codigoSonda != 0) t += " (erro " + std::to_string(p.codigoSonda) + ")";
      return t;
    }
  }
  return "-";
}

const char* NomeSonda(Sonda s) {
  switch (s) {
    case Sonda::NaoFeita: return "nao feita";
    case Sonda::EmUso: return "em uso";
    case Sonda::Console: return "console";
    case Sonda::NaoAbre: return "nao abre";
    case Sonda::SemResposta: return "sem resposta";
    case Sonda::Pinpad: return "pinpad";
  }
  return "";
}

std::string Vazio(const std::string& s) { return s.empty() ? "-" : s; }

}  // namespace

std::vector<PortaSerie> ListaPortas(const std::string& raizSys, const std::string& raizDev,
                                    const std::string& raizProc) {
  std::vector<std::string> nomes;
  if (DIR* d = opendir((raizSys + "/class/tty").c_str())) {
    while (const dirent* e = readdir(d))
      if (e->d_name[0] != '.') nomes.emplace_back(e->d_name);
    closedir(d);
  }
  std::sort(nomes.begin(), nomes.end(), AntesNatural);
  std::vector<PortaSerie> portas;
  for (const auto& nome : nomes) {
    PortaSerie p;
    if (!LeSysfs(raizSys, nome, p) || SemUart(raizSys, nome)) continue;
    p.dispositivo = raizDev + "/" + nome;
    p.porId = PorId(raizDev, nome);
    LeDono(raizProc, p);
    portas.push_back(std::move(p));
  }
  return portas;
}

PortaSerie DescrevePorta(const std::string& caminho, const std::string& raizSys, const std::string& raizDev,
                         const std::string& raizProc) {
  PortaSerie p;
  p.dispositivo = caminho;
  const std::string real = Real(caminho);
  if (!real.empty()) {
    const std::string nome = Base(real);
    // A pseudo-terminal's name ("3" of /dev/pts/3) is no tty of sysfs.
    if (real.rfind("/dev/pts/", 0) != 0 && LeSysfs(raizSys, nome, p)) p.porId = PorId(raizDev, nome);
  }
  if (!Existe(caminho)) {
    p.emUso = -1;
    return p;
  }
  LeDono(raizProc, p);
  return p;
}

Sonda SondaRecusada(const PortaSerie& p) {
  if (p.emUso > 0) return Sonda::EmUso;
  if (p.console) return Sonda::Console;
  return Sonda::NaoFeita;
}

std::string TextoDono(int32_t pid, const std::string& programa) {
  if (pid <= 0) return "um processo de outro espaco de nomes";
  std::string t = "pid " + std::to_string(pid);
  if (!programa.empty()) t += " (" + programa + ")";
  return t;
}

std::string TabelaPortas(const std::vector<PortaSerie>& portas, bool sondou) {
  if (portas.empty()) return "Nenhuma porta serial encontrada.\n";
  std::vector<std::string> titulos = {"DISPOSITIVO", "DRIVER", "USB", "FABRICANTE", "PRODUTO", "SERIE", "EM USO"};
  if (sondou) titulos.push_back("SONDA");
  titulos.push_back("POR ID");
  std::vector<std::vector<std::string>> linhas = {titulos};
  for (const auto& p : portas) {
    std::vector<std::string> l = {Visivel(p.dispositivo), Vazio(p.driver),     Vazio(p.usb),
                                  Visivel(Vazio(p.fabricante)), Visivel(Vazio(p.produto)), Visivel(Vazio(p.serie)),
                                  TextoEmUso(p)};
    if (sondou) l.push_back(TextoSonda(p));
    l.push_back(Visivel(Vazio(p.porId)));
    linhas.push_back(std::move(l));
  }
  std::vector<size_t> larguras(titulos.size(), 0);
  for (const auto& l : linhas)
    for (size_t c = 0; c < l.size(); ++c) larguras[c] = std::max(larguras[c], Largura(l[c]));
  std::string t;
  for (const auto& l : linhas) {
    std::string s;
    for (size_t c = 0; c < l.size(); ++c) {
      s += l[c];
      if (c + 1 < l.size()) s += std::string(larguras[c] - Largura(l[c]) + 2, ' ');
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    t += s + "\n";
  }
  return t;
}

std::string JsonPortas(const std::vector<PortaSerie>& portas, bool sondou) {
  std::string lista = "[";
  for (const auto& p : portas) {
    ObjetoJson j;
    auto texto = [&](const char* chave, const std::string& valor) {
      j.Bruto(chave, valor.empty() ? std::string("null") : AspasUtf8(valor));
    };
    texto("dispositivo", p.dispositivo);
    texto("por_id", p.porId);
    texto("nome", p.nome);
    texto("driver", p.driver);
    texto("usb", p.usb);
    texto("fabricante", p.fabricante);
    texto("produto", p.produto);
    texto("serie", p.serie);
    j.Logico("console", p.console).Bruto("em_uso", p.emUso < 0 ? "null" : p.emUso ? "true" : "false");
    if (p.emUso > 0) {
      ObjetoJson dono;
      dono.Bruto("pid", p.donoPid > 0 ? std::to_string(p.donoPid) : "null");
      dono.Bruto("programa", p.donoPrograma.empty() ? std::string("null") : AspasUtf8(p.donoPrograma));
      j.Bruto("dono", dono.Texto());
    }
    if (sondou) {
      ObjetoJson s;
      s.Texto("resultado", NomeSonda(p.sonda)).Logico("pinpad", p.sonda == Sonda::Pinpad);
      if (p.sonda != Sonda::EmUso && p.sonda != Sonda::Console) s.Numero("status", p.codigoSonda);
      if (p.sonda == Sonda::Pinpad) {
        // The pinpad's fields are Latin-1.
        s.Texto("fabricante", p.info.fabricante).Texto("modelo", p.info.modelo).Texto("versao", p.info.versao);
        s.Texto("serie", p.info.serie);
      }
      j.Bruto("sonda", s.Texto());
    }
    if (lista.size() > 1) lista += ',';
    lista += j.Texto();
  }
  ObjetoJson r;
  r.Numero("formato", 1).Bruto("portas", lista + "]");
  return r.Texto() + "\n";
}

}  // namespace pinpadctl
