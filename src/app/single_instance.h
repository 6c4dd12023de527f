// One Vistrel per data folder. Two on the same folder would send the same
// backlog twice, append to an upload queue the other has just replaced, and
// delete each other's pictures to keep free space. The first start holds a
// lock on a file of the data folder for as long as it runs, and listens on a
// local socket whose address it writes into that file; a later start finds
// the lock taken, asks the first one to show its window, and ends having
// changed nothing.
#pragma once

#include <QObject>

#include <string>

class QLocalServer;

namespace vistrel {

// The lock file in the data folder.
inline constexpr const char* kInstance_Lock_File_Name = "instance.lock";

class Single_Instance : public QObject {
    Q_OBJECT

public:
    // `data_folder` ends in "/".
    explicit Single_Instance(std::string data_folder, QObject* parent = nullptr);
    ~Single_Instance() override;
    Single_Instance(const Single_Instance&) = delete;
    Single_Instance& operator=(const Single_Instance&) = delete;

    // Takes the data folder for this run, creating the folder when needed;
    // false when another Vistrel holds it. A folder whose lock file cannot
    // be opened at all (a read-only folder) is not refused: the run goes on
    // as it always did, alone or not.
    bool Acquire();

    // Only after Acquire() said false: asks the running Vistrel to show its
    // window; false when it could not be reached within a few seconds.
    bool Ask_Running_To_Show() const;

signals:
    // A later start asked for the window.
    void Show_Requested();

private:
    void Listen();
    void Serve_One();

    std::string data_folder_;
    int lock_fd_ = -1;
    QLocalServer* server_ = nullptr;
};

} // namespace vistrel
