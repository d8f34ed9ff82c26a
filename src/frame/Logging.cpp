#include "frame/Logging.h"

#include <iostream>

Logging::Logging()
    : folder("."),
      simlogging(false),
      eventlogging(false),
      translogging(false),
      tokenlogging(false),
      serverlogging(false),
      clientlogging(false) {}

Logging::~Logging() { close(); }

void Logging::setLogFolder(const std::string& dir) {
    close();
    folder = dir;
}

void Logging::setLogIndex(int index) {
    close();
    logindex = std::to_string(index);
}

void Logging::open() {
    close();
    // The event, token and client logs have no file of their own in this
    // program; their switches stay off.
    simlogging = openlog("sim", simlog);
    translogging = openlog("trans", translog);
    serverlogging = openlog("server", serverlog);
}

void Logging::closelog(bool& logging, std::fstream& stream) {
    if (logging && stream.is_open()) {
        stream.close();
        logging = false;
    }
}

void Logging::close() {
    closelog(eventlogging, eventlog);
    closelog(simlogging, simlog);
    closelog(translogging, translog);
    closelog(tokenlogging, tokenlog);
    closelog(serverlogging, serverlog);
    closelog(clientlogging, clientlog);
}

bool Logging::openlog(const std::string& name, std::fstream& stream) {
    const std::string path = folder + "/" + name + logindex + ".log";
    stream.clear();
    stream.open(path, std::ios::in | std::ios::out | std::ios::trunc);
    if (!stream.is_open()) {
        std::cout << path << "*********** " << name << ": could not open!!" << std::endl;
        return false;
    }
    return true;
}
