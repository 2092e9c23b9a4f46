#pragma once

#include "bus/dbus_types.h"
#include "icons/ticker_icons.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>

class DBusMenu;
class QDBusServiceWatcher;
class StatusNotifierItemAdaptor;

// An icon as the item shows it: a theme icon name or an absolute file path (for hosts that
// load icons only that way), and the same icon as pixels (for hosts that cannot load
// themed icons).
struct SniIcon {
    QString name;
    SniPixmapList pixmaps;
};

// The icon theme's files: installed under <prefix>/share/icons, or where the build put
// them, relative to the program in both cases.
QString tickerIconThemePath();

// The program's icon for the item (and its notifications): the theme name where the theme
// is installed where hosts look, else the file's path; and its pixels.
SniIcon tickerSniIcon(IconVariant variant);

// How hard the item tries to get into the panel: after each registration, how long a host
// has to take it; then the pause before it registers again (the first check's length at
// first, doubling each time), and how often it registers at most.
struct RegistrationPacing {
    std::chrono::milliseconds firstCheck{3000};
    int tries = 6;
};

// The program's item in the desktop panel, over D-Bus: a StatusNotifierItem with a text
// label and a small DBusMenu. It shows what it is given and reports the hosts' clicks.
//
// A host may drop an item that registers while it starts, and say nothing. So after
// registering the item looks whether a host took it: the watcher lists it among its
// RegisteredStatusNotifierItems (for a watcher without that list: a host read the item's
// properties). If none did, it registers again, a bounded number of times with growing
// pauses; the same when the watcher says the item was unregistered while it still runs, or
// a watcher appears. Once taken, nothing wakes it.
class StatusNotifierItem : public QObject {
    Q_OBJECT
public:
    // `iconThemePath`: a directory to look icon names up in first; may be empty.
    StatusNotifierItem(QDBusConnection bus, SniIcon icon, QString iconThemePath,
                       QObject* parent = nullptr, RegistrationPacing pacing = {});
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
    void setIcon(const SniIcon& icon);
    // The menu: `infoRows` as disabled items, then a separator, "Refresh" and "Quit".
    void setMenuRows(const QStringList& infoRows);

signals:
    void activated(int x, int y);
    // A host took the item after it registered; or no host did, after every try.
    void taken();
    void notTaken();
    // (0, 0) when the host sent no position (XAyatanaSecondaryActivate).
    void secondaryActivated(int x, int y);
    void refreshRequested();
    void quitRequested();
    // A host is about to open the menu.
    void menuAboutToShow();
    // The menu went on or off screen, as far as the host says.
    void menuOpenChanged(bool open);

private slots:
    void watcherUnregistered(const QString& item);

private:
    friend class StatusNotifierItemAdaptor;
    void registerWithWatcher();
    void checkTaken();
    void retryLater();
    bool isThisItem(const QString& entry) const;
    void announceChangedProperties(const QVariantMap& changed);
    void leaveBus();

    QDBusConnection bus_;
    StatusNotifierItemAdaptor* adaptor_;
    DBusMenu* menu_;
    QDBusServiceWatcher* watcherWatch_ = nullptr;
    bool started_ = false;

    RegistrationPacing pacing_;
    int tries_ = 0;
    std::chrono::milliseconds pause_;
    // What the timer does next: look whether a host took the item, or register again.
    bool checking_ = false;
    QTimer registration_;
    // A host read the item's properties since it last registered.
    bool read_ = false;
};

// org.kde.StatusNotifierItem on the bus, with the Ayatana label extension. It holds what
// the item shows and hands the hosts' clicks to the item.
class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_CLASSINFO("D-Bus Introspection",
                "  <interface name=\"org.kde.StatusNotifierItem\">\n"
                "    <property name=\"Category\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Id\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Title\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Status\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"WindowId\" type=\"i\" access=\"read\"/>\n"
                "    <property name=\"IconName\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"IconThemePath\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"IconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
                "    <property name=\"OverlayIconName\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"OverlayIconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
                "    <property name=\"AttentionIconName\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"AttentionIconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
                "    <property name=\"AttentionMovieName\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"ToolTip\" type=\"(sa(iiay)ss)\" access=\"read\"/>\n"
                "    <property name=\"ItemIsMenu\" type=\"b\" access=\"read\"/>\n"
                "    <property name=\"Menu\" type=\"o\" access=\"read\"/>\n"
                "    <property name=\"XAyatanaLabel\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"XAyatanaLabelGuide\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"XAyatanaOrderingIndex\" type=\"u\" access=\"read\"/>\n"
                "    <method name=\"Activate\">\n"
                "      <arg name=\"x\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"y\" type=\"i\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"SecondaryActivate\">\n"
                "      <arg name=\"x\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"y\" type=\"i\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"ContextMenu\">\n"
                "      <arg name=\"x\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"y\" type=\"i\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"Scroll\">\n"
                "      <arg name=\"delta\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"orientation\" type=\"s\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"XAyatanaSecondaryActivate\">\n"
                "      <arg name=\"timestamp\" type=\"u\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"ProvideXdgActivationToken\">\n"
                "      <arg name=\"token\" type=\"s\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <signal name=\"NewTitle\"/>\n"
                "    <signal name=\"NewIcon\"/>\n"
                "    <signal name=\"NewAttentionIcon\"/>\n"
                "    <signal name=\"NewOverlayIcon\"/>\n"
                "    <signal name=\"NewToolTip\"/>\n"
                "    <signal name=\"NewMenu\"/>\n"
                "    <signal name=\"NewIconThemePath\">\n"
                "      <arg name=\"iconThemePath\" type=\"s\" direction=\"out\"/>\n"
                "    </signal>\n"
                "    <signal name=\"NewStatus\">\n"
                "      <arg name=\"status\" type=\"s\" direction=\"out\"/>\n"
                "    </signal>\n"
                "    <signal name=\"XAyatanaNewLabel\">\n"
                "      <arg name=\"label\" type=\"s\" direction=\"out\"/>\n"
                "      <arg name=\"guide\" type=\"s\" direction=\"out\"/>\n"
                "    </signal>\n"
                "  </interface>\n")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(QString IconThemePath READ iconThemePath)
    Q_PROPERTY(QList<SniPixmap> IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ noIconName)
    Q_PROPERTY(QList<SniPixmap> OverlayIconPixmap READ noIconPixmap)
    Q_PROPERTY(QString AttentionIconName READ noIconName)
    Q_PROPERTY(QList<SniPixmap> AttentionIconPixmap READ noIconPixmap)
    Q_PROPERTY(QString AttentionMovieName READ noIconName)
    Q_PROPERTY(SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    Q_PROPERTY(QString XAyatanaLabel READ title)
    Q_PROPERTY(QString XAyatanaLabelGuide READ labelGuide)
    Q_PROPERTY(uint XAyatanaOrderingIndex READ orderingIndex)

public:
    static constexpr const char* interfaceName = "org.kde.StatusNotifierItem";

    StatusNotifierItemAdaptor(StatusNotifierItem* item, SniIcon icon, QString iconThemePath,
                              QString menuPath);

    // Only hosts read these (the program itself never does): a read tells that one looked.
    QString category() const { return noteRead(QStringLiteral("ApplicationStatus")); }
    QString id() const { return noteRead(QStringLiteral("brimwell-ticker")); }
    QString title() const { return title_; }
    QString status() const { return noteRead(QStringLiteral("Active")); }
    int windowId() const { return 0; }
    QString iconName() const { return icon_.name; }
    QString iconThemePath() const { return iconThemePath_; }
    SniPixmapList iconPixmap() const { return icon_.pixmaps; }
    QString noIconName() const { return {}; }
    SniPixmapList noIconPixmap() const { return {}; }
    SniToolTip toolTip() const { return toolTip_; }
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const {
        noteRead({});
        return menuPath_;
    }
    // Wide enough for any price the title is expected to show, so the host reserves room.
    QString labelGuide() const { return QStringLiteral("\u20BF 000,000"); }
    uint orderingIndex() const { return 0; }

    // Store the value and emit this interface's own change signals.
    void setTitle(const QString& title);
    void setToolTip(const SniToolTip& toolTip);
    void setIcon(const SniIcon& icon);

public slots:
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void ContextMenu(int x, int y);
    void Scroll(int delta, const QString& orientation);
    void XAyatanaSecondaryActivate(uint timestamp);
    void ProvideXdgActivationToken(const QString& token);

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewMenu();
    void NewIconThemePath(const QString& iconThemePath);
    void NewStatus(const QString& status);
    void XAyatanaNewLabel(const QString& label, const QString& guide);

private:
    QString noteRead(QString value) const {
        item_->read_ = true;
        return value;
    }

    StatusNotifierItem* item_;
    SniIcon icon_;
    QString iconThemePath_;
    QDBusObjectPath menuPath_;
    QString title_;
    SniToolTip toolTip_;
};
