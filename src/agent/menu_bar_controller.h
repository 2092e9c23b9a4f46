#pragma once

#include "agent/panel_process.h"
#include "fetch/price_fetcher.h"
#include "icons/ticker_icons.h"
#include "view/ticker_feed.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QLocale>
#include <QObject>
#include <QPoint>
#include <QTimer>

#include <memory>

class StatusNotifierItem;

// Puts the price on screen: owns the fetcher, keeps the panel item's title, tooltip, menu
// and icon on the latest state, opens the popover (a process of its own) on a click, and
// starts polling. It draws nothing itself.
class MenuBarController : public QObject {
    Q_OBJECT

public:
    using Clock = LocalFeed::Clock;

    // What the controller is built from; production passes the five providers, the
    // settings file's cache and interval, all for one currency.
    struct Parts {
        Providers providers;
        std::optional<LastPriceCache> cache;
        Currency currency = Currency::usd();
        double updateInterval = PriceFetcher::defaultInterval;
        QLocale locale;
        Clock clock;
        std::optional<PriceHistory> history;
    };

    explicit MenuBarController(Parts parts);
    ~MenuBarController() override;

    // Puts the item in the panel over `bus`; false when the bus refuses it.
    bool showStatusItem(QDBusConnection bus);
    bool hasStatusItem() const { return statusItem_ != nullptr; }

    // Shows the popover near `at`, or closes it when it is shown.
    void togglePopover(QPoint at);

    PriceFetcher& fetcher() { return *fetcher_; }
    LocalFeed& feed() { return *feed_; }
    const PanelProcess& popover() const { return popover_; }

signals:
    void quitRequested();
    // No panel host took the item, after every try.
    void statusItemNotTaken();

private:
    void subscribeToFetcher();
    void updateStatusItemTitle(const std::optional<BitcoinPrice>& price);
    void updateDetails();
    // A host shows the menu; `opened` when it said so with "opened" (it then says "closed").
    void menuShown(bool opened);

    QLocale locale_;
    Clock clock_;
    std::unique_ptr<PriceFetcher> fetcher_;
    std::unique_ptr<LocalFeed> feed_;
    std::unique_ptr<StatusNotifierItem> statusItem_;
    IconVariant shownIcon_ = IconVariant::normal;
    PanelProcess popover_;
    // When the popover last closed: a click on the item closes a popup (as a click
    // outside it) just before the item reports the same click.
    QElapsedTimer popoverClosed_;
    // Moves the menu's age on every second while a host shows the menu: from its "opened"
    // to its "closed", or from AboutToShow on for a while (see menuShown).
    QTimer menuAgeTimer_;
    QElapsedTimer menuSign_;
    bool menuOpen_ = false;
};
