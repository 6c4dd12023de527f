#include "ui/window_modal.h"

#include "base/program_identity.h"

#include <QApplication>
#include <QInputDialog>
#include <QMenu>

namespace vistrel {

int Exec_Window_Modal(QDialog& dialog) {
    dialog.setWindowModality(Qt::WindowModal);
    return dialog.exec();
}

void Tell_Window_Modal(QWidget* window, QMessageBox::Icon icon, const QString& text) {
    QMessageBox box(icon, kApp_Name, text, QMessageBox::Ok, window);
    Exec_Window_Modal(box);
}

QString Ask_Text_Window_Modal(QWidget* window, const QString& title, const QString& label) {
    QInputDialog dialog(window);
    dialog.setWindowTitle(title);
    dialog.setLabelText(label);
    dialog.setInputMode(QInputDialog::TextInput);
    return Exec_Window_Modal(dialog) == QDialog::Accepted ? dialog.textValue() : QString();
}

void Close_Other_Windows(const QWidget& window) {
    for (QWidget* other : QApplication::topLevelWidgets()) {
        if (other == &window || !other->isVisible())
            continue;
        if (auto* menu = qobject_cast<QMenu*>(other))
            menu->close();
        else if (auto* dialog = qobject_cast<QDialog*>(other))
            dialog->done(QDialog::Rejected);
    }
}

} // namespace vistrel
