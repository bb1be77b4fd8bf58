#pragma once
// Link framing: carries one command to the pinpad and one response back.
//
// Command frame:  SYN, code, fields ("%03d" length + data)..., ETB, CRC-16 (high, low)
// Response frame: SYN, code, 3 status digits, fields..., ETB, CRC-16
// The CRC (polynomial 0x1021, initial 0, no reflection, no final XOR) covers the
// bytes after SYN up to and including ETB. Every frame is acknowledged (ACK) or
// rejected (NAK, resent up to 3 times).
//
// SC5000 frame: start byte (STX or SI), text, end byte (ETX after STX, SO after
// SI), then the XOR of every byte after the start byte up to and including the
// end byte. A received frame ends at the end byte of its own kind, so a check
// byte that happens to equal the other kind's end byte is read as such.
//
// In host link mode no bytes go to the serial port: the message without SYN,
// ETB and CRC (or the SC5000 text alone) goes through PinPadEscreve/PinPadLe.
//
// Buffers and counters live in LibState.enlace; one exchange at a time.
#include <cstdarg>
#include <cstdint>

namespace Enlace {
inline constexpr uint8_t SYN = 0x16;
inline constexpr uint8_t ETB = 0x17;
inline constexpr uint8_t ACK = 0x06;
inline constexpr uint8_t NAK = 0x15;
inline constexpr uint8_t EOT = 0x04;
inline constexpr uint8_t STX = 0x02;
inline constexpr uint8_t ETX = 0x03;
inline constexpr uint8_t SI = 0x0F;
inline constexpr uint8_t SO = 0x0E;

inline constexpr int32_t kTentativasEnvio = 3;
inline constexpr int32_t kEsperaAckMs = 2000;
inline constexpr int32_t kPausaAposNakMs = 500;
inline constexpr int32_t kFatiaLeituraMs = 100;
inline constexpr int32_t kPausaAposControleMs = 10;
inline constexpr int32_t kLimiteRespostaSeg = 10;  // exceeded when more than this has passed
inline constexpr int32_t kMaxTamCampo = 999;
}  // namespace Enlace

// Sends one command: `comando` (normally three letters), then pairs
// (int length, const void* data) ended by a length of -1. A null data pointer
// sends the three length digits only. Waits for the pinpad's ACK, resending
// after NAK (3 attempts). Returns PPCOMP_OK when the pinpad accepted the frame;
// PPCOMP_BADPARAM, with nothing sent, for a length above 999 (or negative other
// than -1) or a frame that would not fit in the 1300-byte transmit buffer;
// otherwise a link error (PPCOMP_NOTOPEN, PPCOMP_COMMERR, ...).
int32_t PinPadEnviaComando(const char* comando, ...);
int32_t PinPadEnviaComandoV(const char* comando, va_list campos);

// Receives one response. `aguarda` 1 waits up to the time limit (more than 10
// s on a monotonic one-second clock); 0 looks once and returns
// PPCOMP_PROCESSING when no complete response is there yet. `comando` (4 bytes)
// gets the response code, zero-terminated. Then pairs (int32_t* length,
// char* buffer) ended by a null length pointer: on entry the length holds the
// buffer's capacity (above 999 is lowered to 999 and written back); every buffer
// is zero-filled to its capacity; on return the length holds the count copied
// (a field longer than the capacity is cut). Pairs beyond the response's fields
// keep their length. Returns the response's status digits as the code ("NTM"
// gives PPCOMP_NOTIFY), or PPCOMP_COMMERR / PPCOMP_CANCEL / ... on link errors
// and malformed responses. With `aguarda` 0, bytes behind a processing or
// notification response are kept for the next call.
int32_t PinPadRecebeResposta(int32_t aguarda, char* comando, ...);
int32_t PinPadRecebeRespostaV(int32_t aguarda, char* comando, va_list campos);

// Sends one whole frame and waits for its ACK (2000 ms per byte; other bytes are
// skipped), resending after NAK with a 500 ms pause; 3 attempts.
int32_t TxMensagem(const uint8_t* quadro, int32_t tamanho);

// One receive step on BufferRxPinPad: the length of a complete, CRC-correct
// frame at its start; 0 when more bytes are needed (a damaged frame draws a
// NAK); a negated PPCOMP_* code on failure.
int32_t RxMensagem();

// Drops the bytes before the first SYN; returns the new count.
int32_t DescartaAteSyn(uint8_t* buffer, int32_t tamanho);

uint16_t CalculaCrc16(const uint8_t* dados, int32_t tamanho);
uint8_t CalculaLrc(const uint8_t* dados, int32_t tamanho);

// SC5000 framing. PinPadEnviaSC5000 frames `texto` between `inicio` and `fim`
// (STX/ETX or SI/SO) and sends it: a frame whose text starts with "08" expects
// ACK then EOT, any other ACK. PPCOMP_BADPARAM when it would not fit.
int32_t PinPadEnviaSC5000(const char* texto, uint8_t inicio, uint8_t fim);
int32_t TxMensagemSC5000(const uint8_t* quadro, int32_t tamanho);
// One receive step, as RxMensagem; a lone EOT gives -PPCOMP_CANCEL; a bad check
// byte draws NAK, the fourth one EOT and -PPCOMP_COMMERR.
int32_t RxMensagemSC5000();
// Receives one SC5000 frame and copies its text (not terminated) to `buffer`,
// which holds `capacidade` bytes, and its length to `*tamanho`. A text longer
// than the capacity is refused with PPCOMP_COMMERR and dropped. Waits and
// polls as PinPadRecebeResposta.
int32_t PinPadRecebeSC5000(int32_t aguarda, char* buffer, int32_t capacidade, int32_t* tamanho);
