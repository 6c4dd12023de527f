#include "ui/folder_edit.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QToolButton>

namespace vistrel {

namespace {

QString Ask_For_Folder(QWidget* parent, const QString& start) {
    return QFileDialog::getExistingDirectory(parent, QObject::tr("Destination folder"), start);
}

} // namespace

TFolder_Edit::TFolder_Edit(QWidget* parent)
    : QWidget(parent), edit_(new QLineEdit(this)), browse_(new QToolButton(this)),
      chooser_(Ask_For_Folder) {
    edit_->setObjectName(QStringLiteral("EDT_Path"));
    browse_->setObjectName(QStringLiteral("BTN_Browse"));
    browse_->setText(QStringLiteral("..."));
    browse_->setToolTip(tr("Choose a folder"));
    browse_->setCursor(Qt::PointingHandCursor);
    // The form gives the widget a single 17-pixel row; the button stays a
    // small square at its right end while the text takes the rest.
    browse_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    browse_->setFixedWidth(20);
    // The folder edit is a single stop in the tab order, like every other row
    // of the form; the text takes the focus.
    browse_->setFocusPolicy(Qt::NoFocus);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    layout->addWidget(edit_, 1);
    layout->addWidget(browse_);

    setFocusProxy(edit_);
    setFocusPolicy(edit_->focusPolicy());

    connect(edit_, &QLineEdit::textChanged, this, &TFolder_Edit::pathChanged);
    connect(browse_, &QToolButton::clicked, this, &TFolder_Edit::browse);
}

QString TFolder_Edit::path() const {
    return edit_->text();
}

void TFolder_Edit::setPath(const QString& path) {
    edit_->setText(path);
}

void TFolder_Edit::setFolderChooser(Folder_Chooser chooser) {
    chooser_ = chooser ? std::move(chooser) : Folder_Chooser(Ask_For_Folder);
}

void TFolder_Edit::browse() {
    // Start where the current path points when it exists, so that a stored
    // folder from another system (such as "c:\") does not confuse the dialog.
    const QString current = path();
    const QString start = !current.isEmpty() && QDir(current).exists() ? current : QDir::homePath();
    const QString chosen = chooser_(this, start);
    if (chosen.isEmpty())
        return;
    setPath(QDir::toNativeSeparators(chosen));
    edit_->setFocus(Qt::OtherFocusReason);
}

} // namespace vistrel
