#include "bar_stream.h"

#include "price/log_sink.h"
#include "view/popover_rows.h"

#include <QDateTime>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string json(const nlohmann::ordered_json& value) {
    // Texts come from servers in the end; a stray invalid byte must not stop the bar.
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

const char* waybarClass(const TickerState& state) {
    if (state.lastError) {
        return "error";
    }
    if (state.stale) {
        return "stale";
    }
    return state.latestPrice ? "ok" : "pending";
}

} // namespace

std::optional<BarFormat> parseBarFormat(std::string_view name) {
    if (name == "plain") {
        return BarFormat::plain;
    }
    if (name == "waybar") {
        return BarFormat::waybar;
    }
    if (name == "i3bar") {
        return BarFormat::i3bar;
    }
    return std::nullopt;
}

std::string barRecord(BarFormat format, const TickerState& state,
                      std::chrono::system_clock::time_point now, const QLocale& locale) {
    const std::string title = statusItemTitle(state.latestPrice, locale).toStdString();
    switch (format) {
    case BarFormat::plain:
        return title;
    case BarFormat::waybar: {
        const QStringList tooltip = toolTipLines(state, now, locale, true);
        return json({{"text", title},
                     {"alt", state.latestPrice ? state.latestPrice->source : std::string()},
                     {"tooltip", tooltip.join('\n').toStdString()},
                     {"class", waybarClass(state)}});
    }
    case BarFormat::i3bar: {
        nlohmann::ordered_json block = {{"name", "brimwell-ticker"}, {"full_text", title}};
        if (state.lastError) {
            block["color"] = "#FF0000";
        } else if (state.stale) {
            block["color"] = "#888888";
        }
        return json(nlohmann::ordered_json::array({block}));
    }
    }
    return {};
}

BarOutput::BarOutput(BarFormat format, int fd, QObject* parent)
    : QObject(parent), format_(format), fd_(openWithoutWaiting(fd)), ownFd_(fd_ != fd) {
    struct stat status {};
    if (::fstat(fd_, &status) == 0 && S_ISFIFO(status.st_mode)) {
        // The write end of a pipe reports an error once the reader has closed its end.
        gone_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        connect(gone_.get(), &QSocketNotifier::activated, this, [this] {
            pollfd state{fd_, 0, 0};
            if (::poll(&state, 1, 0) == 1 && (state.revents & (POLLERR | POLLHUP)) != 0) {
                close();
            }
        });
    }
    writable_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Write);
    writable_->setEnabled(false);
    connect(writable_.get(), &QSocketNotifier::activated, this, &BarOutput::send);
}

BarOutput::~BarOutput() {
    writable_.reset();
    gone_.reset();
    if (ownFd_) {
        ::close(fd_);
    }
}

void BarOutput::write(std::string record) {
    if (closed_) {
        return;
    }
    newest_ = std::move(record);
    send();
}

void BarOutput::send() {
    const bool waited = writable_->isEnabled();
    while (!closed_) {
        if (inFlight_.empty()) {
            if (!newest_) {
                break;
            }
            if (format_ == BarFormat::i3bar) {
                inFlight_ = started_ ? "," : "{\"version\":1}\n[\n";
            }
            inFlight_ += *newest_ + '\n';
            newest_.reset();
            started_ = true;
        }
        const ssize_t written = ::write(fd_, inFlight_.data(), inFlight_.size());
        if (written > 0) {
            inFlight_.erase(0, std::size_t(written));
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && errno == EAGAIN) {
            writable_->setEnabled(true);
            return;
        } else {
            close();
            return;
        }
    }
    writable_->setEnabled(false);
    if (waited && flushed()) {
        emit drained();
    }
}

void BarOutput::close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    writable_->setEnabled(false);
    if (gone_) {
        gone_->setEnabled(false);
    }
    emit closed();
}

BarStream::BarStream(TickerFeed& feed, BarFormat format, int fd, QLocale locale, Clock clock,
                     QObject* parent)
    : QObject(parent), feed_(feed), format_(format), output_(format, fd),
      locale_(std::move(locale)), clock_(std::move(clock)) {
    dateTimer_.setSingleShot(true);
    connect(&dateTimer_, &QTimer::timeout, this, &BarStream::refresh);
    connect(&feed_, &TickerFeed::changed, this, &BarStream::refresh);
    connect(&output_, &BarOutput::closed, this, [this] {
        dateTimer_.stop();
        emit outputClosed();
    });
    // The first record goes out as soon as the event loop runs, so that whoever listens to
    // outputClosed() has connected by then.
    QMetaObject::invokeMethod(this, &BarStream::refresh, Qt::QueuedConnection);
}

void BarStream::refresh() {
    const auto now = clock_();
    const TickerState state = feed_.state();
    if (format_ == BarFormat::waybar) {
        scheduleDateUpdate(state, now);
    }
    // What the bar shows is the record itself: the plain title does not change with a
    // failure, waybar's tooltip does.
    std::string record = barRecord(format_, state, now, locale_);
    if (record == shown_) {
        return;
    }
    shown_ = record;
    output_.write(std::move(record));
}

void BarStream::scheduleDateUpdate(const TickerState& state,
                                   std::chrono::system_clock::time_point now) {
    // The tooltip gives the quote's time of day, and its date from the day after.
    if (!state.latestPrice) {
        dateTimer_.stop();
        return;
    }
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count());
    // The day's first moment: where summer time starts at midnight, 00:00 does not exist
    // (and a zone that skipped a whole day has none: look again in an hour).
    const QDateTime tomorrow = local.date().addDays(1).startOfDay();
    const qint64 untilTomorrow = tomorrow.isValid() ? local.msecsTo(tomorrow) : 3'600'000;
    dateTimer_.start(std::chrono::milliseconds(std::max<qint64>(untilTomorrow, 0) + 1));
}
