#include "tools/letrace/DecodificaTrace.h"

#include <cstdio>
#include <cstring>

#include "trace/FormatoTrace.h"

namespace {

uint32_t Le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// A NUL-terminated text starting at p inside [p, fim); false when it has no NUL.
bool LeTextoZ(const uint8_t*& p, const uint8_t* fim, std::string& saida) {
  const void* nul = std::memchr(p, 0, static_cast<size_t>(fim - p));
  if (nul == nullptr) return false;
  const auto* z = static_cast<const uint8_t*>(nul);
  saida.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(z - p));
  p = z + 1;
  return true;
}

const char* NomeEspecie(uint16_t especie) {
  switch (especie) {
    case TRACE_TEXTO: return "texto";
    case TRACE_INTEIRO: return "inteiro";
    case TRACE_BINARIO: return "binario";
    default: return nullptr;
  }
}

std::string Hex(const std::vector<uint8_t>& v) {
  static const char d[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(2 * v.size());
  for (uint8_t b : v) {
    s += d[b >> 4];
    s += d[b & 15];
  }
  return s;
}

// Quoted, with '"', '\\' and every byte outside 0x20..0x7E escaped.
std::string Aspas(const std::string& t) {
  std::string s = "\"";
  for (unsigned char c : t) {
    if (c == '"' || c == '\\') {
      s += '\\';
      s += static_cast<char>(c);
    } else if (c >= 0x20 && c <= 0x7E) {
      s += static_cast<char>(c);
    } else {
      char b[5];
      std::snprintf(b, sizeof b, "\\x%02X", c);
      s += b;
    }
  }
  return s + '"';
}

// JSON string: the texts are Latin-1, so bytes above 0x7F become their UTF-8
// form; control characters are escaped.
std::string Json(const std::string& t) {
  std::string s = "\"";
  for (unsigned char c : t) {
    if (c == '"' || c == '\\') {
      s += '\\';
      s += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char b[7];
      std::snprintf(b, sizeof b, "\\u%04X", c);
      s += b;
    } else if (c < 0x80) {
      s += static_cast<char>(c);
    } else {
      s += static_cast<char>(0xC0 | c >> 6);
      s += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return s + '"';
}

bool ValorInteiro(const RegistroLido& r, int32_t& n) {
  if (r.especie != TRACE_INTEIRO || r.valor.size() != 4) return false;
  n = static_cast<int32_t>(Le32(r.valor.data()));
  return true;
}

}  // namespace

bool LeRegistro(std::span<const uint8_t> dados, size_t& pos, RegistroLido& reg, std::string& motivo) {
  const size_t resta = pos < dados.size() ? dados.size() - pos : 0;
  const uint8_t* p = dados.data() + pos;
  if (resta < 4) {
    motivo = "registro truncado";
    return false;
  }
  if (p[0] != MARCA_REGISTRO_TRACE[0] || p[1] != MARCA_REGISTRO_TRACE[1]) {
    motivo = "marca de registro invalida";
    return false;
  }
  const size_t total = Le16(p + 2) + 2;
  if (total < TAM_CABECALHO_TRACE + 3) {
    motivo = "comprimento de registro invalido";
    return false;
  }
  if (total > resta) {
    motivo = "comprimento alem do fim do arquivo";
    return false;
  }
  const uint8_t* fim = p + total;
  const uint8_t* t = p + TAM_CABECALHO_TRACE;
  if (!LeTextoZ(t, fim, reg.origem) || !LeTextoZ(t, fim, reg.tag) || !LeTextoZ(t, fim, reg.rotulo)) {
    motivo = "textos do cabecalho sem terminador";
    return false;
  }
  reg.deslocamento = pos;
  reg.tipo = p[4];
  std::memcpy(reg.dataHora, p + 5, 7);
  reg.relogio = Le32(p + 12);
  reg.pid = static_cast<int32_t>(Le32(p + 16));
  reg.thread = Le32(p + 20);
  reg.especie = static_cast<uint16_t>(Le16(p + 24));
  reg.ponteiro = Le32(p + 26);
  reg.tamanhoDados = static_cast<uint16_t>(Le16(p + 30));
  reg.valor.assign(t, fim);
  DesembaralhaValorTrace(reg.valor);
  pos += total;
  return true;
}

size_t ProximoRegistroValido(std::span<const uint8_t> dados, size_t pos) {
  RegistroLido reg;
  std::string motivo;
  for (size_t k = pos + 1; k + 1 < dados.size(); ++k) {
    if (dados[k] != MARCA_REGISTRO_TRACE[0] || dados[k + 1] != MARCA_REGISTRO_TRACE[1]) continue;
    size_t tentativa = k;
    if (LeRegistro(dados, tentativa, reg, motivo)) return k;
  }
  return dados.size();
}

std::string TextoDataHora(const RegistroLido& reg) {
  static const char d[] = "0123456789ABCDEF";
  char dig[14];
  for (int i = 0; i < 7; ++i) {
    dig[2 * i] = d[reg.dataHora[i] >> 4];
    dig[2 * i + 1] = d[reg.dataHora[i] & 15];
  }
  std::string s(dig, 4);
  s += '-';
  s.append(dig + 4, 2);
  s += '-';
  s.append(dig + 6, 2);
  s += ' ';
  s.append(dig + 8, 2);
  s += ':';
  s.append(dig + 10, 2);
  s += ':';
  s.append(dig + 12, 2);
  return s;
}

std::string FormataTexto(const RegistroLido& r) {
  char cab[96];
  std::snprintf(cab, sizeof cab, " tipo=%u pid=%d thread=%u ", r.tipo, r.pid, r.thread);
  std::string s = TextoDataHora(r) + cab;
  const char* nome = NomeEspecie(r.especie);
  if (nome) {
    s += nome;
  } else {
    s += "especie=" + std::to_string(r.especie);
  }
  s += " origem=" + Aspas(r.origem) + " tag=" + Aspas(r.tag) + " rotulo=" + Aspas(r.rotulo) + " valor=";
  int32_t n;
  if (r.especie == TRACE_TEXTO) {
    s += Aspas(std::string(r.valor.begin(), r.valor.end()));
  } else if (ValorInteiro(r, n)) {
    s += std::to_string(n);
  } else {
    s += Hex(r.valor);
  }
  return s;
}

std::string FormataJson(const RegistroLido& r) {
  const std::string dh = TextoDataHora(r);
  std::string s = "{\"deslocamento\":" + std::to_string(r.deslocamento);
  s += ",\"data\":" + Json(dh.substr(0, 10)) + ",\"hora\":" + Json(dh.substr(11));
  s += ",\"tipo\":" + std::to_string(r.tipo) + ",\"clock\":" + std::to_string(r.relogio);
  s += ",\"pid\":" + std::to_string(r.pid) + ",\"thread\":" + std::to_string(r.thread);
  const char* nome = NomeEspecie(r.especie);
  s += ",\"especie\":" + (nome ? Json(nome) : std::to_string(r.especie));
  s += ",\"origem\":" + Json(r.origem) + ",\"tag\":" + Json(r.tag) + ",\"rotulo\":" + Json(r.rotulo);
  s += ",\"tamanho\":" + std::to_string(r.tamanhoDados) + ",\"valor\":";
  int32_t n;
  if (r.especie == TRACE_TEXTO) {
    s += Json(std::string(r.valor.begin(), r.valor.end()));
  } else if (ValorInteiro(r, n)) {
    s += std::to_string(n);
  } else {
    s += Json(Hex(r.valor));
  }
  return s + "}";
}

bool LeTodosRegistros(std::span<const uint8_t> dados, std::vector<RegistroLido>& lidos, std::string& motivo) {
  size_t pos = 0;
  while (pos < dados.size()) {
    RegistroLido reg;
    if (!LeRegistro(dados, pos, reg, motivo)) {
      motivo = "offset " + std::to_string(pos) + ": " + motivo;
      return false;
    }
    lidos.push_back(std::move(reg));
  }
  return true;
}
