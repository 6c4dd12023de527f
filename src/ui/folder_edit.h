// A folder path typed in place or chosen with a browse button, for forms that
// keep the path as text (the settings store it as shown).
#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QLineEdit;
class QToolButton;

namespace vistrel {

class TFolder_Edit : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString path READ path WRITE setPath NOTIFY pathChanged USER true)

public:
    // Asks the user for a folder, starting at `start`; an empty answer means
    // the user cancelled. Replaceable so that the browse button can be
    // exercised without a modal dialog.
    using Folder_Chooser = std::function<QString(QWidget* parent, const QString& start)>;

    explicit TFolder_Edit(QWidget* parent = nullptr);

    QString path() const;
    void setPath(const QString& path);

    void setFolderChooser(Folder_Chooser chooser);

    QLineEdit* lineEdit() const { return edit_; }
    QToolButton* browseButton() const { return browse_; }

signals:
    // Emitted whenever the text changes: typed, browsed or set.
    void pathChanged(const QString& path);

private:
    void browse();

    QLineEdit* edit_;
    QToolButton* browse_;
    Folder_Chooser chooser_;
};

} // namespace vistrel
