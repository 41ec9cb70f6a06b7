#include "display/ui/stop_signals.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace veltaro {

namespace {
int signal_pipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop picks the byte up.
void OnStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(signal_pipe[1], &byte, 1);
}
} // namespace

void OnStopSignals(QObject& context, std::function<void()> stop) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signal_pipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, &context);
    QObject::connect(notifier, &QSocketNotifier::activated, &context, [stop = std::move(stop)] {
        char byte = 0;
        [[maybe_unused]] const ssize_t ignored = ::read(signal_pipe[0], &byte, 1);
        stop();
    });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
        ::sigaction(signal_number, &action, nullptr);
    }
}

} // namespace veltaro
