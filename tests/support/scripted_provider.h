#pragma once

#include "price/price_provider.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

// A provider whose answers a test writes in advance: each call takes the next step of the
// script (the last one repeats), may wait at a gate until the test opens it, and is
// recorded with its start and end. Safe to call from worker threads.
class ScriptedProvider : public PriceProvider {
public:
    using Clock = std::chrono::steady_clock;

    struct Step {
        std::expected<double, PriceError> answer;
        bool held = false; // wait until release()
        std::chrono::milliseconds delay{0};
    };

    struct Call {
        Clock::time_point start;
        Clock::time_point end;
    };

    explicit ScriptedProvider(std::string name);

    ScriptedProvider& then(Step step);
    ScriptedProvider& thenAnswer(double usd) { return then({usd}); }
    ScriptedProvider& thenFail(PriceError error) {
        return then({std::unexpected(std::move(error))});
    }

    // Lets every held call go on, now and later.
    void release();

    int calls() const;
    std::vector<Call> callLog() const;

    const std::string& name() const override { return name_; }
    std::expected<BitcoinPrice, PriceError> fetchPrice() const override;

private:
    std::string name_;
    mutable std::mutex mutex_;
    mutable std::condition_variable opened_;
    mutable std::deque<Step> steps_;
    mutable std::vector<Call> calls_;
    bool released_ = false;
};
