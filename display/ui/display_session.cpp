#include "display/ui/display_session.h"

#include "display/decoding/procedures.h"

namespace veltaro {

namespace {
constexpr int kTickMs = 333;
} // namespace

DisplaySession::DisplaySession(Controls& ui, const QString& program_folder,
                               const QString& data_folder, QObject* parent)
    : QObject(parent), m_(ui), decoders_(m_, program_folder, data_folder), tmrCheck_(this) {
    tmrCheck_.setObjectName("tmrCheck");
    tmrCheck_.setInterval(kTickMs);
    connect(&tmrCheck_, &QTimer::timeout, this, &DisplaySession::OnTick);
}

DisplaySession::~DisplaySession() {
    Close();
}

void DisplaySession::StartChecking() {
    tmrCheck_.start();
}

void DisplaySession::PauseChecking() {
    tmrCheck_.stop();
}

void DisplaySession::Close() {
    tmrCheck_.stop();
    decoders_.CloseDecoder();
}

void DisplaySession::OnTick() {
    emit ticked();
    if (cycle_running_) {
        return;
    }
    cycle_running_ = true;
    const bool backlog = IngestExchangeFile(m_);
    cycle_running_ = false;
    // A backlog is worked through a slice a tick, with events between.
    tmrCheck_.setInterval(backlog ? 0 : kTickMs);
    emit cycleFinished();
}

} // namespace veltaro
