#pragma once
// A JSON object built member by member. Texts come in as Latin-1 bytes (the
// pinpad's and the library's character set) and leave as UTF-8 with control
// characters escaped.
#include <string>
#include <string_view>

namespace pinpadctl {

std::string AspasJson(std::string_view latin1);

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
