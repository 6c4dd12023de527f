// The Episodes window as the program runs it: one at most, opened or brought
// forward from the menus, given the destination, the upload queue and the
// episode being recorded, and closed with the program.
#pragma once

#include "ui/episodes_window.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <string>

class QWidget;

namespace vistrel {

class Episodes_Flow : public QObject {
    Q_OBJECT

public:
    struct Sources {
        std::function<std::string()> dest_folder; // as the settings say now
        Upload_List* queue = nullptr;
        std::string refused_file;
        std::function<std::string()> current_episode;
    };
    // `base` gives the window the tests' stand-ins for the world.
    Episodes_Flow(QWidget& main_window, Sources sources, Episodes_Hooks base = {});
    ~Episodes_Flow() override;

    // Opens the window, or brings forward the one open.
    void Open();
    TF_Episodes* Window() const { return window_; }
    // At the program's close: the window is hidden, an export cancelled.
    void Close() noexcept;

private:
    QWidget& main_window_;
    Sources sources_;
    Episodes_Hooks base_;
    QPointer<TF_Episodes> window_;
};

} // namespace vistrel
