#include "test_support.h"

#include "price/log_sink.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QFile>
#include <QTest>

#include <csignal>

namespace {

const std::string certs = TEST_CERTS;
const char* const hosts[] = {"mempool.space", "api.coinbase.com", "api.kraken.com",
                             "blockchain.info", "api.coingecko.com"};

} // namespace

LocalServices::LocalServices(const std::string& certificate)
    : server_(
          std::make_unique<httplib::SSLServer>((certs + "/" + certificate + ".pem").c_str(),
                                               (certs + "/" + certificate + "-key.pem").c_str())) {
    server_->set_pre_routing_handler([this](const httplib::Request&, httplib::Response&) {
        ++requests;
        return httplib::Server::HandlerResponse::Unhandled;
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
}

LocalServices::~LocalServices() {
    stopping_ = true;
    server_->stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void LocalServices::answer(const std::string& path, int status, const std::string& body) {
    server_->Get(path, [status, body](const httplib::Request&, httplib::Response& response) {
        response.status = status;
        response.set_content(body, "application/json");
    });
}

void LocalServices::start() {
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) {
        std::this_thread::sleep_for(1ms);
    }
}

void LocalServices::hold(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!stopping_ && !released_ && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(10ms);
    }
}

RequestOptions LocalServices::options(TransferLimits limits) const {
    RequestOptions options{{}, certs + "/ca.pem", limits};
    for (const char* host : hosts) {
        options.connectTo.push_back(std::string(host) + ":443:127.0.0.1:" + std::to_string(port_));
    }
    return options;
}

QStringList LocalServices::arguments() const {
    QStringList arguments;
    for (const std::string& entry : options().connectTo) {
        arguments << "--connect-to" << QString::fromStdString(entry);
    }
    return arguments << "--cacert" << QString::fromStdString(certs + "/ca.pem");
}

LogLines::LogLines() {
    LogSink::exchangeWriter([this](std::string_view line) {
        const std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
    });
}

LogLines::~LogLines() {
    LogSink::exchangeWriter({});
}

std::vector<std::string> LogLines::lines() const {
    const std::lock_guard lock(mutex_);
    return lines_;
}

PrivateBus::PrivateBus() {
    // A session bus that starts no service on demand: the machine's own (a notification
    // daemon, say) would stand in for what the test provides or leaves out.
    config_.open();
    config_.write("<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                  "<policy context='default'><allow send_destination='*' eavesdrop='true'/>"
                  "<allow eavesdrop='true'/><allow own='*'/></policy></busconfig>");
    config_.flush();
    daemon_.start("dbus-daemon",
                  {"--config-file=" + config_.fileName(), "--nofork", "--print-address"});
    daemon_.waitForReadyRead(int(patience.count()));
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
    for (const QString& name : names_) {
        QDBusConnection::disconnectFromBus(name);
    }
    daemon_.kill();
    daemon_.waitForFinished();
}

QDBusConnection PrivateBus::connect(const QString& name) {
    names_ << name;
    return QDBusConnection::connectToBus(address_, name);
}

QDBusMessage PrivateBus::call(const QDBusConnection& connection, const QDBusMessage& message) {
    const QDBusPendingCall pending = connection.asyncCall(message, int(patience.count()));
    [[maybe_unused]] const bool finished = eventually([&] { return pending.isFinished(); });
    return pending.reply();
}

bool TestWatcher::start(bool lists) {
    return bus_.registerObject("/StatusNotifierWatcher", this,
                               QDBusConnection::ExportScriptableSlots |
                                   QDBusConnection::ExportScriptableSignals |
                                   (lists ? QDBusConnection::ExportAllProperties
                                          : QDBusConnection::RegisterOption(0))) &&
           bus_.registerService("org.kde.StatusNotifierWatcher");
}

void TestWatcher::stop() {
    bus_.unregisterService("org.kde.StatusNotifierWatcher");
    bus_.unregisterObject("/StatusNotifierWatcher");
}

TestNotifications::TestNotifications(QDBusConnection bus) {
    bus.registerObject("/org/freedesktop/Notifications", this,
                       QDBusConnection::ExportScriptableSlots);
    bus.registerService("org.freedesktop.Notifications");
}

uint TestNotifications::Notify(const QString&, uint, const QString& icon, const QString& summary,
                               const QString& body, const QStringList&, const QVariantMap&, int) {
    shown << summary + "|" + body + "|" + icon;
    return uint(shown.size());
}

Program::Program(const QStringList& arguments, const QProcessEnvironment& environment,
                 const QStringList& command) {
    process_.setProcessEnvironment(environment);
    process_.start(command.front(), command.sliced(1) + arguments);
    process_.waitForStarted();
}

Program::~Program() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished();
    }
}

std::optional<QString> Program::readLine(std::chrono::milliseconds timeout) {
    [[maybe_unused]] const bool ended = QTest::qWaitFor(
        [&] {
            out_ += process_.readAllStandardOutput();
            return out_.contains('\n') || process_.state() == QProcess::NotRunning;
        },
        int(timeout.count()));
    const qsizetype end = out_.indexOf('\n');
    if (end < 0) {
        return std::nullopt;
    }
    const QString line = QString::fromUtf8(out_.left(end));
    out_.remove(0, end + 1);
    return line;
}

std::optional<int> Program::waitForExit(std::chrono::milliseconds timeout) {
    if (!QTest::qWaitFor([&] { return process_.state() == QProcess::NotRunning; },
                         int(timeout.count()))) {
        return std::nullopt;
    }
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

QString Program::standardError() {
    err_ += process_.readAllStandardError();
    return QString::fromUtf8(err_);
}

void Program::signal(int number) {
    ::kill(pid_t(process_.processId()), number);
}

bool Program::handles(int number) {
    return eventually([&] {
        QFile status(QString("/proc/%1/status").arg(process_.processId()));
        status.open(QIODevice::ReadOnly);
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("SigCgt:")) {
                return ((line.mid(7).trimmed().toULongLong(nullptr, 16) >> (number - 1)) & 1) != 0;
            }
        }
        return false;
    });
}

QString Program::binary() {
    return QStringLiteral(BRIMWELL_BINARY);
}

QProcessEnvironment Program::user(const QString& home) {
    QProcessEnvironment environment;
    environment.insert("HOME", home);
    environment.insert("XDG_CONFIG_HOME", home + "/config");
    environment.insert("XDG_STATE_HOME", home + "/state");
    environment.insert("XDG_DATA_DIRS", home + "/data"); // the ticker installed nowhere
    environment.insert("LC_ALL", "C.UTF-8");
    environment.insert("PATH", qEnvironmentVariable("PATH"));
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (qEnvironmentVariableIsSet(name)) {
            environment.insert(name, qEnvironmentVariable(name));
        }
    }
    return environment;
}
