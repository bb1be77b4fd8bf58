#pragma once
// Character sets at the tools' edges. Inside, every text is UTF-8. Text from
// the user (arguments, paths) arrives in the locale's encoding; the pinpad and
// the library speak Latin-1; JSON and XML leave as UTF-8; what people read
// leaves in the locale's encoding again.
#include <string>
#include <string_view>

namespace pinpadctl {

// Takes the user's locale (LC_ALL, LC_CTYPE, LANG) for the character set of
// arguments and output. Called once, first thing in main.
void AdotaLocale();

bool Utf8Valido(std::string_view s);

// One UTF-8 sequence at s[i]: the code point and its length, or 0 when the
// bytes there are not a valid sequence (overlong forms and surrogates too).
size_t LeUtf8(std::string_view s, size_t i, char32_t& cp);

// Latin-1 bytes (the pinpad's fields, the library's texts) as UTF-8.
std::string Latin1ParaUtf8(std::string_view latin1);

// Text the user gave, in the locale's encoding, as UTF-8: unchanged when it
// already is valid UTF-8; a byte that fits neither becomes U+FFFD.
std::string TextoUsuarioParaUtf8(std::string_view texto);

// Text the user gave for the pinpad (a display text, a message), converted to
// the pinpad's character set. false, with the reason in `erro`, when the
// bytes are not of the locale's encoding or a character has no place in
// Latin-1 (or is a control character the display cannot show).
bool TextoUsuarioParaLatin1(std::string_view texto, std::string& latin1, std::string& erro);

// UTF-8 text in the locale's encoding, for a person to read: a character the
// locale cannot hold loses its accent ("acao") or becomes '?'.
std::string Utf8ParaLocale(std::string_view utf8);

// Columns a UTF-8 text takes on a terminal (one per character the locale
// cannot hold, as Utf8ParaLocale writes it).
size_t Largura(std::string_view utf8);

// `utf8` blank-padded on the right to `colunas` columns.
std::string Preenche(std::string_view utf8, size_t colunas);

}  // namespace pinpadctl
