// The Episodes window: the days under the destination, the episodes of the
// chosen day, the viewer, and what can be done with an episode (open its
// folder, export it as a video, delete it). A window of its own beside the
// main one: the recording and the uploads go on while it is open.
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QUrl;

namespace Ui {
class F_Episodes;
}

namespace vistrel {

class Episode_Player;
class Episode_Rows;
class Thumbnail_Cache;
class Thumbnail_Loader;
class Upload_List;

// An export running on a thread of its own; dropping it cancels it and waits
// for the thread.
class Running_Export {
public:
    virtual ~Running_Export() = default;
    virtual void Cancel() = 0;
};

struct Export_Request {
    std::string folder_path;           // the episode's folder
    std::vector<std::string> pictures; // its pictures, in the order taken
    std::string output;                // the video file to write
};

struct Export_Callbacks {
    std::function<void(double fraction)> progress; // from the export's thread
    std::function<void(bool ok, const std::string& message)> done;
};

struct Episodes_Hooks {
    std::string dest_folder;
    Upload_List* queue = nullptr;
    std::string refused_file;
    // The folder of the episode being recorded, "" when none is.
    std::function<std::string()> current_episode;
    // The world, replaced by the tests; each has a plain default.
    std::function<void(const QUrl&)> open_url;
    std::function<QString(const QString& suggested)> ask_save_path;
    std::function<bool(const QString& question)> confirm;
    std::function<void(const QString& message)> tell;
    // Starts an export; without it "Export video" is disabled.
    std::function<std::unique_ptr<Running_Export>(Export_Request, Export_Callbacks)> run_export;
    // Asks for the thumbnails of the rows in view, which come back through
    // Thumbnail_Arrived. Unset: the thumbnail loader, within its cache.
    std::function<void(const std::vector<std::string>& paths)> request_thumbnails;
};

// Whether `path` lies in the destination's tree (a video there would count
// as one of its files), symbolic links resolved as far as they exist.
bool Inside_Folder(const std::string& folder, const std::string& path);

class TF_Episodes : public QWidget {
    Q_OBJECT

public:
    explicit TF_Episodes(Episodes_Hooks hooks, QWidget* parent = nullptr);
    ~TF_Episodes() override;

    Ui::F_Episodes& Form() { return *ui_; }
    Episode_Rows& Rows() { return *rows_; }
    Episode_Player& Player() { return *player_; }

    // The day folders again, the chosen day kept when it is still there.
    void Reload_Days();
    void Select_Day(int row);
    void Select_Episode(int row);
    int Selected_Episode() const;
    bool Exporting() const { return export_ != nullptr; }
    // A thumbnail asked for; from any thread.
    void Thumbnail_Arrived(const std::string& path, const QImage& thumbnail);

    void BTN_Open_FolderClick();
    void BTN_ExportClick();
    void BTN_DeleteClick();
    void BTN_Cancel_ExportClick();
    // The episode being recorded grows: its row and, if shown, the viewer.
    void TMR_GrowTimer();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Connect_Controls();
    void Ask_Visible_Thumbnails();
    void Update_Buttons();
    void Export_Ended(bool ok, const QString& message);
    std::string Current_Episode() const;

    std::unique_ptr<Ui::F_Episodes> ui_;
    Episodes_Hooks hooks_;
    Episode_Rows* rows_;
    Episode_Player* player_;
    QTimer TMR_Grow;
    std::unique_ptr<Running_Export> export_;
    std::unique_ptr<Thumbnail_Cache> cache_;
    // Last: its thread stops before the rest goes.
    std::unique_ptr<Thumbnail_Loader> loader_;
};

} // namespace vistrel
