#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <unistd.h>

namespace vistrel {

namespace {

constexpr QByteArrayView kShow_Request = "show\n";
constexpr QByteArrayView kShown_Answer = "ok\n";
// A first start that took the lock a moment ago may not listen yet.
constexpr int kReach_Limit_ms = 5000;

// Where the first start listens: the session's runtime folder when there is
// one (private to the user), named after the data folder, so that Vistrels
// on other data folders never meet.
QString Socket_Path(const std::string& data_folder) {
    QString folder = QString::fromLocal8Bit(std::getenv("XDG_RUNTIME_DIR"));
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::tempPath();
    std::error_code ec;
    const std::string absolute = std::filesystem::absolute(data_folder, ec).lexically_normal();
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(ec ? data_folder : absolute),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    return folder +
           QStringLiteral("/vistrel-%1-%2").arg(::getuid()).arg(QString::fromLatin1(digest));
}

QByteArray Read_All(int fd) {
    QByteArray bytes;
    char buffer[512];
    off_t at = 0;
    for (ssize_t got; (got = ::pread(fd, buffer, sizeof buffer, at)) > 0; at += got)
        bytes.append(buffer, got);
    return bytes;
}

} // namespace

Single_Instance::Single_Instance(std::string data_folder, QObject* parent)
    : QObject(parent), data_folder_(std::move(data_folder)) {}

Single_Instance::~Single_Instance() {
    if (server_)
        server_->close(); // removes the socket file while the lock is still held
    if (lock_fd_ >= 0)
        ::close(lock_fd_); // and with it the lock
}

bool Single_Instance::Acquire() {
    std::error_code ec;
    std::filesystem::create_directories(data_folder_, ec);
    const std::string path = data_folder_ + kInstance_Lock_File_Name;
    lock_fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock_fd_ < 0)
        lock_fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (lock_fd_ < 0)
        return true;
    int locked;
    do
        locked = ::flock(lock_fd_, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        if (errno == EWOULDBLOCK)
            return false;
        // A file system without locks: nothing can be known of the others.
        return true;
    }
    Listen();
    return true;
}

void Single_Instance::Listen() {
    const QString socket_path = Socket_Path(data_folder_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket file left by a run that was killed: the lock says nobody
    // listens there any more.
    QLocalServer::removeServer(socket_path);
    if (!server_->listen(socket_path))
        return;
    connect(server_, &QLocalServer::newConnection, this, &Single_Instance::Serve_One);
    // The address goes into the lock file, so that a later start finds this
    // one whatever its own environment says.
    const QByteArray address = socket_path.toLocal8Bit() + '\n';
    if (::ftruncate(lock_fd_, 0) == 0) {
        [[maybe_unused]] const ssize_t written =
            ::pwrite(lock_fd_, address.data(), static_cast<size_t>(address.size()), 0);
    }
}

void Single_Instance::Serve_One() {
    while (QLocalSocket* peer = server_->nextPendingConnection()) {
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
            if (!peer->canReadLine()) {
                if (peer->bytesAvailable() > 64)
                    peer->abort(); // no line this long is ever asked
                return;
            }
            const QByteArray line = peer->readLine(64);
            if (line == kShow_Request) {
                peer->write(kShown_Answer.data(), kShown_Answer.size());
                peer->flush();
                emit Show_Requested();
            }
            peer->disconnectFromServer();
        });
    }
}

bool Single_Instance::Ask_Running_To_Show() const {
    const QDeadlineTimer deadline(kReach_Limit_ms);
    while (!deadline.hasExpired()) {
        const QByteArray address = Read_All(lock_fd_).trimmed();
        if (!address.isEmpty()) {
            QLocalSocket socket;
            socket.connectToServer(QString::fromLocal8Bit(address));
            if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
                socket.write(kShow_Request.data(), kShow_Request.size());
                if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
                    return false;
                while (socket.bytesAvailable() < kShown_Answer.size() &&
                       socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
                }
                return socket.readAll() == kShown_Answer;
            }
        }
        QThread::msleep(100);
    }
    return false;
}

} // namespace vistrel
