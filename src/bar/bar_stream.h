#pragma once

#include "view/ticker_feed.h"

#include <QLocale>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// How a status bar wants its records: the title alone, waybar's JSON objects, or the
// i3bar protocol (a header, then an endless array of one-block arrays).
enum class BarFormat { plain, waybar, i3bar };

std::optional<BarFormat> parseBarFormat(std::string_view name);

// The record for a state in a bar's format, without the i3bar framing. waybar's class is
// "error" while a failure is shown, else "stale", else "pending" before the first price,
// else "ok"; i3bar's colour is red on a failure and grey while stale. waybar's tooltip
// gives the time of the quote (a relative age would be wrong until the next record) and
// the failure in one line.
std::string barRecord(BarFormat format, const TickerState& state,
                      std::chrono::system_clock::time_point now, const QLocale& locale);

// Writes records to a descriptor (stdout) without ever waiting: what the reader cannot
// take at once waits in memory, and of the records not yet begun only the newest is kept.
// A reader that goes away ends the output at once, even while nothing is written.
class BarOutput : public QObject {
    Q_OBJECT

public:
    BarOutput(BarFormat format, int fd, QObject* parent = nullptr);
    ~BarOutput() override;

    void write(std::string record);
    // Everything written so far has reached the descriptor.
    bool flushed() const { return inFlight_.empty() && !newest_; }

signals:
    void closed();
    void drained(); // flushed after a wait

private:
    void send();
    void close();

    BarFormat format_;
    int fd_;
    bool ownFd_;
    bool started_ = false;
    bool closed_ = false;
    std::string inFlight_;              // the rest of the framed record being written
    std::optional<std::string> newest_; // the newest record not begun
    std::unique_ptr<QSocketNotifier> writable_;
    std::unique_ptr<QSocketNotifier> gone_;
};

// Feeds a status bar from a feed: a record as soon as the event loop runs, then one
// whenever anything shown changes. Only the waybar format shows the quote's time, so only
// it wakes up, at midnight, when the time needs its date.
class BarStream : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    BarStream(TickerFeed& feed, BarFormat format, int fd, QLocale locale, Clock clock,
              QObject* parent = nullptr);

signals:
    // The bar on the other end has gone away.
    void outputClosed();

private:
    void refresh();
    void scheduleDateUpdate(const TickerState& state, std::chrono::system_clock::time_point now);

    TickerFeed& feed_;
    BarFormat format_;
    BarOutput output_;
    QLocale locale_;
    Clock clock_;
    std::optional<std::string> shown_; // the last record written
    QTimer dateTimer_;
};
