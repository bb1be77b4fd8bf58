#pragma once
// The pinpad's side of the serial framing: check bytes, frame building and the
// receive-side scanner. Written apart from the library's own framing on purpose,
// so that a fault on one side shows up against the other.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

inline constexpr unsigned char SYN = 0x16, ETB = 0x17, ACK = 0x06, NAK = 0x15, EOT = 0x04,
                               CAN = 0x18, STX = 0x02, ETX = 0x03, SI = 0x0F, SO = 0x0E, FS = 0x1C;

// CRC-16 with polynomial 0x1021, initial value 0, most significant bit first, no
// reflection, no final XOR ("123456789" gives 0x31C3).
uint16_t Crc16(std::string_view dados);
// XOR of every byte.
unsigned char Lrc(std::string_view dados);

// SYN, code, status "%03d", each field as "%03d" + data, ETB, CRC high, CRC low.
// Fields longer than 999 bytes are cut to 999.
std::string MontaResposta(std::string_view codigo, int status, const std::vector<std::string>& campos);
// Request frame as the library sends it (used by tests and by the scanner's checks).
std::string MontaComando(std::string_view codigo, const std::vector<std::string>& campos);
// Start byte, text, end byte, LRC of the bytes after the start byte through the end byte.
std::string MontaQuadroSC5000(unsigned char inicio, std::string_view texto, unsigned char fim);

// Splits a request text (after the 3-letter code) into its "%03d"-prefixed fields.
// Returns false when a length runs past the end or is not three digits.
bool SeparaCampos(std::string_view texto, std::vector<std::string>& campos);

// What the scanner found at the front of the bytes received so far.
enum class TipoEvento {
  Nada,        // more bytes needed
  Quadro,      // a whole frame with a good CRC (SYN ... ETB CRC CRC)
  QuadroRuim,  // a whole frame whose CRC does not match
  SC5000,      // a whole SC5000 frame with a good LRC
  SC5000Ruim,  // a whole SC5000 frame with a bad LRC
  Controle,    // one control byte outside a frame (ACK, NAK, EOT, CAN)
  Lixo,        // bytes that start no frame
};

struct Evento {
  TipoEvento tipo = TipoEvento::Nada;
  std::string bytes;  // the bytes consumed, as received
};

// Collects the bytes the library sends and cuts them into events. A frame's end
// is the first ETB followed by two bytes whose CRC matches; when no ETB candidate
// matches and the bytes held end right after one, the frame is damaged.
class Recebedor {
 public:
  explicit Recebedor(bool aceitaSC5000) : sc5000_(aceitaSC5000) {}
  void Acrescenta(const char* dados, size_t n) { buf_.append(dados, n); }
  // Next event, consuming its bytes; TipoEvento::Nada when more bytes are needed.
  Evento Proximo();
  // After a silence: whatever partial frame is held is given up as garbage.
  Evento Abandona();
  bool Vazio() const { return buf_.empty(); }

 private:
  std::string buf_;
  bool sc5000_;
};

// Upper-case hexadecimal of the bytes, separated by blanks.
std::string HexEspacado(std::string_view dados);
// Bytes 0x20 to 0x7E as they are, every other byte as '.'.
std::string Imprimivel(std::string_view dados);

}  // namespace sim
