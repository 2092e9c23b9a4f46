#include "fuzz_log.h"

#include <utility>

FuzzLog::FuzzLog()
    : previous_(
          LogSink::exchangeWriter([this](std::string_view line) { lines_.emplace_back(line); })) {}

FuzzLog::~FuzzLog() {
    LogSink::exchangeWriter(std::move(previous_));
}

std::vector<std::string> FuzzLog::take() {
    return std::exchange(lines_, {});
}
