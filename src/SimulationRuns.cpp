#include "Simulation.h"

void Simulation::run_transient(double&) {}
void Simulation::run_stationary(double&) {}
void Simulation::run_restart(double&, int, double, double, int) {}
void Simulation::shutdown() {}
void Simulation::updateAllMeasures(Binding*, bool, bool) {}
bool Simulation::updateSamplingPoints(bool) { return false; }
