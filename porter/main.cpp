// Porter.exe: one session action per run; see portercore.h.
#include "portercore.h"

int main(int argc, char** argv) { return porter::PorterMain(argc, argv); }
