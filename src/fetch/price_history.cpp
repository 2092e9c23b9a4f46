#include "price_history.h"

#include "fetch/atomic_file_writer.h"
#include "fetch/settings_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <charconv>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = PriceHistory::Clock;

std::int64_t unixSeconds(Clock::time_point time) {
    return std::chrono::floor<std::chrono::seconds>(time.time_since_epoch()).count();
}

bool inRange(std::int64_t seconds) {
    return seconds >= 0 && seconds <= PriceHistory::latest.count();
}

std::string line(const PriceHistory::Point& point) {
    char text[64];
    auto end = std::to_chars(text, text + sizeof text, unixSeconds(point.time)).ptr;
    *end++ = ' ';
    end = std::to_chars(end, text + sizeof text, point.usd).ptr;
    *end++ = '\n';
    return std::string(text, end);
}

// The point a whole line holds, if it holds one.
std::optional<PriceHistory::Point> pointOf(std::string_view entry) {
    std::int64_t seconds = 0;
    double usd = 0;
    const auto space = entry.find(' ');
    if (space == std::string_view::npos) {
        return std::nullopt;
    }
    const auto [timeEnd, timeError] = std::from_chars(entry.data(), entry.data() + space, seconds);
    const auto [usdEnd, usdError] =
        std::from_chars(entry.data() + space + 1, entry.data() + entry.size(), usd);
    // Within what a time point holds, and a price a provider could have given.
    if (timeError != std::errc() || timeEnd != entry.data() + space || usdError != std::errc() ||
        usdEnd != entry.data() + entry.size() || !isUsablePrice(usd) || !inRange(seconds)) {
        return std::nullopt;
    }
    return PriceHistory::Point{Clock::time_point(std::chrono::seconds(seconds)), usd};
}

// What a reading of the file found.
struct Scan {
    bool regular = false;
    off_t size = 0;
    std::vector<PriceHistory::Point> points; // those in the window, in the file's order
    std::optional<PriceHistory::Point> last; // the file's last point
    std::optional<Clock::time_point> oldest; // the earliest time of any point
    bool torn = false;                       // the file ends in a partial line
};

// The points of the file behind `fd` from `from` to `to`, read backwards from its end in
// blocks, so that the newest points are found however much damage follows or precedes
// them; no more than `maxScanBytes` are read. A line longer than any point's is damage and
// is skipped without being held in memory.
Scan scan(int fd, Clock::time_point from, Clock::time_point to) {
    constexpr off_t blockBytes = 64 * 1024;
    constexpr std::size_t longestLine = 64;
    Scan found;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return found;
    }
    found.regular = true;
    found.size = status.st_size;
    const auto take = [&](std::string_view line) {
        const auto point = pointOf(line);
        if (!point) {
            return;
        }
        found.last = found.last.value_or(*point);
        found.oldest = std::min(found.oldest.value_or(point->time), point->time);
        if (point->time >= from && point->time <= to) {
            found.points.push_back(*point);
        }
    };
    // The part of a line that lies after the block being read: `ended` when a line end
    // follows it (not so for the bytes after the file's last line end), `tooLong` when it
    // is no point's line.
    std::string rest;
    bool ended = false;
    bool tooLong = false;
    const auto endLine = [&](std::string_view head) {
        if (!ended) {
            found.torn = !head.empty() || !rest.empty() || tooLong;
        } else if (!tooLong && head.size() + rest.size() <= longestLine) {
            take(std::string(head) + rest);
        }
        rest.clear();
        ended = true;
        tooLong = false;
    };
    const off_t stop = std::max<off_t>(0, status.st_size - PriceHistory::maxScanBytes);
    off_t position = status.st_size;
    std::string block;
    while (position > stop) {
        const off_t length = std::min(blockBytes, position - stop);
        block.resize(std::size_t(length));
        std::size_t got = 0;
        while (got < block.size()) {
            const ssize_t n =
                ::pread(fd, block.data() + got, block.size() - got, position - length + off_t(got));
            if (n <= 0) {
                return found; // the file shrank or cannot be read: what was found stands
            }
            got += std::size_t(n);
        }
        position -= length;
        std::size_t end = block.size(); // the lines before `end` are still to be read
        bool first = true;              // the one line that goes on into `rest`
        for (auto newline = block.rfind('\n'); newline != std::string::npos;
             newline = newline == 0 ? std::string::npos : block.rfind('\n', newline - 1)) {
            const std::string_view line(block.data() + newline + 1, end - newline - 1);
            if (first) {
                endLine(line);
                first = false;
            } else if (line.size() <= longestLine) {
                take(line);
            }
            end = newline;
        }
        if (first) { // no line end in the block: all of it belongs to `rest`'s line
            tooLong = tooLong || block.size() + rest.size() > longestLine;
            rest = tooLong ? std::string() : block + rest;
        } else {
            tooLong = end > longestLine;
            rest = tooLong ? std::string() : block.substr(0, end);
        }
    }
    if (position == 0) {
        endLine({}); // the file's first line
    }
    return found;
}

// Holds the lock that the processes sharing the history take turns under, if it is free:
// the main thread never waits for another process.
class DirectoryLock {
public:
    explicit DirectoryLock(const QString& directory)
        : fd_(::open(QFile::encodeName(directory).constData(),
                     O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~DirectoryLock() {
        if (fd_ >= 0) {
            ::close(fd_); // frees the lock
        }
    }
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_;
};

} // namespace

QString PriceHistory::defaultPath() {
    return userFile("XDG_STATE_HOME", ".local/state", "history");
}

PriceHistory::PriceHistory(QString path) : path_(std::move(path)) {}

PriceHistory PriceHistory::forCurrency(const Currency& currency) const {
    if (currency == Currency::usd()) {
        return *this;
    }
    return PriceHistory(path_ + QLatin1Char('-') + QString::fromLatin1(currency.code));
}

void PriceHistory::append(const BitcoinPrice& price, Clock::time_point now) {
    const QString directory = QFileInfo(path_).absolutePath();
    if (!isUsablePrice(price.usd) || !QDir().mkpath(directory)) {
        return;
    }
    const std::int64_t seconds = unixSeconds(price.timestamp);
    if (!inRange(seconds) || !inRange(unixSeconds(now))) {
        return;
    }
    const DirectoryLock lock(directory);
    const int fd = ::open(QFile::encodeName(path_).constData(),
                          O_RDWR | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (!lock.held() || fd < 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return;
    }
    // The week up to now; none in the future but by a clock's slip.
    const auto from = now - kept;
    const auto to = now + std::chrono::hours(1);
    Scan found = scan(fd, from, to);
    std::vector<Point>& points = found.points;
    std::reverse(points.begin(), points.end());
    // A minute from the newest point either way: a clock set back is no reason to stop.
    const bool newPoint =
        !found.last || std::chrono::abs(price.timestamp - found.last->time) >= spacing;
    if (found.regular && newPoint) {
        points.push_back({price.timestamp, price.usd});
    }
    // A torn line, a file grown large, or points more than a day past the week.
    const bool compact =
        found.regular && (found.torn || found.size > maxFileBytes / 2 ||
                          (found.oldest && now - *found.oldest > kept + std::chrono::hours(24)));
    if (compact) {
        // Replaced whole: the points kept are in the new file before it takes the old
        // one's place. A point a minute at most, whoever wrote the file.
        std::stable_sort(points.begin(), points.end(),
                         [](const Point& a, const Point& b) { return a.time < b.time; });
        std::string keptText;
        std::optional<Clock::time_point> last;
        for (const Point& point : points) {
            const bool inWindow = point.time >= from && point.time <= to;
            if (inWindow && (!last || point.time - *last >= spacing)) {
                keptText += line(point);
                last = point.time;
            }
        }
        [[maybe_unused]] const auto written =
            AtomicFileWriter::write(path_, QByteArray::fromStdString(keptText));
    } else if (found.regular && newPoint) {
        const std::string entry = line(points.back());
        [[maybe_unused]] const ssize_t written = ::write(fd, entry.data(), entry.size());
    }
    ::close(fd);
}

std::vector<PriceHistory::Point> PriceHistory::read(Clock::time_point since,
                                                    Clock::time_point now) const {
    const int fd = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    // Later than now is a point of a clock that was set back, or damage.
    const auto latest = now < Clock::time_point::max() - clockSlip ? now + clockSlip : now;
    std::vector<Point> points = scan(fd, since, latest).points;
    ::close(fd);
    std::reverse(points.begin(), points.end());
    // A clock set back may have written points out of order.
    std::stable_sort(points.begin(), points.end(),
                     [](const Point& a, const Point& b) { return a.time < b.time; });
    return points;
}
