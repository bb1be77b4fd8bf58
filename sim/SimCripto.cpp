#include "sim/SimCripto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <memory>

namespace sim {

static int ValorHex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool HexParaBytes(std::string_view hex, std::string& bytes) {
  bytes.clear();
  if (hex.size() % 2) return false;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int a = ValorHex(hex[i]), b = ValorHex(hex[i + 1]);
    if (a < 0 || b < 0) return false;
    bytes.push_back(static_cast<char>(a * 16 + b));
  }
  return true;
}

std::string BytesParaHex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (unsigned char c : bytes) {
    s.push_back(kHex[c >> 4]);
    s.push_back(kHex[c & 15]);
  }
  return s;
}

void Limpa(std::string& s) {
  if (!s.empty()) OPENSSL_cleanse(s.data(), s.size());
  s.clear();
}

bool CifraDes(std::string_view chave, std::string_view dados, bool cifrar, std::string& saida) {
  saida.clear();
  if (dados.size() % 8) return false;
  std::string k;
  if (chave.size() == 8) k = std::string(chave) + std::string(chave) + std::string(chave);
  else if (chave.size() == 16) k = std::string(chave) + std::string(chave.substr(0, 8));
  else if (chave.size() == 24) k = chave;
  else return false;
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                    &EVP_CIPHER_CTX_free);
  bool ok = ctx &&
            EVP_CipherInit_ex(ctx.get(), EVP_des_ede3_ecb(), nullptr,
                              reinterpret_cast<const unsigned char*>(k.data()), nullptr, cifrar ? 1 : 0) == 1 &&
            EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1;
  Limpa(k);
  if (!ok) return false;
  saida.resize(dados.size() + 8);
  int n1 = 0, n2 = 0;
  if (EVP_CipherUpdate(ctx.get(), reinterpret_cast<unsigned char*>(saida.data()), &n1,
                       reinterpret_cast<const unsigned char*>(dados.data()), static_cast<int>(dados.size())) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(saida.data()) + n1, &n2) != 1) {
    Limpa(saida);
    return false;
  }
  saida.resize(static_cast<size_t>(n1 + n2));
  return true;
}

void PreparaCripto() {
  std::string saida;
  CifraDes(std::string(24, '\x5A'), std::string(8, '\0'), true, saida);
  CifraDes(std::string(8, '\x5A'), std::string(8, '\0'), false, saida);
}

int CalculaEnb(char modo, std::string_view chaveMestra, std::string_view chaveTrabalhoHex,
               std::string_view dadosHex, std::string& resposta) {
  resposta.clear();
  if (modo != '0' && modo != '1') return 11;
  std::string cifrada, dados, trabalho, saida;
  std::string_view mestra = chaveMestra;
  if (modo == '0') {
    chaveTrabalhoHex = chaveTrabalhoHex.substr(0, 16);
    mestra = mestra.substr(0, 8);
  }
  int status = 11;
  if (HexParaBytes(chaveTrabalhoHex, cifrada) && HexParaBytes(dadosHex, dados) && dados.size() == 8 &&
      CifraDes(mestra, cifrada, false, trabalho) && CifraDes(trabalho, dados, true, saida)) {
    resposta = BytesParaHex(saida);
    status = 0;
  }
  Limpa(cifrada);
  Limpa(dados);
  Limpa(trabalho);
  Limpa(saida);
  return status;
}

std::string PinBlockCifrado(std::string_view senha, std::string_view pan, std::string_view chave) {
  if (senha.size() < 4 || senha.size() > 12) return {};
  std::string campoSenha(16, 'F');
  campoSenha[0] = '0';
  campoSenha[1] = "0123456789ABC"[senha.size()];
  for (size_t i = 0; i < senha.size(); ++i) campoSenha[2 + i] = senha[i];
  std::string digitos;
  for (char c : pan)
    if (c >= '0' && c <= '9') digitos.push_back(c);
  if (!digitos.empty()) digitos.pop_back();  // check digit
  if (digitos.size() > 12) digitos = digitos.substr(digitos.size() - 12);
  std::string campoPan = "0000" + std::string(12 - digitos.size(), '0') + digitos;
  std::string a, b, claro, cifrado;
  std::string resultado;
  if (HexParaBytes(campoSenha, a) && HexParaBytes(campoPan, b)) {
    claro.resize(8);
    for (int i = 0; i < 8; ++i) claro[i] = static_cast<char>(a[i] ^ b[i]);
    if (CifraDes(chave, claro, true, cifrado)) resultado = BytesParaHex(cifrado);
  }
  Limpa(campoSenha);
  Limpa(a);
  Limpa(claro);
  Limpa(cifrado);
  return resultado;
}

}  // namespace sim
