#include "tray_status_item.h"

#include "menubar/ticker_icon.h"

#include <QCursor>
#include <QIcon>
#include <QPixmap>

TrayStatusItem::TrayStatusItem(QObject* parent) : StatusItem(parent) {
    QIcon icon;
    for (const QImage& image : TickerIcon::renderStandardSizes()) {
        icon.addPixmap(QPixmap::fromImage(image));
    }
    icon_.setIcon(icon);
    separator_ = menu_.addSeparator();
    connect(menu_.addAction(tr("Refresh")), &QAction::triggered, this,
            &StatusItem::refreshRequested);
    connect(menu_.addAction(tr("Quit")), &QAction::triggered, this, &StatusItem::quitRequested);
    connect(&menu_, &QMenu::aboutToShow, this, &StatusItem::detailsWanted);
    icon_.setContextMenu(&menu_);
    connect(&icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    const QRect geometry = icon_.geometry();
                    emit toggleRequested(geometry.isValid()
                                             ? QPoint(geometry.center().x(), geometry.bottom())
                                             : QCursor::pos());
                } else if (reason == QSystemTrayIcon::MiddleClick) {
                    emit refreshRequested();
                }
            });
    icon_.setToolTip(QStringLiteral("\u20bf ..."));
    icon_.show();
}

void TrayStatusItem::setTitle(const QString& title) {
    // A tray icon has no text of its own: the title leads its tooltip.
    title_ = title;
    icon_.setToolTip((QStringList{title_} + rows_).join(QChar('\n')));
}

void TrayStatusItem::setDetails(const QString& title, const QStringList& rows) {
    title_ = title;
    rows_ = rows;
    icon_.setToolTip((QStringList{title_} + rows_).join(QChar('\n')));
    qDeleteAll(rowActions_);
    rowActions_.clear();
    for (const QString& row : rows) {
        auto* action = new QAction(menuRow(row), &menu_);
        action->setEnabled(false);
        menu_.insertAction(separator_, action);
        rowActions_.append(action);
    }
}
