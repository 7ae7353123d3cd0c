#pragma once

#include <filesystem>
#include <functional>
#include <vector>

#include <QObject>
#include <QString>

class QLocalServer;

namespace ui {

// One window per program and user. The first start serves a local socket;
// a later start hands its files to it (the window comes forward and queues
// them) and ends.
class SingleInstance : public QObject {
public:
    enum class Role {
        primary,    // serving: this process shows the window
        handedOver, // a running instance took the files; this process ends
        alone,      // neither worked: this process shows its own window
    };
    using Receiver = std::function<void(std::vector<std::filesystem::path>)>;

    // The socket of `program` for this user: "<program>-<uid>.socket" in
    // `runtimeDir` (default: XDG_RUNTIME_DIR, else the temporary folder).
    static QString serverName(const QString& program, const QString& runtimeDir = {});

    explicit SingleInstance(QString serverName, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Hands `files` (made absolute against the current folder) to the
    // running instance, or else starts serving. A socket left behind by an
    // instance that crashed is removed first.
    Role start(const std::vector<std::filesystem::path>& files);
    // Called on the GUI thread with each list of files another start hands
    // over (possibly empty: it only wants the window). Lists that arrive
    // before a receiver is set wait for it.
    void setReceiver(Receiver receiver);

private:
    enum class HandOff { taken, noServer, failed };
    HandOff handOver(const std::vector<std::filesystem::path>& files);
    void acceptConnections();
    void deliver(std::vector<std::filesystem::path> files);

    QString name_;
    QLocalServer* server_ = nullptr;
    Receiver receiver_;
    std::vector<std::vector<std::filesystem::path>> waiting_;
};

} // namespace ui
