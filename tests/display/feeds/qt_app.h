// One QCoreApplication for the feeds' tests, whose servers and clients run
// on its event loop.
#pragma once

#include <QCoreApplication>

#include <chrono>
#include <functional>

namespace feeds_test {

inline QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "display_feeds_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs events until the condition holds or the generous deadline passes.
inline bool RunUntil(const std::function<bool()>& condition, int seconds = 60) {
    App();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

} // namespace feeds_test
