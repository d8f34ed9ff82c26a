#pragma once
// The diagnostic log files of the simulator. One instance exists for the
// whole process (MainClass::getLog()). Writers ask the matching
// is...Logging() switch before composing any text, so the switches are
// inline and cost one load each.
#include <fstream>
#include <string>

class Logging {
public:
    Logging();
    ~Logging();
    Logging(const Logging&) = delete;
    Logging& operator=(const Logging&) = delete;

    // Closes every open log, then uses `folder` for the files opened later.
    void setLogFolder(const std::string& folder);
    // Closes every open log, then inserts the decimal `index` between a
    // log's name and ".log" for the files opened later.
    void setLogIndex(int index);

    // Closes every open log, then opens (emptying) "sim", "trans" and
    // "server" in the log folder. A log that cannot be opened is reported
    // on standard output and stays off.
    void open();
    // Closes every open log and switches it off.
    void close();

    bool isSimLogging() const { return simlogging; }
    bool isEventLogging() const { return eventlogging; }
    bool isTransLogging() const { return translogging; }
    bool isTokenLogging() const { return tokenlogging; }
    bool isServerLogging() const { return serverlogging; }
    bool isClientLogging() const { return clientlogging; }

    std::fstream& getSimLog() { return simlog; }
    std::fstream& getEventLog() { return eventlog; }
    std::fstream& getTransLog() { return translog; }
    std::fstream& getTokenLog() { return tokenlog; }
    std::fstream& getServerLog() { return serverlog; }
    std::fstream& getClientLog() { return clientlog; }

    std::string getLogDir() const { return folder; }

private:
    bool openlog(const std::string& name, std::fstream& stream);
    void closelog(const char* name, bool& logging, std::fstream& stream);
    std::string path(const std::string& name) const;

    std::string folder;
    std::string logindex;
    bool simlogging;
    bool eventlogging;
    bool translogging;
    bool tokenlogging;
    bool serverlogging;
    bool clientlogging;
    std::fstream simlog;
    std::fstream eventlog;
    std::fstream translog;
    std::fstream tokenlog;
    std::fstream serverlog;
    std::fstream clientlog;
};
