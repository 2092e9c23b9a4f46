#include "relative_age.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace {

struct Unit {
    const char* singular;
    const char* plural;
};

constexpr std::array<Unit, 4> units{{
    {"day", "days"},
    {"hr", "hr"},
    {"min", "min"},
    {"sec", "sec"},
}};

QString amountOf(std::uint64_t amount, const Unit& unit) {
    return QString::number(amount) + QLatin1Char(' ') +
           QLatin1String(amount == 1 ? unit.singular : unit.plural);
}

} // namespace

QString relativeAge(std::chrono::seconds age, AgeGranularity granularity) {
    const std::int64_t count = age.count();
    // In unsigned arithmetic, so that the most negative count has a magnitude too.
    const std::uint64_t total = count < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(count)
                                          : static_cast<std::uint64_t>(count);
    const bool withSeconds = granularity == AgeGranularity::seconds;
    if (!withSeconds && total < 60) {
        return QStringLiteral("less than 1 min");
    }
    const std::array<std::uint64_t, 4> amounts{total / 86400, total % 86400 / 3600,
                                               total % 3600 / 60, total % 60};
    const std::size_t shown = withSeconds ? 4 : 3;
    std::size_t largest = 0;
    while (largest + 1 < shown && amounts[largest] == 0) {
        ++largest;
    }
    QString text = amountOf(amounts[largest], units[largest]);
    const std::size_t next = largest + 1;
    if (next < shown && amounts[next] != 0) {
        text += QStringLiteral(", ") + amountOf(amounts[next], units[next]);
    }
    return text;
}
