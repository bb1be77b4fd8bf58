// pinpadctl portas [--json] [--sonda] [--espera S] [DISPOSITIVO...]
//
// Lists the serial ports from sysfs (or the devices named), without opening
// them. --sonda asks each port that no program holds for its information
// block: every port in a process of its own, all at once, each bounded by the
// time limit, so that a port with nothing on it costs the limit and not the
// library's whole retry cycle. A probe puts back the line settings it found,
// on every way out (answer, time limit, Ctrl-C).
#include "tools/pinpadctl/ComandoPortas.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pinpad/pinpad.h"
#include "tools/pinpadctl/Blocos.h"
#include "tools/pinpadctl/Portas.h"

namespace pinpadctl {

namespace {

constexpr int StatusUso = 255;
constexpr int StatusInterrompido = 130;
constexpr double EsperaPadrao = 3;  // a pinpad answers its opening and information in well under a second

constexpr char Uso[] = "Uso: pinpadctl [--json] portas [--sonda] [--espera S] [DISPOSITIVO...]\n";
constexpr char Texto[] =
    "\nLista as portas seriais da maquina (ttyUSB, ttyACM e portas com UART de verdade), lidas do\n"
    "sysfs sem abrir nenhuma: dispositivo, driver, USB fabricante:produto, fabricante, produto e\n"
    "numero de serie do aparelho USB, se um programa a esta usando (e qual), e o nome estavel em\n"
    "/dev/serial/by-id. Com DISPOSITIVOs, mostra so esses.\n\n"
    "  --sonda      pede o bloco de informacao a cada porta livre e marca as que respondem como\n"
    "               pinpad (fabricante, modelo, versao); nunca toca numa porta em uso nem no\n"
    "               console do sistema, e devolve cada porta com a configuracao que encontrou\n"
    "  --espera S   limite da sonda de cada porta, em segundos (padrao 3)\n"
    "  --json       resultado em JSON (um objeto) na saida padrao\n";

struct OpcoesPortas {
  bool json = false, sonda = false, ajuda = false;
  double espera = EsperaPadrao;
  std::vector<std::string> dispositivos;
};

bool LeOpcoesPortas(int argc, char** argv, OpcoesPortas& o, std::string& erro) {
  bool comando = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--json") {
      o.json = true;
    } else if (a == "--sonda") {
      o.sonda = true;
    } else if (a == "--help" || a == "-h") {
      o.ajuda = true;
    } else if (a == "--espera") {
      char* fim = nullptr;
      o.espera = i + 1 < argc ? std::strtod(argv[++i], &fim) : 0;
      if (fim == nullptr || *fim != '\0' || fim == argv[i] || !(o.espera > 0 && o.espera <= 600)) {
        erro = "--espera pede segundos (ex.: 3)";
        return false;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      erro = "opcao desconhecida: " + a;
      return false;
    } else if (!comando) {
      comando = true;  // "portas"
    } else {
      o.dispositivos.push_back(a);
    }
  }
  return true;
}

// ---- The probe of one port, in a child process ----------------------------------

// What the child hands back through its pipe.
struct ResultadoSonda {
  int32_t sonda;
  int32_t codigo;
  char bloco[257];
};

// The child's port as it found it, for the signal handlers.
int descritorSonda = -1;
int tuboSonda = -1;
termios configuracaoSonda{};

void Devolve(Sonda s, int32_t codigo, const std::string& bloco = {}) {
  ResultadoSonda r{};
  r.sonda = static_cast<int32_t>(s);
  r.codigo = codigo;
  std::memcpy(r.bloco, bloco.data(), bloco.size() < 256 ? bloco.size() : 256);
  ssize_t n = write(tuboSonda, &r, sizeof r);
  (void)n;
}

// Puts the port back as it was: unsent bytes dropped (so that the close does
// not wait on a device that stopped reading), the settings found, and the
// terminal's exclusive flag cleared (it belongs to the terminal and would
// outlive this process while another handle is open). All async-signal-safe.
void Restaura() {
  tcflush(descritorSonda, TCIOFLUSH);
  tcsetattr(descritorSonda, TCSANOW, &configuracaoSonda);
  ioctl(descritorSonda, TIOCNXCL);
}

// Time limit or Ctrl-C in the middle of an exchange.
void AoEsgotarSonda(int sinal) {
  Restaura();
  ResultadoSonda r{};
  r.sonda = static_cast<int32_t>(Sonda::SemResposta);
  r.codigo = sinal == SIGALRM ? PPCOMP_TIMEOUT : StatusInterrompido;
  ssize_t n = write(tuboSonda, &r, sizeof r);
  (void)n;
  _exit(0);
}

[[noreturn]] void SondaFilho(const std::string& dispositivo, double segundos, int tubo) {
  tuboSonda = tubo;
  // The library's line about a device that does not open is not this
  // listing's output.
  const int nulo = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (nulo >= 0) dup2(nulo, 2);
  const int fd = open(dispositivo.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Devolve(errno == EBUSY ? Sonda::EmUso : Sonda::NaoAbre, PPCOMP_PORTERR);
    _exit(0);
  }
  // A holder that appeared since the listing, or one the lock table does
  // not show: the port is left alone.
  int exclusivo = 0;
  if (!isatty(fd)) {
    Devolve(Sonda::NaoAbre, PPCOMP_PORTERR);
    _exit(0);
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || (ioctl(fd, TIOCGEXCL, &exclusivo) == 0 && exclusivo)) {
    Devolve(Sonda::EmUso, PPCOMP_PORTERR);
    _exit(0);
  }
  flock(fd, LOCK_UN);  // the library takes its own
  if (tcgetattr(fd, &configuracaoSonda) != 0) {
    Devolve(Sonda::NaoAbre, PPCOMP_PORTERR);
    _exit(0);
  }
  descritorSonda = fd;
  struct sigaction sa {};
  sa.sa_handler = AoEsgotarSonda;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGALRM, SIGINT, SIGTERM}) sigaction(s, &sa, nullptr);
  itimerval limite{};
  limite.it_value.tv_sec = static_cast<time_t>(segundos);
  limite.it_value.tv_usec = static_cast<suseconds_t>((segundos - static_cast<double>(limite.it_value.tv_sec)) * 1e6);
  setitimer(ITIMER_REAL, &limite, nullptr);

  int32_t r = PP_Open(dispositivo.c_str());
  char saida[1025] = {};
  int32_t info = PPCOMP_OK;
  if (r == PPCOMP_OK) {
    info = PP_GetInfo("00", saida);
    PP_Close("");
  }
  sigset_t bloqueio;
  sigemptyset(&bloqueio);
  for (int s : {SIGALRM, SIGINT, SIGTERM}) sigaddset(&bloqueio, s);
  sigprocmask(SIG_BLOCK, &bloqueio, nullptr);
  Restaura();
  close(fd);
  if (r == PPCOMP_PORTERR) {
    Devolve(Sonda::NaoAbre, r);
  } else if (r == PPCOMP_COMMERR || r == PPCOMP_COMMTOUT || r == PPCOMP_TIMEOUT) {
    Devolve(Sonda::SemResposta, r);
  } else if (r != PPCOMP_OK) {
    Devolve(Sonda::Pinpad, r);  // it answered the opening in the protocol, with an error
  } else {
    Devolve(Sonda::Pinpad, info, info == PPCOMP_OK ? std::string(saida, strnlen(saida, 256)) : std::string());
  }
  _exit(0);
}

volatile sig_atomic_t interrompido = 0;
void AoInterromper(int) { interrompido = 1; }

// Probes every port not in use at once. Returns false when interrupted.
bool SondaPortas(std::vector<PortaSerie>& portas, double segundos) {
  struct Filho {
    size_t porta;
    pid_t pid;
    int leitura;
    ResultadoSonda r;
    size_t lidos;
  };
  std::vector<Filho> filhos;
  std::fflush(nullptr);
  for (size_t i = 0; i < portas.size(); ++i) {
    auto& p = portas[i];
    p.sonda = SondaRecusada(p);
    if (p.sonda != Sonda::NaoFeita) continue;
    int tubo[2];
    if (pipe2(tubo, O_CLOEXEC) != 0) {
      p.sonda = Sonda::NaoAbre;
      p.codigoSonda = PPCOMP_INTERR;
      continue;
    }
    const pid_t pid = fork();
    if (pid == 0) {
      close(tubo[0]);
      SondaFilho(p.dispositivo, segundos, tubo[1]);
    }
    close(tubo[1]);
    if (pid < 0) {
      close(tubo[0]);
      p.sonda = Sonda::NaoAbre;
      p.codigoSonda = PPCOMP_INTERR;
      continue;
    }
    filhos.push_back({i, pid, tubo[0], {}, 0});
  }
  // Each child ends by its own timer; the grace covers a slow exit, then it is
  // stopped (its port then reads as not answering).
  using Relogio = std::chrono::steady_clock;
  const auto limite = Relogio::now() + std::chrono::duration<double>(segundos + 2);
  bool repassado = false;
  for (;;) {
    // A Ctrl-C at the terminal reaches the probes by itself; a signal sent to
    // this process alone is passed on.
    if (interrompido && !repassado) {
      repassado = true;
      for (const auto& f : filhos)
        if (f.leitura >= 0) kill(f.pid, SIGTERM);
    }
    std::vector<pollfd> fds;
    for (const auto& f : filhos)
      if (f.leitura >= 0) fds.push_back({f.leitura, POLLIN, 0});
    if (fds.empty()) break;
    const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(limite - Relogio::now()).count();
    if (resta <= 0) break;
    poll(fds.data(), fds.size(), static_cast<int>(resta < 100 ? resta : 100));
    for (auto& f : filhos) {
      if (f.leitura < 0) continue;
      pollfd pf{f.leitura, POLLIN, 0};
      if (poll(&pf, 1, 0) <= 0) continue;
      const ssize_t n = read(f.leitura, reinterpret_cast<char*>(&f.r) + f.lidos, sizeof f.r - f.lidos);
      if (n < 0 && errno == EINTR) continue;
      if (n > 0) f.lidos += static_cast<size_t>(n);
      if (n <= 0 || f.lidos == sizeof f.r) {
        close(f.leitura);
        f.leitura = -1;
      }
    }
  }
  for (auto& f : filhos) {
    if (f.leitura >= 0) {
      kill(f.pid, SIGKILL);
      close(f.leitura);
    }
    while (waitpid(f.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    auto& p = portas[f.porta];
    if (f.lidos != sizeof f.r) {
      p.sonda = Sonda::SemResposta;
      p.codigoSonda = PPCOMP_TIMEOUT;
      continue;
    }
    p.sonda = static_cast<Sonda>(f.r.sonda);
    p.codigoSonda = f.r.codigo;
    if (p.sonda == Sonda::EmUso) p.emUso = 1;
    if (p.sonda == Sonda::Pinpad) p.info = LeInformacao(std::string_view(f.r.bloco, strnlen(f.r.bloco, 256)));
  }
  return !interrompido;
}

}  // namespace

bool PedePortas(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--espera") {
      ++i;
    } else if (a.empty() || a[0] != '-') {
      return a == "portas";
    }
  }
  return false;
}

int ComandoPortas(int argc, char** argv) {
  OpcoesPortas o;
  std::string erro;
  if (!LeOpcoesPortas(argc, argv, o, erro)) {
    std::fprintf(stderr, "pinpadctl: %s\n%s", erro.c_str(), Uso);
    return StatusUso;
  }
  if (o.ajuda) {
    std::printf("%s%s", Uso, Texto);
    return 0;
  }
  std::vector<PortaSerie> portas;
  if (o.dispositivos.empty()) {
    portas = ListaPortas("/sys", "/dev", "/proc");
  } else {
    for (const auto& d : o.dispositivos) portas.push_back(DescrevePorta(d, "/sys", "/dev", "/proc"));
  }
  if (o.sonda) {
    // On Ctrl-C each probe puts its port back and ends; the listing is still
    // printed, and the status says it was interrupted.
    struct sigaction sa {};
    sa.sa_handler = AoInterromper;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    if (!o.json && isatty(2))
      std::fprintf(stderr, "Sondando as portas livres (ate %.0f s)...\n", o.espera);
    SondaPortas(portas, o.espera);
  }
  const std::string saida = o.json ? JsonPortas(portas, o.sonda) : TabelaPortas(portas, o.sonda);
  std::fputs(saida.c_str(), stdout);
  std::fflush(stdout);
  if (interrompido) {
    std::fprintf(stderr, "pinpadctl: interrompido; as portas sondadas foram devolvidas como estavam\n");
    return StatusInterrompido;
  }
  return 0;
}

}  // namespace pinpadctl
