#pragma once
// DES and triple DES for the simulated pinpad, on OpenSSL's libcrypto (an
// implementation independent of the library's own cipher module).
#include <string>
#include <string_view>

namespace sim {

// Hexadecimal text (either case, even length) to bytes; false on any other character.
bool HexParaBytes(std::string_view hex, std::string& bytes);
std::string BytesParaHex(std::string_view bytes);  // upper case, no blanks

// ECB over whole 8-byte blocks. The key is 8 bytes (single DES), 16 (K1 K2 K1)
// or 24 (K1 K2 K3); any other size or a partial block gives false.
bool CifraDes(std::string_view chave, std::string_view dados, bool cifrar, std::string& saida);
// Runs one cipher call on throwaway data, so that libcrypto's one-time set-up
// is done before the first command arrives.
void PreparaCripto();

// The encryption command: the working key (hex) is decrypted under the master key,
// then the data block (16 hex) is encrypted under the working key. Mode 1 uses
// triple DES with the 16-byte working key (32 hex); mode 0 single DES with the
// first 8 bytes (16 hex) of the working key and of the master key.
// Returns the pinpad status: 0 with the 16-hex answer, 11 for a bad parameter.
int CalculaEnb(char modo, std::string_view chaveMestra, std::string_view chaveTrabalhoHex,
               std::string_view dadosHex, std::string& resposta);

// ISO format-0 PIN block (PIN field XOR account field, account from the 12 digits
// before the check digit) encrypted under the key; 16 hex out, "" when the PIN or
// key is unusable.
std::string PinBlockCifrado(std::string_view senha, std::string_view pan, std::string_view chave);

// Wipes a buffer that held key material.
void Limpa(std::string& s);

}  // namespace sim
