#pragma once
// What pinpadctl reads out of the pinpad's answers: the fields of the
// information block and the printable part of a card reading. Pure functions,
// so the layouts and the masking can be checked without a pinpad.
#include <string>
#include <string_view>

namespace pinpadctl {

// Fields of the information block (index "00"), blanks at the end removed.
// Layout: maker (20), model (19), contactless flag (1), firmware (20),
// version field (4, characters 60-63), application version (16), serial
// number (20). A short block leaves the missing fields empty.
struct Informacao {
  std::string fabricante, modelo, sem_contato, firmware, versao, aplicacao, serie;
};
Informacao LeInformacao(std::string_view bloco);

// Kolvar runs its encryption check on pinpads whose version field is below
// "1.07" (compared byte by byte, without regard to case, as Kolvar does).
bool KolvarAplicaTeste(std::string_view versao);

// The card number with only the first six and the last four digits shown
// ("476173******0010"). Numbers of 12 digits or fewer show only the last four,
// so that never more than two thirds of a number are visible; four digits or
// fewer are all masked. Anything that is not a digit is dropped first.
std::string MascaraPan(std::string_view pan);

// The part of a card that may be shown: masked number, expiry, cardholder
// name, and what kind of reading it was. Never a track.
struct CartaoVisivel {
  std::string tipo;        // "magnetico", "chip", "sem contato" or the 2-digit code
  std::string pan_mascarado;
  std::string validade;    // "MM/AA", or "" when the card gave none
  std::string nome;
  std::string rotulo;      // application label
};

// From the card-reading answer: card type (2), chip status (1), application
// type (2), acquirer index (2), record index (2), track 1 (2 + 76), track 2
// (2 + 37), track 3 (3 + 104), account number (2 + 19), sequence (2),
// application label (16), service code (3), cardholder name (26), expiry
// YYMMDD (6). The number comes from its own field, else from track 2, else
// from track 1. Returns false when the answer is too short to hold a number.
bool LeCartao(std::string_view resposta, CartaoVisivel& cartao);

// From a magnetic-card event: tracks 1, 2 and 3 laid out as in the card answer.
bool LeTrilhasEvento(std::string_view trilhas, CartaoVisivel& cartao);

// Name of a key code ("OK", "F1".."F4", "BACKSP", "CANCEL"); "" for others.
const char* NomeTecla(int codigo);

// Zeroes a buffer in a way the optimiser keeps.
void Apaga(void* p, size_t n);

}  // namespace pinpadctl
