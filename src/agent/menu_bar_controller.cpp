#include "menu_bar_controller.h"

#include "bus/status_notifier_item.h"
#include "view/popover_rows.h"

namespace {

// A toggle this soon after the popover closed is the click that closed it.
constexpr qint64 sameClickMs = 300;
// How long the menu's age moves on after the last sign that a host shows the menu: a host
// that said "opened" says "closed" too (the limit only guards against one that never
// does); a host that only asks AboutToShow says nothing when the menu goes.
constexpr qint64 openMenuTickMs = 10 * 60 * 1000;
constexpr qint64 shownMenuTickMs = 2 * 60 * 1000;

} // namespace

MenuBarController::MenuBarController(Parts parts)
    : locale_(std::move(parts.locale)), clock_(std::move(parts.clock)) {
    fetcher_ = std::make_unique<PriceFetcher>(std::move(parts.providers), std::move(parts.cache),
                                              parts.currency);
    feed_ = std::make_unique<LocalFeed>(*fetcher_, parts.updateInterval, locale_, clock_,
                                        std::move(parts.history));
    connect(&popover_, &PanelProcess::finished, this, [this] { popoverClosed_.start(); });
    menuAgeTimer_.setInterval(1000);
    connect(&menuAgeTimer_, &QTimer::timeout, this, [this] {
        if (menuSign_.elapsed() > (menuOpen_ ? openMenuTickMs : shownMenuTickMs)) {
            menuAgeTimer_.stop();
        }
        updateDetails();
    });
    subscribeToFetcher();
    fetcher_->startPolling(parts.updateInterval);
}

MenuBarController::~MenuBarController() = default;

bool MenuBarController::showStatusItem(QDBusConnection bus) {
    if (statusItem_) {
        return true;
    }
    auto item = std::make_unique<StatusNotifierItem>(
        std::move(bus), tickerSniIcon(IconVariant::normal), tickerIconThemePath());
    if (!item->start()) {
        return false;
    }
    statusItem_ = std::move(item);
    const StatusNotifierItem* shown = statusItem_.get();
    connect(shown, &StatusNotifierItem::activated, this,
            [this](int x, int y) { togglePopover(QPoint(x, y)); });
    // A middle click fetches at once, as Refresh does.
    connect(shown, &StatusNotifierItem::secondaryActivated, feed_.get(), &LocalFeed::refresh);
    connect(shown, &StatusNotifierItem::refreshRequested, feed_.get(), &LocalFeed::refresh);
    connect(shown, &StatusNotifierItem::quitRequested, this, &MenuBarController::quitRequested);
    connect(shown, &StatusNotifierItem::notTaken, this, &MenuBarController::statusItemNotTaken);
    connect(shown, &StatusNotifierItem::menuAboutToShow, this, [this] { menuShown(false); });
    connect(shown, &StatusNotifierItem::menuOpenChanged, this, [this](bool open) {
        if (open) {
            menuShown(true);
        } else {
            menuOpen_ = false;
            menuAgeTimer_.stop();
            updateDetails();
        }
    });
    updateStatusItemTitle(fetcher_->latestPrice());
    updateDetails();
    return true;
}

void MenuBarController::menuShown(bool opened) {
    menuOpen_ = menuOpen_ || opened;
    menuSign_.start();
    if (!menuAgeTimer_.isActive()) {
        menuAgeTimer_.start();
    }
    updateDetails();
}

void MenuBarController::subscribeToFetcher() {
    // Delivered on a later turn of the event loop, the current price first.
    fetcher_->subscribe(
        &PriceFetcher::latestPriceChanged, this,
        [this](const std::optional<BitcoinPrice>& price) { updateStatusItemTitle(price); },
        Qt::QueuedConnection);
    connect(feed_.get(), &TickerFeed::changed, this, &MenuBarController::updateDetails);
}

void MenuBarController::updateStatusItemTitle(const std::optional<BitcoinPrice>& price) {
    if (statusItem_) {
        statusItem_->setTitle(statusItemTitle(price, locale_));
    }
}

void MenuBarController::updateDetails() {
    if (!statusItem_) {
        return;
    }
    const TickerState state = feed_->state();
    const auto now = clock_();
    statusItem_->setToolTip(statusItemTitle(state.latestPrice, locale_),
                            toolTipLines(state, now, locale_).join('\n'));
    statusItem_->setMenuRows(menuLines(state, now, locale_));
    const IconVariant icon = state.stale ? IconVariant::stale : IconVariant::normal;
    if (icon != shownIcon_) {
        shownIcon_ = icon;
        statusItem_->setIcon(tickerSniIcon(icon));
    }
}

void MenuBarController::togglePopover(QPoint at) {
    if (popover_.isRunning()) {
        popover_.stop();
        return;
    }
    if (popoverClosed_.isValid() && popoverClosed_.elapsed() < sameClickMs) {
        return;
    }
    popover_.start({QStringLiteral("--popover"), QString::number(at.x()), QString::number(at.y())});
}
