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

// Every whole line of `text` that is a point; the rest (a torn last line, damage) is
// skipped.
std::vector<PriceHistory::Point> parse(std::string_view text) {
    std::vector<PriceHistory::Point> points;
    while (true) {
        const auto end = text.find('\n');
        if (end == std::string_view::npos) {
            break;
        }
        const std::string_view entry = text.substr(0, end);
        text.remove_prefix(end + 1);
        std::int64_t seconds = 0;
        double usd = 0;
        const auto space = entry.find(' ');
        if (space == std::string_view::npos) {
            continue;
        }
        const auto [timeEnd, timeError] =
            std::from_chars(entry.data(), entry.data() + space, seconds);
        const auto [usdEnd, usdError] =
            std::from_chars(entry.data() + space + 1, entry.data() + entry.size(), usd);
        // Within what a time point holds, and a price a provider could have given.
        if (timeError != std::errc() || timeEnd != entry.data() + space ||
            usdError != std::errc() || usdEnd != entry.data() + entry.size() ||
            !isUsablePrice(usd) || !inRange(seconds)) {
            continue;
        }
        points.push_back({Clock::time_point(std::chrono::seconds(seconds)), usd});
    }
    return points;
}

// The last `maxFileBytes` of the file behind `fd`, from its first whole line on.
std::string readTail(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return {};
    }
    const off_t start = std::max<off_t>(0, status.st_size - PriceHistory::maxFileBytes);
    std::string text(std::size_t(status.st_size - start), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::pread(fd, text.data() + got, text.size() - got, start + off_t(got));
        if (n <= 0) {
            break;
        }
        got += std::size_t(n);
    }
    text.resize(got);
    if (start > 0) {
        text.erase(0, std::min(text.size(), text.find('\n') + 1));
    }
    return text;
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
    const std::string text = readTail(fd);
    std::vector<Point> points = parse(text);
    const std::size_t whole = text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1;
    // A minute from the newest point either way: a clock set back is no reason to stop.
    const bool newPoint =
        points.empty() || std::chrono::abs(price.timestamp - points.back().time) >= spacing;
    struct stat status {};
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (regular && newPoint) {
        points.push_back({price.timestamp, price.usd});
    }
    // A torn line, a file grown large, or points more than a day past the week.
    const bool compact =
        regular && (whole < text.size() || status.st_size > maxFileBytes / 2 ||
                    (!points.empty() && now - points.front().time > kept + std::chrono::hours(24)));
    if (compact) {
        // Replaced whole: the points kept are in the new file before it takes the old
        // one's place. A point a minute at most, whoever wrote the file.
        std::stable_sort(points.begin(), points.end(),
                         [](const Point& a, const Point& b) { return a.time < b.time; });
        std::string keptText;
        std::optional<Clock::time_point> last;
        for (const Point& point : points) {
            // The week up to now; none in the future but by a clock's slip.
            const bool kept =
                now - point.time <= PriceHistory::kept && point.time - now <= std::chrono::hours(1);
            if (kept && (!last || point.time - *last >= spacing)) {
                keptText += line(point);
                last = point.time;
            }
        }
        [[maybe_unused]] const bool written =
            AtomicFileWriter::write(path_, QByteArray::fromStdString(keptText));
    } else if (regular && newPoint) {
        const std::string entry = line(points.back());
        [[maybe_unused]] const ssize_t written = ::write(fd, entry.data(), entry.size());
    }
    ::close(fd);
}

std::vector<PriceHistory::Point> PriceHistory::read(Clock::time_point since) const {
    const int fd = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::vector<Point> points = parse(readTail(fd));
    ::close(fd);
    std::erase_if(points, [&](const Point& point) { return point.time < since; });
    // A clock set back may have written points out of order.
    std::stable_sort(points.begin(), points.end(),
                     [](const Point& a, const Point& b) { return a.time < b.time; });
    return points;
}
