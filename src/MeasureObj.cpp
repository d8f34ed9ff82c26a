#include "MeasureObj.h"

// Placeholder bodies; the estimators and the result text replace them.
void SampleBlock::push_back(double x) {
    ++n;
    total += x;
    last = x;
}
void SampleBlock::clear() { *this = SampleBlock(); }
void EstimateList::push_back(double v) {
    values.push_back(v);
    ++total;
}
MeasureObj::MeasureObj(const char* measureName, NetClass* owner, bool w)
    : DefaultGM(measureName, "Result", owner), watch(w), name(measureName) {}
MeasureObj::~MeasureObj() {}
void MeasureObj::reset(const DateTime& t) {
    firstTime = lastTime = t.FullDateTime();
    value = 0.0;
}
bool MeasureObj::makeTransientAnalysis(double&, double, int, bool) { return false; }
bool MeasureObj::makeStationaryAnalysis(double&, double, double) { return false; }
bool MeasureObj::measure_reached_precision(unsigned, unsigned, bool) { return false; }
void MeasureObj::writeResult(std::ostream&, std::ostream&, int, const DateTime*, double*) {}
void MeasureObj::prepareSampling(int points) {
    SampleBlocks.assign(points > 0 ? points : 0, SampleBlock());
    mean_transient.assign(points > 0 ? points : 0, 0.0);
    m2.assign(points > 0 ? points : 0, 0.0);
}
void MeasureObj::restartAnalysis(bool) {}
