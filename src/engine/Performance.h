#pragma once
#include "engine/Simulation.h"

// Profiling mode: fires a fixed number of events a fixed number of times and
// prints the wall-clock time of each repetition.
class Performance : public Simulation {
public:
    Performance(NetClass* net, const std::string& netname, const std::string& displayaddress, const DateTime& start,
                long fcount, long lcount);
    ~Performance() override;
    void run();

private:
    int fcount;
    int lcount;
};
