#pragma once
// The trace: contexts and file names, the binary record writer, frame
// masking, error dumps and housekeeping of old trace files.
//
// Every record call reports no failure and changes no result: a record that
// cannot be written is lost (when its file cannot be opened, the text
// "erro acesso arq trace" goes to the diagnostic hook, see FuncoesArquivo.h).
// Records are written only while the current context
// (LibState.trace.contextoTrace) is active.
//
// Trace files, error dumps and the backup control file are created with mode
// 0640, and folders made for them (CriaDiretorios) with 0750: owner and group
// only, less what the umask takes (anyone who can read a trace file can
// decode it). Every descriptor is close-on-exec. A record the file cannot take
// whole (a full disk, a file-size limit) is lost alone: the file is cut back to
// its size before the record.
#include <cstddef>
#include <cstdint>

struct Lista;

// Field sizes of a context (characters, without the NUL).
inline constexpr size_t TAM_NOME_TRACE = 128;
inline constexpr size_t TAM_ID_TRACE = 8;

// A trace context, zero-filled at creation, owned by the opener from TraceAbre
// to TraceFecha.
struct TraceCtx {
  int32_t ativo;                          // records are written only when non-zero
  int32_t cache;                          // "HabilitaTraceCache": 1 = no fsync per record
  int32_t nivel;                          // "NivelTrace": stored, never filters
  int32_t pid;                            // process id at opening
  uint8_t tipo;                           // type byte of every record
  char diretorio[TAM_NOME_TRACE + 1];     // trace directory
  char arquivo[TAM_NOME_TRACE + 1];       // file name, store/terminal put in, date macros kept
  char modeloArquivo[TAM_NOME_TRACE + 1]; // the template as given
  char terminal[TAM_ID_TRACE + 1];        // terminal id
  char validadeInicio[9];                 // trace key period, YYYYMMDD each, empty without a key
  char validadeFim[9];
};

// ---- Contexts --------------------------------------------------------------

// Opens a context and makes it the current one. diretorio null = "."; a null
// template gives an empty name. Store/terminal ids are cut to 8 characters and
// texts to 128. parametros: "HabilitaTraceCache", "NivelTrace", "ChaveTrace".
// Returns null (and clears the current context) only when memory runs out.
TraceCtx* TraceAbre(uint8_t tipo, const char* diretorio, const char* modeloArquivo, const char* idLoja,
                    const char* idTerminal, int32_t ativo, const char* parametros);
// Frees the context (null is accepted); the current context becomes null.
void TraceFecha(TraceCtx* ctx);
// Rebuilds the file name from the template with new ids; a null id removes
// ".<LOJA/>" or ".<TERM/>", an empty one removes only the macro.
void TraceMudaLojaTerminal(TraceCtx* ctx, const char* idLoja, const char* idTerminal);
// "DiretorioTrace=%s,ArquivoTrace=%s", cut to tamanho - 1 and terminated;
// an empty text for a null context; nothing for a null output.
void TraceDescreve(const TraceCtx* ctx, char* saida, size_t tamanho);

// ---- Records ---------------------------------------------------------------

// The writer: one record (kind tipo: 0 text, 1 integer, 2 binary) appended to
// the context's file. origem names an origin "prefixo.nome" (prefix optional);
// without it the origin is the context's 8-character terminal id, if any.
void TraceGrava(TraceCtx* ctx, const char* prefixoOrigem, const char* nomeOrigem, const char* tag,
                const char* rotulo, int32_t tipo, const void* dados, int32_t tamanho);

// On the current context.
void TraceTexto(const char* tag, const char* rotulo, const char* texto);
void TraceNumero(const char* tag, const char* rotulo, int32_t valor);
void TraceDados(const char* tag, const char* rotulo, int32_t tipo, const void* dados, int32_t tamanho);
void TraceBinario(const char* tag, const char* rotulo, const void* dados, int32_t tamanho);
void TraceTextoOrigem(const char* prefixoOrigem, const char* nomeOrigem, const char* tag, const char* rotulo,
                      const char* texto);
void TraceNumeroOrigem(const char* prefixoOrigem, const char* nomeOrigem, const char* tag, const char* rotulo,
                       int32_t valor);

// On an explicit context.
void TraceTextoCtx(TraceCtx* ctx, const char* tag, const char* rotulo, const char* texto);
void TraceNumeroCtx(TraceCtx* ctx, const char* tag, const char* rotulo, int32_t valor);
void TraceBinarioCtx(TraceCtx* ctx, const char* tag, const char* rotulo, const void* dados, int32_t tamanho);

// A pinpad link frame, masked (card data, PIN blocks, keys), written only while
// TraceChaveValida() holds. direcao: 1 = sent to the pinpad, 2 = received from
// it; any other direction is masked as an unknown frame. Frames longer than
// TAM_QUADRO_MASCARA are cut to that many bytes after masking.
inline constexpr size_t TAM_QUADRO_MASCARA = 1048;
void TraceDadosPinPad(const char* tag, const char* rotulo, const void* quadro, int32_t tamanho, int32_t direcao);

// Copies a frame into saida (at most capacidade bytes) and masks the copy, as
// TraceDadosPinPad does before writing it; returns the bytes copied. The
// frame's layout (code position, tail) is read from the whole frame.
size_t MascaraQuadroPinPad(const uint8_t* quadro, size_t tamanho, uint8_t* saida, size_t capacidade,
                           int32_t direcao);

// Traces a caller's extra parameter list under label "pParamAdic"; the value of
// every "NumCartaoCripto" entry, exactly as the parameter-list readers find it
// (ParamLocalizaValores: any case, blanks around the key, quotes and escapes,
// as one list and in every section), is replaced by a fixed run of '*'.
void TraceParametrosAdicionais(const char* tag, const char* texto);

int32_t TraceAtivo();
int32_t TraceNivel();
// 1 when the trace is active, the key's period is two valid dates (DataValida)
// with the start not after the end, and today (local time) lies in it.
int32_t TraceChaveValida();
// Marks the current file for backup: once the trace moves on to another file
// name, the marked file is renamed with the suffix ".bkp".
void TraceSolicitaBackup();

// ---- Error dumps and housekeeping -------------------------------------------

// Appends "hh:mm:ss: texto\n" to the day's error dump next to the trace files.
void TraceErro(const char* texto);
// One text record "ErroSistema"/"Erro" describing errno, the buffer text and the user.
void TraceErroSistema(const char* buffer);
// Status and description records of every directory along caminho and of caminho.
void TracePermissoes(const char* caminho);
// Removes the oldest files of the context's directory that match the template
// (store and terminal cut to 8 characters and put in, date macros as
// wildcards), keeping the newest `manter`. 0 = done (also for manter 0, which
// removes nothing), -1 = bad arguments (a null one, manter < 0) or the
// directory cannot be listed.
int32_t traceExcluiArquivos(TraceCtx* ctx, const char* modeloArquivo, const char* idLoja, const char* idTerminal,
                            int32_t manter);
// Removes all but the last `manter` names of a sorted list from the context's
// directory, tracing each. 0, or -1 for a null context or list or manter < 0.
int32_t traceExcluiArquivosDaLista(TraceCtx* ctx, Lista* lista, int32_t manter);
