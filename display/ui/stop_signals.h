// SIGTERM, SIGINT and SIGHUP end the display the orderly way, as closing its
// window does, so the decoders it started end with it.
#pragma once

#include <QObject>

#include <functional>

namespace veltaro {

// Runs stop in the event loop (never inside the signal handler) when one of
// the three signals arrives; context owns the watch.
void OnStopSignals(QObject& context, std::function<void()> stop);

} // namespace veltaro
