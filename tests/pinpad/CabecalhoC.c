/* A plain C program against the public headers and the shared library. */
#include <stdio.h>
#include <string.h>

#include "pinpad/pinpad.h"

static int falhas = 0;

static void Confere(int condicao, const char* descricao) {
  if (!condicao) {
    fprintf(stderr, "falhou: %s\n", descricao);
    ++falhas;
  }
}

int main(void) {
  char versao[16] = {0};
  char saida[1025] = {0};
  Confere(ObtemVersaoLib(versao) == 0 && strcmp(versao, "4.0.0.3") == 0, "ObtemVersaoLib");
  Confere(ObtemInformacaoLib(1, versao) == PPCOMP_OK, "ObtemInformacaoLib(1)");
  Confere(ObtemInformacaoLib(2, versao) == PPCOMP_BADPARAM, "ObtemInformacaoLib(2)");
  Confere(PP_ConfigProcess("") == PPCOMP_NOFUNC, "PP_ConfigProcess");
  Confere(PP_GetTLV("", saida) == PPCOMP_NOFUNC, "PP_GetTLV");
  Confere(PP_Display("TESTE") == PPCOMP_NOTOPEN, "PP_Display before PP_Open");
  Confere(PP_GetInfo("00", saida) == PPCOMP_NOTOPEN, "PP_GetInfo before PP_Open");
  Confere(PP_Abort() == PPCOMP_OK, "PP_Abort");
  Confere(PP_TableLoadRecEx("00", "TipoSlot=2") == PPCOMP_OK, "PP_TableLoadRecEx");
  GeraTraceTrnOffline(1); /* a caller's note of an offline approval */
  GeraTraceTrnOffline(0);
  Confere(DefineArquivoConfiguracao("") == PPCOMP_OK, "DefineArquivoConfiguracao");
  Confere(FinalizaLibPinPad() == PPCOMP_OK, "FinalizaLibPinPad");
  if (falhas == 0) printf("1 passed, 0 failed\n");
  return falhas == 0 ? 0 : 1;
}
