#include "ui/SingleInstance.h"

#include <unistd.h>

#include <QDataStream>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <fmt/format.h>

namespace ui {

namespace fs = std::filesystem;

namespace {

constexpr int kConnectMs = 1000;
constexpr int kReplyMs = 5000;
constexpr char kTaken = 'k'; // the running instance's reply: files taken
constexpr auto kStreamVersion = QDataStream::Qt_6_0;

} // namespace

QString SingleInstance::serverName(const QString& program, const QString& runtimeDir) {
    QString dir = runtimeDir;
    if (dir.isEmpty()) dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty()) dir = QDir::tempPath();
    const std::string file = fmt::format("{}-{}.socket", program.toStdString(), static_cast<unsigned long>(::getuid()));
    return QDir(dir).filePath(QString::fromStdString(file));
}

SingleInstance::SingleInstance(QString serverName, QObject* parent) : QObject(parent), name_(std::move(serverName)) {}

SingleInstance::~SingleInstance() = default;

SingleInstance::HandOff SingleInstance::handOver(const std::vector<fs::path>& files) {
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(kConnectMs)) {
        const auto error = socket.error();
        const bool nobody =
            error == QLocalSocket::ServerNotFoundError || error == QLocalSocket::ConnectionRefusedError;
        return nobody ? HandOff::noServer : HandOff::failed;
    }
    QStringList paths;
    std::error_code ec;
    for (const fs::path& file : files) {
        const fs::path absolute = fs::absolute(file, ec);
        paths << QString::fromStdString((ec ? file : absolute).string());
    }
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out.setVersion(kStreamVersion);
    out << paths;
    socket.write(message);
    if (!socket.waitForBytesWritten(kReplyMs)) return HandOff::failed;
    while (socket.bytesAvailable() < 1)
        if (!socket.waitForReadyRead(kReplyMs)) return HandOff::failed;
    char reply = 0;
    socket.getChar(&reply);
    return reply == kTaken ? HandOff::taken : HandOff::failed;
}

SingleInstance::Role SingleInstance::start(const std::vector<fs::path>& files) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        switch (handOver(files)) {
        case HandOff::taken:
            return Role::handedOver;
        case HandOff::failed:
            return Role::alone; // someone serves but does not answer: leave its socket alone
        case HandOff::noServer:
            break;
        }
        // Nobody serves: a socket file still there is one a crashed instance left.
        QLocalServer::removeServer(name_);
        auto* server = new QLocalServer(this);
        server->setSocketOptions(QLocalServer::UserAccessOption);
        if (server->listen(name_)) {
            server_ = server;
            connect(server_, &QLocalServer::newConnection, this, [this] { acceptConnections(); });
            return Role::primary;
        }
        delete server; // another start came first: hand over to it instead
    }
    return Role::alone;
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QPointer<QLocalSocket> guard(socket);
        connect(socket, &QLocalSocket::readyRead, this, [this, guard] {
            if (!guard) return;
            QDataStream in(guard.data());
            in.setVersion(kStreamVersion);
            in.startTransaction();
            QStringList paths;
            in >> paths;
            if (!in.commitTransaction()) return; // the rest is still on its way
            guard->putChar(kTaken);
            guard->flush();
            guard->disconnectFromServer();
            std::vector<fs::path> files;
            for (const QString& p : paths) files.emplace_back(p.toStdString());
            deliver(std::move(files));
        });
    }
}

void SingleInstance::deliver(std::vector<fs::path> files) {
    if (!receiver_) {
        waiting_.push_back(std::move(files));
        return;
    }
    receiver_(std::move(files));
}

void SingleInstance::setReceiver(Receiver receiver) {
    receiver_ = std::move(receiver);
    if (!receiver_) return;
    auto waiting = std::move(waiting_);
    waiting_.clear();
    for (auto& files : waiting) receiver_(std::move(files));
}

} // namespace ui
