#include "price_text.h"

#include <QDateTime>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace {

std::optional<QString> groupedWholeDollars(double usd, const QLocale& locale,
                                           const std::optional<QString>& groupSeparator) {
    // QLocale writes "inf" and "nan" for these, which are no amount of dollars.
    if (!std::isfinite(usd)) {
        return std::nullopt;
    }
    // QLocale rounds half away from zero; the price rounds half to even.
    const double whole = std::nearbyint(usd);
    // Grouping is always on, even for a locale (such as C) that omits it by default.
    QLocale grouping = locale;
    grouping.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    QString text = grouping.toString(whole, 'f', 0);
    const QString ownSeparator = locale.groupSeparator();
    if (groupSeparator && !ownSeparator.isEmpty()) {
        // The text holds only digits, separators and perhaps a minus sign, so every
        // occurrence of the locale's separator is a group boundary.
        text.replace(ownSeparator, *groupSeparator);
    }
    if (text.isEmpty()) {
        return std::nullopt;
    }
    return text;
}

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

QString statusItemTitle(const std::optional<BitcoinPrice>& price, const QLocale& locale) {
    if (!price) {
        return placeholderTitle;
    }
    return priceDisplayText(price->usd, locale, QStringLiteral(","));
}

QString formattedPrice(double usd, const QLocale& locale) {
    return priceDisplayText(usd, locale);
}

QString priceDisplayText(double usd, const QLocale& locale,
                         const std::optional<QString>& groupSeparator) {
    const auto grouped = groupedWholeDollars(usd, locale, groupSeparator);
    return QStringLiteral("\u20BF ") + (grouped ? *grouped : truncatedDollarDigits(usd));
}

QString truncatedDollarDigits(double usd) {
    using Limits = std::numeric_limits<std::int64_t>;
    // -2^63 and 2^63 are exact doubles; every double strictly between them truncates to a
    // representable integer.
    constexpr double twoToThe63 = 9223372036854775808.0;
    std::int64_t whole = 0;
    if (std::isnan(usd)) {
        whole = 0;
    } else if (usd >= twoToThe63) {
        whole = Limits::max();
    } else if (usd <= -twoToThe63) {
        whole = Limits::min();
    } else {
        whole = static_cast<std::int64_t>(usd);
    }
    return QString::number(whole);
}

std::chrono::seconds ageOf(std::chrono::system_clock::time_point then,
                           std::chrono::system_clock::time_point now) {
    using Rep = std::chrono::system_clock::duration::rep;
    Rep difference = 0;
    if (__builtin_sub_overflow(now.time_since_epoch().count(), then.time_since_epoch().count(),
                               &difference)) {
        difference = now > then ? std::numeric_limits<Rep>::max() : std::numeric_limits<Rep>::min();
    }
    return std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::duration{difference});
}

QString relativeAge(std::chrono::seconds age) {
    const std::int64_t count = age.count();
    // In unsigned arithmetic, so that the most negative count has a magnitude too.
    const std::uint64_t total = count < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(count)
                                          : static_cast<std::uint64_t>(count);
    const std::array<std::uint64_t, 4> amounts{total / 86400, total % 86400 / 3600,
                                               total % 3600 / 60, total % 60};
    std::size_t largest = 0;
    while (largest + 1 < amounts.size() && amounts[largest] == 0) {
        ++largest;
    }
    QString text = amountOf(amounts[largest], units[largest]);
    const std::size_t next = largest + 1;
    if (next < amounts.size() && amounts[next] != 0) {
        text += QStringLiteral(", ") + amountOf(amounts[next], units[next]);
    }
    return text;
}

QString quoteTime(std::chrono::system_clock::time_point then,
                  std::chrono::system_clock::time_point now, const QLocale& locale) {
    using namespace std::chrono;
    const auto milliseconds = [](system_clock::time_point point) {
        return duration_cast<std::chrono::milliseconds>(point.time_since_epoch()).count();
    };
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(milliseconds(then));
    // To the minute: some locales' short form (C's among them) has seconds too.
    const QString time =
        locale.toString(at.time(), locale.timeFormat(QLocale::ShortFormat).remove(":ss"));
    if (at.date() == QDateTime::fromMSecsSinceEpoch(milliseconds(now)).date()) {
        return time;
    }
    return locale.toString(at.date(), QLocale::ShortFormat) + QLatin1Char(' ') + time;
}

QString changeText(const std::vector<PriceHistory::Point>& points,
                   std::chrono::system_clock::time_point now, const QLocale& locale) {
    using namespace std::chrono;
    const auto dayAgo = now - hours(24);
    const auto first =
        std::find_if(points.begin(), points.end(), [&](const PriceHistory::Point& point) {
            return point.time >= dayAgo && point.time <= now;
        });
    if (first == points.end() || points.back().time - first->time < hours(1)) {
        return {};
    }
    const double percent = (points.back().usd - first->usd) / first->usd * 100;
    // A damaged point (a price of 1e-300, say) would give a figure hundreds of digits long
    // that says nothing about the day.
    if (!(std::fabs(percent) < maxChangePercent)) {
        return {};
    }
    const QString amount = locale.toString(std::fabs(percent), 'f', 1);
    // The sign of the figure as shown: a change that rounds to nothing has none.
    const QString sign = amount == locale.toString(0.0, 'f', 1) ? QString()
                         : percent > 0                          ? QStringLiteral("+")
                                                                : QStringLiteral("\u2212");
    // A first point within a quarter of an hour of the day's start counts as the whole day.
    const QString span = first->time - dayAgo <= minutes(15)
                             ? QStringLiteral("in 24 h")
                             : QStringLiteral("since ") + quoteTime(first->time, now, locale);
    return sign + amount + QStringLiteral(" % ") + span;
}
