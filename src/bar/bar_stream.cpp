#include "bar_stream.h"

BarStream::BarStream(PriceFetcher& fetcher, BarFormat format, std::FILE* out, QLocale locale,
                     Clock clock, QObject* parent)
    : QObject(parent), fetcher_(fetcher), format_(format), writer_(format, out),
      locale_(std::move(locale)), clock_(std::move(clock)) {
    ageTimer_.setSingleShot(true);
    ageTimer_.setTimerType(Qt::PreciseTimer);
    connect(&ageTimer_, &QTimer::timeout, this, &BarStream::refresh);
    connect(&fetcher_, &PriceFetcher::changed, this, &BarStream::refresh);
    // The first record goes out as soon as the event loop runs, so that whoever listens to
    // outputClosed() has connected by then.
    QMetaObject::invokeMethod(this, &BarStream::refresh, Qt::QueuedConnection);
}

void BarStream::refresh() {
    if (closed_) {
        return;
    }
    const auto now = clock_();
    const BarView view = BarView::of(fetcher_.latestPrice(), fetcher_.lastError(), now, locale_);
    if (format_ == BarFormat::waybar) {
        scheduleAgeUpdate(now);
    }
    // What the bar shows is the record itself: the plain title does not change with a
    // failure, waybar's tooltip does.
    std::string record = BarRecordWriter::record(format_, view);
    if (record == shown_) {
        return;
    }
    if (!writer_.write(record)) {
        closed_ = true;
        ageTimer_.stop();
        emit outputClosed();
        return;
    }
    shown_ = std::move(record);
}

void BarStream::scheduleAgeUpdate(std::chrono::system_clock::time_point now) {
    using namespace std::chrono;
    const auto& price = fetcher_.latestPrice();
    if (!price) {
        ageTimer_.stop();
        return;
    }
    // The age is shown in whole minutes of its magnitude: wake when that next changes.
    const auto age = duration_cast<milliseconds>(now - price->timestamp);
    const auto intoMinute = milliseconds(std::abs(age.count()) % 60'000);
    const auto untilChange = age.count() >= 0         ? minutes(1) - intoMinute
                             : intoMinute.count() > 0 ? intoMinute
                                                      : duration_cast<milliseconds>(minutes(1));
    ageTimer_.start(untilChange + milliseconds(1));
}
