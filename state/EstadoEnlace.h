#pragma once
// Fields of the link framing: frame buffers and counters.
#include <cstdint>

inline constexpr int32_t kTamBufferEnlace = 1300;

struct EstadoEnlace {
  // Frame being sent; wiped after every send of a pinpad command.
  uint8_t BufferTxPinPad[kTamBufferEnlace] = {};
  // Bytes received and not yet consumed; bytes behind a complete frame stay here
  // for the next receive.
  uint8_t BufferRxPinPad[kTamBufferEnlace] = {};
  int32_t TamTotalRx = 0;      // bytes held in BufferRxPinPad
  int32_t TentativasNack = 0;  // rejections sent for the response being received
  int32_t LeiturasVazias = 0;  // consecutive empty reads while part of a frame is held
};
