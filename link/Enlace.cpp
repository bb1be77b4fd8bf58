#include "link/Enlace.h"

#include <array>
#include <cctype>
#include <climits>
#include <cstring>

#include "link/CifraEnlace.h"
#include "link/Serial.h"
#include "pinpad/ppcomp.h"
#include "state/LibState.h"
#include "support/FuncoesArquivo.h"
#include "support/FuncoesString.h"
#include "trace/FuncoesTrace.h"

using namespace Enlace;

namespace {

constexpr std::array<uint16_t, 256> GeraTabelaCrc16() {
  std::array<uint16_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i << 8);
    for (int b = 0; b < 8; ++b)
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    t[static_cast<size_t>(i)] = crc;
  }
  return t;
}
constexpr std::array<uint16_t, 256> kTabelaCrc16 = GeraTabelaCrc16();

// Host link mode is on while both host functions are installed.
bool ModoHost() { return LibState.api.FuncaoHostRecebe != nullptr && LibState.api.FuncaoHostComando != nullptr; }

// Whole seconds of the monotonic clock: the response limit keeps a one-second
// granularity and setting the system clock does not move it.
int64_t SegundosMonotonicos() { return RelogioMonotonicoMs() / 1000; }

int32_t ProcuraByte(const uint8_t* b, int32_t n, uint8_t valor) {
  for (int32_t i = 0; i < n; ++i)
    if (b[i] == valor) return i;
  return -1;
}

// Drops `n` bytes from the front of the receive buffer.
void ConsomeRx(int32_t n) {
  EstadoEnlace& e = LibState.enlace;
  if (n > e.TamTotalRx) n = e.TamTotalRx;
  std::memmove(e.BufferRxPinPad, e.BufferRxPinPad + n, static_cast<size_t>(e.TamTotalRx - n));
  e.TamTotalRx -= n;
}

void ZeraContadores() {
  LibState.enlace.TamTotalRx = 0;
  LibState.enlace.TentativasNack = 0;
  LibState.enlace.LeiturasVazias = 0;
}

int32_t EnviaControle(uint8_t byte) {
  const int32_t r = PortaEscreve(&byte, 1);
  EsperaMs(kPausaAposControleMs);
  return r;
}

// One receive from the host into the buffer's start; a message comes whole.
// When the host has nothing yet and the caller waits, pause one read slice
// before asking again rather than spinning on the host for the whole limit.
int32_t RecebeDoHost(int32_t operacao, int32_t aguarda) {
  EstadoEnlace& e = LibState.enlace;
  const int32_t r = PinPadLe(operacao, reinterpret_cast<char*>(e.BufferRxPinPad), kTamBufferEnlace);
  if (r > 0) {
    e.TamTotalRx += r;
    if (e.TamTotalRx > kTamBufferEnlace) e.TamTotalRx = kTamBufferEnlace;
  } else if (r == 0 && aguarda) {
    EsperaMs(kFatiaLeituraMs);
  }
  return r;
}

// The receive loop shared by both framings: one step at a time until a
// complete message, an error, the poll answer (aguarda 0) or the time limit.
// Returns the message length (> 0), kSemMensagem for the poll answer, or the
// negated code to return.
constexpr int32_t kSemMensagem = INT32_MIN;

template <typename Passo>
int32_t EsperaMensagem(int32_t aguarda, Passo passo) {
  const int64_t inicio = SegundosMonotonicos();
  for (;;) {
    const int32_t r = passo();
    if (r != 0) return r;
    if (!aguarda) return kSemMensagem;
    if (SegundosMonotonicos() - inicio > kLimiteRespostaSeg) return -PPCOMP_COMMERR;
  }
}

}  // namespace

uint16_t CalculaCrc16(const uint8_t* dados, int32_t tamanho) {
  uint16_t crc = 0;
  for (int32_t i = 0; i < tamanho; ++i)
    crc = static_cast<uint16_t>((crc << 8) ^ kTabelaCrc16[((crc >> 8) ^ dados[i]) & 0xFF]);
  return crc;
}

uint8_t CalculaLrc(const uint8_t* dados, int32_t tamanho) {
  uint8_t lrc = 0;
  for (int32_t i = 0; i < tamanho; ++i) lrc ^= dados[i];
  return lrc;
}

int32_t DescartaAteSyn(uint8_t* buffer, int32_t tamanho) {
  const int32_t pos = ProcuraByte(buffer, tamanho, SYN);
  if (pos <= 0) return tamanho;
  std::memmove(buffer, buffer + pos, static_cast<size_t>(tamanho - pos));
  TraceNumero("RxMensagem", "Num. carac. descartados", pos);
  return tamanho - pos;
}

// ---- Pinpad commands ----------------------------------------------------------

int32_t PinPadEnviaComando(const char* comando, ...) {
  va_list campos;
  va_start(campos, comando);
  const int32_t r = PinPadEnviaComandoV(comando, campos);
  va_end(campos);
  return r;
}

int32_t PinPadEnviaComandoV(const char* comando, va_list campos) {
  EstadoEnlace& e = LibState.enlace;
  uint8_t* const b = e.BufferTxPinPad;
  const bool host = ModoHost();
  // Room kept at the end for ETB and the CRC on the serial link.
  const int32_t limite = kTamBufferEnlace - (host ? 0 : 3);
  auto recusa = [&] {
    LimpaSegura(b, kTamBufferEnlace);
    return PPCOMP_BADPARAM;
  };

  int32_t n = 0;
  if (!host) b[n++] = SYN;
  const size_t tamComando = comando ? strnlen(comando, kTamBufferEnlace) : 0;
  if (n + static_cast<int32_t>(tamComando) > limite) return recusa();
  if (tamComando > 0) std::memcpy(b + n, comando, tamComando);
  n += static_cast<int32_t>(tamComando);

  for (;;) {
    const int tamCampo = va_arg(campos, int);
    if (tamCampo == -1) break;
    if (tamCampo > kMaxTamCampo || tamCampo < 0) return recusa();
    const void* dados = va_arg(campos, const void*);
    const int32_t ocupa = 3 + (dados ? tamCampo : 0);
    if (n + ocupa > limite) return recusa();
    b[n++] = static_cast<uint8_t>('0' + tamCampo / 100);
    b[n++] = static_cast<uint8_t>('0' + tamCampo / 10 % 10);
    b[n++] = static_cast<uint8_t>('0' + tamCampo % 10);
    if (dados) {
      std::memcpy(b + n, dados, static_cast<size_t>(tamCampo));
      n += tamCampo;
    }
  }

  if (!host) {
    b[n++] = ETB;
    const uint16_t crc = CalculaCrc16(b + 1, n - 1);
    b[n++] = static_cast<uint8_t>(crc >> 8);
    b[n++] = static_cast<uint8_t>(crc & 0xFF);
  }
  ZeraContadores();
  TraceDadosPinPad("TxM", "BufferTxPinPad", b, n, 1);

  const int32_t r =
      host ? PinPadEscreve(kOpHostEnviaComando, reinterpret_cast<const char*>(b), n) : TxMensagem(b, n);
  LimpaSegura(b, kTamBufferEnlace);
  return r;
}

int32_t TxMensagem(const uint8_t* quadro, int32_t tamanho) {
  uint8_t* const rx = LibState.enlace.BufferRxPinPad;
  for (int32_t tentativa = 1; tentativa <= kTentativasEnvio; ++tentativa) {
    const int32_t r = PortaEscreve(quadro, tamanho);
    if (r != PPCOMP_OK) {
      TraceNumero("TxMensagem", "Sts/0", r);
      return r;
    }
    // Bytes other than ACK/NAK are skipped, each wait lasting up to 2000 ms.
    // A line that keeps sending such bytes ends the attempt after the response
    // limit instead of holding the caller forever.
    const int64_t fimTentativa = RelogioMonotonicoMs() + kLimiteRespostaSeg * 1000;
    for (;;) {
      const int32_t lidos = PortaLe(kEsperaAckMs, rx, 1);
      if (lidos < 0) {
        TraceTexto("TxMensagem", "Timeout ACK", nullptr);
        return -lidos;
      }
      if (lidos == 0) break;
      if (rx[0] == ACK) {
        TraceTexto("TxMensagem", "Recebeu ACK", nullptr);
        return PPCOMP_OK;
      }
      if (rx[0] == NAK) {
        TraceTexto("TxMensagem", "Recebeu NACK", nullptr);
        if (tentativa < kTentativasEnvio) EsperaMs(kPausaAposNakMs);
        break;
      }
      if (RelogioMonotonicoMs() > fimTentativa) break;
    }
  }
  TraceTexto("TxMensagem", "Excedeu tentativas de envio", nullptr);
  return PPCOMP_COMMERR;
}

namespace {

// A SYN, then ETB followed by at least the two CRC bytes, among the held
// bytes. Without the SYN the held bytes can start no frame: taking them for a
// complete one would skip the read and go round without waiting until the
// time limit.
bool QuadroCompletoRetido() {
  const EstadoEnlace& e = LibState.enlace;
  const int32_t syn = ProcuraByte(e.BufferRxPinPad, e.TamTotalRx, SYN);
  if (syn < 0) return false;
  const int32_t etb = ProcuraByte(e.BufferRxPinPad + syn, e.TamTotalRx - syn, ETB);
  return etb >= 0 && e.TamTotalRx - syn - etb - 1 >= 2;
}

int32_t FalhaRecepcao() {
  TraceTexto("RxMensagem", "Excedeu tentativas de recepcao", nullptr);
  return -PPCOMP_COMMERR;
}

}  // namespace

int32_t RxMensagem() {
  EstadoEnlace& e = LibState.enlace;
  uint8_t* const b = e.BufferRxPinPad;

  if (QuadroCompletoRetido()) {
    TraceNumero("RxMensagem", "Dados ja recebidos (TamTotalRx)", e.TamTotalRx);
  } else {
    const int32_t livre = kTamBufferEnlace - e.TamTotalRx;
    // A full buffer without a complete frame can never complete one.
    if (livre <= 0) return FalhaRecepcao();
    const int32_t lidos = PortaLe(kFatiaLeituraMs, b + e.TamTotalRx, livre);
    if (lidos < 0) return lidos;
    if (lidos > 0) {
      e.LeiturasVazias = 0;
      e.TamTotalRx += lidos;
    } else {
      if (e.TamTotalRx == 0) return 0;
      if (e.LeiturasVazias++ <= 4) return 0;
      // The frame stopped arriving: trace what came, marked with ETB and an
      // empty CRC (on a copy, so a full buffer has room for the marks).
      e.TamTotalRx = DescartaAteSyn(b, e.TamTotalRx);
      uint8_t copia[kTamBufferEnlace + 3];
      std::memcpy(copia, b, static_cast<size_t>(e.TamTotalRx));
      copia[e.TamTotalRx] = ETB;
      copia[e.TamTotalRx + 1] = 0;
      copia[e.TamTotalRx + 2] = 0;
      TraceDadosPinPad("RxM", "BufferRxPinPad.err", copia, e.TamTotalRx + 3, 2);
      LimpaSegura(copia, sizeof copia);
      return FalhaRecepcao();
    }
  }

  e.TamTotalRx = DescartaAteSyn(b, e.TamTotalRx);
  if (e.TamTotalRx <= 3) return 0;
  const int32_t etb = ProcuraByte(b, e.TamTotalRx, ETB);
  if (etb < 0) return 0;
  TraceTexto("RxMensagem", "ETB recebido", nullptr);
  if (e.TamTotalRx - etb - 1 < 2) {
    TraceTexto("RxMensagem", "CRC nao recebido", nullptr);
    return 0;
  }

  TraceDadosPinPad("RxM", "BufferRxPinPad", b, etb + 3, 2);
  const uint16_t crc = CalculaCrc16(b + 1, etb);
  if (b[etb + 1] == static_cast<uint8_t>(crc >> 8) && b[etb + 2] == static_cast<uint8_t>(crc & 0xFF))
    return etb + 3;

  if (e.TentativasNack++ > 2) return FalhaRecepcao();
  TraceTexto("RxMensagem", "Enviando NACK", nullptr);
  e.TamTotalRx = 0;
  EnviaControle(NAK);
  return 0;
}

int32_t PinPadRecebeResposta(int32_t aguarda, char* comando, ...) {
  va_list campos;
  va_start(campos, comando);
  const int32_t r = PinPadRecebeRespostaV(aguarda, comando, campos);
  va_end(campos);
  return r;
}

int32_t PinPadRecebeRespostaV(int32_t aguarda, char* comando, va_list campos) {
  EstadoEnlace& e = LibState.enlace;
  uint8_t* const b = e.BufferRxPinPad;
  const bool host = ModoHost();
  auto falha = [&](int32_t codigo) {
    LimpaSegura(b, kTamBufferEnlace);
    return codigo;
  };

  const int32_t tamanho = EsperaMensagem(aguarda, [&] {
    if (!host) return RxMensagem();
    const int32_t r = RecebeDoHost(kOpHostRecebeResposta, aguarda);
    if (r > 0) TraceDadosPinPad("RxM", "BufferRxPinPad", b, e.TamTotalRx, 2);
    return r;
  });
  if (tamanho == kSemMensagem) return PPCOMP_PROCESSING;
  if (tamanho < 0) return falha(-tamanho);

  // The text: code, status and fields, without SYN, ETB and CRC.
  if (tamanho <= (host ? 5 : 9)) return falha(PPCOMP_COMMERR);
  const uint8_t* const texto = host ? b : b + 1;
  const int32_t tamTexto = host ? tamanho : tamanho - 4;
  if (tamTexto <= 5) return falha(PPCOMP_COMMERR);
  for (int32_t i = 0; i < tamTexto; ++i)
    if (texto[i] < 0x20 || texto[i] > 0x7E) return falha(PPCOMP_COMMERR);

  if (comando) {
    std::memcpy(comando, texto, 3);
    comando[3] = '\0';
  }
  // The status is three decimal digits. Anything else there is a damaged
  // answer: read as digits, "   " would be success and "00A" a request to poll
  // again. A notification is one whatever its status holds.
  const bool notificacao = std::memcmp(texto, "NTM", 3) == 0;
  if (!notificacao && !(std::isdigit(texto[3]) && std::isdigit(texto[4]) && std::isdigit(texto[5])))
    return falha(PPCOMP_COMMERR);
  int32_t status = static_cast<int32_t>(DigitosParaInt(reinterpret_cast<const char*>(texto) + 3, 3));

  // Every output buffer starts zeroed to its capacity.
  va_list pares;
  va_copy(pares, campos);
  for (;;) {
    int32_t* tam = va_arg(pares, int32_t*);
    if (tam == nullptr) break;
    char* buf = va_arg(pares, char*);
    if (buf == nullptr) break;
    if (*tam > 0) std::memset(buf, 0, static_cast<size_t>(*tam));
  }
  va_end(pares);

  int32_t pos = 6;
  while (tamTexto - pos > 3) {
    int32_t* tam = va_arg(campos, int32_t*);
    if (tam == nullptr) break;
    char* buf = va_arg(campos, char*);
    if (buf == nullptr) break;
    if (*tam > kMaxTamCampo) *tam = kMaxTamCampo;
    const int32_t capacidade = *tam > 0 ? *tam : 0;
    const int32_t tamCampo = static_cast<int32_t>(DigitosParaInt(reinterpret_cast<const char*>(texto) + pos, 3));
    pos += 3;
    if (tamCampo > tamTexto - pos) return falha(PPCOMP_COMMERR);
    const int32_t copia = tamCampo < capacidade ? tamCampo : capacidade;
    std::memcpy(buf, texto + pos, static_cast<size_t>(copia));
    *tam = copia;
    pos += tamCampo;
  }

  if (notificacao) status = PPCOMP_NOTIFY;
  ConsomeRx(tamanho);

  if (!aguarda && (status == PPCOMP_PROCESSING || status == PPCOMP_NOTIFY))
    LimpaSegura(b + e.TamTotalRx, static_cast<size_t>(kTamBufferEnlace - e.TamTotalRx));
  else
    LimpaSegura(b, kTamBufferEnlace);
  return status;
}

// ---- SC5000 framing --------------------------------------------------------------

int32_t PinPadEnviaSC5000(const char* texto, uint8_t inicio, uint8_t fim) {
  EstadoEnlace& e = LibState.enlace;
  uint8_t* const b = e.BufferTxPinPad;
  const bool host = ModoHost();
  const size_t tamTexto = texto ? strnlen(texto, kTamBufferEnlace) : 0;
  const size_t moldura = host ? 0 : 3;
  if (tamTexto + moldura > static_cast<size_t>(kTamBufferEnlace)) return PPCOMP_BADPARAM;

  int32_t n = 0;
  if (!host) b[n++] = inicio;
  if (tamTexto > 0) std::memcpy(b + n, texto, tamTexto);
  n += static_cast<int32_t>(tamTexto);
  if (!host) {
    b[n++] = fim;
    b[n] = CalculaLrc(b + 1, n - 1);
    ++n;
  }
  ZeraContadores();
  if (host) return PinPadEscreve(kOpHostEnviaSC5000, reinterpret_cast<const char*>(b), n);
  return TxMensagemSC5000(b, n);
}

int32_t TxMensagemSC5000(const uint8_t* quadro, int32_t tamanho) {
  // "08" frames are acknowledged and then ended with EOT.
  const bool esperaEot = tamanho >= 3 && quadro[1] == '0' && quadro[2] == '8';
  uint8_t* const rx = LibState.enlace.BufferRxPinPad;
  bool recebeuAck = false;
  for (int32_t tentativa = 0; tentativa < kTentativasEnvio; ++tentativa) {
    if (!recebeuAck) {
      const int32_t r = PortaEscreve(quadro, tamanho);
      if (r != PPCOMP_OK) return r;
    }
    const int32_t lidos = PortaLe(kEsperaAckMs, rx, 1);
    if (lidos < 0) return -lidos;
    if (lidos == 0) return PPCOMP_COMMERR;
    switch (rx[0]) {
      case ACK:
        if (!esperaEot) return PPCOMP_OK;
        recebeuAck = true;
        break;
      case EOT:
        return esperaEot ? PPCOMP_OK : PPCOMP_COMMERR;
      case NAK:
        break;
      default:
        return PPCOMP_COMMERR;
    }
  }
  return PPCOMP_COMMERR;
}

namespace {

// End byte of the first frame among the held bytes: the end marker of the kind
// that began it (ETX after STX, SO after SI), so that a check byte equal to the
// other kind's marker cannot end a frame early. -1 when no frame has ended yet.
int32_t ProcuraFimSC5000() {
  const EstadoEnlace& e = LibState.enlace;
  const uint8_t* const b = e.BufferRxPinPad;
  int32_t inicio = 0;
  while (inicio < e.TamTotalRx && b[inicio] != STX && b[inicio] != SI) ++inicio;
  if (inicio >= e.TamTotalRx) return -1;
  const uint8_t fim = b[inicio] == STX ? ETX : SO;
  const int32_t i = ProcuraByte(b + inicio + 1, e.TamTotalRx - inicio - 1, fim);
  return i < 0 ? -1 : inicio + 1 + i;
}

// Drops leading bytes until `aceita` holds for the first one or none is left.
template <typename Aceita>
void DescartaAte(Aceita aceita) {
  const EstadoEnlace& e = LibState.enlace;
  int32_t i = 0;
  while (i < e.TamTotalRx && !aceita(e.BufferRxPinPad[i])) ++i;
  ConsomeRx(i);
}

}  // namespace

int32_t RxMensagemSC5000() {
  EstadoEnlace& e = LibState.enlace;
  uint8_t* const b = e.BufferRxPinPad;

  int32_t fim = ProcuraFimSC5000();
  if (fim < 0 || fim + 1 >= e.TamTotalRx) {
    const int32_t livre = kTamBufferEnlace - e.TamTotalRx;
    if (livre <= 0) return -PPCOMP_COMMERR;  // full, and no frame in it
    const int32_t lidos = PortaLe(kFatiaLeituraMs, b + e.TamTotalRx, livre);
    if (lidos <= 0) return lidos;
    e.TamTotalRx += lidos;
  }

  DescartaAte([](uint8_t c) { return c == STX || c == SI || c == EOT; });
  if (e.TamTotalRx > 0 && b[0] == EOT) {
    if (e.TamTotalRx == 1) return -PPCOMP_CANCEL;  // the pinpad cancelled
    DescartaAte([](uint8_t c) { return c == STX || c == SI; });
  }
  if (e.TamTotalRx <= 2) return 0;
  fim = ProcuraFimSC5000();
  if (fim < 0 || fim + 1 >= e.TamTotalRx) return 0;

  if (CalculaLrc(b + 1, fim) == b[fim + 1]) {
    EnviaControle(ACK);
    return fim + 2;
  }
  const bool desiste = e.TentativasNack++ > 2;
  e.TamTotalRx = 0;
  EnviaControle(desiste ? EOT : NAK);
  return desiste ? -PPCOMP_COMMERR : 0;
}

int32_t PinPadRecebeSC5000(int32_t aguarda, char* buffer, int32_t capacidade, int32_t* tamanho) {
  EstadoEnlace& e = LibState.enlace;
  const bool host = ModoHost();
  const int32_t tamQuadro = EsperaMensagem(aguarda, [&] {
    return host ? RecebeDoHost(kOpHostRecebeSC5000, aguarda) : RxMensagemSC5000();
  });
  if (tamQuadro == kSemMensagem) return PPCOMP_PROCESSING;
  if (tamQuadro < 0) return -tamQuadro;

  if (tamQuadro <= (host ? 1 : 4)) return PPCOMP_COMMERR;
  const uint8_t* const texto = host ? e.BufferRxPinPad : e.BufferRxPinPad + 1;
  const int32_t tamTexto = host ? tamQuadro : tamQuadro - 3;
  if (tamTexto <= 1) return PPCOMP_COMMERR;
  if (buffer == nullptr || tamTexto > capacidade) {
    ConsomeRx(tamQuadro);
    return PPCOMP_COMMERR;
  }
  std::memcpy(buffer, texto, static_cast<size_t>(tamTexto));
  if (tamanho) *tamanho = tamTexto;
  ConsomeRx(tamQuadro);
  return PPCOMP_OK;
}
