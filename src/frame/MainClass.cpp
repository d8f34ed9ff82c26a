#include "frame/MainClass.h"

#include <cstdlib>
#include <iostream>

#include "engine/StopSignal.h"
#include "frame/Server.h"
#include "net/Token.h"
#include "net/Transition.h"
#include "time/DateTime.h"

int MainClass::main(int argc, char** argv) {
    StopSignal::install();
    std::cout << "MainClass::main() beginning..." << std::endl;
    std::cout << "Simulation called with arguments" << std::endl;
    for (int i = 0; i < argc; ++i) {
        if (argv[i] != nullptr) std::cout << argv[i];
        std::cout << ' ';
    }
    std::cout << std::endl;

    const DateTime t0 = DateTime::Today();
    std::cout << "starting simulation at " << t0 << std::endl;

    Server* server = new Server();
    server->start(argc, argv);
    const bool failed = server->resultFileFailed() || server->tokenGameFailed();
    delete server;

    const DateTime t1 = DateTime::Today();
    const int secs = static_cast<int>(t1 - t0);
    const int days = secs / 86400;
    const int hours = secs / 3600 - days * 24;
    const int minutes = secs / 60 - days * 1440 - hours * 60;
    std::cout << "total simulation time: " << secs << " seconds (" << days << " days, " << hours
              << " hours, " << minutes << " minutes, " << secs % 60 << " seconds)" << std::endl;

    std::cout << "Total # tokens allocated: " << Token::tokenCounter << std::endl;
    std::cout << "Max # tokens at the same time: " << Token::maxConcTokenCounter << std::endl;
    std::cout << "Global fire count: " << Transition::globalFireCount << std::endl;
    // A run stopped by a signal ends as the signal's default action would
    // be reported by a shell; a lost result file and a token game without
    // its front end are failures.
    if (StopSignal::received() != 0) std::exit(128 + StopSignal::received());
    if (failed) std::exit(1);
    return 0;
}
