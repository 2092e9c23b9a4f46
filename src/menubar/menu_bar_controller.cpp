#include "menu_bar_controller.h"

#include "menubar/popover_rows.h"
#include "menubar/status_item_title.h"

namespace {

// A toggle this soon after the popover closed is the click that closed it.
constexpr qint64 sameClickMs = 300;

} // namespace

MenuBarController::MenuBarController(Parts parts)
    : updateInterval_(parts.updateInterval), locale_(std::move(parts.locale)),
      clock_(std::move(parts.clock)) {
    fetcher_ = std::make_unique<PriceFetcher>(std::move(parts.providers), std::move(parts.cache));
    statusItem_ = parts.makeStatusItem();
    popover_ = std::make_unique<PricePopoverView>(*fetcher_, locale_, clock_);
    setupStatusItem();
    subscribeToFetcher();
    fetcher_->startPolling(updateInterval_);
}

void MenuBarController::setupStatusItem() {
    title_ = statusItemTitle(std::nullopt, locale_);
    statusItem_->setTitle(title_);
    connect(statusItem_.get(), &StatusItem::toggleRequested, this,
            &MenuBarController::togglePopover);
    connect(statusItem_.get(), &StatusItem::refreshRequested, fetcher_.get(),
            [this] { fetcher_->fetchOnce(); });
    connect(statusItem_.get(), &StatusItem::quitRequested, this, &MenuBarController::quitRequested);
    connect(statusItem_.get(), &StatusItem::detailsWanted, this, &MenuBarController::updateDetails);
    connect(popover_.get(), &PricePopoverView::quitRequested, this,
            &MenuBarController::quitRequested);
    connect(popover_.get(), &PricePopoverView::closed, this, [this] { popoverClosed_.start(); });
    updateDetails();
}

void MenuBarController::subscribeToFetcher() {
    // Delivered on a later turn of the event loop, the current price first.
    subscription_ = fetcher_->subscribeLatestPrice(
        this, [this](const std::optional<BitcoinPrice>& price) { updateStatusItemTitle(price); },
        Qt::QueuedConnection);
    connect(fetcher_.get(), &PriceFetcher::changed, this, &MenuBarController::updateDetails);
}

void MenuBarController::updateStatusItemTitle(const std::optional<BitcoinPrice>& price) {
    title_ = statusItemTitle(price, locale_);
    statusItem_->setTitle(title_);
}

void MenuBarController::updateDetails() {
    const auto rows =
        popoverRows(fetcher_->latestPrice(), fetcher_->lastError(), clock_(), locale_);
    statusItem_->setDetails(statusItemTitle(fetcher_->latestPrice(), locale_),
                            popoverTextLines(rows));
}

void MenuBarController::togglePopover(QPoint at) {
    if (popover_->isVisible()) {
        popover_->close();
        return;
    }
    if (popoverClosed_.isValid() && popoverClosed_.elapsed() < sameClickMs) {
        return;
    }
    popover_->showAt(at);
    popover_->activateWindow();
}
