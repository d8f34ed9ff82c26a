#include "frame/Logging.h"

#include <cerrno>
#include <cstring>
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

// A log whose writes failed (a full disk, a file size limit) is incomplete:
// that is reported on standard error with the file's name, once, when the
// log is closed.
void Logging::closelog(const char* name, bool& logging, std::fstream& stream) {
    if (logging && stream.is_open()) {
        errno = 0;
        stream.flush();
        const int error = errno;
        const bool failed = !stream.good();
        stream.close();
        if (failed || stream.fail()) {
            std::cerr << "Could not write the log file \"" << path(name) << "\""
                      << (error != 0 ? std::string(" (") + std::strerror(error) + ")" : std::string())
                      << "; it is incomplete." << std::endl;
        }
        logging = false;
    }
}

void Logging::close() {
    closelog("event", eventlogging, eventlog);
    closelog("sim", simlogging, simlog);
    closelog("trans", translogging, translog);
    closelog("token", tokenlogging, tokenlog);
    closelog("server", serverlogging, serverlog);
    closelog("client", clientlogging, clientlog);
}

std::string Logging::path(const std::string& name) const { return folder + "/" + name + logindex + ".log"; }

bool Logging::openlog(const std::string& name, std::fstream& stream) {
    const std::string file = path(name);
    stream.clear();
    stream.open(file, std::ios::in | std::ios::out | std::ios::trunc);
    if (!stream.is_open()) {
        std::cout << file << "*********** " << name << ": could not open!!" << std::endl;
        return false;
    }
    return true;
}
