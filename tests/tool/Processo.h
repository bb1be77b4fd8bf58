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
