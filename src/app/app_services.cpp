#include "app/app_services.h"

#include "desktop/autostart_entry.h"
#include "desktop/taskbar_entry.h"
#include "net/version_fetch.h"
#include "recording/storage_layout.h"
#include "settings/data_folder.h"
#include "upload/server_session.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QScreen>
#include <QSystemTrayIcon>

#include <chrono>
#include <filesystem>

#include <sys/stat.h>

#ifndef VISTREL_UPDATE_CHECK
#define VISTREL_UPDATE_CHECK 1
#endif

namespace vistrel {

App_Services App_Services::Standard(std::unique_ptr<Frame_Source> camera) {
    App_Services s;
    s.camera = std::move(camera);
    s.clock = std::make_unique<System_Clock>();
    s.data_folder = Data_Folder_Path();
    s.web = Current_Web_Addresses();
    s.open_url = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    s.desktop = [] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QRect area = screen ? screen->virtualGeometry() : QRect(0, 0, 1024, 768);
        return Desktop_Area{area.left(), area.top(), area.width(), area.height()};
    };
    s.tray_available = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    s.autostart_file = Autostart_File_Path(Environment_Variable);
    std::error_code no_link;
    s.program_path = std::filesystem::read_symlink("/proc/self/exe", no_link).string();
    s.skip_taskbar = [](QWidget& window, bool skip) { Set_Skip_Taskbar(window, skip); };
    s.default_dest_folder = [] { return Default_Dest_Folder(); };
    // Without the fetch the check asks nothing, opens no page and shows no
    // dialog; the link to the download page stays.
    if (Update_Check_Wanted(VISTREL_UPDATE_CHECK, Web_Base()))
        s.HTP_Check_Ver = [](const std::string& url,
                             std::function<void(std::optional<std::string>)> done) {
            return std::shared_ptr<void>(
                std::make_shared<Version_Fetch>(url, std::chrono::seconds(10), std::move(done)));
        };
    s.program_modified = [] {
        struct stat st {};
        return ::stat("/proc/self/exe", &st) == 0 ? st.st_mtime : std::time(nullptr);
    };
    s.now = [] { return std::time(nullptr); };
    s.make_ftp_client = [folder =
                             s.data_folder](std::function<void(const std::string&)> on_status) {
        auto session = std::make_unique<Server_Session>();
        FTP_Client& ftp = session->Ftp;
        ftp.Pinned_Certificate = [pins = Trusted_Servers(folder + Trusted_Servers::kFile_Name)](
                                     const std::string& host, uint16_t port) {
            return pins.Pinned(host, port);
        };
        ftp.OnStatus = [on_status](Ftp_Status, const std::string& text) { on_status(text); };
        session->Sftp.Known_Hosts_File = folder + kKnown_Hosts_File_Name;
        session->Sftp.OnStatus = on_status;
        return std::unique_ptr<Ftp_Session>(std::move(session));
    };
    return s;
}

} // namespace vistrel
