// The GUI module that gui_dlopen.cpp loads: a QApplication and a popup like the popover
// (260 px wide: a large price, three detail rows, two buttons), shown near (X, Y), closed
// 300 ms after its first paint. For the benchmarks only.
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

extern "C" void gui_dlopen_report(const char* step);

namespace {

class Popup : public QWidget {
public:
    Popup() : QWidget(nullptr, Qt::Popup) {}

protected:
    void paintEvent(QPaintEvent* event) override {
        QWidget::paintEvent(event);
        if (!painted_) {
            painted_ = true;
            QTimer::singleShot(300, this, [this] {
                gui_dlopen_report("shown");
                close();
                QCoreApplication::quit();
            });
        }
    }

private:
    bool painted_ = false;
};

} // namespace

// Qt allows one application object at a time: this works only because the host's is gone
// by now. An agent that runs on a QCoreApplication could not make this QApplication.
extern "C" int gui_module_show(int argc, char** argv, int x, int y) {
    int status = 0;
    {
        gui_dlopen_report("application");
        QApplication app(argc, argv);
        Popup popup;
        popup.setFixedWidth(260);
        auto* layout = new QVBoxLayout(&popup);
        auto* price = new QLabel(QString::fromUtf8("\u20bf 67,432"), &popup);
        QFont large = price->font();
        large.setPointSizeF(large.pointSizeF() * 2.4);
        large.setBold(true);
        price->setFont(large);
        layout->addWidget(price);
        for (const char* row : {"Source  mempool.space", "Updated  0 sec", "Change  +0.4 %"}) {
            layout->addWidget(new QLabel(QString::fromUtf8(row), &popup));
        }
        auto* buttons = new QHBoxLayout();
        buttons->addWidget(new QPushButton(QStringLiteral("Refresh"), &popup));
        buttons->addStretch();
        buttons->addWidget(new QPushButton(QStringLiteral("Quit"), &popup));
        layout->addLayout(buttons);
        popup.adjustSize();
        popup.move(x - 130, y + 4);
        popup.show();
        status = app.exec();
    }
    return status;
}
