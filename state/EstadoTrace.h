#pragma once
// Fields of the trace: current context, open count, mutex, error dump path,
// backup cycle and the record buffer.
#include <cstddef>
#include <cstdint>
#include <ctime>

struct TraceCtx;
struct Semaforo;

// Size of the record buffer: the header of a record is built in it and then,
// separately, its value; neither is ever longer than this.
inline constexpr int TAM_REGISTRO_TRACE = 4096;
// "<diretorio>/Erro.<YYYY/><MM/><DD/>.dmp": 128 + 1 + 26 + NUL, rounded up.
inline constexpr int TAM_ARQUIVO_ERRO = 160;
// Directory and file name of up to 128 characters each, '/' and NUL.
inline constexpr int TAM_NOME_BACKUP = 260;

struct EstadoTrace {
  TraceCtx* contextoTrace = nullptr;  // the context all convenience calls write through
  int32_t aberturasTrace = 0;         // open contexts
  Semaforo* semaforoTrace = nullptr;  // recursive mutex around each record
  char arquivoErro[TAM_ARQUIVO_ERRO] = {};
  // Backup cycle: "NOME_INICIAL" until the control file has been read once,
  // then the path waiting to be renamed to ".bkp" (sized for the longest
  // trace path, so a stored name always compares equal to its own path).
  int32_t backupPendente = 0;
  char nomeBackup[TAM_NOME_BACKUP] = "NOME_INICIAL";
  uint8_t registroTrace[TAM_REGISTRO_TRACE] = {};
  // The writer's last file path with its date macros expanded, reused while
  // the directory, the file name and the parts of the local time that the
  // name shows stay the same (normally until the date changes).
  char caminhoDiretorio[TAM_NOME_BACKUP] = {};  // the texts it was built from
  char caminhoArquivo[TAM_NOME_BACKUP] = {};
  size_t caminhoTamanhos[2] = {SIZE_MAX, SIZE_MAX};   // their lengths (none yet)
  bool caminhoUsaHora[3] = {};                         // the name shows hour, minute, second
  int32_t caminhoHora[6] = {-1, -1, -1, -1, -1, -1};  // year, month, day, hour, minute, second
  char caminhoExpandido[TAM_NOME_BACKUP] = {};
  // The local time of the last record's second, converted once per second.
  int32_t horaValida = 0;
  time_t horaSegundo = 0;
  struct tm horaLocal = {};
};
