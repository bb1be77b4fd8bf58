#pragma once
// Texts Kolvar shows on the pinpad's display: two lines of 16 characters,
// exact spacing. kolvar-lote's report lists them from Kolvar's console lines.

inline constexpr char DisplayConfirma[] = "CONFIRMA TESTE  PINPAD?         ";
inline constexpr char DisplayNaoSeAplica[] = " NAO SE APLICA   PRESS QQ TECLA ";
inline constexpr char DisplayProcessando[] = " PROCESSANDO...                 ";
inline constexpr char DisplayNaoOk[] = " M4120 NAO OK    PRESS QQ TECLA ";
// printf format with the name of the cipher, "3DES" (32 characters) or "DES" (31).
#define DISPLAY_COMPATIVEL " M4120 (%s) OK PRESS QQ TECLA "
