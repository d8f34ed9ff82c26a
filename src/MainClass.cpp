#include "MainClass.h"

int MainClass::main(int, char**) { return 0; }
