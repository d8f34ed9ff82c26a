#pragma once
#include "frame/Logging.h"

// The program driver: prints the arguments and the start time, runs the
// command-line front end and prints the closing summary.
class MainClass {
public:
    int main(int argc, char** argv);
    static Logging* getLog() { return &log; }
private:
    static Logging log;
};
