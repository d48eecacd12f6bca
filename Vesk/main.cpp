// Vesk: a terminal emulator. The entry point only; everything else is VeskApp's.
#include "Vesk/VeskApp.h"

int main(int argc, char** argv)
{
    return vesk::VeskApp::main(argc, argv);
}
