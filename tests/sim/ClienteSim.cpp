#include "sim/ClienteSim.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "common/TestUtil.h"

extern char** environ;

namespace clientesim {

uint16_t Crc(const std::string& dados) {
  // Plain bit-at-a-time XMODEM CRC, written separately from the simulator's.
  uint32_t crc = 0;
  for (unsigned char c : dados) {
    for (int i = 7; i >= 0; --i) {
      bool bit = ((c >> i) & 1) ^ ((crc >> 15) & 1);
      crc = (crc << 1) & 0xFFFF;
      if (bit) crc ^= 0x1021;
    }
  }
  return static_cast<uint16_t>(crc);
}

static std::string Fecha(std::string s) {
  s += '\x17';
  uint16_t c = Crc(s.substr(1));
  s += static_cast<char>(c >> 8);
  s += static_cast<char>(c & 0xFF);
  return s;
}

static std::string Campos(const std::vector<std::string>& campos) {
  std::string s;
  char n[16];
  for (const auto& c : campos) {
    std::snprintf(n, sizeof n, "%03zu", c.size());
    s += n + c;
  }
  return s;
}

std::string Comando(const std::string& codigo, const std::vector<std::string>& campos) {
  return Fecha("\x16" + codigo + Campos(campos));
}

std::string Resposta(const std::string& codigo, int status, const std::vector<std::string>& campos) {
  char st[16];
  std::snprintf(st, sizeof st, "%03d", status);
  return Fecha("\x16" + codigo + st + Campos(campos));
}

std::string QuadroSC5000(char inicio, const std::string& texto, char fim) {
  std::string s = std::string(1, inicio) + texto + fim;
  char x = 0;
  for (size_t i = 1; i < s.size(); ++i) x = static_cast<char>(x ^ s[i]);
  return s + x;
}

std::string DeHex(const std::string& hex) {
  std::string s, d;
  for (char c : hex)
    if (c != ' ') d += c;
  for (size_t i = 0; i + 1 < d.size(); i += 2) s += static_cast<char>(std::stoi(d.substr(i, 2), nullptr, 16));
  return s;
}

bool Decodifica(const std::string& q, RespostaLida& r) {
  r = RespostaLida{};
  if (q.size() < 10 || q[0] != '\x16' || q[q.size() - 3] != '\x17') return false;
  uint16_t c = Crc(q.substr(1, q.size() - 3));
  if (static_cast<unsigned char>(q[q.size() - 2]) != (c >> 8) ||
      static_cast<unsigned char>(q[q.size() - 1]) != (c & 0xFF))
    return false;
  std::string t = q.substr(1, q.size() - 4);
  r.codigo = t.substr(0, 3);
  r.status = std::stoi(t.substr(3, 3));
  size_t p = 6;
  while (p + 3 <= t.size()) {
    size_t n = static_cast<size_t>(std::stoi(t.substr(p, 3)));
    if (p + 3 + n > t.size()) return false;
    r.campos.push_back(t.substr(p + 3, n));
    p += 3 + n;
  }
  return p == t.size();
}

Simulador::Simulador(const std::vector<std::string>& args, bool comTeclado) {
  int canal[2], entrada[2] = {-1, -1};
  if (pipe(canal) != 0) return;
  if (comTeclado && pipe(entrada) != 0) return;
  posix_spawn_file_actions_t acoes;
  posix_spawn_file_actions_init(&acoes);
  if (comTeclado) {
    posix_spawn_file_actions_adddup2(&acoes, entrada[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&acoes, entrada[1]);
  }
  posix_spawn_file_actions_adddup2(&acoes, canal[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&acoes, canal[0]);
  std::string prog = testutil::DiretorioProgramas() + "/simpinpad";
  std::vector<char*> argv{prog.data()};
  std::vector<std::string> copia = args;
  for (auto& a : copia) argv.push_back(a.data());
  argv.push_back(nullptr);
  int r = posix_spawn(&pid_, prog.c_str(), &acoes, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&acoes);
  close(canal[1]);
  saida_ = canal[0];
  if (comTeclado) {
    close(entrada[0]);
    teclado_ = entrada[1];
  }
  if (r != 0) {
    pid_ = -1;
    return;
  }
  // First line of its output: the device.
  std::string linha;
  char c;
  pollfd p{saida_, POLLIN, 0};
  while (poll(&p, 1, 10000) > 0 && read(saida_, &c, 1) == 1 && c != '\n') linha += c;
  dispositivo_ = linha;
  if (linha.empty()) return;
  fd_ = open(linha.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ >= 0) {
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    tcsetattr(fd_, TCSANOW, &t);
  }
}

Simulador::~Simulador() {
  Termina();
  if (fd_ >= 0) close(fd_);
  if (saida_ >= 0) close(saida_);
  if (teclado_ >= 0) close(teclado_);
}

void Simulador::Digita(const std::string& teclas) {
  if (teclado_ >= 0 && write(teclado_, teclas.data(), teclas.size()) < 0) {
  }
}

std::string Simulador::Tela(int timeoutMs) {
  std::string s;
  pollfd p{saida_, POLLIN, 0};
  char buf[1024];
  while (saida_ >= 0 && poll(&p, 1, timeoutMs) > 0) {
    ssize_t n = read(saida_, buf, sizeof buf);
    if (n <= 0) break;
    s.append(buf, static_cast<size_t>(n));
    timeoutMs = 50;
  }
  return s;
}

int Simulador::Espera(int timeoutMs) {
  if (pid_ < 0) return -1;
  for (int t = 0; t <= timeoutMs; t += 10) {
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

int Simulador::Termina(int sinal) {
  if (pid_ < 0) return -1;
  kill(pid_, sinal);
  int r = Espera(5000);
  if (pid_ >= 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  return r;
}

void Simulador::Envia(const std::string& bytes) {
  size_t feito = 0;
  while (fd_ >= 0 && feito < bytes.size()) {
    ssize_t n = write(fd_, bytes.data() + feito, bytes.size() - feito);
    if (n > 0) feito += static_cast<size_t>(n);
    else {
      pollfd p{fd_, POLLOUT, 0};
      if (poll(&p, 1, 1000) <= 0) return;
    }
  }
}

std::string Simulador::Le(int timeoutMs, size_t n) {
  std::string s;
  auto fim = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (fd_ >= 0 && (n == 0 || s.size() < n)) {
    auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(fim - std::chrono::steady_clock::now());
    if (resta.count() <= 0) break;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(resta.count())) <= 0) break;
    char buf[512];
    ssize_t r = read(fd_, buf, n ? std::min(sizeof buf, n - s.size()) : sizeof buf);
    if (r <= 0) break;
    s.append(buf, static_cast<size_t>(r));
  }
  return s;
}

int Simulador::LeByte(int timeoutMs) {
  std::string s = Le(timeoutMs, 1);
  return s.empty() ? -1 : static_cast<unsigned char>(s[0]);
}

std::string Simulador::LeQuadro(int timeoutMs, std::string* antes) {
  std::string s;
  auto fim = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < fim) {
    int resta = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(fim - std::chrono::steady_clock::now()).count());
    int c = LeByte(std::max(resta, 1));
    if (c < 0) break;
    if (s.empty() && c != 0x16) {
      if (antes) *antes += static_cast<char>(c);
      continue;
    }
    s += static_cast<char>(c);
    size_t etb = s.find('\x17');
    if (etb != std::string::npos && s.size() == etb + 3) return s;
  }
  return s;
}

bool Simulador::Troca(const std::string& codigo, const std::vector<std::string>& campos, RespostaLida& r,
                      int timeoutMs) {
  Envia(Comando(codigo, campos));
  if (LeByte(timeoutMs) != 0x06) return false;
  for (;;) {
    if (!Decodifica(LeQuadro(timeoutMs), r)) return false;
    if (r.codigo != "NTM") return true;
  }
}

}  // namespace clientesim
