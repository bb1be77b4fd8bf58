#pragma once
// A scripted pinpad on the master side of a pseudo-terminal pair. The library
// opens the slave (Caminho()); the peer runs its script on its own thread,
// byte by byte: wait for a frame, answer ACK/NAK/EOT or a response, pause,
// inject garbage, or close the master as a device that vanishes. Everything it
// receives is logged with its arrival time.
//
// Frames are built here with a CRC and XOR check of the tests' own, so the
// library's framing code is checked against an independent implementation.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace testlink {

using Bytes = std::vector<uint8_t>;
using Relogio = std::chrono::steady_clock;

inline constexpr uint8_t kSYN = 0x16, kETB = 0x17, kACK = 0x06, kNAK = 0x15, kEOT = 0x04;
inline constexpr uint8_t kSTX = 0x02, kETX = 0x03, kSI = 0x0F, kSO = 0x0E;

// Bitwise CRC-16 (poly 0x1021, init 0, MSB first): the oracle for the framing.
uint16_t Crc16Referencia(const uint8_t* dados, size_t n);
// SYN, text, ETB, CRC high, CRC low.
Bytes Quadro(std::string_view texto);
// start, text, end, XOR of the bytes after start through end.
Bytes QuadroSC5000(std::string_view texto, uint8_t inicio = kSTX, uint8_t fim = kETX);
Bytes Concatena(std::initializer_list<Bytes> partes);
Bytes DeTexto(std::string_view texto);
std::string Hex(const Bytes& b);

// What one waiting step consumed, and when its first and last bytes arrived.
struct Recepcao {
  Bytes bytes;
  Relogio::time_point primeiro;
  Relogio::time_point ultimo;
};

class PeerPty {
 public:
  PeerPty();
  ~PeerPty();
  PeerPty(const PeerPty&) = delete;
  PeerPty& operator=(const PeerPty&) = delete;

  bool Valido() const { return mestre_ >= 0; }
  const std::string& Caminho() const { return caminho_; }
  // A descriptor the peer keeps open on the slave, for reading its settings.
  int Escravo() const { return escravo_; }

  // Script steps, run in order once Inicia() is called.
  PeerPty& EsperaQuadro();           // a whole command frame: SYN ... ETB CRC CRC
  PeerPty& EsperaSC5000();           // STX/SI ... ETX/SO check
  PeerPty& EsperaBytes(size_t n);    // n bytes, whatever they are
  PeerPty& Envia(Bytes bytes);
  PeerPty& EnviaLento(Bytes bytes, int intervaloMs);  // one byte at a time
  PeerPty& Pausa(int ms);
  PeerPty& FechaMestre();            // the device vanishes
  // Answers every command frame with ACK and `resposta(frame)`, `vezes` times.
  PeerPty& Atende(int vezes, std::function<Bytes(const Bytes&)> resposta);

  void Inicia();
  // Waits for the script to end (keeps logging 50 ms more) and stops. False when
  // a waiting step ran out of time (15 s) or the master failed.
  bool Termina(int limiteMs = 30000);

  // Everything received, and what each waiting step consumed.
  Bytes Recebido() const;
  std::vector<Recepcao> Recepcoes() const;

 private:
  struct Passo {
    // Scoped: the step kinds share their names with the script functions.
    enum class Tipo { Quadro, SC5000, NBytes, Envia, EnviaLento, Pausa, Fecha, Atende } tipo;
    Bytes bytes;
    size_t n = 0;
    int ms = 0;
    std::function<Bytes(const Bytes&)> resposta;
  };

  void Executa();
  // Reads what the master has until `prazo` (or the first bytes, with
  // `voltaComDados`); false when the master is gone.
  bool Bombeia(Relogio::time_point prazo, bool voltaComDados = false);
  // Waits until `completo(pendentes)` gives a length > 0, consumes it.
  bool EsperaAte(const std::function<size_t(const Bytes&)>& completo, Recepcao& saida);
  void Escreve(const Bytes& bytes);

  int mestre_ = -1;
  int escravo_ = -1;
  std::string caminho_;
  std::vector<Passo> passos_;
  std::thread fio_;
  std::atomic<bool> parar_{false};
  std::atomic<bool> fimScript_{false};
  std::atomic<bool> falhou_{false};

  mutable std::mutex mtx_;
  Bytes recebido_;
  std::vector<Relogio::time_point> chegada_;
  size_t consumido_ = 0;
  std::vector<Recepcao> recepcoes_;
};

}  // namespace testlink
