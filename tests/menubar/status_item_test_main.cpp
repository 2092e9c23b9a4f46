#include <QGuiApplication>
#include <gtest/gtest.h>

// The item's tests run an event loop (replies and signals arrive through it) and render
// the icon, so they need an application object; no screen is used.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
