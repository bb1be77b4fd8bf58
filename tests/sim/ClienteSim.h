#pragma once
// A tiny library-side client for the simulator tests: starts simpinpad as its own
// process, opens the device it prints and exchanges raw bytes with it. Frames are
// built here by hand, apart from both the library and the simulator.
#include <sys/types.h>

#include <csignal>

#include <cstdint>
#include <string>
#include <vector>

namespace clientesim {

// Frame of a command as the library sends it: SYN, code, "%03d"+data fields, ETB, CRC.
std::string Comando(const std::string& codigo, const std::vector<std::string>& campos = {});
// Frame of an answer: SYN, code, status, fields, ETB, CRC.
std::string Resposta(const std::string& codigo, int status, const std::vector<std::string>& campos = {});
// Start byte, text, end byte, XOR of the bytes after the start byte through the end byte.
std::string QuadroSC5000(char inicio, const std::string& texto, char fim);
uint16_t Crc(const std::string& dados);
// Bytes from "16 4F 50" (blanks optional).
std::string DeHex(const std::string& hex);

// Fields of an answer frame (SYN code status fields ETB CRC CRC): false if malformed.
struct RespostaLida {
  std::string codigo;
  int status = -1;
  std::vector<std::string> campos;
};
bool Decodifica(const std::string& quadro, RespostaLida& r);

class Simulador {
 public:
  // Starts simpinpad with the arguments and reads the device path from its first line.
  // With comTeclado its standard input is a pipe that Digita writes to.
  explicit Simulador(const std::vector<std::string>& args = {}, bool comTeclado = false);
  ~Simulador();
  Simulador(const Simulador&) = delete;
  Simulador& operator=(const Simulador&) = delete;

  bool Iniciou() const { return fd_ >= 0; }
  const std::string& Dispositivo() const { return dispositivo_; }
  // Sends the signal (SIGTERM by default) and returns the exit status (-1 if it
  // did not end within 5 s).
  int Termina(int sinal = SIGTERM);
  // Waits for the process to end on its own; exit status or -1.
  int Espera(int timeoutMs);

  void Envia(const std::string& bytes);
  // Keys typed at the simulator's terminal; what it printed after the device line.
  void Digita(const std::string& teclas);
  std::string Tela(int timeoutMs);
  // Whatever arrives within the time; stops early once n bytes are in (n > 0).
  std::string Le(int timeoutMs, size_t n = 0);
  // One byte, or -1 on time-out.
  int LeByte(int timeoutMs);
  // The next frame starting at SYN up to ETB + 2 bytes; bytes before SYN go to *antes.
  std::string LeQuadro(int timeoutMs, std::string* antes = nullptr);
  // Sends a command, expects ACK, returns the answer frame decoded (skips "NTM" when asked).
  bool Troca(const std::string& codigo, const std::vector<std::string>& campos, RespostaLida& r,
             int timeoutMs = 3000);

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  int saida_ = -1;
  int teclado_ = -1;
  std::string dispositivo_;
};

}  // namespace clientesim
