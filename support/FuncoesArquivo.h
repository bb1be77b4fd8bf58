#pragma once
// Files, directories, date and time, numbers and bytes, sized memory blocks
// and the secure wipe: the lowest layer of the library.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

// ---------------------------------------------------------------------------
// File handle
// ---------------------------------------------------------------------------

// Owned by the caller between ArquivoAbre and ArquivoFecha. Every operation
// below accepts a null handle (or one without a stream) and then does nothing.
struct Arquivo {
  int32_t semSync;  // 0: the data is forced to disk (fsync) when the file is closed
  FILE* stream;
};

// Modes of what the library creates: its files (trace files, error dumps, the
// backup control file, INI files) for their owner and group only, and so the
// folders made for them; the umask can only take more away. Anyone who can
// read a trace file can decode it (its scrambling has no key).
inline constexpr unsigned kModoArquivo = 0640;
inline constexpr unsigned kModoDiretorio = 0750;

// fopen for the library's own files: the stdio `modo` ("rb", "ab", "r+b",
// "w+b"...; 'x' is honoured), the descriptor close-on-exec (a caller that runs
// system() or popen() hands none of them to the child), and a file it creates
// gets kModoArquivo under the umask. errno is set on failure.
FILE* AbreStream(const char* caminho, const char* modo);

// Opens `caminho` with the stdio `modo` ("ab", "rb", ...) through AbreStream. On failure the
// handle is freed and the result is null: a missing file opened with a mode
// beginning with 'r' fails silently; any other failure hands
// "erro abert arq [%s] / modo [%s] / errno [%d - %s]" to the diagnostic hook.
Arquivo* ArquivoAbre(const char* caminho, const char* modo, int32_t semSync);
// ArquivoAbre with semSync = 1 (never synced on close).
Arquivo* ArquivoAbreSemSync(const char* caminho, const char* modo);
// fsync (when semSync is 0) then fclose; frees the handle. Returns 0.
int ArquivoFecha(Arquivo* arq);
// fread / fwrite; 0 for a null handle.
size_t ArquivoLe(Arquivo* arq, void* buffer, size_t tamanho, size_t quantidade);
size_t ArquivoGrava(Arquivo* arq, const void* buffer, size_t tamanho, size_t quantidade);
// Appends the two parts (the second may be empty: null, 0) whole or not at
// all, to a stream opened for appending: written straight to the descriptor
// (nothing left in the stream's buffer); when fewer go out (a full disk, EFBIG
// under a file-size limit, any error), the file is cut back to its size before
// the call, so that only this write is lost and what is appended later still
// starts where a reader expects it. 1 written, 0 not. (Under a file-size limit
// the kernel kills a process that does not ignore SIGXFSZ before the write
// returns; the library leaves signal dispositions to the application.)
int ArquivoGravaInteiro(Arquivo* arq, const void* parte1, size_t tamanho1, const void* parte2, size_t tamanho2);
// fflush; -1 for a null handle.
int ArquivoDescarrega(Arquivo* arq);
// feof; 0 for a null handle.
int ArquivoFim(Arquivo* arq);
// fseek; -1 for a null handle.
int ArquivoPosiciona(Arquivo* arq, long deslocamento, int origem);
// Size in bytes (seek to the end); the previous position is restored when it
// was valid. 0 for a null handle.
long ArquivoTamanho(Arquivo* arq);

// Diagnostic hook: receives the texts of failures nobody else reports (by
// default none is installed and the texts go nowhere). Returns the previous hook.
using GanchoDiagnostico = void (*)(const char* texto);
GanchoDiagnostico DefineGanchoDiagnostico(GanchoDiagnostico gancho);
// Hands `texto` to the installed hook, if any.
void EnviaDiagnostico(const char* texto);

// rename / remove results.
int ArquivoRenomeia(const char* origem, const char* destino);
int ArquivoRemove(const char* caminho);
// chdir / getcwd: 0 on success, 1 on failure.
int MudaDiretorio(const char* caminho);
int DiretorioAtual(char* buffer, size_t tamanho);
// umask; returns the old mask.
unsigned MascaraCriacao(unsigned mascara);
// Creates every directory named by a prefix of the path ending just before a
// '/' (searching from the second character, so a leading '/' gives no empty
// name), mode kModoDiretorio (0750) under the umask. Errors (existing directories...) are
// ignored; the part after the last '/' is not created.
void CriaDiretorios(const char* caminho);
// Appends '/' and `nome` to the NUL-terminated `diretorio` (whose buffer holds
// `tamanho` bytes) and returns it. A directory already ending in '/' gets a
// second one. When the result would not fit, the directory is left unchanged
// and the result is null.
char* MontaCaminho(char* diretorio, size_t tamanho, const char* nome);
// Copies in 512-byte chunks, syncs and closes the target (created with
// kModoArquivo). -1 when the names are equal, when the target is the source
// itself under another name (same device and inode, links followed: the file
// is left untouched), when the source cannot be opened or the target cannot be
// created.
// A read error or short write counts as nothing copied; when nothing was
// copied (also an empty source) the target is removed. Otherwise 0.
int ArquivoCopia(const char* origem, const char* destino);

// ---------------------------------------------------------------------------
// Clock seam
// ---------------------------------------------------------------------------

// Every routine below that needs "now" as a calendar time (DataHoraAtual,
// DataHoraAtualClock, ExpandeMacrosData, DataSomaDias of today, and the trace
// above it) asks ObtemHoraAtual, which calls the installed source, `time` by
// default. Tests install their own source to stand at a chosen moment (just
// before midnight, after a validity period...) and put back null to return
// to `time`. RelogioMs, used for time-outs, is not affected.
using FonteHora = time_t (*)();
FonteHora DefineFonteHora(FonteHora fonte);  // returns the previous source (null = time)
time_t ObtemHoraAtual();
// Local broken-down time of ObtemHoraAtual (thread-safe localtime_r).
struct tm HoraLocalAtual();

// ---------------------------------------------------------------------------
// Date and time texts
// ---------------------------------------------------------------------------

// Room each output needs (NUL included); writes are bounded by these sizes
// (a text that would be longer, such as a year past 9999, is cut).
inline constexpr size_t TAM_DATA_HORA_TEXTO = 48;        // "DD/MM/YYYY - hh:mm:ss[.clock]"
inline constexpr size_t TAM_DATA_HORA_DATA = 9;          // "YYYYMMDD"
inline constexpr size_t TAM_DATA_HORA_HORA = 7;          // "hhmmss"
inline constexpr size_t TAM_DATA_HORA_HORA_CLOCK = 32;   // "hhmmss.clock"

// Local time now; every output is optional (null). texto
// "%02d/%02d/%04d - %02u:%02u:%02u", data "%04d%02d%02d", hora "%02u%02u%02u".
void DataHoraAtual(char* texto, char* data, char* hora);
// The same, with the processor clock count (`clock()`) after a '.' in texto and hora.
void DataHoraAtualClock(char* texto, char* data, char* hora);

// Replaces in place, with the local time now, every "<YYYY/>" (four-digit
// year), "<YY/>" (year mod 100), "<MM/>", "<DD/>", "<HH/>", "<NN/>" (minutes)
// and "<SS/>" by their digits; returns the text. Every macro is longer than
// its digits, so the text never grows: the result is cut so that nothing is
// written past the original terminator.
char* ExpandeMacrosData(char* texto);
// The same into a buffer of `tamanho` bytes; the result is cut to tamanho - 1.
char* ExpandeMacrosData(char* texto, size_t tamanho);
// The same with a given local time instead of now (a writer that reads the
// clock once for a record's name and its header).
char* ExpandeMacrosData(char* texto, size_t tamanho, const struct tm& t);

// 8 characters DDMMYYYY -> YYYYMMDD and NUL (out: 9 bytes).
char* DataParaAAAAMMDD(char* saida, const char* entrada);
// 8 characters YYYYMMDD -> DDMMYYYY and NUL (out: 9 bytes).
char* DataParaDDMMAAAA(char* saida, const char* entrada);
// 8 characters DDMMYYYY -> YYYYMM and NUL (out: 7 bytes).
char* DataParaAAAAMM(char* saida, const char* entrada);
// DD/MM/YYYY and NUL (out: 11 bytes) from YYYYMMDD (flag set) or DDMMYYYY;
// returns a pointer to the NUL.
char* DataFormata(char* saida, const char* entrada, int entradaAAAAMMDD);
// hh:mm from 4 characters, or hh:mm:ss from 6 with the flag; NUL-terminated
// (out: 9 bytes).
char* HoraFormata(char* saida, const char* entrada, int comSegundos);

// 1 when the text is exactly 8 decimal digits YYYYMMDD with month 1..12 and
// day 1..DiasNoMes; the year is not limited. Else 0.
int DataValida(const char* data);
// 1 when the text is exactly 6 characters HHMMSS, hours 0..23, minutes and
// seconds 0..59, each pair read with DigitosParaInt (digits not checked).
int HoraValida(const char* hora);
// Days of the month; February has 29 whenever the year is divisible by 4
// (this is the rule DataValida has always used, 1900 included).
int DiasNoMes(int mes, int ano);
// Days from dia2/mes2 up to dia1/mes1 of `ano`, going back month by month
// from mes1 to mes2 (into the previous year through December). Days must be
// 1..31 and months 1..12, else -1.
int DiasEntreDatas(int dia1, int mes1, int ano, int dia2, int mes2);
// Gregorian rule.
int AnoBissexto(long ano);
// Day number, 0001-01-01 = 1, proleptic Gregorian (also for years below 1).
long DataParaDias(long ano, long mes, long dia);
// Inverse of DataParaDias.
void DiasParaData(long dias, long* ano, long* mes, long* dia);
// Adds a signed number of days to YYYYMMDD (null: today) and writes
// "%04ld%02ld%02ld" into `saida` (`tamanho` bytes, 9 for four-digit years).
// -1 when saida is null or the result does not fit (saida is then ""); else 0.
int DataSomaDias(const char* data, long dias, char* saida, size_t tamanho);
// Finds `campo` (e.g. "YYYY") in `mascara` and copies the characters of
// `texto` at the same position and length into `saida` (strlen(campo) + 1
// bytes), NUL-terminated. Null when the field is not in the mask or the text
// is too short.
char* ExtraiCampoMascara(const char* texto, char* saida, const char* mascara, const char* campo);
// Sleeps, resuming with the remaining time after interruptions.
void Dorme(uint32_t milissegundos);
// Wall-clock milliseconds (seconds * 1000 + microseconds / 1000), wrapping in 32 bits.
uint32_t RelogioMs();
// 0 when every byte is 32..126, else -1.
int TextoImprimivel(const void* dados, size_t tamanho);

// ---------------------------------------------------------------------------
// Numbers and bytes
// ---------------------------------------------------------------------------

// 10 to the n (1 for n <= 0).
int64_t PotenciaDez(int n);
// Rescales a fixed-point integer from `decimaisEntrada` to `decimaisSaida`
// decimals (dividing truncates).
int64_t AjustaDecimais(int64_t valor, int decimaisEntrada, int decimaisSaida);
void InverteBytes(void* dados, size_t tamanho);
// Reverse in place when the host order differs from the named one.
void ParaLittleEndian(void* dados, size_t tamanho);
void ParaBigEndian(void* dados, size_t tamanho);
uint16_t TrocaBytes16(uint16_t palavra);
uint16_t Word16ParaLittleEndian(uint16_t palavra);
uint16_t Word16ParaBigEndian(uint16_t palavra);

// ---------------------------------------------------------------------------
// Sized memory blocks and the wipe
// ---------------------------------------------------------------------------

// A zero-filled block whose usable size is kept in the 32-bit word just
// before it; null when out of memory or above 32 bits. `reservado`, `arquivo`
// and `linha` are not used (callers pass 0, __FILE__, __LINE__).
void* Aloca(size_t tamanho, int32_t reservado, const char* arquivo, int linha);
// Null block: as Aloca. Size 0: frees, returns null. A size not above the
// current one returns the same block unchanged. A larger size moves the
// block, zero-filling the added bytes; null (old block intact) when out of memory.
void* Realoca(void* bloco, size_t tamanho, const char* arquivo, int linha);
// Frees a block from Aloca; null is ignored. Returns 0.
int Libera(void* bloco, const char* arquivo, int linha);
// Usable size of a block from Aloca (0 for null).
size_t TamanhoBloco(const void* bloco);

// Overwrites the buffer with the ten wipe patterns in order, ending as zeros.
// Written through a volatile pointer so the optimiser keeps every pass.
void* LimpaSegura(void* buffer, size_t tamanho);
