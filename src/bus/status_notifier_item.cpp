#include "status_notifier_item.h"

#include "bus/dbus_menu.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString menuPath = QStringLiteral("/MenuBar");

} // namespace

QString tickerIconThemePath() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../share/icons"));
}

SniIcon tickerSniIcon(IconVariant variant) {
    const std::string_view name = tickerIconName(variant);
    const QString themed = QString::fromLatin1(name.data(), qsizetype(name.size()));
    const QString file = QStringLiteral("hicolor/64x64/apps/") + themed + QStringLiteral(".png");
    SniIcon icon;
    // Hosts that load icons only by name or by path get the file itself when the theme
    // is not installed where they look.
    const bool installed =
        !QStandardPaths::locate(QStandardPaths::GenericDataLocation, "icons/" + file).isEmpty();
    const QString local = tickerIconThemePath() + '/' + file;
    icon.name = installed || !QFileInfo::exists(local) ? themed : local;
    for (const IconImage& image : tickerIconImages(variant)) {
        icon.pixmaps.append({image.size, image.size,
                             QByteArray(reinterpret_cast<const char*>(image.argb.data()),
                                        qsizetype(image.argb.size()))});
    }
    return icon;
}

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, SniIcon icon, QString iconThemePath,
                                       QObject* parent, RegistrationPacing pacing)
    : QObject(parent), bus_(std::move(bus)),
      adaptor_(
          new StatusNotifierItemAdaptor(this, std::move(icon), std::move(iconThemePath), menuPath)),
      menu_(new DBusMenu(this)), pacing_(pacing), pause_(pacing.firstCheck) {
    registration_.setSingleShot(true);
    connect(&registration_, &QTimer::timeout, this, [this] {
        if (checking_) {
            checkTaken();
        } else {
            registerWithWatcher();
        }
    });
    connect(menu_, &DBusMenu::refreshClicked, this, &StatusNotifierItem::refreshRequested);
    connect(menu_, &DBusMenu::quitClicked, this, &StatusNotifierItem::quitRequested);
    connect(menu_, &DBusMenu::aboutToShow, this, &StatusNotifierItem::menuAboutToShow);
    connect(menu_, &DBusMenu::openChanged, this, &StatusNotifierItem::menuOpenChanged);
}

StatusNotifierItem::~StatusNotifierItem() {
    leaveBus();
}

bool StatusNotifierItem::watcherPresent(const QDBusConnection& bus) {
    const QDBusConnectionInterface* daemon = bus.interface();
    if (!bus.isConnected() || daemon == nullptr) {
        return false;
    }
    const QDBusReply<bool> owned = daemon->isServiceRegistered(watcherService);
    return owned.isValid() && owned.value();
}

QString StatusNotifierItem::serviceName() const {
    return QStringLiteral("org.kde.StatusNotifierItem-%1-1")
        .arg(QCoreApplication::applicationPid());
}

bool StatusNotifierItem::start() {
    if (started_) {
        return true;
    }
    if (!bus_.isConnected()) {
        return false;
    }
    // The objects go up before the name, so a host that sees the name appear can read
    // them at once.
    if (!bus_.registerObject(itemPath, this, QDBusConnection::ExportAdaptors)) {
        return false;
    }
    if (!bus_.registerObject(menuPath, menu_, QDBusConnection::ExportAdaptors)) {
        bus_.unregisterObject(itemPath);
        return false;
    }
    if (!bus_.registerService(serviceName())) {
        bus_.unregisterObject(menuPath);
        bus_.unregisterObject(itemPath);
        return false;
    }
    started_ = true;

    // A watcher that starts later, or starts again after a crash, knows nothing of us.
    watcherWatch_ = new QDBusServiceWatcher(watcherService, bus_,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcherWatch_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                if (!newOwner.isEmpty()) {
                    tries_ = 0;
                    pause_ = pacing_.firstCheck;
                    registerWithWatcher();
                }
            });
    bus_.connect(watcherService, watcherPath, watcherService,
                 QStringLiteral("StatusNotifierItemUnregistered"), this,
                 SLOT(watcherUnregistered(QString)));
    registerWithWatcher();
    return true;
}

void StatusNotifierItem::leaveBus() {
    if (!started_) {
        return;
    }
    started_ = false;
    registration_.stop();
    bus_.disconnect(watcherService, watcherPath, watcherService,
                    QStringLiteral("StatusNotifierItemUnregistered"), this,
                    SLOT(watcherUnregistered(QString)));
    delete watcherWatch_;
    watcherWatch_ = nullptr;
    bus_.unregisterService(serviceName());
    bus_.unregisterObject(menuPath);
    bus_.unregisterObject(itemPath);
}

void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        watcherService, watcherPath, watcherService, QStringLiteral("RegisterStatusNotifierItem"));
    call << serviceName();
    // Not waited for: some watchers answer only once the item is in the panel, and whether
    // it got there is looked at below.
    bus_.send(call);
    ++tries_;
    read_ = false;
    checking_ = true;
    registration_.start(pacing_.firstCheck);
}

void StatusNotifierItem::checkTaken() {
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << watcherService << QStringLiteral("RegisteredStatusNotifierItems");
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(get, 5000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *call;
                bool took = read_;
                if (!reply.isError()) {
                    const QStringList items = reply.value().variant().toStringList();
                    took = std::any_of(items.begin(), items.end(),
                                       [this](const QString& item) { return isThisItem(item); });
                }
                if (!started_) {
                    return;
                }
                if (took) {
                    tries_ = 0;
                    pause_ = pacing_.firstCheck;
                    emit this->taken();
                } else {
                    retryLater();
                }
            });
}

void StatusNotifierItem::retryLater() {
    checking_ = false;
    if (tries_ >= pacing_.tries) {
        tries_ = 0;
        pause_ = pacing_.firstCheck;
        emit notTaken();
        return;
    }
    registration_.start(pause_);
    pause_ *= 2;
}

void StatusNotifierItem::watcherUnregistered(const QString& item) {
    // A host that dropped the item while it still runs: back into the panel, unless a
    // registration is under way already.
    if (started_ && isThisItem(item) && !registration_.isActive()) {
        retryLater();
    }
}

bool StatusNotifierItem::isThisItem(const QString& entry) const {
    // Watchers name an item by its bus name, or by bus name or unique name and path.
    const QString unique = bus_.baseService();
    return entry == serviceName() || entry.startsWith(serviceName() + '/') || entry == unique ||
           entry.startsWith(unique + '/') || entry.startsWith(unique + '@');
}

void StatusNotifierItem::announceChangedProperties(const QVariantMap& changed) {
    if (!started_) {
        return;
    }
    QDBusMessage signal =
        QDBusMessage::createSignal(itemPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(StatusNotifierItemAdaptor::interfaceName) << changed
           << QStringList();
    bus_.send(signal);
}

void StatusNotifierItem::setTitle(const QString& title) {
    adaptor_->setTitle(title);
    announceChangedProperties(
        {{QStringLiteral("Title"), title}, {QStringLiteral("XAyatanaLabel"), title}});
}

void StatusNotifierItem::setToolTip(const QString& title, const QString& text) {
    if (adaptor_->toolTip().title == title && adaptor_->toolTip().text == text) {
        return;
    }
    const SniToolTip toolTip{{}, {}, title, text};
    adaptor_->setToolTip(toolTip);
    announceChangedProperties({{QStringLiteral("ToolTip"), QVariant::fromValue(toolTip)}});
}

void StatusNotifierItem::setIcon(const SniIcon& icon) {
    adaptor_->setIcon(icon);
    announceChangedProperties({{QStringLiteral("IconName"), icon.name},
                               {QStringLiteral("IconPixmap"), QVariant::fromValue(icon.pixmaps)}});
}

void StatusNotifierItem::setMenuRows(const QStringList& infoRows) {
    menu_->setInfoRows(infoRows);
}

StatusNotifierItemAdaptor::StatusNotifierItemAdaptor(StatusNotifierItem* item, SniIcon icon,
                                                     QString iconThemePath, QString menuPath)
    : QDBusAbstractAdaptor(item), item_(item), icon_(std::move(icon)),
      iconThemePath_(std::move(iconThemePath)), menuPath_(std::move(menuPath)) {
    registerDBusTypes();
}

void StatusNotifierItemAdaptor::setTitle(const QString& title) {
    title_ = title;
    emit NewTitle();
    emit XAyatanaNewLabel(title_, labelGuide());
}

void StatusNotifierItemAdaptor::setToolTip(const SniToolTip& toolTip) {
    toolTip_ = toolTip;
    emit NewToolTip();
}

void StatusNotifierItemAdaptor::setIcon(const SniIcon& icon) {
    icon_ = icon;
    emit NewIcon();
}

void StatusNotifierItemAdaptor::Activate(int x, int y) {
    emit item_->activated(x, y);
}

void StatusNotifierItemAdaptor::SecondaryActivate(int x, int y) {
    emit item_->secondaryActivated(x, y);
}

// The hosts that call these show the item's exported menu themselves.
void StatusNotifierItemAdaptor::ContextMenu(int /*x*/, int /*y*/) {}

void StatusNotifierItemAdaptor::Scroll(int /*delta*/, const QString& /*orientation*/) {}

// The host sends no position with this call.
void StatusNotifierItemAdaptor::XAyatanaSecondaryActivate(uint /*timestamp*/) {
    emit item_->secondaryActivated(0, 0);
}

// Accepted so that hosts see no error; the popup shown on a click needs no activation.
void StatusNotifierItemAdaptor::ProvideXdgActivationToken(const QString& /*token*/) {}
