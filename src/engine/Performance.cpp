#include "engine/Performance.h"

#include <iostream>

Performance::Performance(NetClass* net, const std::string& netname, const std::string& displayaddress,
                         const DateTime& start, long fireCount, long loopCount)
    : Simulation(net, netname, displayaddress, start, DateTime(), 0, 1, false, true, 5.0, 50.0, 0),
      fcount(static_cast<int>(fireCount)),
      lcount(static_cast<int>(loopCount)) {}

Performance::~Performance() {}

void Performance::run() {
    std::cout << "firing " << lcount << " * " << fcount << " times" << std::endl;
    init();
    // Profiling has no wall-clock limit; only a stop signal ends it early.
    noRunTimeLimit = true;
    EventList events;
    bool dead = false;
    bool stopped = false;
    for (int i = 0; i < lcount && !stopped; ++i) {
        const DateTime t0 = DateTime::Today();
        for (int n = 0; n < fcount && !dead; ++n) {
            if (mustStopNow()) {
                stopped = true;
                break;
            }
            Binding* b = nextEvent(events);
            if (b == nullptr) {
                dead = true;
                break;
            }
            updateSimulationTime(b->getTime());
            updateAllMeasures(b, true, false);
            executeEvent(b);
        }
        const DateTime t1 = DateTime::Today();
        std::cout << i << ". loop in " << DateTime(t1 - t0) << std::endl;
    }
    if (stopped) std::cout << stoppedBySignalLine() << std::endl;
}
