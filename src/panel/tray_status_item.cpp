#include "tray_status_item.h"

#include "icons/ticker_icons.h"
#include "view/popover_rows.h"

#include <QCursor>
#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace {

QIcon iconOf(IconVariant variant) {
    QIcon icon;
    for (const IconImage& image : tickerIconImages(variant)) {
        QImage pixels(image.size, image.size, QImage::Format_ARGB32);
        const unsigned char* argb = image.argb.data();
        for (int y = 0; y < image.size; ++y) {
            auto* line = reinterpret_cast<QRgb*>(pixels.scanLine(y));
            for (int x = 0; x < image.size; ++x, argb += 4) { // network byte order
                line[x] = qRgba(argb[1], argb[2], argb[3], argb[0]);
            }
        }
        icon.addPixmap(QPixmap::fromImage(pixels));
    }
    return icon;
}

} // namespace

TrayStatusItem::TrayStatusItem(TickerFeed& feed, QLocale locale, LocalFeed::Clock clock,
                               QObject* parent)
    : QObject(parent), feed_(feed), locale_(std::move(locale)), clock_(std::move(clock)) {
    icon_.setIcon(iconOf(IconVariant::normal));
    separator_ = menu_.addSeparator();
    connect(menu_.addAction(tr("Refresh")), &QAction::triggered, &feed_, &TickerFeed::refresh);
    connect(menu_.addAction(tr("Quit")), &QAction::triggered, this, &TrayStatusItem::quitRequested);
    connect(&menu_, &QMenu::aboutToShow, this, &TrayStatusItem::update);
    icon_.setContextMenu(&menu_);
    connect(&icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    const QRect geometry = icon_.geometry();
                    emit toggleRequested(geometry.isValid() ? geometry.center() : QCursor::pos());
                } else if (reason == QSystemTrayIcon::MiddleClick) {
                    feed_.refresh();
                }
            });
    connect(&feed_, &TickerFeed::changed, this, &TrayStatusItem::update);
    update();
    icon_.show();
}

void TrayStatusItem::update() {
    const TickerState state = feed_.state();
    const auto now = clock_();
    // A tray icon has no text of its own: the title leads its tooltip.
    icon_.setToolTip((QStringList{statusItemTitle(state.latestPrice, locale_)} +
                      toolTipLines(state, now, locale_))
                         .join(QChar('\n')));
    if (state.stale != staleShown_) {
        staleShown_ = state.stale;
        icon_.setIcon(iconOf(state.stale ? IconVariant::stale : IconVariant::normal));
    }
    qDeleteAll(rowActions_);
    rowActions_.clear();
    for (const QString& row : menuLines(state, now, locale_)) {
        auto* action = new QAction(row, &menu_);
        action->setEnabled(false);
        menu_.insertAction(separator_, action);
        rowActions_.append(action);
    }
}
