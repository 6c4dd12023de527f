#include "ui/episodes_window.h"

#include "episodes/episode_delete.h"
#include "episodes/episode_listing.h"
#include "episodes/episode_summary.h"
#include "episodes/thumbnail_cache.h"
#include "episodes/thumbnail_loader.h"
#include "episodes/video_export.h"
#include "ui/episode_player.h"
#include "ui/episode_rows.h"
#include "ui/window_modal.h"
#include "ui_UF_Episodes.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QPointer>
#include <QScrollBar>
#include <QShortcut>
#include <QStandardPaths>
#include <QUrl>

#include <filesystem>

namespace vistrel {

namespace {

std::string Without_Trailing_Slash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

class Job_Export : public Running_Export {
public:
    Job_Export(Export_Request request, Export_Callbacks callbacks)
        : job_(
              Paths_Of(request), Picture_Times_Ms(request.pictures), request.output,
              [progress = std::move(callbacks.progress)](size_t done, size_t total) {
                  if (progress && total > 0)
                      progress(double(done) / double(total));
              },
              [done = std::move(callbacks.done)](const Export_Result& result) {
                  if (done)
                      done(result.outcome == Export_Outcome::Done,
                           result.outcome == Export_Outcome::Failed ? result.error : "");
              }) {}
    void Cancel() override { job_.Cancel(); }

private:
    static std::vector<std::string> Paths_Of(const Export_Request& request) {
        std::vector<std::string> paths;
        for (const std::string& name : request.pictures)
            paths.push_back(request.folder_path + "/" + name);
        return paths;
    }
    Video_Export_Job job_;
};

} // namespace

bool Inside_Folder(const std::string& folder, const std::string& path) {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::weakly_canonical(folder, ec);
    if (ec)
        return false;
    const std::filesystem::path target = std::filesystem::weakly_canonical(path, ec);
    if (ec)
        return false;
    const std::filesystem::path relative = target.lexically_relative(base);
    return !relative.empty() && *relative.begin() != "..";
}

TF_Episodes::TF_Episodes(Episodes_Hooks hooks, QWidget* parent)
    : QWidget(parent, Qt::Window), ui_(std::make_unique<Ui::F_Episodes>()),
      hooks_(std::move(hooks)) {
    ui_->setupUi(this);
    if (!hooks_.open_url)
        hooks_.open_url = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    if (!hooks_.ask_save_path)
        hooks_.ask_save_path = [this](const QString& suggested) {
            return QFileDialog::getSaveFileName(this, tr("Export video"), suggested,
                                                tr("WebM video (*.webm)"));
        };
    if (!hooks_.confirm)
        hooks_.confirm = [this](const QString& question) {
            QMessageBox box(QMessageBox::Question, windowTitle(), question,
                            QMessageBox::Yes | QMessageBox::No, this);
            box.setDefaultButton(QMessageBox::No);
            return Exec_Window_Modal(box) == QMessageBox::Yes;
        };
    if (!hooks_.tell)
        hooks_.tell = [this](const QString& message) {
            Tell_Window_Modal(this, QMessageBox::Warning, message);
        };
    if (!hooks_.run_export)
        hooks_.run_export = [](Export_Request request, Export_Callbacks callbacks) {
            return std::make_unique<Job_Export>(std::move(request), std::move(callbacks));
        };
    if (!hooks_.request_thumbnails) {
        cache_ = std::make_unique<Thumbnail_Cache>();
        loader_ = std::make_unique<Thumbnail_Loader>(
            *cache_, [this](const std::string& path, const QImage& thumbnail) {
                Thumbnail_Arrived(path, thumbnail);
            });
        hooks_.request_thumbnails = [this](const std::vector<std::string>& paths) {
            loader_->Request(paths);
        };
    }

    rows_ = new Episode_Rows(hooks_.queue, hooks_.refused_file, this);
    ui_->LST_Episodes->setModel(rows_);
    ui_->LST_Episodes->setItemDelegate(new Episode_Row_Delegate(ui_->LST_Episodes));
    player_ = new Episode_Player(
        {ui_->CNV_Picture, ui_->LBL_Picture, ui_->SLD_Position, ui_->BTN_Play, ui_->CMB_Speed},
        this);
    Connect_Controls();
    Reload_Days();
    // Once a second is enough to see the episode grow and costs one folder
    // listing.
    TMR_Grow.setInterval(1000);
    connect(&TMR_Grow, &QTimer::timeout, this, &TF_Episodes::TMR_GrowTimer);
    TMR_Grow.start();
}

TF_Episodes::~TF_Episodes() {
    // Stops the threads before the window they report to goes.
    loader_.reset();
    export_.reset();
}

void TF_Episodes::Thumbnail_Arrived(const std::string& path, const QImage& thumbnail) {
    QPointer<TF_Episodes> self(this);
    QMetaObject::invokeMethod(
        qApp,
        [self, path = QString::fromStdString(path), thumbnail] {
            if (self)
                self->rows_->Set_Thumbnail(path, thumbnail);
        },
        Qt::QueuedConnection);
}

void TF_Episodes::Connect_Controls() {
    connect(ui_->LST_Days, &QListWidget::currentRowChanged, this, &TF_Episodes::Select_Day);
    connect(ui_->LST_Episodes->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { Select_Episode(current.row()); });
    connect(ui_->LST_Episodes->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &TF_Episodes::Ask_Visible_Thumbnails);
    connect(ui_->BTN_Open_Folder, &QPushButton::clicked, this, &TF_Episodes::BTN_Open_FolderClick);
    connect(ui_->BTN_Export, &QPushButton::clicked, this, &TF_Episodes::BTN_ExportClick);
    connect(ui_->BTN_Delete, &QPushButton::clicked, this, &TF_Episodes::BTN_DeleteClick);
    connect(ui_->BTN_Cancel_Export, &QPushButton::clicked, this,
            &TF_Episodes::BTN_Cancel_ExportClick);
    // The arrows step the viewer wherever the focus is in the window: the
    // lists have the day and the episode chosen with the mouse.
    const auto key = [this](int k, auto step) {
        auto* shortcut = new QShortcut(QKeySequence(k), this);
        connect(shortcut, &QShortcut::activated, this, step);
    };
    key(Qt::Key_Left, [this] { player_->Step(-1); });
    key(Qt::Key_Right, [this] { player_->Step(1); });
    key(Qt::Key_Home, [this] { player_->First(); });
    key(Qt::Key_End, [this] { player_->Last(); });
}

void TF_Episodes::Reload_Days() {
    const QString chosen = ui_->LST_Days->currentItem()
                               ? ui_->LST_Days->currentItem()->data(Qt::UserRole).toString()
                               : QString();
    const QSignalBlocker quiet(ui_->LST_Days);
    ui_->LST_Days->clear();
    int keep = 0;
    for (const Day_Entry& day : List_Days(hooks_.dest_folder)) {
        auto* item = new QListWidgetItem(QStringLiteral("%1-%2-%3 — %4 episode%5")
                                             .arg(day.year, 4, 10, QLatin1Char('0'))
                                             .arg(day.month, 2, 10, QLatin1Char('0'))
                                             .arg(day.day, 2, 10, QLatin1Char('0'))
                                             .arg(day.episodes)
                                             .arg(day.episodes == 1 ? "" : "s"),
                                         ui_->LST_Days);
        item->setData(Qt::UserRole, QString::fromStdString(day.folder_name));
        if (item->data(Qt::UserRole).toString() == chosen)
            keep = ui_->LST_Days->count() - 1;
    }
    if (ui_->LST_Days->count() > 0) {
        ui_->LST_Days->setCurrentRow(keep);
        Select_Day(keep);
    } else {
        Select_Day(-1);
    }
}

void TF_Episodes::Select_Day(int row) {
    QListWidgetItem* item = row >= 0 ? ui_->LST_Days->item(row) : nullptr;
    rows_->Show_Day(hooks_.dest_folder,
                    item ? item->data(Qt::UserRole).toString().toStdString() : std::string());
    if (rows_->rowCount() > 0)
        ui_->LST_Episodes->setCurrentIndex(rows_->index(0));
    else
        Select_Episode(-1);
    // Once the view has laid the rows out, to know which are in view.
    QTimer::singleShot(0, this, &TF_Episodes::Ask_Visible_Thumbnails);
}

int TF_Episodes::Selected_Episode() const {
    const QModelIndex current = ui_->LST_Episodes->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void TF_Episodes::Select_Episode(int row) {
    if (row < 0 || row >= rows_->rowCount())
        player_->Clear();
    else
        player_->Load(rows_->Row(row).folder_path, Episode_Pictures(rows_->Row(row).folder_path));
    Update_Buttons();
}

std::string TF_Episodes::Current_Episode() const {
    return hooks_.current_episode ? Without_Trailing_Slash(hooks_.current_episode())
                                  : std::string();
}

void TF_Episodes::Update_Buttons() {
    const int row = Selected_Episode();
    const bool chosen = row >= 0;
    ui_->BTN_Open_Folder->setEnabled(chosen);
    ui_->BTN_Export->setEnabled(chosen && hooks_.run_export && !export_ &&
                                rows_->Row(row).summary->pictures > 0);
    // The episode being recorded is still being written into.
    ui_->BTN_Delete->setEnabled(chosen && !export_ &&
                                rows_->Row(row).folder_path != Current_Episode());
}

void TF_Episodes::Ask_Visible_Thumbnails() {
    QListView& view = *ui_->LST_Episodes;
    if (rows_->rowCount() == 0)
        return;
    const QModelIndex top = view.indexAt(QPoint(1, 1));
    const QModelIndex bottom = view.indexAt(QPoint(1, view.viewport()->height() - 2));
    const int first = top.isValid() ? top.row() : 0;
    const int last = bottom.isValid() ? bottom.row() : rows_->rowCount() - 1;
    const std::vector<std::string> paths = rows_->Missing_Thumbnails(first, last);
    if (paths.empty())
        return;
    hooks_.request_thumbnails(paths);
}

void TF_Episodes::TMR_GrowTimer() {
    const std::string current = Current_Episode();
    // The recording may have stopped: its episode can be deleted now.
    Update_Buttons();
    if (current.empty())
        return;
    int row = rows_->Row_Of(current);
    if (row < 0) {
        // A new episode began in the day shown, or a new day: listed anew.
        const std::filesystem::path day = std::filesystem::path(current).parent_path();
        if (day.filename().string() != rows_->Day() && !rows_->Day().empty())
            return;
        const int selected = Selected_Episode();
        const std::string keep = selected >= 0 ? rows_->Row(selected).folder_path : "";
        Reload_Days();
        if (const int again = rows_->Row_Of(keep); again >= 0)
            ui_->LST_Episodes->setCurrentIndex(rows_->index(again));
        return;
    }
    rows_->Refresh_Row(row);
    if (row == Selected_Episode())
        player_->Update(Episode_Pictures(current));
    Update_Buttons();
}

void TF_Episodes::BTN_Open_FolderClick() {
    const int row = Selected_Episode();
    if (row >= 0)
        hooks_.open_url(QUrl::fromLocalFile(QString::fromStdString(rows_->Row(row).folder_path)));
}

void TF_Episodes::BTN_DeleteClick() {
    const int row = Selected_Episode();
    if (row < 0 || rows_->Row(row).folder_path == Current_Episode())
        return;
    rows_->Refresh_Row(row); // the queue moved on since the row was read
    const Episode_Row& r = rows_->Row(row);
    const QString name = QString::fromStdString(r.entry.folder_name);
    if (!hooks_.confirm(
            tr("Delete episode %1 and its %2 pictures?").arg(name).arg(r.summary->pictures)))
        return;
    if (r.upload.waiting > 0 &&
        !hooks_.confirm(tr("%1 pictures of episode %2 still wait to be sent to the server. "
                           "Delete them all the same?")
                            .arg(r.upload.waiting)
                            .arg(name)))
        return;
    player_->Clear();
    const Delete_Result result =
        Delete_Episode(hooks_.dest_folder, rows_->Day(), r.entry.folder_name, hooks_.queue);
    if (result.failed > 0)
        hooks_.tell(
            tr("%1 files of episode %2 could not be deleted.").arg(result.failed).arg(name));
    else if (!result.folder_removed && result.others_left > 0)
        hooks_.tell(
            tr("The folder of episode %1 holds files of yours; they were left there.").arg(name));
    Reload_Days();
}

void TF_Episodes::BTN_ExportClick() {
    const int row = Selected_Episode();
    if (row < 0 || export_ || !hooks_.run_export)
        return;
    const Episode_Row& r = rows_->Row(row);
    const QString suggested = QDir(QStandardPaths::writableLocation(QStandardPaths::MoviesLocation))
                                  .filePath(QString::fromStdString(
                                      Default_Export_Name(rows_->Day(), r.entry.folder_name)));
    const QString chosen = hooks_.ask_save_path(suggested);
    if (chosen.isEmpty())
        return;
    if (Inside_Folder(hooks_.dest_folder, chosen.toStdString())) {
        hooks_.tell(tr("The video cannot go into the recording folder, where it would count "
                       "among the episode's files. Choose another folder."));
        return;
    }
    ui_->PGB_Export->setRange(0, 1000);
    ui_->PGB_Export->setValue(0);
    ui_->PGB_Export->setVisible(true);
    ui_->BTN_Cancel_Export->setVisible(true);
    QPointer<TF_Episodes> self(this);
    Export_Callbacks callbacks{[self](double fraction) {
                                   QMetaObject::invokeMethod(
                                       qApp,
                                       [self, fraction] {
                                           if (self)
                                               self->ui_->PGB_Export->setValue(
                                                   int(fraction * 1000));
                                       },
                                       Qt::QueuedConnection);
                               },
                               [self](bool ok, const std::string& message) {
                                   QMetaObject::invokeMethod(
                                       qApp,
                                       [self, ok, message = QString::fromStdString(message)] {
                                           if (self)
                                               self->Export_Ended(ok, message);
                                       },
                                       Qt::QueuedConnection);
                               }};
    export_ =
        hooks_.run_export({r.folder_path, Episode_Pictures(r.folder_path), chosen.toStdString()},
                          std::move(callbacks));
    Update_Buttons();
}

void TF_Episodes::BTN_Cancel_ExportClick() {
    if (export_)
        export_->Cancel();
}

void TF_Episodes::Export_Ended(bool ok, const QString& message) {
    export_.reset();
    ui_->PGB_Export->setVisible(false);
    ui_->BTN_Cancel_Export->setVisible(false);
    Update_Buttons();
    if (!ok && !message.isEmpty())
        hooks_.tell(tr("The video could not be made: %1").arg(message));
}

void TF_Episodes::closeEvent(QCloseEvent* event) {
    player_->Pause();
    TMR_Grow.stop();
    if (export_)
        export_->Cancel();
    QWidget::closeEvent(event);
}

} // namespace vistrel
