#include "menubar/status_notifier_item_adaptor.h"

#include "menubar/status_notifier_item.h"

#include <QDBusMetaType>

StatusNotifierItemAdaptor::StatusNotifierItemAdaptor(StatusNotifierItem* item, QString iconName,
                                                     SniPixmapList iconPixmaps, QString menuPath)
    : QDBusAbstractAdaptor(item), item_(item), iconName_(std::move(iconName)),
      iconPixmaps_(std::move(iconPixmaps)), menuPath_(std::move(menuPath)) {
    qDBusRegisterMetaType<SniPixmap>();
    qDBusRegisterMetaType<SniPixmapList>();
    qDBusRegisterMetaType<SniToolTip>();
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
