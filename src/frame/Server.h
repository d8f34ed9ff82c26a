#pragma once
// The command-line front end: parses the options, checks the time window,
// seeds the random streams, builds the compiled net and runs the chosen
// mode (stationary, transient or RESTART simulation, token game,
// profiling) to its end.
#include <cstdint>
#include <string>

#include "ImplementedNetClass.h"
#include "time/DateTime.h"

class Simulation;

class Server {
public:
    Server();
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Parses the command line and runs the chosen mode. Invalid command
    // lines end the program with exit status 1.
    void start(int argc, char** argv);

    // The name of the net as derived from the program path: the file name
    // without its extension, or the whole text when it has no directory.
    static std::string netNameFromPath(const std::string& path);

    // True when a run ended without writing "results.log" (reported on
    // standard error); the program then ends with exit status 1.
    bool resultFileFailed() const { return resultFileLost; }
    // True when the token game could not listen or accept its front end;
    // the program then ends with exit status 1.
    bool tokenGameFailed() const { return tokenGameUnserved; }

private:
    // The option values a run needs besides the time window.
    struct RunOptions {
        std::string netname;
        std::string displayAddress;
        bool percentRule = true;
        double epsMax = 0.01;        // fraction, the --epsmax value / 100
        int repeats = 0;             // RESTART
        double thrmin = 0.0;         // RESTART
        double thrmax = 0.0;         // RESTART
        int thrnumber = 0;           // RESTART
    };

    // --- Where the net and the engines are attached ------------------------
    // True while an engine object exists.
    bool engineRunning() const;
    // Builds the net (places, transitions, arcs, measures, int tokens from
    // "marking.xml") and reads the coloured tokens from the marking database.
    void buildNet();
    // Creates the profiling engine and runs it; it is left alive.
    void runProfiling(const RunOptions& run, int fcount, int lcount);
    // Creates the simulation engine for `mode`, initialises it, runs it with
    // `alpha`, shuts it down and destroys it. The engine keeps a reference to
    // `start`, which outlives it.
    void runSimulation(const RunOptions& run, const DateTime& start, const DateTime& stop,
                       int nofSampling, double samplingInterval);
    // Creates the token-game engine, runs it until the front end ends the
    // game, shuts it down and destroys it.
    void runTokenGame(const RunOptions& run, const DateTime& start);
    // ------------------------------------------------------------------------

    double alpha;            // significance level, 1 - confidence/100, set just before the run
    bool startIsModelTime;   // start came from --mstart (seconds), not from --start (date text)
    int mode;                // 0 transient, 1 stationary, 2 RESTART
    std::uint32_t secmax;    // wall-clock limit handed to the engine; 0 unless --secmax is given
    ImplementedNetClass net;  // the generated net, for the whole run
    Simulation* simulation;   // the running engine; null when none
    // The profiling engine keeps a reference to its start time, and is left
    // alive after its run: its start lives here.
    DateTime profilingStart;
    bool resultFileLost = false;
    bool tokenGameUnserved = false;
};
