#include "tests/hostlink/HostTeste.h"

#include <fcntl.h>
#include <openssl/des.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cipher/ConstantesCripto.h"

namespace hostteste {
namespace {

constexpr uint8_t SYN = 0x16, ETB = 0x17, ACK = 0x06, NAK = 0x15, CAN = 0x18, EOT = 0x04;
constexpr uint8_t STX = 0x02, ETX = 0x03, SI = 0x0F, SO = 0x0E;

// Function statics: the preloaded form configures the host from a load-time
// constructor, which may run before this file's globals are built.
Config& Cfg() {
  static Config c;
  return c;
}
std::string& Recebidos() {  // bytes from the pinpad not yet used
  static std::string r;
  return r;
}
int g_fd = -1;

void Registra(int32_t operacao, const std::string& texto) {
  if (Cfg().log.empty()) return;
  FILE* f = std::fopen(Cfg().log.c_str(), "ab");
  if (!f) return;
  std::fprintf(f, "%d %s\n", operacao, texto.c_str());
  std::fclose(f);
}

// ---- envelope, written from the message forms, on OpenSSL's DES ----

void Chave(const std::string& hex, DES_key_schedule& ks) {
  DES_cblock c;
  for (int i = 0; i < 8; ++i) c[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * static_cast<size_t>(i), 2), nullptr, 16));
  DES_set_key_unchecked(&c, &ks);
}

// Three DES steps on `b`: `padrao` is "ede", "ded", "eee" or "ddd"; keys in the
// order 1-2-3 or, with `inversa`, 3-2-1.
void Triplo(const char* padrao, bool inversa, const std::string chaves[3], uint8_t b[8]) {
  for (int i = 0; i < 3; ++i) {
    DES_key_schedule ks;
    Chave(chaves[inversa ? 2 - i : i], ks);
    DES_cblock in, out;
    std::memcpy(in, b, 8);
    DES_ecb_encrypt(&in, &out, &ks, padrao[i] == 'e' ? DES_ENCRYPT : DES_DECRYPT);
    std::memcpy(b, out, 8);
  }
}

void Cabecalho(uint8_t c[8]) {
  uint8_t cadeia = 0;
  for (int i = 0; i < 8; ++i) {
    uint8_t b = cripto::kConstanteCabecalho[i];
    c[i] = static_cast<uint8_t>(static_cast<uint8_t>((b ^ cadeia) - cripto::kTransformaK1) ^ cripto::kTransformaK2);
    cadeia = b;
  }
}

std::string Hex(const uint8_t* b, size_t n) {
  std::string s;
  char t[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(t, sizeof t, "%02X", b[i]);
    s += t;
  }
  return s;
}

int Nibble(char c) { return (c >= 'A' && c <= 'F') ? c - 'A' + 10 : c & 0x0F; }

bool AbreEnvelope(const std::string& env, const std::string chaves[3], std::string& saida) {
  saida.clear();
  if (env.size() <= 7) {
    saida = env;
    return true;
  }
  const size_t grupos = env.size() / 16;
  const bool cauda = env.size() % 16 != 0;
  if (grupos == 0) return false;
  uint8_t esperado[8];
  Cabecalho(esperado);
  for (size_t k = 1; k <= grupos; ++k) {
    uint8_t b[8];
    for (size_t i = 0; i < 8; ++i)
      b[i] = static_cast<uint8_t>(Nibble(env[(k - 1) * 16 + 2 * i]) << 4 | Nibble(env[(k - 1) * 16 + 2 * i + 1]));
    const char* padrao = (k == grupos && cauda) ? "ddd" : (k % 2 ? "ded" : "ede");
    Triplo(padrao, true, chaves, b);
    if (k == 1) {
      if (std::memcmp(b, esperado, 8) != 0) return false;
      continue;
    }
    for (uint8_t c : b) {
      if (c == 0) break;
      saida += static_cast<char>(c);
    }
  }
  saida += env.substr(grupos * 16);
  return true;
}

std::string Compacta(const std::string& s) {
  std::string o;
  auto dig = [](char c) { return c >= '0' && c <= '9'; };
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    bool prox = i + 1 < s.size();
    if (dig(c) && prox && dig(s[i + 1]) && !(c == '0' && s[i + 1] == '0')) {
      o += static_cast<char>((c - '0') * 10 + (s[i + 1] - '0'));
      i += 2;
    } else if (c == '0' && prox && s[i + 1] == '0') {
      size_t n = 0;
      while (i + n < s.size() && s[i + n] == '0' && n < 28) ++n;
      o += static_cast<char>(99 + n);
      i += n;
    } else if (c == ' ') {
      size_t n = 0;
      while (i + n < s.size() && s[i + n] == ' ' && n < 32) ++n;
      o += static_cast<char>(127 + n);
      i += n;
    } else if (dig(c) && prox) {
      o += static_cast<char>(c | 0x80);
      o += static_cast<char>(s[i + 1] | 0x80);
      i += 2;
    } else {
      o += static_cast<char>(c | 0x80);
      ++i;
    }
  }
  while (o.size() % 8) o += '\0';
  return o;
}

std::string Expande(const std::string& p) {
  std::string s;
  for (char ch : p) {
    uint8_t b = static_cast<uint8_t>(ch);
    if (b == 0) break;
    if (b & 0x80) {
      uint8_t c = b & 0x7F;
      if (c > 31)
        s += static_cast<char>(c);
      else
        s.append(c + 1u, ' ');
    } else if (b >= 100) {
      s.append(b - 99u, '0');
    } else {
      s += static_cast<char>('0' + b / 10);
      s += static_cast<char>('0' + b % 10);
    }
  }
  return s;
}

// ---- the serial side, towards simpinpad ----

uint16_t Crc16(const std::string& dados) {
  uint16_t crc = 0;
  for (char ch : dados) {
    crc ^= static_cast<uint16_t>(static_cast<uint8_t>(ch) << 8);
    for (int i = 0; i < 8; ++i) crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

bool Escreve(const std::string& s) {
  size_t feitos = 0;
  while (feitos < s.size()) {
    ssize_t n = write(g_fd, s.data() + feitos, s.size() - feitos);
    if (n <= 0) return false;
    feitos += static_cast<size_t>(n);
  }
  return true;
}

// Reads what arrives within `ms` into Recebidos(); false when the device is gone.
bool Le(int ms) {
  pollfd p{g_fd, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return true;
  char buf[512];
  ssize_t n = read(g_fd, buf, sizeof buf);
  if (n <= 0) return false;
  Recebidos().append(buf, static_cast<size_t>(n));
  return true;
}

int32_t EnviaQuadro(const std::string& mensagem) {
  std::string corpo = mensagem + static_cast<char>(ETB);
  uint16_t crc = Crc16(corpo);
  std::string quadro = std::string(1, static_cast<char>(SYN)) + corpo + static_cast<char>(crc >> 8) +
                       static_cast<char>(crc & 0xFF);
  for (int tentativa = 0; tentativa < 3; ++tentativa) {
    Recebidos().clear();
    if (!Escreve(quadro)) return -1;
    for (int espera = 0; espera < 20; ++espera) {
      if (!Le(100)) return -1;
      size_t a = Recebidos().find(static_cast<char>(ACK));
      size_t n = Recebidos().find(static_cast<char>(NAK));
      if (a != std::string::npos && (n == std::string::npos || a < n)) {
        Recebidos().erase(0, a + 1);
        return 0;
      }
      if (n != std::string::npos) break;
    }
  }
  return -1;
}

// A complete answer frame from the pinpad within about `ms`, acknowledged;
// "" when none came.
std::string RecebeQuadro(int ms) {
  for (int passo = 0; passo <= ms / 50; ++passo) {
    size_t syn = Recebidos().find(static_cast<char>(SYN));
    if (syn != std::string::npos) {
      Recebidos().erase(0, syn);
      size_t etb = Recebidos().find(static_cast<char>(ETB));
      if (etb != std::string::npos && Recebidos().size() >= etb + 3) {
        std::string corpo = Recebidos().substr(1, etb);
        uint16_t crc = static_cast<uint16_t>(static_cast<uint8_t>(Recebidos()[etb + 1]) << 8 |
                                             static_cast<uint8_t>(Recebidos()[etb + 2]));
        Recebidos().erase(0, etb + 3);
        if (Crc16(corpo) != crc) {
          Escreve(std::string(1, static_cast<char>(NAK)));
          continue;
        }
        Escreve(std::string(1, static_cast<char>(ACK)));
        return corpo.substr(0, corpo.size() - 1);
      }
    }
    if (!Le(50)) return "";
  }
  return "";
}

// SC5000: the texts that select a key ("08") and ask for the serial number
// ("06") travel between SI and SO, the others between STX and ETX; "08" is
// acknowledged and then ended with EOT.
int32_t EnviaSC5000(const std::string& texto) {
  const bool si = texto.rfind("08", 0) == 0 || texto.rfind("06", 0) == 0;
  std::string quadro(1, static_cast<char>(si ? SI : STX));
  quadro += texto;
  quadro += static_cast<char>(si ? SO : ETX);
  uint8_t lrc = 0;
  for (size_t i = 1; i < quadro.size(); ++i) lrc ^= static_cast<uint8_t>(quadro[i]);
  quadro += static_cast<char>(lrc);
  const bool esperaEot = texto.rfind("08", 0) == 0;
  for (int tentativa = 0; tentativa < 3; ++tentativa) {
    Recebidos().clear();
    if (!Escreve(quadro)) return -1;
    bool ack = false;
    for (int espera = 0; espera < 40; ++espera) {
      if (!Le(100)) return -1;
      while (!Recebidos().empty()) {
        const uint8_t c = static_cast<uint8_t>(Recebidos()[0]);
        Recebidos().erase(0, 1);
        if (c == ACK && !esperaEot) return 0;
        if (c == ACK) ack = true;
        if (c == EOT) return esperaEot ? 0 : -1;
        if (c == NAK) break;
      }
      if (!ack && espera >= 20) break;
    }
  }
  return -1;
}

// A complete SC5000 frame from the pinpad within about `ms`, acknowledged;
// "\x04" for a lone EOT (the pinpad cancelled), "" when nothing came.
std::string RecebeSC5000(int ms) {
  for (int passo = 0; passo <= ms / 50; ++passo) {
    std::string& r = Recebidos();
    size_t i = r.find_first_of(std::string{static_cast<char>(STX), static_cast<char>(SI), static_cast<char>(EOT)});
    if (i != std::string::npos) {
      r.erase(0, i);
      if (static_cast<uint8_t>(r[0]) == EOT) {
        r.erase(0, 1);
        return std::string(1, static_cast<char>(EOT));
      }
      const char fim = static_cast<char>(static_cast<uint8_t>(r[0]) == STX ? ETX : SO);
      size_t f = r.find(fim, 1);
      if (f != std::string::npos && f + 1 < r.size()) {
        uint8_t lrc = 0;
        for (size_t k = 1; k <= f; ++k) lrc ^= static_cast<uint8_t>(r[k]);
        const bool bom = lrc == static_cast<uint8_t>(r[f + 1]);
        const std::string texto = r.substr(1, f - 1);
        r.erase(0, f + 2);
        Escreve(std::string(1, static_cast<char>(bom ? ACK : NAK)));
        if (bom) return texto;
        continue;
      }
    }
    if (!Le(50)) return "";
  }
  return "";
}

std::string FormaResposta(const std::string& m) {
  std::string chaves[3] = {Cfg().chaves[0], Cfg().chaves[1], Cfg().chaves[2]};
  if (Cfg().falha == Falha::OutrasChaves) chaves[2] = "0000000000000000";
  if (m.size() <= 2) return "QX:" + m;
  if (!Cfg().otimizada) return Envelopa(m, chaves);
  if (m.size() <= 6) return "QX:" + m;
  // Code and status in clear, the rest packed and enveloped.
  const std::string env = Envelopa(Compacta(m.substr(6)), chaves);
  return "QX:6:" + std::to_string(env.size()) + ";F;" + m.substr(0, 6) + env;
}

}  // namespace

void Configura(const Config& config) { Cfg() = config; }

std::string Envelopa(const std::string& m, const std::string chaves[3]) {
  if (m.size() <= 7) return m;
  uint8_t b[8];
  Cabecalho(b);
  Triplo("ede", false, chaves, b);
  std::string out = Hex(b, 8);
  const size_t blocos = m.size() / 8;
  const bool cauda = m.size() % 8 != 0;
  for (size_t i = 0; i < blocos; ++i) {
    std::memcpy(b, m.data() + 8 * i, 8);
    Triplo((i + 1 == blocos && cauda) ? "eee" : (i % 2 == 0 ? "ded" : "ede"), false, chaves, b);
    out += Hex(b, 8);
  }
  return out + m.substr(blocos * 8);
}

bool Abre(const std::string& texto, const std::string chaves[3], std::string& mensagem) {
  mensagem.clear();
  if (texto.compare(0, 3, "QX:") != 0) return AbreEnvelope(texto, chaves, mensagem);
  size_t f = texto.find("F;", 3);
  if (f == std::string::npos || texto.find_first_not_of("0123456789:;", 3) < f) {
    mensagem = texto.substr(3);
    return true;
  }
  const std::string corpo = texto.substr(f + 2);
  size_t pos = 3, atual = 0;
  while (pos < f) {
    size_t dp = texto.find(':', pos), pv = texto.find(';', dp);
    if (dp == std::string::npos || pv == std::string::npos || pv > f) return false;
    size_t desl = std::stoul(texto.substr(pos, dp - pos)), tam = std::stoul(texto.substr(dp + 1, pv - dp - 1));
    if (desl < atual || desl + tam > corpo.size()) return false;
    mensagem += corpo.substr(atual, desl - atual);
    std::string compactado;
    if (!AbreEnvelope(corpo.substr(desl, tam), chaves, compactado)) return false;
    mensagem += Expande(compactado);
    atual = desl + tam;
    pos = pv + 1;
  }
  mensagem += corpo.substr(atual);
  return true;
}

int32_t HostComando(int32_t operacao, const char* texto) {
  switch (operacao) {
    case 650: {  // open the link to the pinpad named by the text
      if (texto == nullptr) return -1;
      g_fd = open(texto, O_RDWR | O_NOCTTY | O_CLOEXEC);
      if (g_fd < 0) return -1;
      termios t{};
      if (tcgetattr(g_fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(g_fd, TCSANOW, &t);
      }
      Recebidos().clear();
      return 0;
    }
    case 651:
      if (g_fd >= 0) close(g_fd);
      g_fd = -1;
      return 0;
    case 652:
      if (g_fd >= 0) Escreve(std::string(1, static_cast<char>(CAN)));
      return 0;
    case 653:
    case 753: {
      Registra(operacao, texto ? texto : "");
      if (Cfg().falha == Falha::FalhaEnvio || g_fd < 0 || texto == nullptr) return -1;
      std::string mensagem;
      if (!Abre(texto, Cfg().chaves, mensagem)) return -1;
      return operacao == 653 ? EnviaQuadro(mensagem) : EnviaSC5000(mensagem);
    }
    default:
      return -1;
  }
}

int32_t HostRecebe(int32_t, int32_t operacao, int32_t, int32_t capacidade, uint8_t*, char* buffer) {
  buffer[0] = '\0';
  if (Cfg().falha == Falha::Cancela) return -13;
  if ((operacao != 654 && operacao != 754) || g_fd < 0) return -1;
  std::string resposta;
  if (operacao == 754 && !Cfg().respostaSC5000.empty()) {
    resposta.swap(Cfg().respostaSC5000);
  } else {
    resposta = operacao == 654 ? RecebeQuadro(100) : RecebeSC5000(100);
  }
  if (resposta.empty()) return 0;
  if (operacao == 754 && resposta == std::string(1, static_cast<char>(EOT))) return -13;
  const std::string forma = FormaResposta(resposta);
  Registra(operacao, forma);
  if (static_cast<int32_t>(forma.size()) > capacidade) return -1;
  std::memcpy(buffer, forma.c_str(), forma.size() + 1);
  return 0;
}

}  // namespace hostteste
