#include "tool/Processo.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <thread>

#include "common/TestUtil.h"

namespace e2e {

namespace {

using Relogio = std::chrono::steady_clock;

std::vector<char*> Argv(const std::string& programa, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(programa.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

}  // namespace

namespace {

struct LinhaLog {
  std::string dir, tipo, bytes, resto;
};

std::vector<LinhaLog> LeLog(const std::string& log) {
  std::vector<LinhaLog> linhas;
  std::istringstream in(log);
  std::string linha;
  while (std::getline(in, linha)) {
    std::istringstream campos(linha);
    std::string segundos;
    LinhaLog l;
    if (!(campos >> segundos >> l.dir >> l.tipo)) continue;
    std::string token;
    while (campos >> token) {
      if (token[0] == '|') {
        auto p = linha.find('|');
        l.resto = linha.substr(p);
        break;
      }
      if (token.size() == 2 && std::isxdigit(static_cast<unsigned char>(token[0])) &&
          std::isxdigit(static_cast<unsigned char>(token[1]))) {
        l.bytes.push_back(static_cast<char>(std::stoi(token, nullptr, 16)));
      }
    }
    linhas.push_back(l);
  }
  return linhas;
}

}  // namespace

std::vector<std::string> Quadros(const std::string& log, const std::string& dir) {
  std::vector<std::string> quadros;
  for (const auto& l : LeLog(log)) {
    if (l.dir != dir || l.tipo != "QUADRO" || l.bytes.size() < 2 || l.bytes[0] != 0x16) continue;
    auto etb = l.bytes.find('\x17');
    quadros.push_back(l.bytes.substr(1, etb == std::string::npos ? std::string::npos : etb - 1));
  }
  return quadros;
}

int ContaEventos(const std::string& log, const std::string& dir, const std::string& tipo) {
  int n = 0;
  for (const auto& l : LeLog(log)) n += l.dir == dir && l.tipo == tipo;
  return n;
}

std::vector<std::string> Displays(const std::string& log) {
  std::vector<std::string> textos;
  for (const auto& l : LeLog(log)) {
    if (l.tipo != "DISPLAY") continue;
    // "|line 1|line 2|"
    auto a = l.resto.find('|');
    auto b = l.resto.find('|', a + 1);
    auto c = l.resto.find('|', b + 1);
    if (a == std::string::npos || b == std::string::npos || c == std::string::npos) continue;
    textos.push_back(l.resto.substr(a + 1, b - a - 1) + l.resto.substr(b + 1, c - b - 1));
  }
  return textos;
}

std::string Programa(const std::string& nome) { return testutil::DiretorioProgramas() + "/" + nome; }

// Milliseconds left of the child's time limit; once it has run out, the child
// is killed, *morto set and 0 returned.
static int RestaOuMata(pid_t pid, Relogio::time_point inicio, int limiteMs, bool* morto) {
  const int resta = limiteMs - static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                    Relogio::now() - inicio).count());
  if (resta > 0) return resta;
  kill(pid, SIGKILL);
  *morto = true;
  return 0;
}

Resultado Executa(const std::string& programa, const std::vector<std::string>& args, int limiteMs) {
  Resultado res;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return res;
  auto argv = Argv(programa, args);
  auto inicio = Relogio::now();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    int nulo = open("/dev/null", O_RDONLY);
    if (nulo >= 0) dup2(nulo, 0);
    execv(programa.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int abertos = 2;
  bool morto = false;
  while (abertos > 0) {
    const int resta = RestaOuMata(pid, inicio, limiteMs, &morto);
    if (resta == 0) break;
    if (poll(fds, 2, resta) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? res.saida : res.erro).append(buf, n);
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --abertos;
      }
    }
  }
  for (auto& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  res.segundos = std::chrono::duration<double>(Relogio::now() - inicio).count();
  if (morto) {
    res.status = -1;
  } else if (WIFEXITED(st)) {
    res.status = WEXITSTATUS(st);
  } else if (WIFSIGNALED(st)) {
    res.status = 128 + WTERMSIG(st);
  }
  return res;
}

Resultado ExecutaEmTerminal(const std::string& programa, const std::vector<std::string>& args, int limiteMs) {
  Resultado res;
  auto argv = Argv(programa, args);
  auto inicio = Relogio::now();
  int mestre = -1;
  pid_t pid = forkpty(&mestre, nullptr, nullptr, nullptr);
  if (pid < 0) return res;
  if (pid == 0) {
    execv(programa.c_str(), argv.data());
    _exit(127);
  }
  bool morto = false;
  for (;;) {
    const int resta = RestaOuMata(pid, inicio, limiteMs, &morto);
    if (resta == 0) break;
    pollfd fd = {mestre, POLLIN, 0};
    if (poll(&fd, 1, resta) <= 0) continue;
    char buf[4096];
    ssize_t n = read(mestre, buf, sizeof buf);
    if (n <= 0) break;  // EIO once the program and its children closed the terminal
    res.saida.append(buf, static_cast<size_t>(n));
  }
  close(mestre);
  int st = 0;
  waitpid(pid, &st, 0);
  res.segundos = std::chrono::duration<double>(Relogio::now() - inicio).count();
  if (morto) res.status = -1;
  else if (WIFEXITED(st)) res.status = WEXITSTATUS(st);
  else if (WIFSIGNALED(st)) res.status = 128 + WTERMSIG(st);
  return res;
}

Simulador::Simulador(const std::vector<std::string>& args) {
  std::string modelo = (std::filesystem::temp_directory_path() / "simpinpad.XXXXXX").string();
  if (!mkdtemp(modelo.data())) return;
  pasta_ = modelo;
  std::string programa = Programa("simpinpad");
  std::vector<std::string> todos = {"--log", pasta_ + "/quadros.log"};
  todos.insert(todos.end(), args.begin(), args.end());
  auto argv = Argv(programa, todos);
  std::string saida = pasta_ + "/saida.txt";
  pid_ = fork();
  if (pid_ == 0) {
    int fd = open(saida.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    int nulo = open("/dev/null", O_RDONLY);
    if (nulo >= 0) dup2(nulo, 0);
    execv(programa.c_str(), argv.data());
    _exit(127);
  }
  if (pid_ < 0) return;
  // The device path is the first output line.
  auto limite = Relogio::now() + std::chrono::seconds(20);
  while (Relogio::now() < limite) {
    std::string texto = testutil::LeArquivo(saida);
    auto fim = texto.find('\n');
    if (fim != std::string::npos) {
      dispositivo_ = texto.substr(0, fim);
      return;
    }
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int Simulador::Para() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int st = 0;
  auto limite = Relogio::now() + std::chrono::seconds(10);
  while (waitpid(pid_, &st, WNOHANG) == 0) {
    if (Relogio::now() > limite) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &st, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

Simulador::~Simulador() {
  Para();
  if (!pasta_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(pasta_, ec);
  }
}

std::string Simulador::log() const { return testutil::LeArquivo(pasta_ + "/quadros.log"); }

std::string Simulador::saida() const { return testutil::LeArquivo(pasta_ + "/saida.txt"); }

}  // namespace e2e

namespace e2e {

std::string SemHorario(const std::string& texto) {
  // "[dd/mm/yyyy hh:mm:ss]": 'd' marks a digit position.
  static constexpr char Molde[] = "[dd/dd/dddd dd:dd:dd]";
  constexpr size_t Tamanho = sizeof Molde - 1;
  std::string saida;
  for (size_t i = 0; i < texto.size();) {
    bool casa = i + Tamanho <= texto.size();
    for (size_t k = 0; casa && k < Tamanho; ++k) {
      char c = texto[i + k];
      casa = Molde[k] == 'd' ? std::isdigit(static_cast<unsigned char>(c)) != 0 : c == Molde[k];
    }
    if (casa) {
      saida += "[TS]";
      i += Tamanho;
    } else {
      saida += texto[i++];
    }
  }
  return saida;
}

Resultado Kolvar(const std::vector<std::string>& args, int limiteMs) {
  return Executa(Programa("Kolvar"), args, limiteMs);
}

Execucao KolvarContraSimulador(const std::vector<std::string>& opcoes) {
  Simulador sim(opcoes);
  Execucao e;
  if (!sim.ativo()) {
    e.r.erro = "simpinpad did not start: " + sim.saida();
    return e;
  }
  e.r = Kolvar({sim.dispositivo()});
  sim.Para();
  e.log = sim.log();
  e.quadros = Quadros(e.log);
  e.displays = Displays(e.log);
  return e;
}

}  // namespace e2e
