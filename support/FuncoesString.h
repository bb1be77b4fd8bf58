#pragma once
// String routines, tokenizer and parameter lists.
//
// Texts are NUL-terminated ISO-8859-1 bytes owned by the caller. Routines that
// change a text do it in place. Where a result can grow past what the caller
// handed in, the routine takes the buffer's capacity right after the buffer
// (`tam...`, in bytes, terminator included) and refuses or cuts as its comment
// says; it never writes past that capacity.
#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------- case

// One character through the Latin-1 upper/lower table; characters outside the
// table go to the C library's toupper/tolower.
char CharMaiuscula(char c);
char CharMinuscula(char c);

// Upper-/lower-cases the text in place; null for a null or empty text.
char* StrMaiusculas(char* texto);
char* StrMinusculas(char* texto);

// Lower-cases the text, then upper-cases its first character; null for a null
// or empty text.
char* StrCapitaliza(char* texto);

// Compares exactly n positions after CharMaiuscula, not stopping at a NUL
// (both texts must be n bytes long or differ before their ends). 0 when all n
// agree (or n is 0), else the difference of the two original bytes, taken as
// unsigned, at the first mismatch (a[i] - b[i]).
int StrComparaSemCaixaN(const char* a, const char* b, size_t n);

// 1 when every character is a digit (an empty text gives 1); 0 for null.
int StrNumerica(const char* texto);
// 1 when every character is a digit, '.' or ','; 0 for null.
int StrValorCaracteres(const char* texto);
// 1 when the separator occurs and exactly two characters follow its first
// occurrence; 0 otherwise and for a null text.
int TemDuasDecimais(const char* texto, char separador);

// ------------------------------------------------ copying, trimming, editing

// Copies the digits (StrSoDigitos) or the ASCII letters and digits
// (StrSoAlfanumericos) of src into dst and terminates it; returns how many.
// dst must hold strlen(src) + 1 bytes. A null src gives 0 (dst, when given,
// becomes empty).
int StrSoDigitos(const char* src, char* dst);
int StrSoAlfanumericos(const char* src, char* dst);

// Reverses the text in place.
char* StrInverte(char* texto);
// Remove leading / trailing / both spaces (only ' '). Null passes through.
char* StrTiraBrancosEsq(char* texto);
char* StrTiraBrancosDir(char* texto);
void StrTiraBrancos(char* texto);
// Removes leading and trailing space, tab, CR and LF; null passes through.
char* StrTrim(char* texto);
// Removes every space inside the text.
void StrTiraEspacos(char* texto);
// First character that is not a space.
const char* StrPulaBrancos(const char* texto);
char* StrPulaBrancos(char* texto);
// Removes every leading '0' ("000" becomes empty).
char* StrTiraZerosEsq(char* texto);
// Keeps only the digits, then removes leading zeros.
char* StrSoDigitosSemZeros(char* texto);

// Copies at most n-1 characters and always terminates within n bytes
// (n = 0 writes nothing). Returns dst.
char* StrCopiaLimitada(char* dst, const char* src, size_t n);
// StrCopiaLimitada at the end of dst; n is the room left after its text.
void StrConcatenaLimitada(char* dst, const char* src, size_t n);

// Replaces every occurrence of busca by troca (null troca deletes), scanning on
// after each inserted text; returns the number of replacements. A null or
// empty busca, or a null text, gives 0. When the result would not fit in
// tamTexto bytes the text is left unchanged and the result is -1.
int StrSubstitui(char* texto, size_t tamTexto, const char* busca, const char* troca);

// Turns each backslash+'r' and backslash+'n' pair into one CR (0x0D).
void ConverteEscapes(char* texto);

// When the text is shorter than largura, shifts it right by
// (largura - length) / 2 and fills the gap with `preenche`; returns the
// number of fill characters (0 when nothing moved). The buffer must hold
// largura bytes.
int StrCentraliza(char* texto, char preenche, int largura);

// Writes src right-aligned in a field of largura characters padded with '0'
// on the left (a longer src is cut to its first largura characters) and
// terminates dst after largura characters: dst holds largura + 1 bytes.
// Null arguments or largura < 0 do nothing.
void StrAlinhaZeros(char* dst, const char* src, int largura);

// ---------------------------------------------------- numbers, conversions

// Number with a default: a null or empty text gives padrao; a non-zero
// conversion (leading blanks, sign, digits; stops at the first other
// character) is returned; a zero conversion is 0 only for a "zero text" (made
// of '0', ' ', '.', '+', '-' alone: "0", "000", "0.00", "-0", blanks) and
// padrao otherwise ("abc", "x1"). Out-of-range integers saturate.
int StrToIntDef(const char* texto, int padrao);
double StrToDoubleDef(const char* texto, double padrao);

// Value of exactly n characters, each contributing its low four bits
// (value = value * 10 + (c & 0x0F)); no check that they are digits.
uint32_t DigitosParaInt(const char* texto, int n);

// Reads the run of digits at the start of texto into *valor (DigitosParaInt)
// and returns the position after the run. valor may be null.
const char* LeNumero(const char* texto, uint32_t* valor);

// '0'-'9', 'A'-'F', 'a'-'f' to 0..15; anything else gives 0.
int HexDigitoValor(char c);
// Low four bits to '0'-'9' / 'A'-'F'.
char HexDigitoCaracter(int nibble);

// n bytes from 2n hexadecimal characters; invalid characters count as 0. A
// text that ends early (NUL) is not read past: the missing digits count as 0.
void HexParaBytes(void* dst, const char* hex, size_t n);
// 2n upper-case hexadecimal characters; no terminator is written.
void BytesParaHex(char* dst, const void* bytes, size_t n);

// valor in base 2..36 (digits 0-9 then a-z). Base 10 prints a '-' for a
// negative value; other bases print the 32-bit pattern unsigned. A base outside
// 2..36 gives an empty text; a null dst is returned as is. dst holds 33 bytes.
char* IntParaStrBase(int32_t valor, char* dst, int base);
// Base 10 prints the signed 64-bit value (dst holds 21 bytes); other bases
// print the low 32 bits through IntParaStrBase.
char* Int64ParaStrBase(int64_t valor, char* dst, int base);

// The digits of the text, leading zeros dropped, as a number; 0 for null.
// Values past the 64-bit range saturate at INT64_MAX.
int64_t ValorParaInt64(const char* texto);

// Card number from track text: ends at the first '^' or '=', or, without
// either, at the end of the text but after at most 19 characters; a leading
// non-digit (start sentinel) is skipped; every remaining character must be a
// digit. The digits go to dst, terminated: 0. -1 for a null or empty text, a
// non-digit, an empty number, or a number that does not fit in tamDst bytes
// (dst is then empty when tamDst > 0).
int ExtraiNumeroCartao(const char* trilha, char* dst, size_t tamDst);

// ---------------------------------------------------------- money

// The digits of src without leading zeros; with decimais >= 1 padded with '0'
// on the left to decimais + 1 digits and the separator put before the last
// decimais of them ("R$ 1.234,5" -> "123,45", "5" -> "0,05", "" -> "0,00").
// When the result does not fit in tamDst bytes, dst becomes empty. Returns dst.
char* FormataDecimal(char* dst, size_t tamDst, const char* src, int decimais, char separador);
// FormataDecimal with 2 decimals and ','.
char* FormataValor(char* dst, size_t tamDst, const char* src);

// Money text from an amount in cents: "123456" -> "1.234,56", "7" -> "0,07".
// A src of 31 or more characters (or null) gives an empty text. The longest
// result is 40 characters: dst holds 41 bytes.
void FormataMoeda(char* dst, const char* src);

// Classifies the separators of an amount text: 0 none; 1003 one separator
// followed by exactly three digits (decimal or grouping); otherwise the number
// of characters after the decimal separator (after the first grouping
// separator when there is none); -1 a second decimal separator; -2 a grouping
// separator after the decimal one; -3 a misplaced grouping separator; -4 any
// other malformed text. Null gives 0.
int AnalisaValor(const char* texto);

// Keeps only the digits (no leading zeros), then, unless AnalisaValor of the
// original text was negative, scales them to `decimais` decimal places by
// appending zeros or cutting digits ("1.234,5", 2 -> "123450"; "12" -> "1200").
// 0 on success; -1 for a null text or when the result would not fit in
// tamTexto bytes (the text is then unchanged).
int NormalizaValor(char* texto, size_t tamTexto, int decimais);

// ---------------------------------------------------------- scrambling

// Keyless chained byte scramble, in place; Desembaralha is its inverse.
void Embaralha(void* buffer, size_t tamanho);
void Desembaralha(void* buffer, size_t tamanho);

// For i = 0..n-1 compares (a[i] & mascara[i]) with (b[i] & mascara[i]); at the
// first difference returns it as signed bytes (a - b); 0 when all agree.
int ComparaComMascara(const void* a, const void* b, const void* mascara, size_t n);

// ------------------------------------------------------------- tokenizer

// Takes the first token off a configuration-like line. The line is trimmed
// first; an empty line or one beginning with '#', '!', "--" or "//" is a
// comment: the line and the token become empty. Otherwise the token ends at a
// delimiter (space and tab when usaDelimitadores is 0, else any character of
// delimitadores), at a comment marker ("--", "//", '#', '!': the rest of the
// line is dropped) or at the end of the line. A '"' or '\'' opening the line
// quotes the token (not copied; inside "..." the pairs \n \r \t \f \" are
// decoded, \n giving CR LF and \f LF); a quote elsewhere protects delimiters up
// to the next quote of either kind and is copied. The line keeps what follows
// the token: after the delimiter when consome is set, from the delimiter on
// when not, after the closing quote of a quoted token, empty after a comment.
// The token goes to `token` (may be null), cut to tamToken - 1 characters.
// 0, or -1 for a null line.
int ExtraiToken(char* linha, const char* delimitadores, int usaDelimitadores, int consome, char* token,
                size_t tamToken);
// ExtraiToken on blanks (space, tab), consuming the delimiter.
int ExtraiPalavra(char* linha, char* token, size_t tamToken);
// ExtraiToken with the given delimiter set.
int ExtraiCampo(char* linha, const char* delimitadores, int consome, char* token, size_t tamToken);

// First occurrence of c outside double-quoted stretches (a '"' after a
// backslash does not toggle, except at the first position); null when none or
// for a null text. Single quotes are ordinary characters.
const char* BuscaForaDeAspas(const char* texto, char c);
char* BuscaForaDeAspas(char* texto, char c);

// --------------------------------------------------------- parameter lists
//
// A list is "key=value" entries joined by a field separator, optionally after a
// header and split into sections by a section separator. Keys compare without
// regard to ASCII case, surrounding blanks ignored, at most 127 characters.
// A value starting with '"' or '\'' is quoted (quotes dropped, escapes as in
// ExtraiToken); a quote inside a value protects separators up to the next one.
// Values are not trimmed.

// Results of the parameter-list routines.
constexpr int PARAM_OK = 0;
constexpr int PARAM_ERRO = -1;           // null text or separator
constexpr int PARAM_NAO_ACHOU = -3;      // section or key absent
constexpr int PARAM_SEM_MEMORIA = -4;    // no memory / no room

// General lookup. `cabecalho` (may be null) is skipped when the text begins
// with it; `sepSecao` (may be null: one section only) splits sections,
// numbered from 0; `sepCampo` splits entries. When valor is not null: if
// *valor is null the value is returned in a block from Aloca (release it with
// Libera); otherwise it is copied, cut to tamValor - 1 characters and
// terminated, into the buffer *valor points to. Nothing is allocated
// otherwise. 0 found, -1 null text or sepCampo, -3 section or key absent, -4
// no memory for the returned block.
int ParamObtemValorEx(const char* texto, const char* cabecalho, const char* sepSecao, const char* sepCampo,
                      int secao, const char* chave, char** valor, size_t tamValor);
// ParamObtemValorEx with sections "<#>" and fields ",".
int ParamObtemValor(const char* texto, const char* cabecalho, int secao, const char* chave, char** valor,
                    size_t tamValor);
// The value (at most 31 characters read) through StrToIntDef / StrToDoubleDef;
// padrao on any failure.
int ParamObtemInt(const char* texto, const char* cabecalho, int secao, const char* chave, int padrao);
double ParamObtemDouble(const char* texto, const char* cabecalho, int secao, const char* chave, double padrao);

// Replaces the value of `chave` in place (in the section after the first
// occurrence of cabecalho, when given and present; sections split by "<#>",
// entries by ","): 0. A value written "..." keeps its quotes and only the text
// between them is replaced. An absent key gets "chave=novoValor," inserted at
// the start of the section: -3. The new value is written unchanged. -1 for a
// null text; -3 for an absent section (text unchanged); -4 when the result
// would not fit in tamTexto bytes (text unchanged).
int ParamAlteraValor(char* texto, size_t tamTexto, const char* cabecalho, int secao, const char* chave,
                     const char* novoValor);

// ParamObtemValorEx without header or sections.
int ListaObtemValor(const char* texto, const char* sepCampo, const char* chave, char** valor, size_t tamValor);
// The value of `chave` in a ","-list, trimmed (StrTrim), then cut to
// tamDst - 1 characters into dst: 1. 0 when absent (dst is then untouched).
int ListaObtemTexto(const char* texto, const char* chave, char* dst, size_t tamDst);
// The value (at most 39 characters read) through StrToIntDef; padrao when absent.
int ListaObtemInt(const char* texto, const char* chave, int padrao);

// Where the readers above find the values of `chave`, for a caller that must
// hide them: calls visita(ctx, de, ate) with the offsets [de, ate) in `texto`
// of the value of every entry whose key is `chave` or ends in it (a header in
// front of the first key is what ParamObtemValor's caller takes off), read by
// the readers' own rules (quotes, escapes, blanks, the 127-character key):
// once reading the whole text as one ","-list, as ListaObtemTexto does, and
// once per "<#>" section, as ParamObtemValor does. A quoted value's range holds
// its quotes; an empty value gives de == ate.
void ParamLocalizaValores(const char* texto, const char* chave, void (*visita)(void* ctx, size_t de, size_t ate),
                          void* ctx);
