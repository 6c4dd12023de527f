#include "app/episodes_flow.h"

namespace vistrel {

Episodes_Flow::Episodes_Flow(QWidget& main_window, Sources sources, Episodes_Hooks base)
    : main_window_(main_window), sources_(std::move(sources)), base_(std::move(base)) {}

Episodes_Flow::~Episodes_Flow() {
    delete window_.data();
}

void Episodes_Flow::Open() {
    if (window_) {
        window_->showNormal();
        window_->raise();
        window_->activateWindow();
        return;
    }
    Episodes_Hooks hooks = base_;
    hooks.dest_folder = sources_.dest_folder();
    hooks.queue = sources_.queue;
    hooks.refused_file = sources_.refused_file;
    hooks.current_episode = sources_.current_episode;
    // A child of the main window, so that it wears its style sheet, but a
    // window of its own that is neither modal nor kept above it.
    window_ = new TF_Episodes(std::move(hooks), &main_window_);
    window_->setAttribute(Qt::WA_DeleteOnClose);
    window_->show();
}

void Episodes_Flow::Close() noexcept {
    if (!window_)
        return;
    // Hidden now, its export cancelled; deleted with the flow, once the
    // stack is unwound: a question of the window may be what the close
    // came through.
    window_->setAttribute(Qt::WA_DeleteOnClose, false);
    window_->close();
}

} // namespace vistrel
