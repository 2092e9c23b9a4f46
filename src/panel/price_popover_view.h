#pragma once

#include "panel/desktop_color_scheme.h"
#include "view/popover_rows.h"
#include "view/ticker_feed.h"

#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <chrono>
#include <functional>
#include <vector>

// The price over the last day (or the span recorded so far) as a line, in the palette's
// highlight colour; a stretch without points (the agent was not running) is left as a gap.
class Sparkline : public QWidget {
    Q_OBJECT

public:
    explicit Sparkline(QWidget* parent = nullptr);

    void setPoints(std::vector<PriceHistory::Point> points,
                   std::chrono::system_clock::time_point now);

    // Whether two neighbouring points are too far apart to be joined: more than three
    // times the usual spacing, and more than five minutes.
    static bool isGap(std::chrono::system_clock::duration between,
                      std::chrono::system_clock::duration usual);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<PriceHistory::Point> points_;
    std::chrono::system_clock::time_point now_;
};

// The popup under the panel item: the price large, where it came from and how old it is,
// the last failure in red, and Refresh and Quit. It reads the feed (the agent's state) and
// keeps no state of its own; while shown, the age moves on every second. It is framed and
// takes its colours from the palette of the desktop's colour scheme.
// On X11 it is a popup (a dropdown menu to the window manager and compositor), placed next
// to the item, that closes on a click outside. A Wayland client can neither place its
// window nor see a click outside it: there it is a window of fixed width, which tiling
// compositors float, that closes when it loses the focus.
// With the logging category "brimwell.popover" on (QT_LOGGING_RULES), it writes what it
// shows whenever that changes.
class PricePopoverView : public QWidget {
    Q_OBJECT

public:
    static constexpr int fixedWidth = 260;
    static constexpr int padding = 16;
    static constexpr int spacing = 12;
    static constexpr int errorLines = 3;
    // The popup's distance from a panel and the screen's edges.
    static constexpr int screenMargin = 4;

    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // `history`: where the points of the day's picture are read from (the US dollars'
    // history; another currency's is beside it).
    PricePopoverView(TickerFeed& feed, QLocale locale, Clock clock, PriceHistory history,
                     QWidget* parent = nullptr);

    // Shows the popover next to `anchor`, a point on the screen, clear of the panels.
    void showAt(QPoint anchor);
    // Takes the palette of the desktop's colour scheme.
    void setColorScheme(ColorScheme scheme);

    // The rows on display, for tests and accessibility.
    const std::vector<PopoverRow>& rows() const { return rows_; }

signals:
    void quitRequested();
    void closed();

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void update();
    QString shownText() const;
    void rebuild();
    QWidget* makeRowWidget(const PopoverRow& row);
    void fill(QWidget* widget, const PopoverRow& row);

    TickerFeed& feed_;
    QLocale locale_;
    Clock clock_;
    PriceHistory history_;
    ColorScheme scheme_ = ColorScheme::noPreference;
    bool historyOutdated_ = true;
    QString logged_;
    std::vector<PopoverRow> rows_;
    std::vector<QWidget*> rowWidgets_;
    QVBoxLayout* rowLayout_;
    QPushButton* refresh_;
    QPushButton* quit_;
    QTimer ageTimer_;
};
