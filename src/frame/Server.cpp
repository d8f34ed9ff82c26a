#include "frame/Server.h"

#include <cstdlib>
#include <ctime>
#include <iostream>
#include <istream>
#include <limits>
#include <sstream>
#include <type_traits>
#include <vector>

#include <tclap/CmdLine.h>

#include "engine/Performance.h"
#include "engine/Simulation.h"
#include "engine/TokenGame.h"
#include "frame/MainClass.h"
#include "random/RandomWrapper.h"
#include "time/DateTime.h"

namespace {

// The value of a bool option. The stream extraction of a plain bool only
// understands "1" and "0", while the options advertise "true" and "false";
// this type accepts both spellings.
struct OnOff {
    bool value = false;
    OnOff() = default;
    OnOff(bool v) : value(v) {}
};

std::istream& operator>>(std::istream& in, OnOff& flag) {
    std::string word;
    if (in >> word) {
        if (word == "true" || word == "1") {
            flag.value = true;
        } else if (word == "false" || word == "0") {
            flag.value = false;
        } else {
            in.setstate(std::ios::failbit);
        }
    }
    return in;
}

// The value of a numeric option, read strictly: the whole text must be one
// number of the type, so an empty text, trailing characters, a value out of
// the type's range and a minus sign on an unsigned option are parse errors.
// (The library's own reading accepts an empty text as the default and reads
// "-1" as 4294967295 into an unsigned type.)
template <class T>
struct Number {
    T value{};
    Number() = default;
    Number(T v) : value(v) {}

    Number& operator=(const std::string& text) {
        std::istringstream in(text);
        T v{};
        const bool signOnUnsigned = std::is_unsigned<T>::value && text.find('-') != std::string::npos;
        if (text.empty() || signOnUnsigned || !(in >> v) || !(in >> std::ws).eof())
            throw TCLAP::ArgParseException("Couldn't read argument value from string '" + text + "'");
        value = v;
        return *this;
    }
};

// Reports a failed check in the same form as the library's parse errors and
// ends the program with exit status 1.
[[noreturn]] void fail(TCLAP::CmdLine& cmd, const std::string& message) {
    TCLAP::ArgException e(message, "undefined", "Generic ArgException");
    int status = 1;
    try {
        cmd.getOutput()->failure(cmd, e);
    } catch (TCLAP::ExitException& ee) {
        status = ee.getExitStatus();
    }
    std::exit(status);
}

} // namespace

// The library hands the option's text to Number::operator= as a whole, so
// that the empty text is read too.
namespace TCLAP {
template <class T>
struct ArgTraits<Number<T>> {
    typedef StringLike ValueCategory;
};
} // namespace TCLAP

namespace {
// The most sampling points a transient run may ask for: each point costs
// every measure about a hundred bytes for the whole run.
const std::uint32_t kMaxSamplingPoints = 1000000;
// The confidence levels the quantile table has columns for.
const double kMinConfidence = 80.0;
const double kMaxConfidence = 99.8;
} // namespace

Server::Server() : alpha(0.0), startIsModelTime(false), mode(0), secmax(0), simulation(nullptr) {}

Server::~Server() {}

std::string Server::netNameFromPath(const std::string& path) {
    const std::string::size_type backslash = path.rfind('\\');
    const std::string::size_type slash = path.rfind('/');
    std::string::size_type p = std::string::npos;
    if (backslash != std::string::npos) p = backslash;
    if (slash != std::string::npos && (p == std::string::npos || slash > p)) p = slash;
    if (p == std::string::npos) return path;
    std::string::size_type d = path.rfind('.');
    if (d == std::string::npos || d < p) d = path.size();
    return path.substr(p + 1, d - (p + 1));
}

void Server::start(int argc, char** argv) {
    if (engineRunning()) {
        std::cout << "Simulation already running" << std::endl;
        return;
    }

    RunOptions run;
    run.netname = netNameFromPath(argc > 0 && argv[0] != nullptr ? argv[0] : "");
    std::cout << "netname: " << run.netname << std::endl;

    TCLAP::CmdLine cmd("RIRA Simulation", ' ', "none");

    TCLAP::SwitchArg tokengameSwitch("t", "tokengame", "Tokengame mode");
    TCLAP::SwitchArg statSwitch("S", "stat_simulation", "Stationary Simulation mode");
    TCLAP::SwitchArg transSwitch("T", "trans_simulation", "Transient Simulation mode");
    TCLAP::SwitchArg restartSwitch("R", "restart_simulation", "RESTART Simulation mode");
    TCLAP::SwitchArg perfSwitch("p", "performance", "Profiling mode");
    std::vector<TCLAP::Arg*> modes{&tokengameSwitch, &statSwitch, &transSwitch, &restartSwitch,
                                   &perfSwitch};
    cmd.xorAdd(modes);

    TCLAP::ValueArg<std::string> resportArg("", "resport", "Result port", false, "NULL",
                                            "NULL or xxx.xxx.xxx.xxx (IP)", cmd);
    TCLAP::ValueArg<std::string> startArg("", "start", "Start time", false, "",
                                          "hh:mm:ss@mm/dd/yyyy", cmd);
    TCLAP::ValueArg<std::string> stopArg("", "stop", "Stop time", false, "",
                                         "hh:mm:ss@mm/dd/yyyy", cmd);
    TCLAP::ValueArg<Number<double>> mstartArg("", "mstart", "Start time", false, 0.0, "Value >= 0", cmd);
    TCLAP::ValueArg<Number<double>> mstopArg("", "mstop", "Stop time", false, 0.0,
                                     "Value >  Start time >= 0", cmd);
    TCLAP::ValueArg<Number<std::int32_t>> fcountArg("", "fcount",
                                            "Number of transitions to fire before stop.", false, 0,
                                            "integer>0", cmd);
    TCLAP::ValueArg<Number<std::int32_t>> lcountArg("", "lcount",
                                            "How many times to repeat each profiling run.", false,
                                            0, "integer>0", cmd);
    TCLAP::SwitchArg logSwitch("l", "log", "Enable logging", cmd, false);
    TCLAP::ValueArg<std::string> logdirArg("", "logdir", "Directory for logging output.", false,
                                           "", "Path to directory", cmd);
    TCLAP::ValueArg<Number<std::uint32_t>> seedArg("", "seed", "Random seed", false,
                                           static_cast<std::uint32_t>(std::time(nullptr)),
                                           "integer", cmd);
    TCLAP::ValueArg<Number<double>> confidenceArg("", "confidence", "Confidence Interval.", false, 80.0,
                                          "80.0 <= double <= 99.8", cmd);
    TCLAP::ValueArg<Number<double>> epsmaxArg("", "epsmax", "Max. relative fault.", false, 1.0,
                                      "1.0 < double < 100.0", cmd);
    TCLAP::ValueArg<Number<std::uint32_t>> secmaxArg("", "secmax", "Max. runtime in seconds.", false, 1,
                                             "integer>0", cmd);
    TCLAP::ValueArg<Number<std::uint32_t>> nofsamplingArg("", "nofsampling", "Number of sampling points.",
                                                  false, 1, "integer>0", cmd);
    TCLAP::ValueArg<OnOff> percentageArg("", "percentage", "Per cent rule on or off.", false,
                                         OnOff(true), "true-on or false-off", cmd);
    // Accepted for the front end's sake; the kernel has no use for it.
    TCLAP::ValueArg<OnOff> inittransArg("", "inittrans", "Ignore InitTrans on or off.", false,
                                        OnOff(true), "true-on or false-off", cmd);
    TCLAP::ValueArg<Number<double>> thrminArg("", "thrmin", "Thresholds min value", false, 0.0,
                                      "1.0 < double < 100.0", cmd);
    TCLAP::ValueArg<Number<double>> thrmaxArg("", "thrmax", "Thresholds max value", false, 0.0,
                                      "1.0 < double < 100.0", cmd);
    TCLAP::ValueArg<Number<int>> thrnumberArg("", "thrnumber", "Thresholds number", false, 0, "integer>0",
                                      cmd);
    TCLAP::ValueArg<Number<int>> repeatsArg("", "repeats", "Number of RESTART repeats", false, 0,
                                    "integer>0", cmd);

    // Parse errors, --help and --version are reported by the library, which
    // then ends the program (status 1 for errors).
    cmd.parse(argc, argv);

    // Logging.
    if (logSwitch.getValue()) {
        const std::string folder = logdirArg.getValue().empty() ? "Log" : logdirArg.getValue();
        std::cout << "logging on (folder: " << folder << ")" << std::endl;
        MainClass::getLog()->setLogFolder(folder);
        MainClass::getLog()->open();
    } else {
        std::cout << "logging off" << std::endl;
    }

    // Seed: the 32 bits are spread over three words, used for both halves
    // of the generator's state.
    const std::uint32_t s = seedArg.getValue().value;
    std::cout << "Random seed set to " << s << std::endl;
    unsigned long seed[6];
    seed[0] = s >> 22;
    seed[1] = (s >> 12) & 0x3FF;
    seed[2] = s & 0xFFF;
    seed[3] = seed[0];
    seed[4] = seed[1];
    seed[5] = seed[2];
    for (int i = 0; i < 6; ++i) {
        std::cout << "Setting individual seed number " << i << " to " << seed[i] << std::endl;
    }
    const bool accepted = RandomWrapper::SetPackageSeed(seed);
    std::cout << "Was the seed accepted? " << (accepted ? "true" : "false") << std::endl;

    run.displayAddress = resportArg.getValue();
    std::cout << "Result port set to " << run.displayAddress << std::endl;

    run.percentRule = percentageArg.getValue().value;
    run.epsMax = epsmaxArg.getValue().value / 100;
    run.repeats = repeatsArg.getValue().value;
    run.thrmin = thrminArg.getValue().value;
    run.thrmax = thrmaxArg.getValue().value;
    run.thrnumber = thrnumberArg.getValue().value;

    if (perfSwitch.getValue()) {
        if (!fcountArg.isSet()) fail(cmd, "Missing argument firecount.");
        if (!lcountArg.isSet()) fail(cmd, "Missing argument loopcount.");
        buildNet();
        std::cout << "Running in profiling mode " << fcountArg.getValue().value << "*"
                  << lcountArg.getValue().value << std::endl;
        runProfiling(run, fcountArg.getValue().value, lcountArg.getValue().value);
        // The log stays open (it is closed when the process ends).
        return;
    }

    // Every other mode needs a start time; a date text wins over seconds.
    DateTime start;
    if (startArg.isSet()) {
        if (!DateTime::Check(startArg.getValue())) fail(cmd, "Format of start time invalid.");
        start = DateTime(startArg.getValue());
        startIsModelTime = false;
    } else if (mstartArg.isSet()) {
        if (!(mstartArg.getValue().value >= 0.0)) fail(cmd, "Start time < 0.0");
        start = DateTime(mstartArg.getValue().value);
        startIsModelTime = true;
    } else {
        fail(cmd, "Missing argument starttime.");
    }

    if (statSwitch.getValue() || transSwitch.getValue() || restartSwitch.getValue()) {
        mode = statSwitch.getValue() ? 1 : (transSwitch.getValue() ? 0 : 2);

        DateTime stop;
        if (stopArg.isSet()) {
            // A date-text stop is compared with the start only by the
            // transient mode, below.
            if (!DateTime::Check(stopArg.getValue())) fail(cmd, "Format of stoptime invalid.");
            stop = DateTime(stopArg.getValue());
        } else if (mstopArg.isSet()) {
            stop = DateTime(mstopArg.getValue().value);
            if ((mode == 1 && stop < start) || (mode == 0 && stop <= start)) {
                fail(cmd, "Stop time < Start time.");
            }
        } else {
            fail(cmd, "Missing argument stop.");
        }

        if (secmaxArg.isSet()) {
            secmax = secmaxArg.getValue().value == 0 ? std::numeric_limits<std::uint32_t>::max()
                                               : secmaxArg.getValue().value;
        }

        // A transient run keeps one estimate per sampling point; without any
        // point it would have nowhere to put them.
        if (mode == 0 && nofsamplingArg.getValue().value == 0) {
            fail(cmd, "Number of sampling points must be > 0.");
        }
        if (mode == 0 && nofsamplingArg.getValue().value > kMaxSamplingPoints) {
            fail(cmd, "Number of sampling points must be <= " + std::to_string(kMaxSamplingPoints) + ".");
        }
        // Outside the table every interval would be zero wide, and every
        // measure precise at once.
        const double confidence = confidenceArg.getValue().value;
        if (!(confidence >= kMinConfidence && confidence <= kMaxConfidence)) {
            fail(cmd, "Confidence must be >= 80.0 and <= 99.8.");
        }

        buildNet();
        std::cout << "Running simulation from " << start << " to " << stop
                  << " :: displayaddress=" << run.displayAddress << std::endl;

        int nofSampling = 1;
        double samplingInterval = 0.0;
        if (mode == 0) {
            nofSampling = static_cast<int>(nofsamplingArg.getValue().value);
            const double d = stop.FullDateTime() - start.FullDateTime();
            if (!(d > 0)) {
                std::cout << "Stop time of simulation must be after the start time." << std::endl;
                std::exit(1);
            }
            samplingInterval = d / 100;
        }

        alpha = 1 - confidence / 100;
        runSimulation(run, start, stop, nofSampling, samplingInterval);
    } else {
        // Token game: the stop-time options are not read.
        buildNet();
        std::cout << "Running tokengame from " << start << " :: displayaddress="
                  << run.displayAddress << std::endl;
        runTokenGame(run, start);
    }

    if (logSwitch.getValue()) MainClass::getLog()->close();
}

// ===========================================================================
// Net and engine attachment.
// ===========================================================================

bool Server::engineRunning() const { return simulation != nullptr; }

void Server::buildNet() {
    net.buildNet();
    net.createTokens();
}

void Server::runProfiling(const RunOptions& run, int fcount, int lcount) {
    Performance* profiling = new Performance(&net, run.netname, run.displayAddress, profilingStart, fcount, lcount);
    simulation = profiling;
    profiling->run();
    // Released like the other engines, so that the front end receives the
    // end of the stream ("EXIT;0") and the connection is closed in order.
    delete profiling;
    simulation = nullptr;
}

void Server::runSimulation(const RunOptions& run, const DateTime& start, const DateTime& stop,
                           int nofSampling, double samplingInterval) {
    simulation = new Simulation(&net, run.netname, run.displayAddress, start, stop, nofSampling, mode,
                                startIsModelTime, run.percentRule, run.epsMax, samplingInterval, secmax);
    simulation->init();
    switch (mode) {
        case 0: simulation->run_transient(alpha); break;
        case 1: simulation->run_stationary(alpha); break;
        default: simulation->run_restart(alpha, run.repeats, run.thrmin, run.thrmax, run.thrnumber); break;
    }
    simulation->shutdown();
    resultFileLost = !simulation->resultFileWritten();
    delete simulation;
    simulation = nullptr;
}

void Server::runTokenGame(const RunOptions& run, const DateTime& start) {
    TokenGame* game = new TokenGame(&net, run.netname, run.displayAddress, start);
    simulation = game;
    game->run();
    game->shutdown();
    tokenGameUnserved = game->connectionFailed();
    delete game;
    simulation = nullptr;
}
