#include "frame/MainClass.h"

// The one log of the process; it lives in the kernel because every layer
// writes to it, while MainClass::main belongs to the program frame.
Logging MainClass::log;
