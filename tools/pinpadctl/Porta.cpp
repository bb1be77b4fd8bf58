#include "tools/pinpadctl/Porta.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "support/DonoPorta.h"
#include "tools/pinpadctl/Portas.h"

namespace pinpadctl {

namespace {

bool SoDigitos(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string NomeGrupo(gid_t gid) {
  if (const group* g = getgrgid(gid)) return g->gr_name;
  return std::to_string(gid);
}

std::string NomeUsuario() {
  if (const passwd* p = getpwuid(getuid())) return p->pw_name;
  return "$USER";
}

// Whether the device number belongs to a terminal driver of the kernel's
// table (/proc/tty/drivers: name, node, major, minor or minor range, type).
// True when the table cannot be read: the open that follows decides then.
bool DeDriverDeTerminal(dev_t dispositivo) {
  std::ifstream tabela("/proc/tty/drivers");
  if (!tabela) return true;
  const unsigned maior = major(dispositivo), menor = minor(dispositivo);
  std::string linha;
  bool lida = false;
  while (std::getline(tabela, linha)) {
    std::istringstream campos(linha);
    std::string nome, no, menores;
    unsigned m = 0;
    if (!(campos >> nome >> no >> m >> menores)) continue;
    lida = true;
    unsigned de = 0, ate = 0;
    const int n = std::sscanf(menores.c_str(), "%u-%u", &de, &ate);
    if (n < 1) continue;
    if (n == 1) ate = de;
    if (m == maior && menor >= de && menor <= ate) return true;
  }
  return !lida;
}

std::string NomeDono(uid_t uid) {
  if (const passwd* p = getpwuid(uid)) return p->pw_name;
  return std::to_string(uid);
}

}  // namespace

int TipoDeDispositivo(const std::string& caminho, std::string* grupo) {
  struct stat st {};
  if (stat(caminho.c_str(), &st) != 0) return errno;
  if (grupo) *grupo = NomeGrupo(st.st_gid);
  if (S_ISDIR(st.st_mode)) return EISDIR;
  // Only a character device of a terminal driver can be a terminal; anything
  // else is refused here so that nothing is ever written into it.
  if (!S_ISCHR(st.st_mode) || !DeDriverDeTerminal(st.st_rdev)) return ENOTTY;
  return 0;
}

std::string CaminhoDispositivo(const std::string& porta) {
  if (SoDigitos(porta) && porta.size() < 6) {
    int n = std::atoi(porta.c_str());
    return "/dev/ttyS" + std::to_string(n - 1);
  }
  return porta;
}

std::string ExplicaErro(int erro, const std::string& caminho, const std::string& grupo) {
  const std::string c = "\"" + caminho + "\"";
  switch (erro) {
    case ENOENT:
      return "O dispositivo " + c + " nao existe: o pinpad nao esta conectado, ou o nome esta errado "
             "(pinpads USB costumam aparecer como /dev/ttyACM0 ou /dev/ttyUSB0; veja 'ls /dev/ttyACM* /dev/ttyUSB*').";
    case ENOTDIR:
      return "Uma parte do caminho " + c + " nao e uma pasta: o nome do dispositivo esta errado.";
    case EACCES:
    case EPERM:
      if (!grupo.empty())
        return "Permissao negada ao abrir " + c + ": o dispositivo pertence ao grupo '" + grupo +
               "'. Entre no grupo (sudo usermod -aG " + grupo + " " + NomeUsuario() +
               ") e abra uma nova sessao, ou rode como um usuario do grupo.";
      return "Permissao negada ao abrir " + c + ": este usuario nao pode ler e escrever no dispositivo.";
    case EBUSY:
      return "Dispositivo " + c + " ocupado: outro programa o mantem aberto em modo exclusivo "
             "(veja qual com 'fuser -v " + caminho + "') e feche-o antes.";
    case ENOTTY:
      return c + " nao e um terminal (porta serial): nao e o dispositivo de um pinpad.";
    case EISDIR:
      return c + " e uma pasta, nao o dispositivo de um pinpad.";
    case ENXIO:
    case ENODEV:
      return "Nao ha aparelho atras de " + c + ": o pinpad foi desconectado ou o driver nao o reconhece.";
    case EIO:
      return "Erro de entrada e saida em " + c + ": o pinpad foi desconectado durante a abertura?";
    case ELOOP:
      return c + " e um atalho que aponta para si mesmo.";
    case ENAMETOOLONG:
      return "O nome " + c + " e longo demais.";
    default:
      return "Erro ao abrir " + c + ": " + std::strerror(erro) + ".";
  }
}

std::string ExplicaSemPermissao(const std::string& caminho, mode_t modo, const std::string& dono,
                                const std::string& grupo) {
  if ((modo & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) return ExplicaErro(EACCES, caminho, grupo);
  char octal[8];
  std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(modo & 07777));
  return "Permissao negada ao abrir \"" + caminho + "\": o dispositivo e de '" + dono + "', grupo '" + grupo +
         "', com modo " + octal + ", e o grupo nao pode ler e escrever nele: entrar no grupo nao resolve. Rode como '" +
         dono + "', ou peca ao administrador que de o dispositivo a um grupo com leitura e escrita (por exemplo uma "
         "regra udev com GROUP=\"dialout\", MODE=\"0660\"; veja pinpadctl(1)).";
}

std::string ExplicaEmUso(const std::string& caminho, int32_t pid, const std::string& programa) {
  return "A porta \"" + caminho + "\" esta em uso por " + TextoDono(pid, programa) +
         ": o pinpad atende um programa por vez. Espere esse programa terminar (ou encerre-o) e tente de novo.";
}

bool PortaEmUso(const std::string& porta, std::string* explicacao, const std::string& raizProc) {
  const std::string caminho = CaminhoDispositivo(porta);
  int32_t pid = 0;
  char programa[64] = {};
  if (DonoPorta(caminho.c_str(), raizProc.c_str(), &pid, programa, sizeof programa) != 1) return false;
  *explicacao = ExplicaEmUso(caminho, pid, programa);
  return true;
}

ExameDePorta ExaminaPorta(const std::string& porta, const std::string& raizProc) {
  ExameDePorta ex;
  const std::string caminho = CaminhoDispositivo(porta);
  auto falha = [&](int erro) {
    ex.ok = false;
    ex.erro = erro;
    ex.explicacao = ExplicaErro(erro, caminho, ex.grupo);
    return ex;
  };
  if (int tipo = TipoDeDispositivo(caminho, &ex.grupo); tipo != 0) return falha(tipo);
  struct stat st {};
  if (stat(caminho.c_str(), &st) != 0) return falha(errno);
  auto ocupada = [&]() {
    falha(EBUSY);
    PortaEmUso(caminho, &ex.explicacao, raizProc);
    return ex;
  };
  int fd = open(caminho.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int erro = errno;
    if (erro == EBUSY) return ocupada();
    falha(erro);
    if (erro == EACCES || erro == EPERM)
      ex.explicacao = ExplicaSemPermissao(caminho, st.st_mode, NomeDono(st.st_uid), ex.grupo);
    return ex;
  }
  const bool terminal = isatty(fd) != 0;
  // Another program's lock on the port: whoever opens it second garbles both
  // exchanges. The probe lock is dropped with the descriptor.
  const bool livre = !terminal || flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
  close(fd);
  if (!terminal) return falha(ENOTTY);
  if (!livre) return ocupada();
  ex.ok = true;
  return ex;
}

}  // namespace pinpadctl
