#pragma once
// A JSON object built member by member. Texts come in as UTF-8 (convert the
// pinpad's Latin-1 with Latin1ParaUtf8 and the user's text with
// TextoUsuarioParaUtf8 first) and leave as valid UTF-8 with control characters
// escaped; bytes that are not UTF-8 are read as the user's text
// (TextoUsuarioParaUtf8), so the output is always valid UTF-8.
#include <string>
#include <string_view>

namespace pinpadctl {

std::string AspasJson(std::string_view utf8);

class ObjetoJson {
 public:
  ObjetoJson& Texto(std::string_view chave, std::string_view valor);
  ObjetoJson& Numero(std::string_view chave, long long valor);
  ObjetoJson& Logico(std::string_view chave, bool valor);
  ObjetoJson& Bruto(std::string_view chave, const std::string& json);  // already JSON
  bool Vazio() const { return corpo_.empty(); }
  std::string Texto() const { return "{" + corpo_ + "}"; }

 private:
  void Chave(std::string_view chave);
  std::string corpo_;
};

}  // namespace pinpadctl
