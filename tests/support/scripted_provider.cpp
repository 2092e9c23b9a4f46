#include "scripted_provider.h"

#include <thread>

ScriptedProvider::ScriptedProvider(std::string name) : name_(std::move(name)) {}

ScriptedProvider& ScriptedProvider::then(Step step) {
    std::lock_guard lock(mutex_);
    steps_.push_back(std::move(step));
    return *this;
}

void ScriptedProvider::release() {
    {
        std::lock_guard lock(mutex_);
        released_ = true;
    }
    opened_.notify_all();
}

int ScriptedProvider::calls() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(calls_.size());
}

std::vector<ScriptedProvider::Call> ScriptedProvider::callLog() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::expected<BitcoinPrice, PriceError> ScriptedProvider::fetchPrice() const {
    std::unique_lock lock(mutex_);
    const std::size_t index = calls_.size();
    calls_.push_back({Clock::now(), {}});
    const Step step =
        steps_.empty() ? Step{std::unexpected(PriceError::timeout())} : steps_.front();
    if (steps_.size() > 1) {
        steps_.pop_front();
    }
    if (step.held) {
        opened_.wait(lock, [this] { return released_; });
    }
    lock.unlock();
    std::this_thread::sleep_for(step.delay);
    lock.lock();
    calls_[index].end = Clock::now();
    if (!step.answer) {
        return std::unexpected(step.answer.error());
    }
    return BitcoinPrice{*step.answer, BitcoinPrice::Clock::now(), name_};
}
