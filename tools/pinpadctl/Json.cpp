#include "tools/pinpadctl/Json.h"

#include <cstdio>

namespace pinpadctl {

std::string AspasJson(std::string_view latin1) {
  std::string s = "\"";
  for (char ch : latin1) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      s += '\\';
      s += static_cast<char>(c);
    } else if (c == '\n') {
      s += "\\n";
    } else if (c < 0x20 || c == 0x7F) {
      char u[8];
      std::snprintf(u, sizeof u, "\\u%04x", c);
      s += u;
    } else if (c < 0x80) {
      s += static_cast<char>(c);
    } else {  // Latin-1 to UTF-8: two bytes
      s += static_cast<char>(0xC0 | (c >> 6));
      s += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return s + "\"";
}

void ObjetoJson::Chave(std::string_view chave) {
  if (!corpo_.empty()) corpo_ += ',';
  corpo_ += AspasJson(chave);
  corpo_ += ':';
}

ObjetoJson& ObjetoJson::Texto(std::string_view chave, std::string_view valor) {
  Chave(chave);
  corpo_ += AspasJson(valor);
  return *this;
}

ObjetoJson& ObjetoJson::Numero(std::string_view chave, long long valor) {
  Chave(chave);
  corpo_ += std::to_string(valor);
  return *this;
}

ObjetoJson& ObjetoJson::Logico(std::string_view chave, bool valor) {
  Chave(chave);
  corpo_ += valor ? "true" : "false";
  return *this;
}

ObjetoJson& ObjetoJson::Bruto(std::string_view chave, const std::string& json) {
  Chave(chave);
  corpo_ += json;
  return *this;
}

}  // namespace pinpadctl
