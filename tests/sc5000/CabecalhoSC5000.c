/* The SC5000 header compiles as plain C and its functions link from the shared
 * library. With nothing pending, the abort does nothing and succeeds. */
#include <stdio.h>

#include "pinpad/sc5000.h"

int main(void) {
  char trilha1[PP_SC5000_TAM_TRILHA], trilha2[PP_SC5000_TAM_TRILHA];
  if (PP_SC5000_GetCardEx(NULL, 0, trilha2, sizeof trilha2) != PPCOMP_BADPARAM) return 1;
  (void)trilha1;
  SC5000FechaPorta();
  if (PP_SC5000_Abort() != PPCOMP_OK) return 2;
  puts("ok");
  return 0;
}
