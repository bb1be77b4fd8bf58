#pragma once
// Key-control file, envelope keys and the block envelope of the host link.
//
// An envelope of an n-byte message (n >= 8) is: the header block, then each
// full 8-byte block of the message, all triple-DES enciphered and written as
// 16 upper-case hexadecimal characters each, then the last n mod 8 bytes in
// clear. Messages of 1 to 7 bytes are their own envelope. Every failure writes
// one text to the error log (see RegistraErroCripto).
#include <cstdint>
#include <span>

// Chained byte transform in place: with a chaining byte starting at 0, each
// byte b becomes ((b ^ chaining) - K1) ^ K2 and the chaining byte becomes b.
void TransformaChave(std::span<uint8_t> buffer);

// Takes the three keys out of the first 2048 bytes of a key-control file.
// Returns 1, or 0 when `conteudo` is short or the check group does not decrypt
// to the header constant (keys then untouched). Logs nothing.
int32_t ExtraiChavesCripto(std::span<const uint8_t> conteudo, std::span<uint8_t, 8> chave1,
                           std::span<uint8_t, 8> chave2, std::span<uint8_t, 8> chave3);

// Loads the keys from "QXCLICTL.BIN" in the working directory, reading it into
// the lent work buffer (at least 2048 bytes; the caller wipes it afterwards).
// The file is read with open/read, so no other copy of it is left in memory.
// Returns 1 when loaded; 0 on any failure, with the key fields cleared and the
// reason in the error log.
int32_t CarregaChavesCripto(std::span<uint8_t> trabalho);

// Sets the keys from three texts of exactly 16 hexadecimal characters. Returns
// 1, or 0 (nothing changed) when a text is missing or of another length.
int32_t DefineChavesCripto(const char* texto1, const char* texto2, const char* texto3);

// Writes the envelope of `mensagem` into `saida` (not terminated; at least one
// byte of the capacity stays unused). Returns its length, or -1.
int32_t CifraEnvelope(std::span<const uint8_t> mensagem, std::span<uint8_t> saida);

// Opens an envelope into `saida` (not terminated; at least one byte of the
// capacity stays unused, so saida[result] may take a terminator). Returns the
// message length, -1 on failure or -2 when the header block does not match
// (other keys at the other end). A decrypted block contributes its bytes up to
// its first zero byte. A capacity below half the envelope's length (exactly:
// 2 * capacity < length, no rounding down) is refused at once, and so is a
// message of 1 to 7 bytes, which travels as its own envelope, whose length
// reaches the capacity.
int32_t DecifraEnvelope(std::span<const uint8_t> envelope, std::span<uint8_t> saida);

// Replaces the whole error log "QXCLIERR.TXT" with `texto` (no line end).
// The file is created with permission bits 0200. Failures are ignored.
void RegistraErroCripto(const char* texto);

// Which DES implementation the envelope uses: the reference form (table by
// table, bit by bit) or the fast form. Both give the same envelopes.
enum class FormaDes { Referencia, Rapida };
int32_t CifraEnvelopeForma(FormaDes forma, std::span<const uint8_t> mensagem, std::span<uint8_t> saida);
int32_t DecifraEnvelopeForma(FormaDes forma, std::span<const uint8_t> envelope, std::span<uint8_t> saida);
