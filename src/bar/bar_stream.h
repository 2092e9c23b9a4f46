#pragma once

#include "bar_record_writer.h"
#include "bar_view.h"
#include "fetch/price_fetcher.h"

#include <QLocale>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

// Feeds a status bar from the fetcher: a record as soon as the event loop runs, then one
// whenever anything shown changes. Only the waybar format shows the age, so only it wakes up when
// the age moves on to the next minute.
class BarStream : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    BarStream(PriceFetcher& fetcher, BarFormat format, std::FILE* out, QLocale locale, Clock clock,
              QObject* parent = nullptr);

signals:
    // The stream could not be written: the bar on the other end has gone away.
    void outputClosed();

private:
    void refresh();
    void scheduleAgeUpdate(std::chrono::system_clock::time_point now);

    PriceFetcher& fetcher_;
    BarFormat format_;
    BarRecordWriter writer_;
    QLocale locale_;
    Clock clock_;
    std::optional<std::string> shown_; // the last record written
    QTimer ageTimer_;
    bool closed_ = false;
};
