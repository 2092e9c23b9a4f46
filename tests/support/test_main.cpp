// The tests' main: an application object first, as the code under test needs an event
// loop; a widget one for tests of the GUI.
#ifdef BRIMWELL_WIDGETS
#include <QApplication>
using Application = QApplication;
#else
#include <QCoreApplication>
using Application = QCoreApplication;
#endif
#include <gtest/gtest.h>

int main(int argc, char** argv) {
#ifdef BRIMWELL_WIDGETS
    qputenv("QT_QPA_PLATFORM", "offscreen"); // no display in tests
#endif
    Application app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
