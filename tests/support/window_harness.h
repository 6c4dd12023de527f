// A main window with a scripted camera and clock, its data folder in a
// temporary folder, and the world it talks to (browser, screens, web server)
// replaced by recorders.
#pragma once

#include "app/vistrel_app.h"
#include "support/recording_fakes.h"
#include "support/temp_dir.h"
#include "ui/main_window.h"
#include "upload/ftp_client.h"
#include "upload/server_session.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QUrl>

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vistrel::test {

struct Harness {
    test::Temp_Dir dir;
    test::Fake_Camera* camera = nullptr;
    test::Fake_Clock* clock = nullptr;
    std::vector<QUrl> opened;
    std::vector<std::string> fetched_urls;
    bool open_succeeds = true;
    bool tray = true;
    std::vector<bool> skip_taskbar; // what the window asked of its taskbar entry
    Desktop_Area desktop{0, 0, 1280, 1024};
    std::string donation;
    std::unique_ptr<Vistrel_App> window; // the whole program around its window
    std::optional<std::string> version_body;
    // Set: the version answer waits here until the test gives it.
    bool hold_version_answer = false;
    std::function<void(std::optional<std::string>)> held_version_answer;
    std::time_t program_modified = 0;
    std::time_t now = 0;
    // Adjusts the FTP client the window makes, before it is used.
    std::function<void(FTP_Client&)> configure_ftp;
    // Answers the connection test's question about an untrusted certificate;
    // empty: the window's own question box asks.
    std::function<bool(const Certificate_Error&)> confirm_certificate;
    // The same for an SFTP server's unknown host key.
    std::function<bool(const Host_Key_Error&)> confirm_host_key;
    struct Notice {
        std::string text;
        bool problem;
        bool operator==(const Notice&) const = default;
    };
    std::vector<Notice> notices; // what the window told in passing

    std::string Data() const { return dir.Folder() + "data/"; }
    std::string Ini() const { return Data() + "datas.ini"; }
    std::string Pictures() const { return dir.Folder() + "pics"; }

    void Write_Settings(const std::string& content) { dir.Write("data/datas.ini", content); }

    Vistrel_App& Create() {
        App_Services s;
        auto cam = std::make_unique<test::Fake_Camera>();
        camera = cam.get();
        auto clk = std::make_unique<test::Fake_Clock>();
        clock = clk.get();
        s.camera = std::move(cam);
        s.clock = std::move(clk);
        s.data_folder = Data();
        s.autostart_file = dir.Folder() + "config/autostart/vistrel.desktop";
        s.program_path = "/usr/bin/vistrel";
        s.web = {"http://web.test/kesto-soft/Vistrel/Vistrel.ver", "http://web.test/vistrel/",
                 "http://web.test/software/index.html", QString::fromStdString(donation),
                 "contact"};
        s.open_url = [this](const QUrl& url) {
            opened.push_back(url);
            return open_succeeds;
        };
        s.desktop = [this] { return desktop; };
        s.tray_available = [this] { return tray; };
        s.skip_taskbar = [this](QWidget&, bool skip) { skip_taskbar.push_back(skip); };
        s.default_dest_folder = [this] { return Pictures(); };
        s.HTP_Check_Ver = [this](const std::string& url,
                                 std::function<void(std::optional<std::string>)> done) {
            fetched_urls.push_back(url);
            if (hold_version_answer)
                held_version_answer = std::move(done);
            else
                done(version_body);
            return std::shared_ptr<void>();
        };
        s.program_modified = [this] { return program_modified; };
        s.now = [this] { return now; };
        s.make_ftp_client = [this](std::function<void(const std::string&)> on_status) {
            auto session = std::make_unique<Server_Session>();
            session->Sftp.Known_Hosts_File = Data() + kKnown_Hosts_File_Name;
            session->Sftp.Connect_Timeout = session->Sftp.Read_Timeout =
                session->Sftp.Stall_Timeout = std::chrono::seconds(5);
            session->Sftp.OnStatus = on_status;
            FTP_Client* client = &session->Ftp;
            client->Pinned_Certificate = [folder = Data()](const std::string& host, uint16_t port) {
                return Trusted_Servers(folder + Trusted_Servers::kFile_Name).Pinned(host, port);
            };
            // Short waits: a test server answers at once or not at all.
            client->Read_Timeout = std::chrono::seconds(5);
            client->Stall_Timeout = std::chrono::seconds(5);
            client->Connect_Timeout = std::chrono::seconds(5);
            client->OnStatus = [on_status](Ftp_Status, const std::string& text) {
                on_status(text);
            };
            if (configure_ftp)
                configure_ftp(*client);
            return std::unique_ptr<Ftp_Session>(std::move(session));
        };
        s.confirm_certificate = confirm_certificate;
        s.confirm_host_key = confirm_host_key;
        s.notify = [this](const QString& text, bool problem) {
            notices.push_back({text.toStdString(), problem});
        };
        window = std::make_unique<Vistrel_App>(std::move(s));
        return *window;
    }

    Vistrel_App& Activate() {
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(&window->Window(), &activate);
        return *window;
    }

    // Clicks the connection test and waits for its end, the window
    // responsive meanwhile.
    void Test_Connection() {
        window->BTN_FTP_TestClick();
        const QDeadlineTimer deadline(std::chrono::seconds(60));
        while (window && window->Connection_Test_Running() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }

    QString Status(int panel) const {
        return window->Window()
            .findChild<QLabel*>(QStringLiteral("STB_Main_Panel_%1").arg(panel))
            ->text();
    }
};

} // namespace vistrel::test
