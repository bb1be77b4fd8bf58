#pragma once
// Running the build tree's programs from end-to-end tests: Kolvar as a child
// process with its output captured, and simpinpad in the background.
#include <sys/types.h>

#include <string>
#include <vector>

namespace e2e {

struct Resultado {
  int status = -1;         // exit status, or 128 + signal, or -1 when it had to be killed
  std::string saida;       // standard output, bytes as written
  std::string erro;        // standard error
  double segundos = 0;     // wall time
};

// Runs programa (a path) with args; kills it after limiteMs.
Resultado Executa(const std::string& programa, const std::vector<std::string>& args, int limiteMs = 60000);

// Payloads (code, status and fields: the bytes between SYN and ETB) of the
// frames in a simpinpad log, in order. dir "RX": received by the simulated
// pinpad (sent by the library); "TX": sent by it.
std::vector<std::string> Quadros(const std::string& log, const std::string& dir = "RX");
// Count of log lines of the given direction and kind (e.g. "RX", "CAN").
int ContaEventos(const std::string& log, const std::string& dir, const std::string& tipo);
// Display texts in the log, each as the 32 characters of its two lines.
std::vector<std::string> Displays(const std::string& log);

// Replaces every "[dd/mm/yyyy hh:mm:ss]" time stamp with "[TS]".
std::string SemHorario(const std::string& texto);

// Kolvar with the given arguments.
Resultado Kolvar(const std::vector<std::string>& args, int limiteMs = 90000);

// One Kolvar run against a fresh simpinpad started with `opcoes`.
struct Execucao {
  Resultado r;
  std::string log;
  std::vector<std::string> quadros;  // payloads the library sent
  std::vector<std::string> displays;
};
Execucao KolvarContraSimulador(const std::vector<std::string>& opcoes);

// Runs programa with a pseudo-terminal as its standard input, output and error
// (as in a person's terminal, where a program may use colour); everything it
// wrote comes back in `saida`.
Resultado ExecutaEmTerminal(const std::string& programa, const std::vector<std::string>& args,
                            int limiteMs = 60000);

// Path of a program of the build tree.
std::string Programa(const std::string& nome);

// simpinpad in the background, stopped by its own pid when the object goes.
class Simulador {
 public:
  // Starts simpinpad with `args` plus --log (frames) into a temporary folder and
  // waits for the device path on its first output line.
  explicit Simulador(const std::vector<std::string>& args = {});
  ~Simulador();
  Simulador(const Simulador&) = delete;
  Simulador& operator=(const Simulador&) = delete;

  bool ativo() const { return !dispositivo_.empty(); }
  pid_t pid() const { return pid_; }
  const std::string& dispositivo() const { return dispositivo_; }
  // The frame log written so far, and the simulator's own output (display).
  std::string log() const;
  std::string saida() const;
  // Stops the simulator (the device goes away); returns its exit status.
  int Para();

 private:
  std::string pasta_;
  std::string dispositivo_;
  pid_t pid_ = -1;
};

}  // namespace e2e
