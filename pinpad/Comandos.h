#pragma once
// The library's own pinpad command set: one PP_Comp_* function per operation,
// each turning the caller's arguments into one command payload on the link.
// Called through TabelaFuncoes (internal mode), never by applications directly.
#include <cstdint>

#include "state/EstadoApi.h"

int32_t PP_Comp_Open(const char* porta);
int32_t PP_Comp_Close(const char* mensagem);
int32_t PP_Comp_Abort();
int32_t PP_Comp_GetInfo(const char* indice, char* saida);
int32_t PP_Comp_Display(const char* mensagem);
int32_t PP_Comp_DisplayEx(const char* entrada);
int32_t PP_Comp_StartGetKey();
int32_t PP_Comp_GetKey();
int32_t PP_Comp_StartGetPIN(const char* entrada);
int32_t PP_Comp_GetPIN(char* saida, char* mensagem);
int32_t PP_Comp_StartCheckEvent(const char* entrada);
int32_t PP_Comp_CheckEvent(char* saida);
int32_t PP_Comp_EncryptBuffer(const char* entrada, char* saida);
int32_t PP_Comp_GetDUKPT(const char* entrada, char* saida);
int32_t PP_Comp_StartRemoveCard(const char* mensagem);
int32_t PP_Comp_RemoveCard(char* mensagem);
int32_t PP_Comp_StartGetCard(const char* primeira, const char* entrada);
int32_t PP_Comp_GetCard(char* saida, char* segunda, char* mensagem);
int32_t PP_Comp_ResumeGetCard();
int32_t PP_Comp_StartGoOnChip(const char* entrada, const char* tags, const char* tagsOpt);
int32_t PP_Comp_GoOnChip(char* saida, char* mensagem);
int32_t PP_Comp_FinishChip(const char* entrada, const char* tags, char* saida);
int32_t PP_Comp_StartGenericCmd(const char* entrada);
int32_t PP_Comp_GenericCmd(char* saida, char* mensagem);
int32_t PP_Comp_TableLoadInit(const char* entrada);
int32_t PP_Comp_TableLoadRec(const char* entrada);
int32_t PP_Comp_TableLoadEnd();
int32_t PP_Comp_GetTimeStamp(const char* entrada, char* saida);
int32_t PP_Comp_DefineWKPAN(const char* entrada, char* saida);
int32_t PP_Comp_ChipDirect(const char* entrada, char* saida);
int32_t PP_Comp_ChangeParameter(const char* entrada);
int32_t PP_Comp_ConfigProcess(const char* entrada);

// Internal mode: every slot holds its PP_Comp_* function, except the chip
// reading (StartGetChip, GetChip, ResumeGetChip) and GetTLV, which only the
// EMV library offers.
inline constexpr TabelaFuncoesPP TabelaComandosInternos = {
    PP_Comp_Open,          PP_Comp_Close,           PP_Comp_Abort,          PP_Comp_GetInfo,
    PP_Comp_Display,       PP_Comp_DisplayEx,       PP_Comp_StartGetKey,    PP_Comp_GetKey,
    PP_Comp_StartGetPIN,   PP_Comp_GetPIN,          PP_Comp_StartCheckEvent, PP_Comp_CheckEvent,
    PP_Comp_EncryptBuffer, PP_Comp_GetDUKPT,        PP_Comp_StartRemoveCard, PP_Comp_RemoveCard,
    nullptr,               nullptr,                 nullptr,                PP_Comp_StartGetCard,
    PP_Comp_GetCard,       PP_Comp_ResumeGetCard,   PP_Comp_StartGoOnChip,  PP_Comp_GoOnChip,
    PP_Comp_FinishChip,    PP_Comp_StartGenericCmd, PP_Comp_GenericCmd,     PP_Comp_TableLoadInit,
    PP_Comp_TableLoadRec,  PP_Comp_TableLoadEnd,    PP_Comp_GetTimeStamp,   PP_Comp_DefineWKPAN,
    PP_Comp_ChipDirect,    PP_Comp_ChangeParameter, PP_Comp_ConfigProcess,  nullptr,
};

// Fills `largura` bytes of buffer from `posicao` (1-based) with |preenche|, then
// copies min(tamanho, largura) bytes of texto: left-aligned when preenche is
// negative, right-aligned when positive. A null texto is empty.
void FormataCampo(char* buffer, int32_t posicao, int32_t largura, int32_t preenche, const char* texto,
                  int32_t tamanho);
// The same with the length of a zero-terminated texto.
void FormataCampoTexto(char* buffer, int32_t posicao, int32_t largura, int32_t preenche, const char* texto);

// Copies a notification into the caller's message buffer: its first 32 bytes
// become blanks and at most 32 bytes of the text go over their start (no
// terminator). A null message buffer is skipped.
void CopiaNotificacao(char* mensagem, const char* texto, int32_t tamanho);

// Cancels the pending Start command on the serial link: CAN, then up to 2 s for
// EOT, at most 3 times. Nothing to do after a blocking command.
void AbortaComandoSerial();
