#include "sni_status_item.h"

#include "menubar/ticker_icon.h"

SniStatusItem::SniStatusItem(QDBusConnection bus, QString iconName, QObject* parent)
    : StatusItem(parent),
      item_(std::move(bus), std::move(iconName), TickerIcon::renderStandardSizes()) {
    connect(&item_, &StatusNotifierItem::activated, this,
            [this](int x, int y) { emit toggleRequested(QPoint(x, y)); });
    // A middle click fetches at once, as Refresh does.
    connect(&item_, &StatusNotifierItem::secondaryActivated, this, &StatusItem::refreshRequested);
    connect(&item_, &StatusNotifierItem::refreshRequested, this, &StatusItem::refreshRequested);
    connect(&item_, &StatusNotifierItem::quitRequested, this, &StatusItem::quitRequested);
    connect(&item_, &StatusNotifierItem::menuAboutToShow, this, &StatusItem::detailsWanted);
}

bool SniStatusItem::start() {
    return item_.start();
}

void SniStatusItem::setTitle(const QString& title) {
    item_.setTitle(title);
}

void SniStatusItem::setDetails(const QString& title, const QStringList& rows) {
    item_.setToolTip(title, rows.join('\n'));
    QStringList menuRows;
    for (const QString& row : rows) {
        menuRows << menuRow(row);
    }
    item_.setMenuRows(menuRows);
}
