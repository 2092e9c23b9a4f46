#include "price_popover_view.h"

#include "panel/popover_placement.h"

#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLoggingCategory>
#include <QPainter>
#include <QScreen>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>

Q_LOGGING_CATEGORY(popoverLog, "brimwell.popover", QtInfoMsg)

namespace {

// Wayland gives a client no say where its window goes, and a popup there needs a window
// of the same client to hang from.
bool onWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

QFont scaled(const QFont& base, double factor, QFont::Weight weight = QFont::Normal) {
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * factor);
    font.setWeight(weight);
    return font;
}

// Drawn in the palette's colour of the moment, so that it follows a change of scheme.
void setSecondary(QWidget* widget) {
    widget->setForegroundRole(QPalette::PlaceholderText);
}

QLabel* secondaryLabel(QWidget* parent, const char* name, const QFont& font) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setFont(font);
    setSecondary(label);
    return label;
}

// `text` cut to at most `maxLines` lines of `width` pixels, the last one elided when more
// would follow.
QString lineLimitedText(const QString& text, const QFont& font, int width, int maxLines) {
    if (maxLines <= 0) {
        return {};
    }
    QString flowing = text;
    flowing.replace('\n', QChar::LineSeparator);
    QTextLayout layout(flowing, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList lines;
    int lastStart = 0;
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) {
            break;
        }
        line.setLineWidth(width);
        if (lines.size() == maxLines) {
            // There is more than fits: the last kept line takes the rest, elided.
            const QFontMetrics metrics(font);
            lines.last() =
                metrics.elidedText(flowing.mid(lastStart).simplified(), Qt::ElideRight, width);
            break;
        }
        lastStart = line.textStart();
        lines.append(flowing.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    return lines.join('\n');
}

bool sameKinds(const std::vector<PopoverRow>& a, const std::vector<PopoverRow>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const auto& x, const auto& y) { return x.kind == y.kind; });
}

} // namespace

Sparkline::Sparkline(QWidget* parent) : QWidget(parent) {
    setFixedHeight(36);
}

void Sparkline::setPoints(std::vector<PriceHistory::Point> points,
                          std::chrono::system_clock::time_point now) {
    points_ = std::move(points);
    now_ = now;
    QWidget::update();
}

bool Sparkline::isGap(std::chrono::system_clock::duration between,
                      std::chrono::system_clock::duration usual) {
    return between > 3 * usual && between > std::chrono::minutes(5);
}

void Sparkline::paintEvent(QPaintEvent*) {
    if (points_.size() < 2) {
        return;
    }
    std::vector<std::chrono::system_clock::duration> steps;
    for (std::size_t i = 1; i < points_.size(); ++i) {
        steps.push_back(points_[i].time - points_[i - 1].time);
    }
    std::nth_element(steps.begin(), steps.begin() + std::ptrdiff_t(steps.size() / 2), steps.end());
    const auto usual = steps[steps.size() / 2];
    const auto [low, high] = std::minmax_element(
        points_.begin(), points_.end(),
        [](const PriceHistory::Point& a, const PriceHistory::Point& b) { return a.usd < b.usd; });
    const double span = std::chrono::duration<double>(now_ - points_.front().time).count();
    const double range = high->usd - low->usd;
    const QRectF area = QRectF(rect()).adjusted(1, 2, -1, -2);
    const auto at = [&](const PriceHistory::Point& point) {
        const double x = std::chrono::duration<double>(point.time - points_.front().time).count();
        const double y = range > 0 ? (point.usd - low->usd) / range : 0.5;
        return QPointF(area.left() + area.width() * (span > 0 ? x / span : 0),
                       area.bottom() - area.height() * y);
    };
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
    QPolygonF run{at(points_.front())};
    for (std::size_t i = 1; i < points_.size(); ++i) {
        if (isGap(points_[i].time - points_[i - 1].time, usual)) {
            painter.drawPolyline(run);
            run.clear();
        }
        run << at(points_[i]);
    }
    painter.drawPolyline(run);
}

PricePopoverView::PricePopoverView(TickerFeed& feed, QLocale locale, Clock clock,
                                   PriceHistory history, QWidget* parent)
    : QWidget(parent, onWayland() ? Qt::Dialog : Qt::Popup), feed_(feed),
      locale_(std::move(locale)), clock_(std::move(clock)), history_(std::move(history)) {
    // Compositors draw a dropdown menu as a popup (a shadow, no frame of their own). The
    // type reaches the window system only once the window exists.
    create();
    setAttribute(Qt::WA_X11NetWmWindowTypeDropDownMenu);
    setWindowTitle(tr("Bitcoin price"));
    setPalette(schemePalette(QGuiApplication::palette(), scheme_));
    setFixedWidth(fixedWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->setSpacing(spacing);
    rowLayout_ = new QVBoxLayout();
    rowLayout_->setContentsMargins(0, 0, 0, 0);
    rowLayout_->setSpacing(spacing);
    layout->addLayout(rowLayout_);

    auto* buttons = new QHBoxLayout();
    refresh_ = new QPushButton(tr("Refresh"), this);
    refresh_->setObjectName("refresh");
    quit_ = new QPushButton(tr("Quit"), this);
    quit_->setObjectName("quit");
    buttons->addWidget(refresh_);
    buttons->addStretch();
    buttons->addWidget(quit_);
    layout->addLayout(buttons);

    // Each press starts its own pass; the outcome arrives through the fetcher.
    connect(refresh_, &QPushButton::clicked, &feed_, &TickerFeed::refresh);
    connect(quit_, &QPushButton::clicked, this, &PricePopoverView::quitRequested);
    connect(&feed_, &TickerFeed::changed, this, [this] {
        historyOutdated_ = true;
        update();
    });
    ageTimer_.setInterval(std::chrono::seconds(1));
    connect(&ageTimer_, &QTimer::timeout, this, &PricePopoverView::update);
    update();
}

void PricePopoverView::update() {
    auto rows = popoverRows(feed_.state(), clock_(), locale_);
    const bool rebuildNeeded = !sameKinds(rows, rows_);
    rows_ = std::move(rows);
    if (rebuildNeeded) {
        rebuild();
    } else {
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            fill(rowWidgets_[i], rows_[i]);
        }
    }
    if (isVisible() && popoverLog().isDebugEnabled()) {
        if (const QString shown = shownText(); shown != logged_) {
            logged_ = shown;
            qCDebug(popoverLog).noquote() << "shows" << shown;
        }
    }
}

// The texts of the rows as drawn: a row's texts joined by spaces, rows by " | ".
QString PricePopoverView::shownText() const {
    QStringList rows;
    for (const QWidget* widget : rowWidgets_) {
        QStringList texts;
        if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            texts << label->text();
        }
        for (const QLabel* label : widget->findChildren<QLabel*>()) {
            texts << label->text();
        }
        if (!texts.isEmpty()) {
            rows << texts.join(' ');
        }
    }
    return rows.join(QStringLiteral(" | ")).replace('\n', ' ');
}

void PricePopoverView::rebuild() {
    for (QWidget* widget : rowWidgets_) {
        delete widget;
    }
    rowWidgets_.clear();
    historyOutdated_ = true; // a new picture has no points yet
    for (const PopoverRow& row : rows_) {
        QWidget* widget = makeRowWidget(row);
        fill(widget, row);
        rowLayout_->addWidget(widget);
        rowWidgets_.push_back(widget);
    }
    adjustSize();
}

QWidget* PricePopoverView::makeRowWidget(const PopoverRow& row) {
    const QFont base = font();
    switch (row.kind) {
    case PopoverRow::Kind::divider: {
        auto* line = new QFrame(this);
        line->setObjectName("divider");
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        return line;
    }
    case PopoverRow::Kind::source:
    case PopoverRow::Kind::updated: {
        auto* box = new QWidget(this);
        box->setObjectName(row.kind == PopoverRow::Kind::source ? "source" : "updated");
        box->setFont(scaled(base, 0.85));
        auto* layout = new QHBoxLayout(box);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new QLabel(box));
        layout->addStretch();
        auto* value = new QLabel(box);
        setSecondary(value);
        layout->addWidget(value);
        return box;
    }
    case PopoverRow::Kind::price: {
        auto* label = new QLabel(this);
        label->setObjectName("price");
        // Common UI fonts draw their default digits at equal widths, so a changing price
        // does not make the text dance.
        QFont large = base;
        large.setPointSize(32);
        large.setWeight(QFont::DemiBold);
        label->setFont(large);
        return label;
    }
    case PopoverRow::Kind::caption:
        return secondaryLabel(this, "caption", scaled(base, 0.85));
    case PopoverRow::Kind::change: {
        auto* box = new QWidget(this);
        box->setObjectName("change");
        auto* layout = new QVBoxLayout(box);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new Sparkline(box));
        layout->addWidget(secondaryLabel(box, "changeText", scaled(base, 0.85)));
        return box;
    }
    case PopoverRow::Kind::fetching:
        return secondaryLabel(this, "fetching", scaled(base, 1.25));
    case PopoverRow::Kind::error: {
        auto* label = new QLabel(this);
        label->setObjectName("error");
        label->setFont(scaled(base, 0.8));
        label->setWordWrap(true);
        label->setTextFormat(Qt::PlainText);
        label->setForegroundRole(QPalette::BrightText); // the palette's red
        return label;
    }
    }
    return new QWidget(this);
}

void PricePopoverView::fill(QWidget* widget, const PopoverRow& row) {
    switch (row.kind) {
    case PopoverRow::Kind::divider:
        return;
    case PopoverRow::Kind::source:
    case PopoverRow::Kind::updated: {
        const auto labels = widget->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
        labels[0]->setText(row.text);
        labels[1]->setText(row.value);
        return;
    }
    case PopoverRow::Kind::error: {
        auto* label = static_cast<QLabel*>(widget);
        label->setToolTip(row.text);
        label->setText(
            lineLimitedText(row.text, label->font(), fixedWidth - 2 * padding, errorLines));
        return;
    }
    case PopoverRow::Kind::change: {
        // Read again after a pass, not with every tick of the age.
        if (historyOutdated_) {
            historyOutdated_ = false;
            const auto now = clock_();
            const PriceHistory history = history_.forCurrency(feed_.state().currency);
            widget->findChild<Sparkline*>()->setPoints(history.read(now - std::chrono::hours(24)),
                                                       now);
        }
        widget->findChild<QLabel*>()->setText(row.text);
        return;
    }
    case PopoverRow::Kind::price:
    case PopoverRow::Kind::caption:
    case PopoverRow::Kind::fetching:
        static_cast<QLabel*>(widget)->setText(row.text);
        return;
    }
}

void PricePopoverView::showAt(QPoint anchor) {
    update();
    adjustSize();
    const QScreen* screen = QGuiApplication::screenAt(anchor);
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen && !onWayland()) {
        move(popoverPosition(anchor, size(), screen->geometry(), screen->availableGeometry(),
                             screenMargin));
    }
    show();
}

void PricePopoverView::setColorScheme(ColorScheme scheme) {
    scheme_ = scheme;
    setPalette(schemePalette(QGuiApplication::palette(), scheme_));
}

bool PricePopoverView::event(QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate && onWayland()) {
        close(); // a click elsewhere took the focus
    }
    return QWidget::event(event);
}

void PricePopoverView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ApplicationPaletteChange) {
        setColorScheme(scheme_); // the desktop's colours changed
    }
    QWidget::changeEvent(event);
}

void PricePopoverView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PricePopoverView::paintEvent(QPaintEvent*) {
    // A thin frame, so that the popover stands apart from a panel of the same colour.
    QColor frame = palette().color(QPalette::PlaceholderText);
    frame.setAlphaF(0.5);
    QPainter painter(this);
    painter.setPen(frame);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void PricePopoverView::showEvent(QShowEvent* event) {
    historyOutdated_ = true;
    update();
    ageTimer_.start();
    QWidget::showEvent(event);
}

void PricePopoverView::hideEvent(QHideEvent* event) {
    ageTimer_.stop();
    logged_.clear();
    QWidget::hideEvent(event);
    emit closed();
}
