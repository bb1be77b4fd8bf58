#pragma once
// Answer contents of the simulated pinpad, command by command. Pure functions of
// the configuration and the request, so each layout can be checked on its own.
#include <string>
#include <string_view>

#include "sim/SimConfig.h"

namespace sim {

// Information block: maker (20), model (19), contactless flag (1), firmware (20),
// version (4, characters 60-63), application version (16), serial number (20);
// or the --info text; then blank-padded or cut to --tam-info when given.
std::string BlocoInformacao(const ConfigSim& cfg);

// "ENB" request (51 characters: mode digit, key index, working key, data block).
// Status 0 with the 16-hex cryptogram, 11 for a bad request or an empty index.
int RespostaEnb(const ConfigSim& cfg, std::string_view pedido, std::string& saida);

// "GPN" request: method (1; '0'/'2' single DES, '1'/'3' triple DES), key index (2),
// working key (32 hex; blanks or zeros: the master key itself), account number
// length (2) and digits (19), entry count (1) and entries of 36 (minimum 2,
// maximum 2, message 32). PedidoGpnValido checks that layout and gives the message
// of the first entry, if any. RespostaGpn gives the answer of 36: the encrypted PIN
// block (16 hex) and the key serial number (20); status 0, or 11 for a bad request
// or an empty key index.
bool PedidoGpnValido(std::string_view pedido, std::string& mensagem);
int RespostaGpn(const ConfigSim& cfg, std::string_view pedido, std::string& saida);

// "GDU": 20-hex key serial number for the index; status 0 or 11.
int RespostaGdu(const ConfigSim& cfg, std::string_view pedido, std::string& saida);

// Track texts of the configured card.
std::string Trilha1(const ConfigSim& cfg);
std::string Trilha2(const ConfigSim& cfg);

// "GCR" answer: card type (2: "00" magnetic, "03" chip), chip read status (1),
// application type (2), acquirer index (2), record index (2), track 1 (2 + 76),
// track 2 (2 + 37), track 3 (3 + 104), account number (2 + 19), sequence (2),
// application label (16), service code (3), cardholder name (26), expiry YYMMDD (6).
std::string RespostaGcr(const ConfigSim& cfg, bool chip);

// "CKE" event: '0' + key code (2 digits); '1' + tracks 1-3 as in "GCR" (225 in all);
// '2' + '1' chip inserted or '0' removed.
std::string EventoCke(const ConfigSim& cfg, const ItemOperador& item);

// TLV field "NNN" + hex of the entries for each tag of the lists (count + hex tags)
// that the pinpad knows, in the order listed, each tag once.
std::string CampoTlv(const ConfigSim& cfg, std::string_view tags, std::string_view tagsOpt);

// "GOC" answer: decision and flags (6), PIN block (16), key serial number (20),
// TLV field, then "000" (no acquirer data).
std::string RespostaGoc(const ConfigSim& cfg, std::string_view tags, std::string_view tagsOpt);
// "FNC" answer: decision (1), TLV field, issuer script results "00", then "000".
std::string RespostaFnc(const ConfigSim& cfg, std::string_view tags);

// "CHP" answer: 3 digits + hex of the card's response (ATR on power-on, status
// words on a command, nothing on power-off). Status 0 or 11.
int RespostaChp(std::string_view pedido, std::string& saida);

// Display lines (16 characters each) of a "DSP"/"CLO" text (32 characters) or of a
// "DEX" text, whose lines are split at '\r' or after 16 characters.
void TextoParaDisplay(std::string_view texto, bool quebraCr, std::string linhas[2]);

}  // namespace sim
