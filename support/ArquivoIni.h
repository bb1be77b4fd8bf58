#pragma once
// INI configuration files: the library's configuration (section "PinPad") and
// the trace backup control file "CtlBkpTrace.ini". Every call opens the file,
// does its work and closes it; nothing is cached.
//
// Reading is forgiving: lines end at any run of CR and LF, tabs are removed
// wherever they stand, leading and trailing spaces are dropped, sections and
// keys match without regard to case, a line without '=' is a comment. A
// section ends at the next line beginning with '[' or '{'; the first matching
// section and key win.
//
// Limits: a line longer than INI_TAM_LINHA characters is cut there (the rest
// of it is ignored), so keys and values are shorter than that; section names
// longer than INI_TAM_SECAO never match. Writes that would break these limits,
// make the file larger than INI_TAM_ARQUIVO bytes, or cut a longer line found
// anywhere in the file (the rewrite would lose its end), are refused. Blank
// lines do not end the reading however many there are: a long stretch of CR,
// LF and tabs is read past, by the reader and by the rewrite alike.
//
// Files the writer creates get mode 0640 under the umask (kModoArquivo), and
// every open is close-on-exec.
//
// Writing rewrites the whole file in a normalised layout: section headers at
// the start of a line with one empty line before each (except at the top),
// every other line indented by two spaces, no other empty lines, LF endings.
// The rewrite reads lines the way the reader does (CR and tabs dropped), so
// what a write sets is what the next read returns.
#include <cstdint>

inline constexpr int INI_TAM_LINHA = 511;
inline constexpr int INI_TAM_SECAO = 126;
inline constexpr long INI_TAM_ARQUIVO = 4096;

// 1 when the file can be opened for reading, else 0.
int IniExiste(const char* arquivo);

// The value (its first 80 characters) converted with atoi, so non-digits give
// 0; `padrao` when the file, section or key is missing or the value is empty.
int IniLeInteiro(const char* secao, const char* chave, int padrao, const char* arquivo);

// Key given: writes the value (or `padrao`, null counting as "") into the
// buffer, cut to tamanho - 1 and NUL-terminated; returns its length. A NUL
// byte inside the value ends the text, and the length counts only what stands
// before it. The key is trimmed of blanks at its ends, as the file's keys are.
// Key null: writes the names of the section's keys (the text before '=' as it
// stands, trailing spaces included), each followed by a NUL, as many whole
// names as fit in tamanho - 1 bytes, then a final NUL; returns the bytes used
// by the names. `padrao` as above when the file or section is missing.
// Section null: the same list for the section names (text between '[' and the
// first ']'); 0 and an empty buffer when the file is missing.
// Nothing is written when the buffer is null or tamanho is 0.
int IniLeTexto(const char* secao, const char* chave, const char* padrao, char* buffer, uint16_t tamanho,
               const char* arquivo);

// Rewrites the file (created when missing); 1 when it was rewritten, else 0
// and the file is unchanged. Forms:
//   key and value:      sets the key (creating the key, and the section, when missing;
//                       a new key goes at the end of its section)
//   key and "":         an existing key keeps its line with nothing after '='; a
//                       missing key is not created
//   key and null value: deletes the key's line
//   null key:           deletes the whole section, header included
//   null section:       nothing, 0
// The key is trimmed of blanks at its ends, as the file's keys are, so a key
// written as " Chave " sets, reads and deletes the line "Chave=...". When the
// file repeats a section's header, keys are set and deleted in its first copy,
// the one the reader searches; deleting the section drops every copy.
// Also 0 when the file cannot be opened or created, memory runs out, the size
// limit would be passed, a line of the file that the rewrite keeps is longer
// than INI_TAM_LINHA, or the section, key or value would not read back
// (a name too long, a line end inside, a key holding '=' or beginning with '[',
// a key of blanks alone).
int IniGravaTexto(const char* secao, const char* chave, const char* valor, const char* arquivo);
// IniGravaTexto with the integer in decimal.
int IniGravaInteiro(const char* secao, const char* chave, int valor, const char* arquivo);
