#pragma once
// Values shared by the library and the tool that writes key-control files.
// A key-control file can only be read with the values that wrote it, and the
// header block must be the same at both ends of the link: change nothing here
// without reissuing every key file and every peer.
#include <cstdint>

namespace cripto {

// Name of the key-control file and of the error log, in the working directory.
inline constexpr char kArquivoChaves[] = "QXCLICTL.BIN";
inline constexpr char kArquivoErro[] = "QXCLIERR.TXT";

// Bytes of the key-control file that are read; byte 10 holds the base offset.
inline constexpr int kTamanhoArquivoChaves = 2048;
inline constexpr int kPosicaoBase = 10;

// Header constant: passed through TransformaChave it is the first block of
// every envelope; enciphered under the key-encryption key it is the check group.
inline constexpr uint8_t kConstanteCabecalho[8] = {0x5A, 0x3C, 0x96, 0x0F, 0xE1, 0x47, 0xB2, 0x6D};

// The two constants of TransformaChave.
inline constexpr uint8_t kTransformaK1 = 0x3B;
inline constexpr uint8_t kTransformaK2 = 0xA5;

// Offsets from the base of each byte of the five groups, in this order:
// key-encryption group, check group, G1, G2, G3. All distinct, all above the
// base byte's own position and below 2048 - 255, so every group stays inside
// the file and clear of byte 10 for any base.
inline constexpr uint16_t kDeslocamentos[5][8] = {
    {323, 624, 1165, 821, 1092, 284, 888, 1323},
    {1777, 1391, 450, 1284, 414, 868, 81, 128},
    {477, 473, 1091, 194, 470, 1444, 383, 543},
    {1044, 584, 1513, 1203, 537, 305, 1709, 123},
    {1590, 80, 733, 960, 1252, 1060, 1419, 1418},
};
inline constexpr int kGrupoKek = 0;
inline constexpr int kGrupoVerificacao = 1;
inline constexpr int kGrupoChave1 = 2;

}  // namespace cripto
