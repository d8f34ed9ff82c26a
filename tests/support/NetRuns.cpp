#include "NetRuns.h"

#include <atomic>
#include <regex>
#include <sstream>
#include <thread>

namespace testsupport {

std::string intMarking(const std::vector<std::pair<std::string, int>>& tokens) {
    std::string xml = "<marking>\n";
    for (const auto& t : tokens)
        for (int i = 0; i < t.second; ++i) xml += "  <token place=\"" + t.first + "\" value=\"0\"/>\n";
    return xml + "</marking>\n";
}

NetRun runNet(const std::string& program, const std::string& marking, const std::vector<std::string>& args) {
    ScratchDir dir("runs");
    return runNetProgram(dir, program, marking, args);
}

NetRun runNetProgram(const ScratchDir& dir, const std::string& program, const std::string& marking,
                     const std::vector<std::string>& args) {
    dir.write("marking.xml", marking);
    dir.write("odbc.ini", "");
    NetRun run;
    run.result = runProgram(program, args, dir.path(), "",
                            {{"ODBCINI", dir.file("odbc.ini")}, {"ODBCSYSINI", dir.path()}});
    run.resultsLog = dir.read("results.log");
    return run;
}

std::vector<NetRun> runNetSeeds(const std::string& program, const std::string& marking,
                                const std::vector<std::string>& args, const std::vector<unsigned>& seeds,
                                unsigned threads) {
    std::vector<NetRun> runs(seeds.size());
    std::atomic<std::size_t> next{0};
    auto work = [&]() {
        for (std::size_t i = next++; i < seeds.size(); i = next++) {
            std::vector<std::string> withSeed = args;
            withSeed.push_back("--seed");
            withSeed.push_back(std::to_string(seeds[i]));
            runs[i] = runNet(program, marking, withSeed);
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) pool.emplace_back(work);
    for (std::thread& t : pool) t.join();
    return runs;
}

std::vector<Interval> intervals(const std::string& log, const std::string& measure, bool transient) {
    std::vector<Interval> rows;
    std::size_t at = log.find("Measure: " + measure + "\n");
    if (at == std::string::npos) return rows;
    std::size_t end = log.find("Measure: ", at + 1);
    std::istringstream block(log.substr(at, end == std::string::npos ? std::string::npos : end - at));
    std::string line;
    const std::regex stationary(R"(^\t(\S+)\t(\S+)\t\[(\S+);(\S+)\]\t(\S+)$)");
    const std::regex pointRow(R"(^\t(\S+)\t(\S+)\t(\S+)\t\[(\S+);(\S+)\]\t(\S+)$)");
    std::smatch m;
    while (std::getline(block, line)) {
        Interval iv;
        if (transient && std::regex_match(line, m, pointRow)) {
            iv.time = std::stod(m[1]);
            iv.mean = std::stod(m[2]);
            iv.low = std::stod(m[4]);
            iv.high = std::stod(m[5]);
            rows.push_back(iv);
        } else if (!transient && std::regex_match(line, m, stationary)) {
            iv.mean = std::stod(m[1]);
            iv.low = std::stod(m[3]);
            iv.high = std::stod(m[4]);
            rows.push_back(iv);
        }
    }
    return rows;
}

}  // namespace testsupport
