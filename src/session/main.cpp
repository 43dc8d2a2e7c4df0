#include "session/startup.h"

int main(int argc, char** argv) { return vek::vek_main(argc, argv); }
