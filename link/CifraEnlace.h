#pragma once
// Host link mode: messages travel, encrypted, through the host application's
// functions instead of the serial port.
//
// Message forms between the library and the host:
//   whole envelope  a message of 8 bytes or more in complete form, enveloped
//                   whole (see cipher/EnvelopeCripto.h), no prefix
//   short message   3 to 7 bytes in complete form, unchanged
//   clear           "QX:" and the message unchanged
//   optimised       "QX:", then per encrypted stretch "offset:length;", then
//                   "F;", then the message with each stretch replaced by the
//                   envelope of its packed (CompactaTexto) form. Offsets count
//                   from the first character after "F;"; the length field is
//                   padded with '0' to a width fixed by the stretch's length.
// The receiver tells the form by the prefix, whatever its own setting.
#include <cstdint>

// Operation codes handed to the host.
inline constexpr int32_t kOpHostEnviaComando = 653;
inline constexpr int32_t kOpHostRecebeResposta = 654;
inline constexpr int32_t kOpHostEnviaSC5000 = 753;
inline constexpr int32_t kOpHostRecebeSC5000 = 754;

// Size of each operation's work buffer (the host's text and its terminator).
inline constexpr int32_t kTamTrabalhoCifra = 2600;

// Encrypts `mensagem` (`tamanho` bytes) and hands it to the host with operation
// code `operacao` (653 pinpad command, 753 SC5000 command). Returns a PPCOMP_*
// code or the host's non-negative result: PPCOMP_QXCRIPTERR when the keys cannot
// be loaded or the message cannot be enveloped, PPCOMP_COMMERR when the host
// function fails (or is missing).
int32_t PinPadEscreve(int32_t operacao, const char* mensagem, int32_t tamanho);

// Takes one message from the host (operation code 654 or 754), decrypts it into
// `buffer` (`capacidade` bytes, zero-filled, the message stays zero-terminated)
// and returns its length, 0 when nothing arrived, or -13 (cancelled by the
// host), -31 (host failure), -100 (keys or decryption).
int32_t PinPadLe(int32_t operacao, char* buffer, int32_t capacidade);

// One entry of a command table: the stretch of a command's message that is
// encrypted in the optimised form. Offset 0 and length 0 mean the whole
// message; a table ends with an entry whose code is empty.
struct EntradaCifra {
  char Comando[4];
  int32_t Deslocamento;
  int32_t Tamanho;
};
static_assert(sizeof(EntradaCifra) == 12, "12-byte table entries");

extern const EntradaCifra TabelaCifraEnvio[];       // commands sent by PinPadEscreve
extern const EntradaCifra TabelaCifraSecundaria[];  // the second entry's table

// Writes the form of `mensagem` to send into `saida` (`capacidade` bytes; at
// least one byte stays unused, so the caller can terminate it). `completa`
// non-zero: the whole envelope (short messages unchanged); zero: the optimised
// form with `tabela`. Messages of 2 bytes or fewer, and in optimised form those
// of commands not in the table (or too short for their stretch), go clear.
// Returns the length written, or a negative value when the envelope fails or
// the form does not fit.
int32_t CifraMensagem(int32_t completa, const EntradaCifra* tabela, const char* mensagem, int32_t tamanho,
                      char* saida, int32_t capacidade);
// The second entry: always the optimised form, with TabelaCifraSecundaria.
int32_t CifraMensagemSecundaria(const char* mensagem, int32_t tamanho, char* saida, int32_t capacidade);

// Reads any of the forms back into `saida` (`capacidade` bytes). Returns the
// message length, -1 for a malformed optimised header (a missing ':' or ';',
// stretches out of order or past the end) or a message that does not fit, or
// the failure of DecifraEnvelope (-1, -2).
int32_t DecifraMensagem(const char* texto, int32_t tamanho, char* saida, int32_t capacidade);

// Packs printable ASCII text: two digits "ab" (not "00") become 10a+b; runs of
// 2 to 28 '0' become 99+run; runs of 1 to 32 spaces 127+run; a digit before a
// non-digit gives both characters with the high bit set; any other character
// (or a final digit) the character with the high bit set. Zero bytes follow
// up to a multiple of 8. Returns that length, or -1 when it would not fit in
// `capacidade` bytes.
int32_t CompactaTexto(const char* texto, int32_t tamanho, uint8_t* saida, int32_t capacidade);

// Reverses CompactaTexto up to the first zero byte or `tamanho` bytes. Returns
// the characters written (not terminated), or -1 when they would not fit in
// `capacidade`.
int32_t ExpandeTexto(const uint8_t* compactado, int32_t tamanho, char* saida, int32_t capacidade);
