#include "app/signal_bridge.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace vistrel {

namespace {

// A signal handler may only write to a descriptor; the notifier reads it on
// the GUI thread.
int g_signal_pipe[2] = {-1, -1};

void On_Signal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signal_pipe[0], &byte, 1);
}

// Once the event loop has ended nobody reads the descriptor: a stop request
// then ends the teardown where it stands. The settings were saved at the
// close, and every file is replaced in one step, so nothing is left torn.
void On_Signal_In_Teardown(int) {
    ::_exit(0);
}

void Handle_Stop_Signals(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

} // namespace

Signal_Bridge::Signal_Bridge(std::function<void()> on_signal, QObject* parent)
    : QObject(parent), on_signal_(std::move(on_signal)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signal_pipe) != 0)
        return;
    notifier_ = new QSocketNotifier(g_signal_pipe[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        [[maybe_unused]] const ssize_t got = ::read(g_signal_pipe[1], buffer, sizeof buffer);
        if (on_signal_)
            on_signal_();
    });
    Handle_Stop_Signals(On_Signal);
}

void Signal_Bridge::Tearing_Down() const noexcept {
    Handle_Stop_Signals(On_Signal_In_Teardown);
}

Signal_Bridge::~Signal_Bridge() {
    // The program is ending already: a stop request during the last of the
    // teardown ends it with success, not with the signal's failure status.
    Tearing_Down();
    for (int& fd : g_signal_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

} // namespace vistrel
