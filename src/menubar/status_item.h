#pragma once

#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>

// The program's item in the desktop panel, whatever provides it: it shows a title and the
// details under it, and reports what the user asks for.
class StatusItem : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void setTitle(const QString& title) = 0;
    // The popover's rows as text, for the item's tooltip and menu.
    virtual void setDetails(const QString& title, const QStringList& rows) = 0;

    // A detail row as a menu item shows it: a long failure text would make the menu as
    // wide as the screen, so it is cut; the tooltip keeps it whole.
    static QString menuRow(const QString& row) {
        constexpr qsizetype longest = 80;
        return row.size() <= longest ? row : row.left(longest - 1) + QChar(0x2026);
    }

signals:
    // A click that shows or hides the popover; `at` is where on the screen (a hint).
    void toggleRequested(QPoint at);
    void refreshRequested();
    void quitRequested();
    // The host is about to show the item's menu: a moment to bring the rows up to date.
    void detailsWanted();
};
