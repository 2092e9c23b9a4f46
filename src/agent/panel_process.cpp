#include "panel_process.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

PanelProcess::PanelProcess(QObject* parent) : QObject(parent) {}

PanelProcess::~PanelProcess() {
    if (isRunning()) {
        process_->disconnect(this);
        // A GUI process ends at once on SIGTERM; waited for so that none is left behind.
        process_->terminate();
        process_->waitForFinished(1000);
    }
}

QString PanelProcess::program() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../libexec/brimwell-ticker/brimwell-ticker-panel"));
}

bool PanelProcess::start(const QStringList& arguments) {
    if (isRunning()) {
        return true;
    }
    delete process_;
    process_ = new QProcess(this);
    process_->setProcessChannelMode(QProcess::ForwardedChannels);
    process_->setInputChannelMode(QProcess::ForwardedInputChannel);
    connect(process_, &QProcess::finished, this, [this](int status, QProcess::ExitStatus how) {
        emit finished(how == QProcess::NormalExit ? status : -1);
    });
    connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            std::fprintf(stderr, "brimwell-ticker: cannot start %s: %s\n", qPrintable(program()),
                         qPrintable(process_->errorString()));
            emit finished(-1);
        }
    });
    process_->start(program(), arguments);
    return process_->state() != QProcess::NotRunning;
}

bool PanelProcess::isRunning() const {
    return process_ != nullptr && process_->state() != QProcess::NotRunning;
}

qint64 PanelProcess::processId() const {
    return isRunning() ? process_->processId() : 0;
}

void PanelProcess::stop() {
    if (isRunning()) {
        process_->terminate();
    }
}
