/*
 * Pinpads of the SC5000 model: master key selection, PIN entry (the PIN leaves
 * the pinpad only as an encrypted PIN block), card reading, serial number and
 * abort, with the model's own short commands. Plain C.
 *
 * Open the port with SC5000AbrePorta, then use the operations below; the Start
 * operations return after sending, and the matching Get operation is polled
 * until it returns something other than PPCOMP_PROCESSING. Results are PPCOMP_*
 * codes (ppcomp.h). keyIndex is a decimal text ("1", "08"); pan and workingKey are
 * texts of which 16 characters are sent (right-aligned with blanks when shorter,
 * cut when longer). A null keyIndex or pan gives PPCOMP_BADPARAM and sends nothing.
 * These operations do not run the library's first-call initialisation.
 */
#ifndef PINPAD_SC5000_H
#define PINPAD_SC5000_H

#include <stdint.h>

#include "pinpad/ppcomp.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the serial port at 19200 baud, as PP_Open does (the port is this
 * process's alone until closed; PPCOMP_PORTERR when another holds it).
 * PPCOMP_OK or the port's error code. */
PP_EXPORT int32_t SC5000AbrePorta(const char* porta);
/* Closes the port. Always PPCOMP_OK. */
PP_EXPORT int32_t SC5000FechaPorta(void);
/* Shows texto on the display: its first 3 digits give the length of what
 * follows ("015 Passe o Cartao"). PPCOMP_BADPARAM, nothing sent, when texto is
 * shorter than its digits announce. */
PP_EXPORT int32_t SC5000Mostra(const char* texto);

/* Cancels a pending PIN entry or card reading; does nothing when none is
 * pending. Always PPCOMP_OK. */
PP_EXPORT int32_t PP_SC5000_Abort(void);
/* saida (at least 17 bytes) receives the serial number, left-aligned and
 * blank-filled to 16 characters, zero-terminated. */
PP_EXPORT int32_t PP_SC5000_GetSerialNumber(char* saida);

/* Starts PIN entry (4 to 12 digits) under master key keyIndex, with the working
 * key when workingKey is not NULL. */
PP_EXPORT int32_t PP_SC5000_StartGetPIN(const char* keyIndex, const char* pan, const char* workingKey);
/* As PP_SC5000_StartGetPIN with the PIN length limits; a negative minimum is
 * sent as 0, a maximum above 12 as 12. */
PP_EXPORT int32_t PP_SC5000_StartGetPINEx(const char* keyIndex, const char* pan, const char* workingKey,
                                          int32_t minimo, int32_t maximo);
/* Polls the PIN entry. On PPCOMP_OK saida (at least 17 bytes) holds the
 * 16-character encrypted PIN block, zero-terminated. PPCOMP_COMMERR for an answer
 * that is not a PIN block, announces a PIN length of 0, or is incomplete. */
PP_EXPORT int32_t PP_SC5000_GetPIN(char* saida);

/* Shows "Passe o Cartao" and starts a card reading under key keyIndex. */
PP_EXPORT int32_t PP_StartGetCardCripto(const char* keyIndex, const char* workingKey);

/* Capacity, terminator included, that PP_SC5000_GetCard assumes for each of its
 * two track buffers. */
#define PP_SC5000_TAM_TRILHA 128

/* Polls the card reading; PPCOMP_PROCESSING while no card was read. On
 * PPCOMP_OK trilha1 and trilha2 hold the tracks, zero-terminated. A track that
 * does not fit its buffer is refused with PPCOMP_COMMERR (never cut); when track
 * 1 is the problem, track 2 has already been written. Blanks the display once
 * the reading has ended. PP_SC5000_GetCard takes buffers of
 * PP_SC5000_TAM_TRILHA bytes each; PP_SC5000_GetCardEx takes their capacities. */
PP_EXPORT int32_t PP_SC5000_GetCard(char* trilha1, char* trilha2);
PP_EXPORT int32_t PP_SC5000_GetCardEx(char* trilha1, int32_t tamTrilha1, char* trilha2, int32_t tamTrilha2);

/* Sends the "G42" command (key index and working key) over the framed protocol
 * and returns the answer's status. */
PP_EXPORT int32_t SC5000EnviaG42(const char* keyIndex, const char* workingKey);

#ifdef __cplusplus
}
#endif

#endif /* PINPAD_SC5000_H */
