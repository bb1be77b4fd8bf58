#pragma once
// What the benchmarks that run the built programs share: the folder those
// programs are in, starting one with its standard streams redirected, and a
// simpinpad that lives as long as the object.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace bench {

// The folder of this program: the build puts every program there.
inline std::string DiretorioProgramas() {
  char caminho[4096];
  const ssize_t n = readlink("/proc/self/exe", caminho, sizeof caminho - 1);
  if (n <= 0) return ".";
  const std::string s(caminho, static_cast<size_t>(n));
  return s.substr(0, s.rfind('/'));
}

// What becomes of a child's standard error.
enum class Erros { Descarta, Herda };

// Starts args[0] with the arguments `args` and the environment `ambiente`:
// standard input from /dev/null, standard output to the descriptor `saida`
// (/dev/null when negative), standard error to /dev/null or this program's.
// Returns the child's pid, or -1 when it did not start.
inline pid_t Lanca(const std::vector<std::string>& args, int saida, char** ambiente = environ,
                   Erros erros = Erros::Descarta) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t acoes;
  posix_spawn_file_actions_init(&acoes);
  posix_spawn_file_actions_addopen(&acoes, 0, "/dev/null", O_RDONLY, 0);
  if (saida >= 0) {
    posix_spawn_file_actions_adddup2(&acoes, saida, 1);
  } else {
    posix_spawn_file_actions_addopen(&acoes, 1, "/dev/null", O_WRONLY, 0);
  }
  if (erros == Erros::Descarta) posix_spawn_file_actions_addopen(&acoes, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &acoes, nullptr, argv.data(), ambiente) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&acoes);
  return pid;
}

// simpinpad, from this program's folder, with `opcoes`; `dispositivo` is the
// device path it prints on its first line (empty when it did not start). The
// simulator is ended when the object goes.
struct Simulador {
  pid_t pid = -1;
  std::string dispositivo;
  explicit Simulador(const std::vector<std::string>& opcoes = {}, Erros erros = Erros::Descarta) {
    int canal[2];
    if (pipe(canal) != 0) return;
    std::vector<std::string> args = {DiretorioProgramas() + "/simpinpad"};
    args.insert(args.end(), opcoes.begin(), opcoes.end());
    pid = Lanca(args, canal[1], environ, erros);
    close(canal[1]);
    char c;
    while (read(canal[0], &c, 1) == 1 && c != '\n') dispositivo += c;
    // The simulator writes nothing more on stdout; the pipe may close.
    close(canal[0]);
  }
  Simulador(const Simulador&) = delete;
  Simulador& operator=(const Simulador&) = delete;
  ~Simulador() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
};

}  // namespace bench
