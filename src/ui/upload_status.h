// What the window shows of the uploads: the client's status, the picture
// being sent, and in the status box's tooltip how many wait or were refused.
// The worker reports from its own thread; the labels change on the GUI's.
#pragma once

#include <QObject>

#include <cstddef>
#include <string>

namespace Ui {
class F_Main;
}

namespace vistrel {

class Upload_Status : public QObject {
    Q_OBJECT

public:
    // `refused_list` is the file that lists the pictures refused for good.
    Upload_Status(Ui::F_Main& form, std::string refused_list);

    // From any thread.
    void FTP_ClientStatus(const std::string& text);
    void Show_Upload_File(const std::string& name);
    // At every tick.
    void Show_Backlog(size_t waiting, size_t refused);

private:
    Ui::F_Main& ui_;
    const std::string refused_list_;
    size_t shown_backlog_ = 0;
};

} // namespace vistrel
