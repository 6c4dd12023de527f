#include "ui/episode_rows.h"

#include <QApplication>
#include <QPainter>

namespace vistrel {

namespace {

QString Clock_Text(const Time_Of_Day& t) {
    return QStringLiteral("%1:%2:%3")
        .arg(t.hour, 2, 10, QLatin1Char('0'))
        .arg(t.minute, 2, 10, QLatin1Char('0'))
        .arg(t.second, 2, 10, QLatin1Char('0'));
}

QString Duration_Text(int seconds) {
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

} // namespace

QString Upload_State_Text(const Upload_State& state) {
    QStringList parts;
    if (state.waiting > 0)
        parts << QStringLiteral("%1 waiting").arg(state.waiting);
    if (state.refused > 0)
        parts << QStringLiteral("%1 refused by the server").arg(state.refused);
    return parts.isEmpty() ? QStringLiteral("All sent") : parts.join(QStringLiteral(", "));
}

QString Summary_Text(const Episode_Summary& summary) {
    if (summary.pictures == 0)
        return QStringLiteral("No pictures");
    return QStringLiteral("%1 – %2 · %3 · %4 picture%5")
        .arg(Clock_Text(summary.start), Clock_Text(summary.end), Duration_Text(summary.duration_s))
        .arg(summary.pictures)
        .arg(summary.pictures == 1 ? "" : "s");
}

Episode_Rows::Episode_Rows(const Upload_List* queue, std::string refused_file, QObject* parent)
    : QAbstractListModel(parent), queue_(queue), refused_file_(std::move(refused_file)) {}

void Episode_Rows::Show_Day(const std::string& dest_folder, const std::string& day_folder_name) {
    beginResetModel();
    day_ = day_folder_name;
    rows_.clear();
    thumbnails_.clear();
    // Read once a day shown rather than once a row: the file may be long.
    refused_ = Read_Refused_Paths(refused_file_);
    for (const Episode_Entry& entry : List_Episodes(dest_folder, day_folder_name))
        rows_.push_back({entry,
                         Episode_Folder_Path(dest_folder, day_folder_name, entry.folder_name),
                         Episode_Relative_Folder(day_folder_name, entry.folder_name),
                         std::nullopt,
                         {}});
    endResetModel();
}

int Episode_Rows::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

void Episode_Rows::Read_Summary(Episode_Row& row) const {
    row.summary = Summarize_Episode(row.folder_path);
    ++summaries_read_;
    row.upload = queue_ ? Upload_State_Of(*queue_, refused_, row.relative_folder, row.folder_path)
                        : Upload_State{0, 0};
    if (!queue_) {
        // The refused file still counts without a queue.
        for (const std::string& path : refused_)
            if (path.starts_with(row.folder_path + "/"))
                ++row.upload.refused;
    }
}

const Episode_Row& Episode_Rows::Row(int row) const {
    Episode_Row& r = rows_.at(size_t(row));
    if (!r.summary)
        Read_Summary(r);
    return r;
}

int Episode_Rows::Row_Of(const std::string& folder_path) const {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].folder_path == folder_path)
            return int(i);
    return -1;
}

void Episode_Rows::Refresh_Row(int row) {
    if (row < 0 || size_t(row) >= rows_.size())
        return;
    refused_ = Read_Refused_Paths(refused_file_);
    Read_Summary(rows_[size_t(row)]);
    emit dataChanged(index(row), index(row));
}

QVariant Episode_Rows::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || size_t(index.row()) >= rows_.size())
        return {};
    const Episode_Row& row = Row(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(row.entry.folder_name) + QLatin1Char('\n') +
               Summary_Text(*row.summary);
    case Kind_Role:
        return row.entry.kind == 'R' ? QStringLiteral("Continuous") : QStringLiteral("Motion");
    case State_Role:
        return Upload_State_Text(row.upload) +
               (row.summary->being_written ? QStringLiteral(" · recording") : QString());
    case Thumbnail_Role: {
        if (row.summary->first_picture.empty())
            return {};
        const auto found = thumbnails_.constFind(
            QString::fromStdString(row.folder_path + "/" + row.summary->first_picture));
        return found == thumbnails_.constEnd() ? QVariant() : QVariant(*found);
    }
    default:
        return {};
    }
}

void Episode_Rows::Set_Thumbnail(const QString& picture_path, const QImage& thumbnail) {
    for (size_t i = 0; i < rows_.size(); ++i) {
        const Episode_Row& r = rows_[i];
        if (r.summary && !r.summary->first_picture.empty() &&
            QString::fromStdString(r.folder_path + "/" + r.summary->first_picture) ==
                picture_path) {
            thumbnails_.insert(picture_path, thumbnail);
            emit dataChanged(index(int(i)), index(int(i)), {Thumbnail_Role});
        }
    }
}

std::vector<std::string> Episode_Rows::Missing_Thumbnails(int first_row, int last_row) const {
    std::vector<std::string> paths;
    for (int i = std::max(0, first_row); i <= last_row && size_t(i) < rows_.size(); ++i) {
        const Episode_Row& r = Row(i);
        if (r.summary->first_picture.empty())
            continue;
        const std::string path = r.folder_path + "/" + r.summary->first_picture;
        if (!thumbnails_.contains(QString::fromStdString(path)))
            paths.push_back(path);
    }
    return paths;
}

void Episode_Row_Delegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    QStyleOptionViewItem base = option;
    initStyleOption(&base, index);
    base.text.clear();
    QApplication::style()->drawControl(QStyle::CE_ItemViewItem, &base, painter, base.widget);

    const QRect thumb(option.rect.left() + 4, option.rect.top() + 4, kThumb_Width, kThumb_Height);
    const QImage image = index.data(Episode_Rows::Thumbnail_Role).value<QImage>();
    if (image.isNull()) {
        painter->fillRect(thumb, QColor(0x60, 0x60, 0x60));
    } else {
        // Fitted in the frame; the painter maps logical to the screen's
        // pixels, and the smooth transform keeps it from going blocky.
        const QSize fitted = image.size().scaled(thumb.size(), Qt::KeepAspectRatio);
        QRect target(QPoint(), fitted);
        target.moveCenter(thumb.center());
        painter->save();
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        painter->drawImage(target, image);
        painter->restore();
    }
    const QRect text_rect = option.rect.adjusted(kThumb_Width + 12, 2, -4, -2);
    const QString text = index.data(Qt::DisplayRole).toString() + QLatin1Char('\n') +
                         index.data(Episode_Rows::Kind_Role).toString() + QStringLiteral(" · ") +
                         index.data(Episode_Rows::State_Role).toString();
    painter->save();
    painter->setPen(option.state & QStyle::State_Selected
                        ? option.palette.color(QPalette::HighlightedText)
                        : option.palette.color(QPalette::Text));
    painter->drawText(text_rect, Qt::AlignLeft | Qt::AlignVCenter, text);
    painter->restore();
}

QSize Episode_Row_Delegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return QSize(300, std::max(kThumb_Height + 8, option.fontMetrics.height() * 3 + 8));
}

} // namespace vistrel
