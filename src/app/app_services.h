// What the program needs from the world, replaceable in tests.
#pragma once

#include "capture/camera_choice.h"
#include "capture/frame_source.h"
#include "recording/clock.h"
#include "settings/window_placement.h"
#include "ui/episodes_window.h"
#include "update/web_addresses.h"
#include "upload/ftp_session.h"
#include "upload/server_trust.h"
#include "upload/sftp_client.h"

#include <QString>
#include <QUrl>

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace vistrel {

struct App_Services {
    std::unique_ptr<Frame_Source> camera;
    std::unique_ptr<Clock> clock;
    std::string data_folder; // ends in "/"
    Web_Addresses web;
    std::function<bool(const QUrl&)> open_url; // the user's browser
    std::function<Desktop_Area()> desktop;     // the area covering all screens
    std::function<bool()> tray_available;      // is there a notification area now
    // Takes the window off the taskbar (true) or puts it back (false).
    std::function<void(QWidget&, bool)> skip_taskbar;
    std::function<std::string()> default_dest_folder;
    // The cameras to offer, and how to open one by its description; without
    // them the live picture has no camera menu.
    std::function<std::vector<Camera_Option>()> list_cameras;
    std::function<std::unique_ptr<Frame_Source>(const std::string&)> make_camera;
    std::string camera_description; // the one opened at start
    // The autostart entry's file and the program it starts; without the file
    // the live picture's menu offers no start at login.
    std::string autostart_file;
    std::string program_path;
    // The HTTP client of the update check: starts fetching the version file;
    // `done` gets its body (nothing on any failure) on some thread. The fetch
    // is dropped with the handle.
    std::function<std::shared_ptr<void>(const std::string& url,
                                        std::function<void(std::optional<std::string>)> done)>
        HTP_Check_Ver;
    std::function<std::time_t()> program_modified; // the program file's modification time
    // The FTP client, reporting its status texts to `on_status` from the
    // thread of each operation. Without it the program uploads nothing.
    std::function<std::unique_ptr<Ftp_Session>(std::function<void(const std::string&)> on_status)>
        make_ftp_client;
    std::function<std::time_t()> now;
    // Asks whether to trust a certificate the system does not; without it a
    // question box asks.
    std::function<bool(const Certificate_Error&)> confirm_certificate;
    // The same for an SFTP server's host key not in known_hosts.
    std::function<bool(const Host_Key_Error&)> confirm_host_key;
    // Tells the user something in passing (`problem`: something is wrong);
    // a notification of the tray icon when unset.
    std::function<void(const QString& text, bool problem)> notify;
    // The Episodes window's file manager, save dialog, questions and video
    // export; each one unset is the plain one.
    Episodes_Hooks episodes;

    // The real ones: QDesktopServices, the screens, the XDG pictures folder.
    static App_Services Standard(std::unique_ptr<Frame_Source> camera);
};

} // namespace vistrel
