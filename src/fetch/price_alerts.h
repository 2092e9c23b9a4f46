#pragma once

#include "fetch/settings_file.h"

#include <optional>
#include <vector>

// The levels a user wants to hear about: the price going above one, or below the other.
struct AlertLevels {
    std::optional<double> above;
    std::optional<double> below;
    bool operator==(const AlertLevels&) const = default;
};

inline const QString alertAboveKey = QStringLiteral("BrimwellTicker.AlertAbove");
inline const QString alertBelowKey = QStringLiteral("BrimwellTicker.AlertBelow");

// The levels under "BrimwellTicker.AlertAbove" and "BrimwellTicker.AlertBelow": a finite
// amount of `currency` above zero. Absent or empty is no level; anything else present is
// no level either, said in one log line (once, until the value changes).
AlertLevels readAlertLevels(const SettingsFile& settings,
                            const Currency& currency = Currency::usd());

// When prices cross the levels: the upper one when a price goes from at or below it to
// above it, the lower one from at or above it to below it, each judged against the
// previous known price (the stored one at first, so that a start does not alert again;
// with none at all, a first price beyond a level alerts once). After an alert a level
// is quiet until the price has gone back past it by at least 0.5 %; a known price beyond
// a level when the level is set counts as such an alert, so that a restart above a
// level, or a price that hovers at it, does not alert again.
class PriceAlerts {
public:
    static constexpr double rearmMargin = 0.005;

    struct Alert {
        bool above = true;
        double level = 0;
        bool operator==(const Alert&) const = default;
    };

    explicit PriceAlerts(std::optional<double> previous = std::nullopt);

    // A level that changes is judged afresh against the last known price.
    void setLevels(const AlertLevels& levels);
    AlertLevels levels() const { return {above_.value, below_.value}; }

    // A successful pass's price: the alerts it gives, the upper level's first.
    std::vector<Alert> observe(double usd);

private:
    struct Level {
        std::optional<double> value;
        bool armed = true;
    };
    void arm(Level& level, bool above) const;

    Level above_;
    Level below_;
    std::optional<double> last_;
};
