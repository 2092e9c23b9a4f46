#pragma once

#include "price/log_sink.h"

#include <string>
#include <vector>

// Keeps the log lines of one fuzz input instead of letting them reach stderr and the
// system log: a fuzzer runs millions of inputs, and the lines are checked, not read.
class FuzzLog {
public:
    FuzzLog();
    ~FuzzLog();
    FuzzLog(const FuzzLog&) = delete;
    FuzzLog& operator=(const FuzzLog&) = delete;

    // The lines written since the last call, oldest first.
    std::vector<std::string> take();

private:
    std::vector<std::string> lines_;
    LogSink::Writer previous_;
};
