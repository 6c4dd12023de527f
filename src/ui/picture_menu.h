// The live picture's context menu: the camera to watch, a network camera,
// the Detection, Notifications and Storage dialogs, the Episodes window and the start at login.
#pragma once

#include "capture/camera_choice.h"

#include <QObject>

#include <functional>
#include <string>
#include <vector>

class QLabel;
class QMenu;
class QPoint;
class QWidget;

namespace vistrel {

struct Picture_Menu_Hooks {
    // The cameras to offer; without `can_switch` the menu has no cameras.
    std::function<std::vector<Camera_Option>()> list_cameras;
    bool can_switch = false;
    std::function<std::string()> current_camera;
    // The autostart entry's file and the program it starts; without the
    // file the menu offers no start at login.
    std::string autostart_file;
    std::string program_path;
};

class Picture_Menu : public QObject {
    Q_OBJECT

public:
    // Opens at a right click on `picture`; questions and warnings go over
    // `window`.
    Picture_Menu(QLabel& picture, QWidget& window, Picture_Menu_Hooks hooks);

    void Fill_Picture_Menu(QMenu& menu);

signals:
    void Camera_Chosen(const std::string& description);
    void Detection_Asked();     // MNI_DetectionClick
    void Notifications_Asked(); // MNI_NotifyClick
    void Episodes_Asked();      // MNI_EpisodesClick
    void Storage_Asked();       // MNI_StorageClick

private:
    void Show_Picture_Menu(const QPoint& at);
    void Ask_Network_Camera();
    void Set_Start_At_Login(bool enabled);

    QLabel& picture_;
    QWidget& window_;
    Picture_Menu_Hooks hooks_;
};

} // namespace vistrel
