#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class DBusMenu;
class QDBusServiceWatcher;
class StatusNotifierItemAdaptor;

// The program's item in the desktop panel, over D-Bus: a StatusNotifierItem with a text
// label and a small DBusMenu. It shows what it is given and reports the hosts' clicks.
class StatusNotifierItem : public QObject {
    Q_OBJECT
public:
    // `iconName`: a theme icon name or an absolute file path (hosts that cannot load
    // pixmaps need one of these); `iconPixmaps`: the same icon rendered at a few sizes,
    // sent as IconPixmap for hosts that cannot load themed icons.
    StatusNotifierItem(QDBusConnection bus, QString iconName, QList<QImage> iconPixmaps,
                       QObject* parent = nullptr);
    // Leaves the bus: the objects and the name are released.
    ~StatusNotifierItem() override;

    // Whether org.kde.StatusNotifierWatcher has an owner on `bus`.
    static bool watcherPresent(const QDBusConnection& bus);

    // Owns org.kde.StatusNotifierItem-<pid>-1, exports /StatusNotifierItem and the menu at
    // /MenuBar, registers with the watcher, and registers again whenever the watcher's
    // name gets a new owner. False (nothing left exported) when the bus refuses.
    bool start();
    // The bus name owned once started.
    QString serviceName() const;

    void setTitle(const QString& title); // XAyatanaLabel and Title
    void setToolTip(const QString& title, const QString& text);
    // The menu: `infoRows` as disabled items, then a separator, "Refresh" and "Quit".
    void setMenuRows(const QStringList& infoRows);

signals:
    void activated(int x, int y);
    // (0, 0) when the host sent no position (XAyatanaSecondaryActivate).
    void secondaryActivated(int x, int y);
    void refreshRequested();
    void quitRequested();
    // A host is about to open the menu.
    void menuAboutToShow();

private:
    void registerWithWatcher();
    void announceChangedProperties(const QVariantMap& changed);
    void leaveBus();

    QDBusConnection bus_;
    StatusNotifierItemAdaptor* adaptor_;
    DBusMenu* menu_;
    QDBusServiceWatcher* watcherWatch_ = nullptr;
    bool started_ = false;
};
