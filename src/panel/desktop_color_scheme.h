#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>
#include <QPalette>

#include <chrono>

// Whether the desktop prefers dark or light windows, as the user chose it.
enum class ColorScheme { noPreference, dark, light };

// The desktop's colour scheme as the desktop portal tells it (the `color-scheme` setting
// of `org.freedesktop.appearance`), asked once at start and followed while it changes.
// Nothing waits for it: it settles on the first answer or after `limit`, whichever comes
// first, with no preference where no portal answers; a later answer still counts.
class DesktopColorScheme : public QObject {
    Q_OBJECT

public:
    DesktopColorScheme(QDBusConnection bus, std::chrono::milliseconds limit,
                       QObject* parent = nullptr);

    ColorScheme preference() const { return preference_; }
    bool settled() const { return settled_; }

signals:
    // It settled, or the preference changed after that.
    void changed();

private slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    void take(QVariant value);
    void settle();

    ColorScheme preference_ = ColorScheme::noPreference;
    bool settled_ = false;
};

// The palette for a window of the program under `preference`: the platform's own (the
// desktop's colours) where it already is as dark or as light as preferred, else a dark or
// light one of the program's own. Two roles are the program's in any case, so that every
// text follows the palette: PlaceholderText, which secondary texts take, is the text colour
// toned towards the window colour (some platform palettes keep a fixed grey there that
// fades into a dark window), and BrightText is the red of failure texts, lighter on a dark
// window than on a light one.
QPalette schemePalette(const QPalette& platform, ColorScheme preference);
