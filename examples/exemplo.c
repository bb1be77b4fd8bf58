/*
 * The pinpad library in one short program: open the pinpad on a serial port,
 * show a text, wait for a key, have the pinpad encrypt one block under its
 * master key at index 02 (triple DES), close. Every call's return code is
 * printed with its meaning.
 *
 *   exemplo /dev/ttyACM0
 *
 * Exit status: 0 when every step succeeded, otherwise the first failing code.
 */
#define _POSIX_C_SOURCE 200809L /* nanosleep */

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <pinpad/pinpad.h>

/* Meaning of the codes these calls return; see pinpad/ppcomp.h and pinpad(3)
 * for the whole table. A 3-digit status from the pinpad comes through as is. */
static const char* Significado(int32_t codigo) {
  switch (codigo) {
    case PPCOMP_OK: return "PPCOMP_OK, success";
    case PPCOMP_PROCESSING: return "PPCOMP_PROCESSING, still running: poll again";
    case PPCOMP_F1: return "PPCOMP_F1, key F1 pressed";
    case PPCOMP_F2: return "PPCOMP_F2, key F2 pressed";
    case PPCOMP_F3: return "PPCOMP_F3, key F3 pressed";
    case PPCOMP_F4: return "PPCOMP_F4, key F4 pressed";
    case PPCOMP_BACKSP: return "PPCOMP_BACKSP, key backspace pressed";
    case PPCOMP_BADCALL: return "PPCOMP_BADCALL, call out of sequence";
    case PPCOMP_BADPARAM: return "PPCOMP_BADPARAM, invalid parameter";
    case PPCOMP_TIMEOUT: return "PPCOMP_TIMEOUT, the operation timed out";
    case PPCOMP_CANCEL: return "PPCOMP_CANCEL, cancelled by the operator";
    case PPCOMP_NOTOPEN: return "PPCOMP_NOTOPEN, the pinpad is not open";
    case PPCOMP_EXECERR: return "PPCOMP_EXECERR, internal execution error";
    case PPCOMP_BADMODEL: return "PPCOMP_BADMODEL, not supported by this pinpad model";
    case PPCOMP_NOFUNC: return "PPCOMP_NOFUNC, not available in the library";
    case PPCOMP_PORTERR: return "PPCOMP_PORTERR, the serial port cannot be opened";
    case PPCOMP_COMMERR: return "PPCOMP_COMMERR, no answer: pinpad disconnected?";
    case PPCOMP_UNKNOWNSTAT: return "PPCOMP_UNKNOWNSTAT, unknown status from the pinpad";
    case PPCOMP_RSPERR: return "PPCOMP_RSPERR, malformed answer from the pinpad";
    case PPCOMP_COMMTOUT: return "PPCOMP_COMMTOUT, timed out waiting for the pinpad";
    case PPCOMP_INTERR: return "PPCOMP_INTERR, pinpad internal error";
    default: return "see pinpad/ppcomp.h";
  }
}

static int32_t Mostra(const char* chamada, int32_t codigo) {
  printf("%-16s %3d  %s\n", chamada, (int)codigo, Significado(codigo));
  return codigo;
}

/* Start/Get pairs: the Get call does not block, so poll it at a gentle pace. */
static int32_t EsperaTecla(void) {
  const struct timespec intervalo = {0, 100 * 1000 * 1000};
  int32_t r = Mostra("PP_StartGetKey", PP_StartGetKey());
  if (r != PPCOMP_OK) return r;
  do {
    nanosleep(&intervalo, NULL);
    r = PP_GetKey();
  } while (r == PPCOMP_PROCESSING);
  return Mostra("PP_GetKey", r);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s SERIAL-PORT\n", argv[0]);
    return 2;
  }

  int32_t r = Mostra("PP_Open", PP_Open(argv[1]));
  if (r != PPCOMP_OK) return (int)r;

  /* Two lines of 16 characters. */
  int32_t falha = Mostra("PP_Display", PP_Display("EXEMPLO PINPAD  " "TECLE ALGO      "));
  if (falha == PPCOMP_OK) falha = EsperaTecla();

  if (falha == PPCOMP_OK) {
    /* Mode 1 (triple DES), master key index 02, the working key (32 hex
     * digits, encrypted under the master key) and the 16-digit block. Outputs
     * are not zero-terminated: clear the buffer first. */
    const char* pedido = "1" "02" "3F9A0C5E71B2D84A6E0F19C3B7D25A48" "1122334455667788";
    char cifrado[17];
    memset(cifrado, 0, sizeof cifrado);
    falha = Mostra("PP_EncryptBuffer", PP_EncryptBuffer(pedido, cifrado));
    if (falha == PPCOMP_OK) printf("%-16s      %s\n", "cryptogram", cifrado);
  }

  r = Mostra("PP_Close", PP_Close("ATE LOGO"));
  return (int)(falha != PPCOMP_OK ? falha : r);
}
