#pragma once

#include "price/log_sink.h"

#include <mutex>
#include <string>
#include <vector>

// Collects every log line written while it exists, from any thread, instead of sending it
// to stderr and the system log.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    LogSink::Writer previous_;
};
