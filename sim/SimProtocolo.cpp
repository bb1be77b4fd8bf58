#include "sim/SimProtocolo.h"

#include <cstdio>

namespace sim {

uint16_t Crc16(std::string_view dados) {
  uint16_t crc = 0;
  for (unsigned char c : dados) {
    crc = static_cast<uint16_t>(crc ^ (c << 8));
    for (int b = 0; b < 8; ++b)
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

unsigned char Lrc(std::string_view dados) {
  unsigned char x = 0;
  for (unsigned char c : dados) x ^= c;
  return x;
}

static void AcrescentaCampo(std::string& s, std::string_view campo) {
  if (campo.size() > 999) campo = campo.substr(0, 999);
  char n[8];
  std::snprintf(n, sizeof n, "%03zu", campo.size());
  s += n;
  s += campo;
}

static std::string Fecha(std::string s) {
  s.push_back(static_cast<char>(ETB));
  uint16_t crc = Crc16(std::string_view(s).substr(1));
  s.push_back(static_cast<char>(crc >> 8));
  s.push_back(static_cast<char>(crc & 0xFF));
  return s;
}

std::string MontaResposta(std::string_view codigo, int status, const std::vector<std::string>& campos) {
  std::string s(1, static_cast<char>(SYN));
  s += codigo;
  char st[8];
  std::snprintf(st, sizeof st, "%03d", status < 0 ? 0 : status % 1000);
  s += st;
  for (const auto& c : campos) AcrescentaCampo(s, c);
  return Fecha(std::move(s));
}

std::string MontaComando(std::string_view codigo, const std::vector<std::string>& campos) {
  std::string s(1, static_cast<char>(SYN));
  s += codigo;
  for (const auto& c : campos) AcrescentaCampo(s, c);
  return Fecha(std::move(s));
}

std::string MontaQuadroSC5000(unsigned char inicio, std::string_view texto, unsigned char fim) {
  std::string s(1, static_cast<char>(inicio));
  s += texto;
  s.push_back(static_cast<char>(fim));
  s.push_back(static_cast<char>(Lrc(std::string_view(s).substr(1))));
  return s;
}

bool SeparaCampos(std::string_view texto, std::vector<std::string>& campos) {
  campos.clear();
  size_t p = 0;
  while (p < texto.size()) {
    if (texto.size() - p < 3) return false;
    size_t n = 0;
    for (int i = 0; i < 3; ++i) {
      char c = texto[p + i];
      if (c < '0' || c > '9') return false;
      n = n * 10 + static_cast<size_t>(c - '0');
    }
    p += 3;
    if (texto.size() - p < n) return false;
    campos.emplace_back(texto.substr(p, n));
    p += n;
  }
  return true;
}

// Frames of the line fit in 1300 bytes; twice that leaves room for any slack.
constexpr size_t kMaiorQuadro = 2600;

static bool Controle(unsigned char c) { return c == ACK || c == NAK || c == EOT || c == CAN; }

Evento Recebedor::Proximo() {
  Evento ev;
  if (buf_.empty()) return ev;
  const unsigned char c0 = static_cast<unsigned char>(buf_[0]);
  auto consome = [&](TipoEvento t, size_t n) {
    ev.tipo = t;
    ev.bytes = buf_.substr(0, n);
    buf_.erase(0, n);
    return ev;
  };
  if (c0 == SYN) {
    // The first ETB whose two following bytes carry the right CRC ends the frame;
    // an ETB inside the data of a field is passed over that way.
    size_t ultimoEtb = std::string::npos;
    for (size_t i = 4; i < buf_.size(); ++i) {
      if (static_cast<unsigned char>(buf_[i]) != ETB || i + 2 >= buf_.size()) continue;
      ultimoEtb = i;
      uint16_t crc = Crc16(std::string_view(buf_).substr(1, i));
      if (static_cast<unsigned char>(buf_[i + 1]) == (crc >> 8) &&
          static_cast<unsigned char>(buf_[i + 2]) == (crc & 0xFF))
        return consome(TipoEvento::Quadro, i + 3);
    }
    if (ultimoEtb != std::string::npos && ultimoEtb + 3 == buf_.size())
      return consome(TipoEvento::QuadroRuim, buf_.size());
    // No frame of the line is this long: what is held is not one.
    if (buf_.size() > kMaiorQuadro) return consome(TipoEvento::Lixo, buf_.size());
    return ev;
  }
  if (sc5000_ && (c0 == STX || c0 == SI)) {
    const char fim = static_cast<char>(c0 == STX ? ETX : SO);
    size_t f = buf_.find(fim, 1);
    if (f == std::string::npos || f + 1 >= buf_.size())
      return buf_.size() > kMaiorQuadro ? consome(TipoEvento::Lixo, buf_.size()) : ev;
    bool ok = Lrc(std::string_view(buf_).substr(1, f)) == static_cast<unsigned char>(buf_[f + 1]);
    return consome(ok ? TipoEvento::SC5000 : TipoEvento::SC5000Ruim, f + 2);
  }
  if (Controle(c0)) return consome(TipoEvento::Controle, 1);
  size_t n = 1;
  while (n < buf_.size()) {
    unsigned char c = static_cast<unsigned char>(buf_[n]);
    if (c == SYN || Controle(c) || (sc5000_ && (c == STX || c == SI))) break;
    ++n;
  }
  return consome(TipoEvento::Lixo, n);
}

Evento Recebedor::Abandona() {
  Evento ev;
  if (buf_.empty()) return ev;
  ev.tipo = TipoEvento::Lixo;
  ev.bytes.swap(buf_);
  return ev;
}

std::string HexEspacado(std::string_view dados) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(dados.size() * 3);
  for (unsigned char c : dados) {
    if (!s.empty()) s.push_back(' ');
    s.push_back(kHex[c >> 4]);
    s.push_back(kHex[c & 15]);
  }
  return s;
}

std::string Imprimivel(std::string_view dados) {
  std::string s(dados);
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '.';
  return s;
}

}  // namespace sim
