#pragma once
// "pinpadctl portas": the machine's serial ports, and with --sonda which of
// them have a pinpad that answers. It names no port of its own, so it is
// recognised before the PORTA COMANDO form is read.

namespace pinpadctl {

// true when the command line's first word that is not an option is "portas".
bool PedePortas(int argc, char** argv);

// Runs "portas" with the whole command line; returns the exit status.
int ComandoPortas(int argc, char** argv);

}  // namespace pinpadctl
