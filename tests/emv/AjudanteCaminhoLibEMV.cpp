// Loads libemv.so as the library's first call does, from a program that holds
// the library statically: exit status 0 when it was found and loaded, 1 when
// not. Tests start it under chosen paths and argv[0] values.
#include "pinpad/LibEMV.h"

int main() { return CarregaLibEMV() == 0 ? 0 : 1; }
