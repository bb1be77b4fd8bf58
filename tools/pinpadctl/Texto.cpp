#include "tools/pinpadctl/Texto.h"

#include <langinfo.h>

#include <climits>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace pinpadctl {

namespace {

constexpr char32_t Substituto = 0xFFFD;

// Latin-1 letters 0xC0-0xFF without their accents, for a locale that cannot
// hold them; '?' where there is no plain letter.
constexpr char SemAcento[] = "AAAAAAACEEEEIIIIDNOOOOO?OUUUUY?saaaaaaaceeeeiiiidnooooo?ouuuuy?y";
static_assert(sizeof SemAcento == 0x40 + 1);

enum class Conjunto { Utf8, Ascii, Outro };

Conjunto ConjuntoDoLocale() {
  const char* c = nl_langinfo(CODESET);
  if (!c) return Conjunto::Ascii;
  if (std::strcmp(c, "UTF-8") == 0) return Conjunto::Utf8;
  if (std::strcmp(c, "ANSI_X3.4-1968") == 0 || std::strcmp(c, "ASCII") == 0) return Conjunto::Ascii;
  return Conjunto::Outro;
}

void EscreveUtf8(char32_t cp, std::string& r) {
  if (cp < 0x80) {
    r += static_cast<char>(cp);
  } else if (cp < 0x800) {
    r += static_cast<char>(0xC0 | (cp >> 6));
    r += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    r += static_cast<char>(0xE0 | (cp >> 12));
    r += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    r += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    r += static_cast<char>(0xF0 | (cp >> 18));
    r += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    r += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    r += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The code points of a UTF-8 text; invalid bytes each give U+FFFD.
std::u32string DecodificaUtf8(std::string_view s) {
  std::u32string r;
  for (size_t i = 0; i < s.size();) {
    char32_t cp = 0;
    size_t n = LeUtf8(s, i, cp);
    r += n ? cp : Substituto;
    i += n ? n : 1;
  }
  return r;
}

// Text in the locale's encoding as code points. A locale of plain ASCII (the
// "C" locale) cannot hold any byte above 0x7F, so such bytes are read as
// UTF-8 when they form it: nothing else could have been meant. false when a
// byte fits neither; `ruim` gets its offset.
bool DecodificaLocale(std::string_view s, std::u32string& r, size_t& ruim) {
  r.clear();
  const Conjunto conj = ConjuntoDoLocale();
  if (conj != Conjunto::Outro) {
    for (size_t i = 0; i < s.size();) {
      char32_t cp = 0;
      size_t n = LeUtf8(s, i, cp);
      if (n == 0) {
        ruim = i;
        return false;
      }
      r += cp;
      i += n;
    }
    return true;
  }
  std::mbstate_t estado{};
  for (size_t i = 0; i < s.size();) {
    wchar_t w = 0;
    size_t n = std::mbrtowc(&w, s.data() + i, s.size() - i, &estado);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
      ruim = i;
      return false;
    }
    if (n == 0) n = 1;  // an embedded zero byte
    r += static_cast<char32_t>(w);
    i += n;
  }
  return true;
}

std::string NomeCaractere(char32_t cp) {
  char u[16];
  std::snprintf(u, sizeof u, "U+%04X", static_cast<unsigned>(cp));
  std::string nome;
  if (cp >= 0x20 && cp != 0x7F && !(cp >= 0x80 && cp < 0xA0)) {
    nome = "\"";
    EscreveUtf8(cp, nome);
    nome += "\" ";
  }
  return nome + "(" + u + ")";
}

}  // namespace

// One UTF-8 sequence at s[i]: the code point and its length, or 0 when the
// bytes there are not a valid sequence (overlong forms and surrogates too).
size_t LeUtf8(std::string_view s, size_t i, char32_t& cp) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char c = b(0);
  size_t n;
  char32_t minimo;
  if (c < 0x80) {
    cp = c;
    return 1;
  } else if (c >= 0xC2 && c <= 0xDF) {
    n = 2, cp = c & 0x1F, minimo = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, cp = c & 0x0F, minimo = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, cp = c & 0x07, minimo = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(k) & 0x3F);
  }
  if (cp < minimo || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

void AdotaLocale() { std::setlocale(LC_ALL, ""); }

bool Utf8Valido(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    char32_t cp = 0;
    size_t n = LeUtf8(s, i, cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string Latin1ParaUtf8(std::string_view latin1) {
  std::string r;
  r.reserve(latin1.size());
  for (char c : latin1) EscreveUtf8(static_cast<unsigned char>(c), r);
  return r;
}

std::string TextoUsuarioParaUtf8(std::string_view texto) {
  if (Utf8Valido(texto)) return std::string(texto);
  std::u32string cps;
  size_t ruim = 0;
  if (!DecodificaLocale(texto, cps, ruim)) cps = DecodificaUtf8(texto);
  std::string r;
  for (char32_t cp : cps) EscreveUtf8(cp, r);
  return r;
}

bool TextoUsuarioParaLatin1(std::string_view texto, std::string& latin1, std::string& erro) {
  std::u32string cps;
  size_t ruim = 0;
  latin1.clear();
  if (!DecodificaLocale(texto, cps, ruim)) {
    char b[8];
    std::snprintf(b, sizeof b, "0x%02X", static_cast<unsigned char>(texto[ruim]));
    const char* conj = nl_langinfo(CODESET);
    erro = std::string("o texto tem um byte (") + b + ", posicao " + std::to_string(ruim + 1) +
           ") que nao e da codificacao do sistema (" + (conj ? conj : "?") +
           "); confira LANG ou LC_ALL (ex.: LC_ALL=C.UTF-8)";
    return false;
  }
  for (char32_t cp : cps) {
    // The display shows the printable characters of Latin-1.
    const bool controle = cp < 0x20 || (cp >= 0x7F && cp < 0xA0);
    if (cp > 0xFF || controle) {
      erro = "o caractere " + NomeCaractere(cp) + " nao existe no display do pinpad, que mostra so os caracteres " +
             "do Latin-1 (ISO-8859-1)";
      latin1.clear();
      return false;
    }
    latin1 += static_cast<char>(cp);
  }
  return true;
}

std::string Utf8ParaLocale(std::string_view utf8) {
  const Conjunto conj = ConjuntoDoLocale();
  if (conj == Conjunto::Utf8 && Utf8Valido(utf8)) return std::string(utf8);
  std::string r;
  r.reserve(utf8.size());
  for (char32_t cp : DecodificaUtf8(utf8)) {
    if (cp < 0x80) {
      r += static_cast<char>(cp);
      continue;
    }
    if (conj == Conjunto::Utf8) {
      EscreveUtf8(cp, r);
      continue;
    }
    char mb[MB_LEN_MAX];
    std::mbstate_t estado{};
    size_t n = conj == Conjunto::Outro ? std::wcrtomb(mb, static_cast<wchar_t>(cp), &estado) : static_cast<size_t>(-1);
    if (n != static_cast<size_t>(-1)) {
      r.append(mb, n);
    } else {
      r += cp >= 0xC0 && cp <= 0xFF ? SemAcento[cp - 0xC0] : '?';
    }
  }
  return r;
}

size_t Largura(std::string_view utf8) {
  size_t colunas = 0;
  for (char32_t cp : DecodificaUtf8(utf8)) {
    int w = cp < 0x80 ? 1 : ::wcwidth(static_cast<wchar_t>(cp));
    colunas += w < 0 ? 1 : static_cast<size_t>(w);
  }
  return colunas;
}

std::string Preenche(std::string_view utf8, size_t colunas) {
  std::string r(utf8);
  const size_t w = Largura(utf8);
  if (w < colunas) r.append(colunas - w, ' ');
  return r;
}

}  // namespace pinpadctl
