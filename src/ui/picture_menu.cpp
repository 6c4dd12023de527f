#include "ui/picture_menu.h"

#include "desktop/autostart_entry.h"
#include "ui/window_modal.h"

#include <QLabel>
#include <QMenu>
#include <QMessageBox>

namespace vistrel {

Picture_Menu::Picture_Menu(QLabel& picture, QWidget& window, Picture_Menu_Hooks hooks)
    : QObject(&window), picture_(picture), window_(window), hooks_(std::move(hooks)) {
    picture_.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&picture_, &QWidget::customContextMenuRequested, this,
            &Picture_Menu::Show_Picture_Menu);
}

void Picture_Menu::Show_Picture_Menu(const QPoint& at) {
    QMenu menu(&window_);
    Fill_Picture_Menu(menu);
    menu.exec(picture_.mapToGlobal(at));
}

void Picture_Menu::Fill_Picture_Menu(QMenu& menu) {
    if (hooks_.can_switch) {
        std::vector<Camera_Option> options;
        if (hooks_.list_cameras)
            options = hooks_.list_cameras();
        options.push_back({tr("Test pattern").toStdString(), kTest_Pattern_Description});
        const std::string current = hooks_.current_camera();
        for (const Camera_Option& option : options) {
            QAction* action = menu.addAction(QString::fromStdString(option.label));
            action->setCheckable(true);
            action->setChecked(option.description == current);
            connect(action, &QAction::triggered, this,
                    [this, description = option.description] { emit Camera_Chosen(description); });
        }
        menu.addSeparator();
        connect(menu.addAction(tr("Network camera...")), &QAction::triggered, this,
                &Picture_Menu::Ask_Network_Camera);
    }
    if (!menu.isEmpty())
        menu.addSeparator();
    // After "Storage...", which the desktop tests find as the first item.
    connect(menu.addAction(QStringLiteral("Storage...")), &QAction::triggered, this,
            &Picture_Menu::Storage_Asked);
    connect(menu.addAction(QStringLiteral("Detection...")), &QAction::triggered, this,
            &Picture_Menu::Detection_Asked);
    connect(menu.addAction(QStringLiteral("Notifications...")), &QAction::triggered, this,
            &Picture_Menu::Notifications_Asked);
    connect(menu.addAction(QStringLiteral("Episodes...")), &QAction::triggered, this,
            &Picture_Menu::Episodes_Asked);
    if (hooks_.autostart_file.empty())
        return;
    QAction* at_login = menu.addAction(QStringLiteral("Start Vistrel when I log in"));
    at_login->setCheckable(true);
    at_login->setChecked(Autostart_Enabled(hooks_.autostart_file));
    connect(at_login, &QAction::triggered, this, &Picture_Menu::Set_Start_At_Login);
}

void Picture_Menu::Ask_Network_Camera() {
    const QString address = Ask_Text_Window_Modal(
        &window_, tr("Network camera"), tr("Address of the camera (rtsp:// or http://):"));
    if (address.isEmpty())
        return;
    if (const auto description = Network_Camera_Description(address.trimmed().toStdString()))
        emit Camera_Chosen(*description);
    else
        Tell_Window_Modal(&window_, QMessageBox::Warning,
                          tr("This is not an rtsp, rtsps, http or https address."));
}

void Picture_Menu::Set_Start_At_Login(bool enabled) {
    try {
        Set_Autostart(hooks_.autostart_file, enabled, hooks_.program_path);
    } catch (const std::exception& e) {
        Tell_Window_Modal(&window_, QMessageBox::Warning,
                          tr("The start at login could not be changed: %1")
                              .arg(QString::fromLocal8Bit(e.what())));
    }
}

} // namespace vistrel
