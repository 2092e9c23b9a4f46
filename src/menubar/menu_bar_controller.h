#pragma once

#include "fetch/price_fetcher.h"
#include "menubar/price_popover_view.h"
#include "menubar/status_item.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QObject>

#include <functional>
#include <memory>

// Puts the price on screen: owns the fetcher, the panel item and the popover, keeps the
// item's title on the latest price, and starts polling.
class MenuBarController : public QObject {
    Q_OBJECT

public:
    using Clock = PricePopoverView::Clock;

    // What the controller is built from; production passes the five providers, the
    // settings file's cache and interval, and the panel item the desktop offers.
    struct Parts {
        PriceFetcher::Providers providers;
        std::optional<LastPriceCache> cache;
        double updateInterval = 60;
        std::function<std::unique_ptr<StatusItem>()> makeStatusItem;
        QLocale locale;
        Clock clock;
    };

    explicit MenuBarController(Parts parts);

    // Shows the popover near `at`, or closes it when it is shown.
    void togglePopover(QPoint at);

    PriceFetcher& fetcher() { return *fetcher_; }
    StatusItem& statusItem() { return *statusItem_; }
    PricePopoverView& popover() { return *popover_; }

signals:
    void quitRequested();

private:
    void setupStatusItem();
    void subscribeToFetcher();
    void updateStatusItemTitle(const std::optional<BitcoinPrice>& price);
    void updateDetails();

    double updateInterval_;
    QLocale locale_;
    Clock clock_;
    std::unique_ptr<PriceFetcher> fetcher_;
    std::unique_ptr<StatusItem> statusItem_;
    std::unique_ptr<PricePopoverView> popover_;
    QMetaObject::Connection subscription_;
    QString title_;
    // When the popover last closed: a click on the item closes a popup (as a click
    // outside it) just before the item reports the same click.
    QElapsedTimer popoverClosed_;
};
