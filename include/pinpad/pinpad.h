/*
 * The pinpad library's public interface: the PP_* operations and the library's
 * own entry points. Plain C.
 *
 * Conventions shared by every function below:
 *  - Results are PPCOMP_* codes (ppcomp.h): 0 success, 1 PPCOMP_PROCESSING (poll
 *    again), 2 PPCOMP_NOTIFY (a message for the user was copied), anything else
 *    an error. The 3-digit status of a pinpad answer is passed through as the code.
 *  - Texts are zero-terminated Latin-1; input blocks and output buffers belong to
 *    the caller. Outputs receive exact byte counts and are NOT zero-terminated
 *    unless a function says so: zero-fill them before the call.
 *  - The first call of any entry point (except CarregaConfiguracaoPinPad and
 *    DefineArquivoConfiguracao) initialises the library: it opens the trace with
 *    the current configuration, tries to load the external EMV library and selects
 *    the internal command set.
 *  - One caller thread at a time; no function blocks longer than the link's
 *    limits (about 10 s for an answer, 3 x 2 s for an acknowledgement).
 *  - Variable-length requests take their length from counts inside the caller's
 *    block (fixed-width decimal digits); a request field that would exceed 999
 *    bytes is refused with PPCOMP_BADPARAM and nothing is sent.
 */
#ifndef PINPAD_PINPAD_H
#define PINPAD_PINPAD_H

#include <stdint.h>

#include "pinpad/ppcomp.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Host link mode ------------------------------------------------------
 * With both functions installed (DefineFuncoesHost) the library hands every
 * message, enveloped with triple DES, to the host instead of the serial port.
 *
 * PP_FuncaoHostComando(operacao, texto): 650 open the link (texto = port name),
 * 651 close it (texto NULL), 652 abort the pending command (texto NULL), 653 send
 * a pinpad message, 753 send an SC5000 message (texto = zero-terminated envelope).
 * A negative result is a failure (open/close/abort report PPCOMP_COMMERR).
 *
 * PP_FuncaoHostRecebe(40, operacao, 0, 2599, celula, buffer): operacao 654 for a
 * pinpad answer, 754 for an SC5000 answer; writes the received text,
 * zero-terminated, into the 2600-byte buffer; returns >= 0, -13 when cancelled,
 * another negative value on failure. */
typedef int32_t (*PP_FuncaoHostComando)(int32_t operacao, const char* texto);
typedef int32_t (*PP_FuncaoHostRecebe)(int32_t a, int32_t operacao, int32_t b, int32_t capacidade,
                                       uint8_t* celula, char* buffer);

/* ---- Library entry points ------------------------------------------------ */

/* Sets the path of the configuration file read by CarregaConfiguracaoPinPad
 * (INI, section "PinPad", keys CriptografiaOtimizada, VelocidadePinPad,
 * HabilitaTrace, ChaveTrace). NULL or "" clears it. At most 255 characters are
 * kept; a longer path is refused with PPCOMP_BADPARAM and the previous one stays.
 * Does not initialise the library. Returns PPCOMP_OK. */
PP_EXPORT int32_t DefineArquivoConfiguracao(const char* caminho);

/* Reads the four "PinPad" keys of the configuration file into the library.
 * Missing file, section or key gives the key's default (CriptografiaOtimizada 0,
 * VelocidadePinPad 19200, HabilitaTrace 1, ChaveTrace ""). Call it before the
 * first PP_Open for the speed to apply, and before ConfiguraTracePinPad for the
 * trace settings to apply. Does not initialise the library. Returns the length
 * of the ChaveTrace text read (>= 0). */
PP_EXPORT int32_t CarregaConfiguracaoPinPad(void);

/* Closes the pinpad (PP_Close("")), unloads the EMV library and closes the
 * library's trace. Returns PPCOMP_OK. */
PP_EXPORT int32_t FinalizaLibPinPad(void);

/* Installs the host link functions; host link mode is on while both are set
 * (NULL for either turns it off). Returns 0. */
PP_EXPORT int32_t DefineFuncoesHost(PP_FuncaoHostRecebe recebe, PP_FuncaoHostComando comando);

/* Reopens the library's trace. loja/terminal: store and terminal identifiers,
 * kept only when both are exactly 8 characters (else both are cleared).
 * usaLojaTerminal non-zero puts them into the default file name. valor is handed
 * to the EMV library. opcoes: parameter list ("DiretorioTrace=...,ArquivoTrace=...",
 * other trace options) or NULL. Returns 0. */
PP_EXPORT int32_t ConfiguraTracePinPad(const char* loja, const char* terminal, int32_t usaLojaTerminal,
                                       int32_t valor, const char* opcoes);

/* Library information into saida (zero-terminated; at least 8 bytes):
 * codigo 1: version "4.0.0.3"; 9999: "1" when the library's own functions are
 * available, "0" otherwise; 10000-19999: passed to the EMV library
 * (PPCOMP_NOFUNC when it is not loaded). NULL saida or another code:
 * PPCOMP_BADPARAM. */
PP_EXPORT int32_t ObtemInformacaoLib(int32_t codigo, char* saida);

/* Copies the version "4.0.0.3" (zero-terminated, 8 bytes) into saida. Returns 0. */
PP_EXPORT int32_t ObtemVersaoLib(char* saida);

/* Switches the operation set: ativa 0 the library's own commands over the link,
 * non-zero the external EMV library. Leaving a mode closes its pinpad connection
 * unless parametros holds "{NaoExecutaPPClose=1}". Returns 0.
 * libemv.so is loaded at the first call, from the folder libpinpad.so was loaded
 * from, else through the dynamic loader's search path; never from the working
 * directory. Without it every operation of EMV-library mode returns
 * PPCOMP_NOFUNC. */
PP_EXPORT int32_t PP_AtivaLibEMV(int32_t ativa, const char* parametros);

/* ---- Connection ----------------------------------------------------------- */

/* Opens the serial port (device path, or "1" for /dev/ttyS0, ...) and sends
 * "OPN". PPCOMP_PORTERR when the port cannot be opened or another process holds
 * it (a line on standard error says which); the port stays open when the pinpad
 * answers with an error. While open, the port is this process's alone (flock
 * and TIOCEXCL, released on close) and not inherited by programs it runs.
 * Opening again re-sends "OPN", after opening the port afresh when its device
 * hung up meanwhile (unplugged and plugged in again). */
PP_EXPORT int32_t PP_Open(const char* porta);

/* Shows mensagem (first 32 characters, blank-padded) and closes the pinpad
 * ("CLO"); the port is closed whatever the answer. */
PP_EXPORT int32_t PP_Close(const char* mensagem);

/* Aborts a pending Start operation (sends CAN, waits for EOT up to 3 x 2 s).
 * Does nothing after a blocking operation. Always PPCOMP_OK. */
PP_EXPORT int32_t PP_Abort(void);

/* ---- Information, display, keys ------------------------------------------ */

/* indice: 2 characters (e.g. "00"). saida: at least 256 bytes; receives the
 * answer's data on PPCOMP_OK. */
PP_EXPORT int32_t PP_GetInfo(const char* indice, char* saida);

/* mensagem: up to 32 characters (two lines of 16), blank-padded; longer is cut. */
PP_EXPORT int32_t PP_Display(const char* mensagem);

/* entrada: 3-digit count N followed by N characters. */
PP_EXPORT int32_t PP_DisplayEx(const char* entrada);

/* Starts a key wait; poll PP_GetKey until it returns something other than
 * PPCOMP_PROCESSING: PPCOMP_OK (enter), PPCOMP_F1..F4, PPCOMP_BACKSP,
 * PPCOMP_CANCEL, or an error. */
PP_EXPORT int32_t PP_StartGetKey(void);
PP_EXPORT int32_t PP_GetKey(void);

/* ---- PIN, events, encryption ---------------------------------------------- */

/* entrada: 57 bytes, plus 36 per unit of the digit at index 56. */
PP_EXPORT int32_t PP_StartGetPIN(const char* entrada);
/* saida: at least 36 bytes (PIN block on PPCOMP_OK). mensagem: at least 32 bytes;
 * on PPCOMP_NOTIFY its first 32 bytes hold the text, blank-padded. */
PP_EXPORT int32_t PP_GetPIN(char* saida, char* mensagem);

/* entrada: 3 bytes. */
PP_EXPORT int32_t PP_StartCheckEvent(const char* entrada);
/* saida: at least 225 bytes. saida[0] always receives the event type ('\0' when
 * none); on PPCOMP_OK type '0' copies 3 bytes, '1' 225, '2' 2. */
PP_EXPORT int32_t PP_CheckEvent(char* saida);

/* entrada: 51 bytes (mode digit, 2-digit key index, 32-character working key,
 * 16-character block). saida: at least 16 bytes (result on PPCOMP_OK). */
PP_EXPORT int32_t PP_EncryptBuffer(const char* entrada, char* saida);

/* entrada: 3 bytes. saida: at least 256 bytes. */
PP_EXPORT int32_t PP_GetDUKPT(const char* entrada, char* saida);

/* ---- Cards --------------------------------------------------------------- */

/* mensagem: up to 32 characters, blank-padded. */
PP_EXPORT int32_t PP_StartRemoveCard(const char* mensagem);
/* mensagem: at least 32 bytes (notification text on PPCOMP_NOTIFY). */
PP_EXPORT int32_t PP_RemoveCard(char* mensagem);

/* primeira is not used. entrada: 40 bytes; plus 4 x the count at index 38 when
 * the count at index 2 is 00; plus 1 when the byte after that is '0'. */
PP_EXPORT int32_t PP_StartGetCard(const char* primeira, const char* entrada);
/* saida: at least 512 bytes. segunda is not used. mensagem: at least 32 bytes. */
PP_EXPORT int32_t PP_GetCard(char* saida, char* segunda, char* mensagem);
/* Resumes the card reading after a notification ("GCR" without fields). */
PP_EXPORT int32_t PP_ResumeGetCard(void);

/* ---- Chip ---------------------------------------------------------------- */

/* entrada: 86 bytes plus the 3-digit count at index 83. tags: tag list ("NNN" +
 * 2N hex characters). tagsOpt: tag list or NULL. */
PP_EXPORT int32_t PP_StartGoOnChip(const char* entrada, const char* tags, const char* tagsOpt);
/* saida: at least 1000 bytes. mensagem: at least 32 bytes. */
PP_EXPORT int32_t PP_GoOnChip(char* saida, char* mensagem);
/* entrada: "xxxx" + 3-digit count a + 2a hex + 3-digit count b + 2b hex.
 * tags: tag list or NULL. saida: at least 1000 bytes. */
PP_EXPORT int32_t PP_FinishChip(const char* entrada, const char* tags, char* saida);
/* entrada: 5 bytes plus 2 x the count at index 2; plus 33 when entrada[1] is '3'.
 * saida: at least 1000 bytes. */
PP_EXPORT int32_t PP_ChipDirect(const char* entrada, char* saida);

/* For a caller that has seen the card approve a transaction offline: writes
 * the trace record "Trn aprovada offline (GoOnChip)" when goOnChip is non-zero,
 * "Trn aprovada offline (FinishChip)" when it is 0 (a text record with tag
 * "GeraTraceTrnOffline", that text as its label and no value; nothing when the
 * trace is off). Runs the library's first-call initialisation when pending;
 * talks to no pinpad and changes no state. */
PP_EXPORT void GeraTraceTrnOffline(int32_t goOnChip);

/* EMV library mode only (PPCOMP_NOFUNC / PPCOMP_BADCALL otherwise). */
PP_EXPORT int32_t PP_StartGetChip(const char* entrada1, const char* entrada2);
PP_EXPORT int32_t PP_GetChip(char* saida, char* segunda, char* mensagem);
PP_EXPORT int32_t PP_ResumeGetChip(void);
PP_EXPORT int32_t PP_GetTLV(const char* entrada, char* saida);
PP_EXPORT int32_t PP_ConfigProcess(const char* entrada);

/* ---- Generic commands, tables, keys ---------------------------------------- */

/* entrada: 5 bytes plus the 3-digit count at index 2. */
PP_EXPORT int32_t PP_StartGenericCmd(const char* entrada);
/* saida: at least 1000 bytes. mensagem: at least 32 bytes. */
PP_EXPORT int32_t PP_GenericCmd(char* saida, char* mensagem);

/* entrada: 12 bytes. */
PP_EXPORT int32_t PP_TableLoadInit(const char* entrada);
/* entrada: 2-digit record count c, then c records each starting with its own
 * 3-digit total length. */
PP_EXPORT int32_t PP_TableLoadRec(const char* entrada);
/* As PP_TableLoadRec, filtered by the option "TipoSlot" of opcoes
 * ("TipoSlot=n;..."; NULL allowed): 1 (default) loads only in internal mode,
 * 2 only in EMV library mode, anything else loads nothing (PPCOMP_OK). */
PP_EXPORT int32_t PP_TableLoadRecEx(const char* entrada, const char* opcoes);
PP_EXPORT int32_t PP_TableLoadEnd(void);
/* entrada: 2 bytes. saida: at least 10 bytes. */
PP_EXPORT int32_t PP_GetTimeStamp(const char* entrada, char* saida);

/* entrada: 36 bytes when entrada[0] is '1', else 263. saida: at least 264 bytes;
 * written only on PPCOMP_OK when entrada[0] is '2'. */
PP_EXPORT int32_t PP_DefineWKPAN(const char* entrada, char* saida);
/* entrada: 2 bytes plus 2 x the 2-digit count at index 0. */
PP_EXPORT int32_t PP_ChangeParameter(const char* entrada);

#ifdef __cplusplus
}
#endif

#endif /* PINPAD_PINPAD_H */
