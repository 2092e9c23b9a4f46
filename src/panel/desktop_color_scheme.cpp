#include "desktop_color_scheme.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QTimer>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearance = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

// `share` of `a`, the rest of `b`.
QColor mixed(const QColor& a, const QColor& b, double share) {
    return QColor::fromRgbF(float(a.redF() * share + b.redF() * (1 - share)),
                            float(a.greenF() * share + b.greenF() * (1 - share)),
                            float(a.blueF() * share + b.blueF() * (1 - share)));
}

QPalette ownPalette(bool dark) {
    const QColor window = dark ? QColor(0x2d, 0x2d, 0x2d) : QColor(0xef, 0xef, 0xef);
    const QColor text = dark ? QColor(0xf2, 0xf2, 0xf2) : QColor(0x1a, 0x1a, 0x1a);
    QPalette palette(dark ? QColor(0x3c, 0x3c, 0x3c) : window, window);
    for (const auto role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText}) {
        palette.setColor(role, text);
        palette.setColor(QPalette::Disabled, role, mixed(text, window, 0.5));
    }
    palette.setColor(QPalette::Base, dark ? QColor(0x24, 0x24, 0x24) : Qt::white);
    palette.setColor(QPalette::ToolTipBase, window);
    palette.setColor(QPalette::Highlight,
                     dark ? QColor(0x35, 0x84, 0xe4) : QColor(0x30, 0x8c, 0xc6));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, dark ? QColor(0x78, 0xae, 0xed) : QColor(0x1a, 0x5f, 0xb4));
    return palette;
}

} // namespace

DesktopColorScheme::DesktopColorScheme(QDBusConnection bus, std::chrono::milliseconds limit,
                                       QObject* parent)
    : QObject(parent) {
    bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"),
                this, SLOT(settingChanged(QString, QString, QDBusVariant)));
    QDBusMessage read = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface,
                                                       QStringLiteral("Read"));
    read << appearance << colorSchemeKey;
    auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(read), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusMessage reply = call->reply();
                if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
                    take(reply.arguments().constFirst());
                }
                settle();
            });
    QTimer::singleShot(limit, this, &DesktopColorScheme::settle);
}

void DesktopColorScheme::settingChanged(const QString& group, const QString& key,
                                        const QDBusVariant& value) {
    if (group == appearance && key == colorSchemeKey) {
        take(value.variant());
    }
}

void DesktopColorScheme::take(QVariant value) {
    // The portal's Read wraps the setting's variant in a second one.
    while (value.metaType() == QMetaType::fromType<QDBusVariant>()) {
        value = value.value<QDBusVariant>().variant();
    }
    bool valid = false;
    const uint code = value.toUInt(&valid);
    const ColorScheme preference = !valid      ? ColorScheme::noPreference
                                   : code == 1 ? ColorScheme::dark
                                   : code == 2 ? ColorScheme::light
                                               : ColorScheme::noPreference;
    if (preference != preference_) {
        preference_ = preference;
        if (settled_) {
            emit changed();
        }
    }
}

void DesktopColorScheme::settle() {
    if (!settled_) {
        settled_ = true;
        emit changed();
    }
}

QPalette schemePalette(const QPalette& platform, ColorScheme preference) {
    QPalette palette = platform;
    if (preference != ColorScheme::noPreference &&
        (preference == ColorScheme::dark) != isDark(platform)) {
        palette = ownPalette(preference == ColorScheme::dark);
    }
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::PlaceholderText,
                         mixed(palette.color(group, QPalette::WindowText),
                               palette.color(group, QPalette::Window), 0.65));
    }
    palette.setColor(QPalette::BrightText,
                     isDark(palette) ? QColor(0xff, 0x7b, 0x72) : QColor(0xc0, 0x1c, 0x28));
    return palette;
}
