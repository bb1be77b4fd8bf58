#include "tools/pinpadctl/Json.h"

#include <cstdio>

#include "tools/pinpadctl/Texto.h"

namespace pinpadctl {

std::string AspasJson(std::string_view utf8) {
  std::string s = "\"";
  for (unsigned char c : TextoUsuarioParaUtf8(utf8)) {
    if (c == '"' || c == '\\') {
      s += '\\';
      s += static_cast<char>(c);
    } else if (c == '\n') {
      s += "\\n";
    } else if (c < 0x20 || c == 0x7F) {
      char u[8];
      std::snprintf(u, sizeof u, "\\u%04x", c);
      s += u;
    } else {
      s += static_cast<char>(c);
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
