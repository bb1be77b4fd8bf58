#include "support/ArquivoIni.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "support/FuncoesArquivo.h"
#include "support/FuncoesString.h"

namespace {

constexpr int kTentativasAbertura = 5;

FILE* AbreComTentativas(const char* arquivo, const char* modo) {
  for (int i = 0; i < kTentativasAbertura; ++i) {
    FILE* f = AbreStream(arquivo, modo);
    if (f != nullptr) return f;
  }
  return nullptr;
}

bool IguaisSemCaixa(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StrComparaSemCaixaN(a.data(), b.data(), a.size()) == 0;
}

// s[pos, pos + n), cut at the end of `s`: substr without its exception, so
// that the library needs nothing from the C++ runtime.
std::string_view Trecho(std::string_view s, size_t pos, size_t n = std::string_view::npos) {
  if (pos > s.size()) pos = s.size();
  return std::string_view(s.data() + pos, n < s.size() - pos ? n : s.size() - pos);
}

std::string_view Apara(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// The whole file in a sized block (NUL-terminated), or null.
char* LeTudo(FILE* f, size_t* tamanho) {
  if (fseek(f, 0, SEEK_END) != 0) return nullptr;
  long n = ftell(f);
  if (n < 0 || fseek(f, 0, SEEK_SET) != 0) return nullptr;
  char* dados = static_cast<char*>(Aloca(static_cast<size_t>(n) + 1, 0, __FILE__, __LINE__));
  if (dados == nullptr) return nullptr;
  *tamanho = fread(dados, 1, static_cast<size_t>(n), f);
  dados[*tamanho] = '\0';
  return dados;
}

// Walks the lines of a file as both the reader and the rewrite see them:
// split at any run of CR and LF, tabs removed, spaces trimmed, cut at
// INI_TAM_LINHA characters. Empty lines are reported too (the rewrite needs
// them); the reader skips them.
class Linhas {
 public:
  Linhas(const char* dados, size_t tamanho) : p_(dados), fim_(dados + tamanho) {}
  bool Proxima(std::string_view* linha) {
    if (p_ >= fim_) return false;
    size_t n = 0;
    cortada_ = false;
    while (p_ < fim_ && *p_ != '\n' && *p_ != '\r') {
      if (*p_ != '\t') {
        if (n < sizeof linha_)
          linha_[n++] = *p_;
        else if (*p_ != ' ')
          cortada_ = true;
      }
      ++p_;
    }
    if (p_ < fim_) ++p_;  // one line end; a CR LF pair or blank lines give empty lines
    std::string_view s = Apara(std::string_view(linha_, n));
    if (s.size() > static_cast<size_t>(INI_TAM_LINHA)) {
      s = Apara(Trecho(s, 0, INI_TAM_LINHA));
      cortada_ = true;
    }
    *linha = s;
    return true;
  }
  // Whether the last line was longer than INI_TAM_LINHA and lost its end.
  bool Cortada() const { return cortada_; }

 private:
  const char* p_;
  const char* fim_;
  bool cortada_ = false;
  char linha_[4 * INI_TAM_LINHA];  // room to trim a long line before cutting it
};

bool EhCabecalhoDe(std::string_view linha, std::string_view secao) {
  return secao.size() <= static_cast<size_t>(INI_TAM_SECAO) && linha.size() == secao.size() + 2 &&
         linha.front() == '[' && linha.back() == ']' && IguaisSemCaixa(Trecho(linha, 1, secao.size()), secao);
}

// Copies `s` cut to tamanho - 1, and at a NUL inside it, and terminated;
// returns the length.
int CopiaCortada(std::string_view s, char* buffer, uint16_t tamanho) {
  if (buffer == nullptr || tamanho == 0) return 0;
  size_t n = s.size() < static_cast<size_t>(tamanho - 1) ? s.size() : static_cast<size_t>(tamanho - 1);
  // A NUL inside the value ends the text: the length is the text's.
  if (const void* nul = memchr(s.data(), '\0', n)) n = static_cast<size_t>(static_cast<const char*>(nul) - s.data());
  memcpy(buffer, s.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

// Appends names, each followed by a NUL, to a buffer (whole names only).
struct ListaNomes {
  char* buffer;
  size_t limite;  // tamanho - 1
  size_t usado = 0;
  bool cheia = false;
  void Inclui(std::string_view nome) {
    if (buffer == nullptr || cheia) return;
    if (usado + nome.size() + 1 > limite) {
      cheia = true;
      return;
    }
    memcpy(buffer + usado, nome.data(), nome.size());
    usado += nome.size();
    buffer[usado++] = '\0';
  }
  int Fecha() {
    if (buffer != nullptr) buffer[usado] = '\0';
    return static_cast<int>(usado);
  }
};

enum class Busca { SemArquivo, SemSecao, SemChave, Achou };

// Finds the value of a key. With chave null, lists the keys of the section;
// with secao null, lists every section.
Busca Procura(const char* secao, const char* chave, const char* arquivo, std::string_view* valor,
              ListaNomes* nomes) {
  if (arquivo == nullptr) return Busca::SemArquivo;
  // The caller's key is trimmed as the file's keys are.
  const std::string_view chaveAparada = chave != nullptr ? Apara(chave) : std::string_view();
  FILE* f = AbreComTentativas(arquivo, "rb");
  if (f == nullptr) return Busca::SemArquivo;
  size_t tamanho = 0;
  char* dados = LeTudo(f, &tamanho);
  fclose(f);
  if (dados == nullptr) return Busca::SemArquivo;

  Busca r = secao == nullptr ? Busca::SemChave : Busca::SemSecao;
  auto linhas = static_cast<Linhas*>(Aloca(sizeof(Linhas), 0, __FILE__, __LINE__));
  if (linhas != nullptr) {
    new (linhas) Linhas(dados, tamanho);
    std::string_view linha;
    bool naSecao = false;
    while (linhas->Proxima(&linha)) {
      if (linha.empty()) continue;
      if (secao == nullptr) {
        if (linha.front() == '[') {
          std::string_view nome = Trecho(linha, 1);
          nome = Trecho(nome, 0, nome.find(']'));
          nomes->Inclui(nome);
        }
        continue;
      }
      if (!naSecao) {
        naSecao = linha.front() == '[' && EhCabecalhoDe(linha, secao);
        if (naSecao) r = Busca::SemChave;
        continue;
      }
      if (linha.front() == '[' || (chave != nullptr && linha.front() == '{')) break;
      size_t igual = linha.find('=');
      if (igual == std::string_view::npos) continue;
      if (chave == nullptr) {
        nomes->Inclui(Trecho(linha, 0, igual));
      } else if (IguaisSemCaixa(Apara(Trecho(linha, 0, igual)), chaveAparada)) {
        // The value points into `linhas`' buffer: copy it out before freeing.
        std::string_view v = Apara(Trecho(linha, igual + 1));
        memmove(dados, v.data(), v.size());
        *valor = std::string_view(dados, v.size());
        r = Busca::Achou;
        break;
      }
    }
    Libera(linhas, __FILE__, __LINE__);
  }
  if (r != Busca::Achou) Libera(dados, __FILE__, __LINE__);
  return r;
}

void LiberaValor(std::string_view valor) { Libera(const_cast<char*>(valor.data()), __FILE__, __LINE__); }

// Output of the rewrite, normalised as it is built.
class Saida {
 public:
  Saida(char* buffer, size_t capacidade) : buf_(buffer), cap_(capacidade) {}
  void Linha(std::string_view l) {
    l = Apara(l);
    if (l.empty()) {
      vazioPendente_ = true;
      return;
    }
    bool separa = l.front() == '[' || (l.front() == '{' && vazioPendente_);
    if (separa && n_ > 0) Poe("\n");
    if (l.front() != '[') Poe("  ");
    Poe(l);
    Poe("\n");
    vazioPendente_ = false;
  }
  void Par(std::string_view chave, std::string_view valor) {
    char linha[INI_TAM_LINHA + 1];
    size_t n = 0;
    for (std::string_view parte : {chave, std::string_view("="), valor}) {
      size_t k = parte.size() < sizeof linha - n ? parte.size() : sizeof linha - n;
      memcpy(linha + n, parte.data(), k);
      n += k;
    }
    Linha(std::string_view(linha, n));
  }
  // A pair put before a '{' line keeps the empty line that stood before it.
  void ParAntesDeBloco(std::string_view chave, std::string_view valor) {
    const bool vazio = vazioPendente_;
    vazioPendente_ = false;
    Par(chave, valor);
    vazioPendente_ = vazio;
  }
  bool Cheia() const { return cheia_; }
  size_t Tamanho() const { return n_; }

 private:
  void Poe(std::string_view s) {
    if (cap_ - n_ < s.size()) {
      cheia_ = true;
      return;
    }
    memcpy(buf_ + n_, s.data(), s.size());
    n_ += s.size();
  }
  char* buf_;
  size_t cap_;
  size_t n_ = 0;
  bool vazioPendente_ = false;
  bool cheia_ = false;
};

bool TemQuebraDeLinha(const char* s) { return s != nullptr && strpbrk(s, "\r\n") != nullptr; }

// Names and values that would not read back as written are refused.
bool ArgumentosGravaveis(const char* secao, const char* chave, const char* valor) {
  if (strlen(secao) > static_cast<size_t>(INI_TAM_SECAO) || TemQuebraDeLinha(secao) || strchr(secao, '\t'))
    return false;
  if (chave == nullptr) return true;
  // The key as it will stand in the file: trimmed.
  const std::string_view aparada = Apara(chave);
  const size_t tamChave = aparada.size();
  if (tamChave == 0 || aparada.front() == '[' || aparada.front() == '{' || strchr(chave, '=') ||
      TemQuebraDeLinha(chave) || strchr(chave, '\t'))
    return false;
  if (valor == nullptr) return true;
  if (TemQuebraDeLinha(valor) || strchr(valor, '\t')) return false;
  return tamChave + 1 + strlen(valor) <= static_cast<size_t>(INI_TAM_LINHA);
}

}  // namespace

int IniExiste(const char* arquivo) {
  if (arquivo == nullptr) return 0;
  FILE* f = AbreComTentativas(arquivo, "rb");
  if (f == nullptr) return 0;
  fclose(f);
  return 1;
}

int IniLeInteiro(const char* secao, const char* chave, int padrao, const char* arquivo) {
  if (secao == nullptr || chave == nullptr) return padrao;
  std::string_view valor;
  if (Procura(secao, chave, arquivo, &valor, nullptr) != Busca::Achou) return padrao;
  char numero[81];
  int n = CopiaCortada(valor, numero, sizeof numero);
  LiberaValor(valor);
  return n == 0 ? padrao : atoi(numero);
}

int IniLeTexto(const char* secao, const char* chave, const char* padrao, char* buffer, uint16_t tamanho,
               const char* arquivo) {
  if (buffer == nullptr || tamanho == 0) return 0;
  std::string_view textoPadrao = padrao != nullptr ? padrao : "";
  if (secao == nullptr || chave == nullptr) {
    ListaNomes nomes{buffer, static_cast<size_t>(tamanho - 1)};
    Busca r = Procura(secao, chave, arquivo, nullptr, &nomes);
    if (r == Busca::SemArquivo && secao == nullptr) return nomes.Fecha();
    if (r == Busca::SemArquivo || r == Busca::SemSecao) return CopiaCortada(textoPadrao, buffer, tamanho);
    return nomes.Fecha();
  }
  std::string_view valor;
  if (Procura(secao, chave, arquivo, &valor, nullptr) != Busca::Achou)
    return CopiaCortada(textoPadrao, buffer, tamanho);
  int n = CopiaCortada(valor, buffer, tamanho);
  LiberaValor(valor);
  return n;
}

int IniGravaTexto(const char* secao, const char* chave, const char* valor, const char* arquivo) {
  if (secao == nullptr || arquivo == nullptr || !ArgumentosGravaveis(secao, chave, valor)) return 0;
  // The key as the file's keys are read: without blanks at its ends.
  const std::string_view chaveAparada = chave != nullptr ? Apara(chave) : std::string_view();
  FILE* f = AbreComTentativas(arquivo, "r+b");
  if (f == nullptr && errno == ENOENT) f = AbreComTentativas(arquivo, "w+b");  // never truncate an existing file
  if (f == nullptr) return 0;

  size_t espaco = strlen(secao) + 3;
  if (chave != nullptr) espaco += strlen(chave) + 2;
  if (chave != nullptr && valor != nullptr) espaco += strlen(valor) + 1;
  size_t tamanho = 0;
  char* dados = LeTudo(f, &tamanho);
  if (dados == nullptr || static_cast<long>(tamanho + espaco) > INI_TAM_ARQUIVO) {
    Libera(dados, __FILE__, __LINE__);
    fclose(f);
    return 0;
  }

  // Every line grows by at most three characters (indent or empty line, LF).
  size_t capacidade = 4 * (tamanho + espaco) + 16;
  char* novo = static_cast<char*>(Aloca(capacidade, 0, __FILE__, __LINE__));
  auto linhas = static_cast<Linhas*>(Aloca(sizeof(Linhas), 0, __FILE__, __LINE__));
  if (novo == nullptr || linhas == nullptr) {
    Libera(novo, __FILE__, __LINE__);
    Libera(linhas, __FILE__, __LINE__);
    Libera(dados, __FILE__, __LINE__);
    fclose(f);
    return 0;
  }
  new (linhas) Linhas(dados, tamanho);
  Saida saida(novo, capacidade);
  const bool acrescenta = chave != nullptr && valor != nullptr && valor[0] != '\0';
  bool naSecao = false, achouSecao = false, feito = false;
  // A line the rewrite would copy cut short (longer than INI_TAM_LINHA) would
  // lose its end: such a write is refused, the file left as it is.
  bool perde = false;
  auto Copia = [&](std::string_view l) {
    perde = perde || linhas->Cortada();
    saida.Linha(l);
  };
  std::string_view linha;
  while (linhas->Proxima(&linha)) {
    if (feito) {
      Copia(linha);
      continue;
    }
    if (!linha.empty() && linha.front() == '[') {
      // A repeated header of the section ends the first copy, as it ends the
      // reader's search: keys are set there. Deleting the section drops every copy.
      if (EhCabecalhoDe(linha, secao) && (!achouSecao || chave == nullptr)) {
        naSecao = achouSecao = true;
      } else if (naSecao) {
        if (acrescenta) {  // the key was missing: it goes at the end of its section
          saida.Par(chaveAparada, valor);
          feito = true;
        }
        naSecao = false;
      }
    }
    if (!naSecao) {
      Copia(linha);
      continue;
    }
    if (chave == nullptr) continue;  // deleting the section
    if (!linha.empty() && linha.front() == '{') {
      // A reader looking for a key stops here: a missing key goes before
      // this line, and keys after it are left alone.
      if (acrescenta) saida.ParAntesDeBloco(chaveAparada, valor);
      feito = true;
      Copia(linha);
      continue;
    }
    size_t igual = linha.find('=');
    if (igual != std::string_view::npos && IguaisSemCaixa(Apara(Trecho(linha, 0, igual)), chaveAparada)) {
      feito = true;
      if (valor != nullptr) saida.Par(Apara(Trecho(linha, 0, igual)), valor);
      continue;
    }
    Copia(linha);
  }
  if (!feito && acrescenta) {
    if (!achouSecao) {
      char cabecalho[INI_TAM_SECAO + 3];
      int n = snprintf(cabecalho, sizeof cabecalho, "[%s]", secao);
      saida.Linha(std::string_view(cabecalho, static_cast<size_t>(n)));
    }
    saida.Par(chaveAparada, valor);
  }

  // The rewrite indents keys and separates sections: a file under the limit
  // may grow past it, and such a write is refused like any other.
  int r = 0;
  if (!perde && !saida.Cheia() && saida.Tamanho() <= static_cast<size_t>(INI_TAM_ARQUIVO) && fseek(f, 0, SEEK_SET) == 0 &&
      fwrite(novo, 1, saida.Tamanho(), f) == saida.Tamanho() && fflush(f) == 0 && ftruncate(fileno(f), static_cast<off_t>(saida.Tamanho())) == 0)
    r = 1;
  fclose(f);
  Libera(linhas, __FILE__, __LINE__);
  Libera(novo, __FILE__, __LINE__);
  Libera(dados, __FILE__, __LINE__);
  return r;
}

int IniGravaInteiro(const char* secao, const char* chave, int valor, const char* arquivo) {
  char texto[16];
  snprintf(texto, sizeof texto, "%d", valor);
  return IniGravaTexto(secao, chave, texto, arquivo);
}
