#include "link/CifraEnlace.h"

#include <cstdio>
#include <cstring>
#include <span>

#include "cipher/EnvelopeCripto.h"
#include "pinpad/ppcomp.h"
#include "state/LibState.h"
#include "support/FuncoesArquivo.h"
#include "trace/FuncoesTrace.h"

const EntradaCifra TabelaCifraEnvio[] = {
    {"ENB", 0, 0},
    {"GPN", 9, 53},
    {"GOC", 36, 32},
    {"", 0, 0},
};

const EntradaCifra TabelaCifraSecundaria[] = {
    {"CKE", 0, 0},
    {"GCR", 18, 245},
    {"", 0, 0},
};

namespace {

constexpr char kPrefixo[] = "QX:";
constexpr int32_t kTamPrefixo = 3;
// Longest decimal number read from an optimised header.
constexpr int32_t kMaxDigitos = 9;

bool EhDigito(char c) { return c >= '0' && c <= '9'; }

int32_t Digitos(int32_t v) {
  int32_t n = 1;
  while (v >= 10) {
    v /= 10;
    ++n;
  }
  return n;
}

// "QX:" and the message unchanged; refused when it would leave no byte unused.
int32_t FormaClara(const char* mensagem, int32_t tamanho, char* saida, int32_t capacidade) {
  if (mensagem == nullptr || tamanho < 0) tamanho = 0;
  if (kTamPrefixo + tamanho >= capacidade) return -1;
  std::memcpy(saida, kPrefixo, kTamPrefixo);
  if (tamanho > 0) std::memcpy(saida + kTamPrefixo, mensagem, static_cast<size_t>(tamanho));
  return kTamPrefixo + tamanho;
}

// First entry of `tabela` for the message's command whose stretch lies inside it.
const EntradaCifra* ProcuraEntrada(const EntradaCifra* tabela, const char* mensagem, int32_t tamanho) {
  if (tabela == nullptr) return nullptr;
  for (const EntradaCifra* e = tabela; e->Comando[0] != '\0'; ++e) {
    if (std::memcmp(e->Comando, mensagem, 3) != 0) continue;
    const bool inteira = e->Deslocamento == 0 && e->Tamanho == 0;
    if (inteira || static_cast<int64_t>(tamanho) >= static_cast<int64_t>(e->Deslocamento) + e->Tamanho) return e;
  }
  return nullptr;
}

// Reads the decimal number in texto[inicio, fim): each character counts its low
// four bits, as the peer writes and reads them. -1 when empty or too long.
int32_t LeDecimal(const char* texto, int32_t inicio, int32_t fim) {
  if (fim <= inicio || fim - inicio > kMaxDigitos) return -1;
  int32_t v = 0;
  for (int32_t i = inicio; i < fim; ++i) v = v * 10 + (texto[i] & 0x0F);
  return v;
}

int32_t Procura(const char* texto, int32_t inicio, int32_t fim, char c) {
  for (int32_t i = inicio; i < fim; ++i)
    if (texto[i] == c) return i;
  return -1;
}

}  // namespace

int32_t CompactaTexto(const char* texto, int32_t tamanho, uint8_t* saida, int32_t capacidade) {
  if (capacidade < 0 || (saida == nullptr && capacidade > 0)) return -1;
  if (texto == nullptr || tamanho < 0) tamanho = 0;
  int32_t n = 0;
  auto poe = [&](int valor) {
    if (n >= capacidade) return false;
    saida[n++] = static_cast<uint8_t>(valor);
    return true;
  };
  int32_t i = 0;
  while (i < tamanho) {
    const char c = texto[i];
    const bool temProximo = i + 1 < tamanho;
    const char p = temProximo ? texto[i + 1] : '\0';
    bool ok;
    if (EhDigito(c) && temProximo && EhDigito(p) && !(c == '0' && p == '0')) {
      ok = poe((c - '0') * 10 + (p - '0'));
      i += 2;
    } else if (c == '0' && temProximo && p == '0') {
      int32_t corrida = 0;
      while (i + corrida < tamanho && texto[i + corrida] == '0' && corrida < 28) ++corrida;
      ok = poe(99 + corrida);
      i += corrida;
    } else if (c == ' ') {
      int32_t corrida = 0;
      while (i + corrida < tamanho && texto[i + corrida] == ' ' && corrida < 32) ++corrida;
      ok = poe(127 + corrida);
      i += corrida;
    } else if (EhDigito(c) && temProximo) {
      ok = poe(static_cast<uint8_t>(c) | 0x80) && poe(static_cast<uint8_t>(p) | 0x80);
      i += 2;
    } else {
      ok = poe(static_cast<uint8_t>(c) | 0x80);
      i += 1;
    }
    if (!ok) return -1;
  }
  while (n % 8 != 0)
    if (!poe(0)) return -1;
  return n;
}

int32_t ExpandeTexto(const uint8_t* compactado, int32_t tamanho, char* saida, int32_t capacidade) {
  if (capacidade < 0 || (saida == nullptr && capacidade > 0)) return -1;
  if (compactado == nullptr || tamanho < 0) tamanho = 0;
  int32_t n = 0;
  auto repete = [&](char c, int32_t vezes) {
    if (vezes > capacidade - n) return false;
    std::memset(saida + n, c, static_cast<size_t>(vezes));
    n += vezes;
    return true;
  };
  for (int32_t i = 0; i < tamanho && compactado[i] != 0; ++i) {
    const uint8_t b = compactado[i];
    bool ok;
    if (b & 0x80) {
      const uint8_t c = b & 0x7F;
      ok = c > 31 ? repete(static_cast<char>(c), 1) : repete(' ', c + 1);
    } else if (b >= 100) {
      ok = repete('0', b - 99);
    } else {
      ok = repete(static_cast<char>('0' + b / 10), 1) && repete(static_cast<char>('0' + b % 10), 1);
    }
    if (!ok) return -1;
  }
  return n;
}

int32_t CifraMensagem(int32_t completa, const EntradaCifra* tabela, const char* mensagem, int32_t tamanho,
                      char* saida, int32_t capacidade) {
  if (saida == nullptr || capacidade <= 0) return -1;
  if (mensagem == nullptr || tamanho <= 2) return FormaClara(mensagem, tamanho, saida, capacidade);
  auto* saidaBytes = reinterpret_cast<uint8_t*>(saida);
  if (completa)
    return CifraEnvelope(std::span(reinterpret_cast<const uint8_t*>(mensagem), static_cast<size_t>(tamanho)),
                         std::span(saidaBytes, static_cast<size_t>(capacidade)));

  const EntradaCifra* e = ProcuraEntrada(tabela, mensagem, tamanho);
  if (e == nullptr) return FormaClara(mensagem, tamanho, saida, capacidade);
  const int32_t deslocamento = e->Deslocamento;
  const int32_t trecho = (e->Deslocamento == 0 && e->Tamanho == 0) ? tamanho : e->Tamanho;
  // Width of the length field: digits of the largest envelope of the stretch.
  const int32_t largura = Digitos(((trecho - trecho % 8) + 8) * 2 + 16);

  // "QX:" offset ":" W zeros ";" "F;"
  char cabecalho[48];
  int32_t n = std::snprintf(cabecalho, sizeof cabecalho, "%s%d:", kPrefixo, deslocamento);
  const int32_t posicaoLargura = n;
  std::memset(cabecalho + n, '0', static_cast<size_t>(largura));
  n += largura;
  std::memcpy(cabecalho + n, ";F;", 3);
  n += 3;
  if (n + deslocamento >= capacidade) return -1;
  std::memcpy(saida, cabecalho, static_cast<size_t>(n));
  std::memcpy(saida + n, mensagem, static_cast<size_t>(deslocamento));
  int32_t pos = n + deslocamento;

  uint8_t compactado[kTamTrabalhoCifra];
  const int32_t tamCompactado = CompactaTexto(mensagem + deslocamento, trecho, compactado, sizeof compactado);
  if (tamCompactado < 0) {
    LimpaSegura(compactado, sizeof compactado);
    return -1;
  }
  const int32_t envelope = CifraEnvelope(std::span(compactado, static_cast<size_t>(tamCompactado)),
                                         std::span(saidaBytes + pos, static_cast<size_t>(capacidade - pos)));
  LimpaSegura(compactado, sizeof compactado);
  if (envelope < 0) return envelope;

  char numero[16];
  const int32_t digitos = std::snprintf(numero, sizeof numero, "%d", envelope);
  if (digitos > largura) return -1;
  std::memcpy(saida + posicaoLargura + largura - digitos, numero, static_cast<size_t>(digitos));
  pos += envelope;

  const int32_t depois = tamanho - deslocamento - trecho;
  if (pos + depois >= capacidade) return -1;
  std::memcpy(saida + pos, mensagem + deslocamento + trecho, static_cast<size_t>(depois));
  return pos + depois;
}

int32_t CifraMensagemSecundaria(const char* mensagem, int32_t tamanho, char* saida, int32_t capacidade) {
  return CifraMensagem(0, TabelaCifraSecundaria, mensagem, tamanho, saida, capacidade);
}

int32_t DecifraMensagem(const char* texto, int32_t tamanho, char* saida, int32_t capacidade) {
  if (texto == nullptr || tamanho < 0 || saida == nullptr || capacidade < 0) return -1;
  auto* saidaBytes = reinterpret_cast<uint8_t*>(saida);
  if (tamanho < kTamPrefixo || std::memcmp(texto, kPrefixo, kTamPrefixo) != 0)
    return DecifraEnvelope(std::span(reinterpret_cast<const uint8_t*>(texto), static_cast<size_t>(tamanho)),
                           std::span(saidaBytes, static_cast<size_t>(capacidade)));

  // End of the header: the first "F;" after the prefix. A header holds only
  // digits, ':' and ';' (a message starts with its command's letters), so text
  // with anything else before that "F;" is a clear message that happens to
  // contain it.
  int32_t fim = -1;
  for (int32_t i = kTamPrefixo + 1; i < tamanho; ++i) {
    if (texto[i] == ';' && texto[i - 1] == 'F') {
      fim = i - 1;
      break;
    }
  }
  for (int32_t i = kTamPrefixo; fim >= 0 && i < fim; ++i)
    if (!EhDigito(texto[i]) && texto[i] != ':' && texto[i] != ';') fim = -1;
  if (fim < 0) {
    const int32_t n = tamanho - kTamPrefixo;
    if (n > capacidade) return -1;
    std::memcpy(saida, texto + kTamPrefixo, static_cast<size_t>(n));
    return n;
  }

  const char* corpo = texto + fim + 2;
  const int32_t tamCorpo = tamanho - fim - 2;
  int32_t atual = 0;  // position in the body
  int32_t escritos = 0;
  int32_t pos = kTamPrefixo;
  uint8_t decifrado[kTamTrabalhoCifra];
  int32_t resultado = 0;
  while (pos < fim) {
    const int32_t doisPontos = Procura(texto, pos, fim, ':');
    const int32_t pontoVirgula = doisPontos < 0 ? -1 : Procura(texto, doisPontos + 1, fim, ';');
    if (pontoVirgula < 0) {
      resultado = -1;
      break;
    }
    const int32_t deslocamento = LeDecimal(texto, pos, doisPontos);
    const int32_t comprimento = LeDecimal(texto, doisPontos + 1, pontoVirgula);
    pos = pontoVirgula + 1;
    if (deslocamento < atual || comprimento < 0 || deslocamento > tamCorpo || comprimento > tamCorpo - deslocamento) {
      resultado = -1;
      break;
    }
    const int32_t claros = deslocamento - atual;
    if (claros > capacidade - escritos) {
      resultado = -1;
      break;
    }
    std::memcpy(saida + escritos, corpo + atual, static_cast<size_t>(claros));
    escritos += claros;
    const int32_t n = DecifraEnvelope(
        std::span(reinterpret_cast<const uint8_t*>(corpo + deslocamento), static_cast<size_t>(comprimento)),
        std::span(decifrado, sizeof decifrado));
    if (n < 0) {
      resultado = n;
      break;
    }
    const int32_t expandidos = ExpandeTexto(decifrado, n, saida + escritos, capacidade - escritos);
    if (expandidos < 0) {
      resultado = -1;
      break;
    }
    escritos += expandidos;
    atual = deslocamento + comprimento;
  }
  LimpaSegura(decifrado, sizeof decifrado);
  if (resultado < 0) return resultado;
  const int32_t resto = tamCorpo - atual;
  if (resto > capacidade - escritos) return -1;
  std::memcpy(saida + escritos, corpo + atual, static_cast<size_t>(resto));
  return escritos + resto;
}

namespace {

// Loads the keys on first use, lending the work buffer; traces a failure under `tag`.
bool GaranteChaves(char (&trabalho)[kTamTrabalhoCifra], const char* tag) {
  if (LibState.cripto.CriptoIniciada) return true;
  if (!CarregaChavesCripto(std::span(reinterpret_cast<uint8_t*>(trabalho), sizeof trabalho))) {
    LimpaSegura(trabalho, sizeof trabalho);
    TraceTexto(tag, "Erro na inicializacao da criptografia", "");
    return false;
  }
  LimpaSegura(trabalho, sizeof trabalho);
  return true;
}

}  // namespace

int32_t PinPadEscreve(int32_t operacao, const char* mensagem, int32_t tamanho) {
  char trabalho[kTamTrabalhoCifra] = {};
  if (!GaranteChaves(trabalho, "PinPadEscreve")) return PPCOMP_QXCRIPTERR;
  const int32_t n = CifraMensagem(LibState.api.CriptografiaCompleta, TabelaCifraEnvio, mensagem, tamanho, trabalho,
                                  kTamTrabalhoCifra);
  if (n <= 0) {
    LimpaSegura(trabalho, sizeof trabalho);
    TraceTexto("PinPadEscreve", "Erro na criptografia", "");
    return PPCOMP_QXCRIPTERR;
  }
  trabalho[n] = '\0';  // CifraMensagem always leaves a byte unused
  const PP_FuncaoHostComando host = LibState.api.FuncaoHostComando;
  const int32_t r = host ? host(operacao, trabalho) : -1;
  LimpaSegura(trabalho, sizeof trabalho);
  return r < 0 ? PPCOMP_COMMERR : r;
}

int32_t PinPadLe(int32_t operacao, char* buffer, int32_t capacidade) {
  char trabalho[kTamTrabalhoCifra] = {};
  if (!GaranteChaves(trabalho, "PinPadLe")) return -PPCOMP_QXCRIPTERR;
  const PP_FuncaoHostRecebe host = LibState.api.FuncaoHostRecebe;
  uint8_t celula = 0;
  const int32_t r = host ? host(40, operacao, 0, kTamTrabalhoCifra - 1, &celula, trabalho) : -1;
  if (r < 0) {
    LimpaSegura(trabalho, sizeof trabalho);
    return r == -PPCOMP_CANCEL ? -PPCOMP_CANCEL : -PPCOMP_COMMERR;
  }
  if (buffer == nullptr || capacidade < 1) {
    LimpaSegura(trabalho, sizeof trabalho);
    return -PPCOMP_QXCRIPTERR;
  }
  std::memset(buffer, 0, static_cast<size_t>(capacidade));
  // The host's text ends at its terminator, or at the buffer's last byte.
  trabalho[kTamTrabalhoCifra - 1] = '\0';
  const int32_t tamanho = static_cast<int32_t>(std::strlen(trabalho));
  int32_t n = 0;
  if (tamanho > 0) {
    n = DecifraMensagem(trabalho, tamanho, buffer, capacidade - 1);
    if (n < 1) {
      LimpaSegura(trabalho, sizeof trabalho);
      std::memset(buffer, 0, static_cast<size_t>(capacidade));
      TraceTexto("PinPadLe", "Erro na decriptografia", "");
      return -PPCOMP_QXCRIPTERR;
    }
  }
  LimpaSegura(trabalho, sizeof trabalho);
  return n;
}
