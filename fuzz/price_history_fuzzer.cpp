// Any bytes as the history file: what is read is in time order with usable prices, and a
// new point keeps every point of the last week (but those a compaction thins out, less
// than a minute after a point it keeps).

#include "check.h"
#include "fetch/price_history.h"

#include <algorithm>
#include <chrono>
#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using Clock = PriceHistory::Clock;
    const ScratchFile file("history", {reinterpret_cast<const char*>(data), size});
    PriceHistory history(QString::fromStdString(file.path));
    const auto before = history.read(Clock::time_point::min(), Clock::time_point::max());
    for (std::size_t i = 0; i < before.size(); ++i) {
        require(std::isfinite(before[i].usd) && before[i].usd > 0,
                "a point read has a price that is not finite and positive");
        require(i == 0 || before[i - 1].time <= before[i].time, "the points read are not in order");
    }

    // An hour after the newest point, so that the new one is never refused as too close.
    const Clock::time_point now = before.empty() ? Clock::time_point(std::chrono::hours(473'000))
                                                 : before.back().time + std::chrono::hours(1);
    const PriceHistory::Point added{now, 67250.5};
    history.append({added.usd, added.time, "coinbase"}, now);
    const auto after = history.read(Clock::time_point::min(), now);
    for (const auto& point : before) {
        const bool kept = std::any_of(after.begin(), after.end(), [&](const auto& other) {
            return other == point ||
                   (other.time <= point.time && point.time - other.time < PriceHistory::spacing);
        });
        require(point.time < now - PriceHistory::kept || kept,
                "an append lost a point of the last week");
    }
    require(now.time_since_epoch() > PriceHistory::latest ||
                std::find(after.begin(), after.end(), added) != after.end(),
            "an append lost the new point");
    return 0;
}
