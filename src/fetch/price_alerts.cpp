#include "price_alerts.h"

#include "price/log_sink.h"

#include <cmath>

namespace {

std::optional<double> level(const std::optional<SettingsFile::Entry>& entry, const QString& key,
                            const Currency& currency, QString& said) {
    if (!entry || (entry->value.typeId() == QMetaType::QString &&
                   entry->value.toString().trimmed().isEmpty())) {
        said.clear();
        return std::nullopt;
    }
    bool ok = false;
    const double usd =
        entry->value.typeId() == QMetaType::QString ? entry->value.toString().toDouble(&ok) : 0;
    if (ok && std::isfinite(usd) && usd > 0) {
        said.clear();
        return usd;
    }
    // As the user wrote it: "70,000" reads as a list of two texts.
    if (entry->text != said) {
        said = entry->text;
        LogSink::write("[ticker] " + key.toStdString() + " '" + entry->text.toStdString() +
                       "' is not a price in " + std::string(currency.name) + "; no alert for it");
    }
    return std::nullopt;
}

} // namespace

AlertLevels readAlertLevels(const SettingsFile& settings, const Currency& currency) {
    static QString saidAbove;
    static QString saidBelow;
    const auto entries = settings.entries({alertAboveKey, alertBelowKey});
    return {level(entries[0], alertAboveKey, currency, saidAbove),
            level(entries[1], alertBelowKey, currency, saidBelow)};
}

PriceAlerts::PriceAlerts(std::optional<double> previous) : last_(previous) {}

void PriceAlerts::arm(Level& level, bool above) const {
    level.armed =
        !last_ || !level.value || (above ? *last_ <= *level.value : *last_ >= *level.value);
}

void PriceAlerts::setLevels(const AlertLevels& levels) {
    if (levels.above != above_.value) {
        above_.value = levels.above;
        arm(above_, true);
    }
    if (levels.below != below_.value) {
        below_.value = levels.below;
        arm(below_, false);
    }
}

std::vector<PriceAlerts::Alert> PriceAlerts::observe(double usd) {
    std::vector<Alert> alerts;
    if (above_.value) {
        if (above_.armed && usd > *above_.value) {
            alerts.push_back({true, *above_.value});
            above_.armed = false;
        } else if (!above_.armed && usd <= *above_.value * (1 - rearmMargin)) {
            above_.armed = true;
        }
    }
    if (below_.value) {
        if (below_.armed && usd < *below_.value) {
            alerts.push_back({false, *below_.value});
            below_.armed = false;
        } else if (!below_.armed && usd >= *below_.value * (1 + rearmMargin)) {
            below_.armed = true;
        }
    }
    last_ = usd;
    return alerts;
}
