// The episodes of one day as the Episodes window lists them. A row knows its
// folder from the start; its pictures, times and upload state are read from
// that folder when the view first asks for the row, so that a day of many
// episodes opens at once. Thumbnails come from a source of the window's
// choosing and arrive later.
#pragma once

#include "episodes/episode_listing.h"
#include "episodes/episode_summary.h"
#include "episodes/episode_upload_state.h"

#include <QAbstractListModel>
#include <QHash>
#include <QImage>
#include <QStyledItemDelegate>

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vistrel {

class Upload_List;

struct Episode_Row {
    Episode_Entry entry;
    std::string folder_path;     // "DEST/RIDEV_2026_12_10/D0004"
    std::string relative_folder; // as the upload queue names it
    std::optional<Episode_Summary> summary;
    Upload_State upload;
};

// "All sent", "3 waiting", "2 refused by the server", or both counts.
QString Upload_State_Text(const Upload_State& state);
// "12:03:05 – 12:04:10 · 1 min 5 s · 42 pictures"
QString Summary_Text(const Episode_Summary& summary);

class Episode_Rows : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role { Thumbnail_Role = Qt::UserRole + 1, Kind_Role, State_Role };

    // `queue` may be null: every row then reads "All sent".
    Episode_Rows(const Upload_List* queue, std::string refused_file, QObject* parent = nullptr);

    void Show_Day(const std::string& dest_folder, const std::string& day_folder_name);
    const std::string& Day() const { return day_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Reads the row's folder again (the episode being recorded grows).
    void Refresh_Row(int row);
    // The row, read from its folder if it was not yet.
    const Episode_Row& Row(int row) const;
    int Row_Of(const std::string& folder_path) const;
    // Rows read from their folders so far.
    size_t Summaries_Read() const { return summaries_read_; }

    void Set_Thumbnail(const QString& picture_path, const QImage& thumbnail);
    // The first pictures of `rows` whose thumbnails are not here yet.
    std::vector<std::string> Missing_Thumbnails(int first_row, int last_row) const;

private:
    void Read_Summary(Episode_Row& row) const;

    const Upload_List* queue_;
    const std::string refused_file_;
    std::set<std::string> refused_;
    std::string day_;
    mutable std::vector<Episode_Row> rows_;
    mutable size_t summaries_read_ = 0;
    QHash<QString, QImage> thumbnails_; // by first picture, for this day only
};

// A row: the thumbnail at the left, drawn at the screen's pixels, and three
// lines of text beside it.
class Episode_Row_Delegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    static constexpr int kThumb_Width = 80;
    static constexpr int kThumb_Height = 60;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace vistrel
