#include "log_capture.h"

LogCapture::LogCapture() {
    previous_ = LogSink::exchangeWriter([this](std::string_view line) {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
    });
}

LogCapture::~LogCapture() {
    LogSink::exchangeWriter(std::move(previous_));
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}
