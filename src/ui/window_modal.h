// Dialogs modal to the main window alone. An application-modal dialog would
// block the notification-area icon too, and with it the menu's "Exit": the
// program could then only be ended by answering the dialog first.
#pragma once

#include <QMessageBox>
#include <QString>

class QDialog;
class QWidget;

namespace vistrel {

int Exec_Window_Modal(QDialog& dialog);

// A message box with the program's title and an OK button.
void Tell_Window_Modal(QWidget* window, QMessageBox::Icon icon, const QString& text);

// A line of text asked for; empty when cancelled.
QString Ask_Text_Window_Modal(QWidget* window, const QString& title, const QString& label);

// Ends every dialog and menu open beside `window`, each its own event loop,
// so that the code waiting on it returns with "no" and the run can end.
void Close_Other_Windows(const QWidget& window);

} // namespace vistrel
