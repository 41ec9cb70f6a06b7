#include "display/ui/display_session.h"

#include "display/data/shef_outbox.h"
#include "display/decoding/procedures.h"
#include "display/feeds/feeds.h"
#include "display/ui/settings.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <utility>

namespace veltaro {

namespace {
constexpr int kTickMs = 333;
constexpr const char* kArchiveName = "veltaro.sqlite";
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
    // Rows of a cycle whose end the stop came before: the archive writes
    // what it was handed when it goes, and the outbox its open hour. The
    // controls may be going too: what goes wrong from here on is told on
    // standard error instead of the list.
    closing_ = true;
    if (archive_ != nullptr) {
        archive_->Commit();
    }
}

void DisplaySession::StartChecking() {
    if (!outputs_started_) {
        outputs_started_ = true;
        StartOutputs();
    }
    tmrCheck_.start();
}

// Every output of the readings; one more is one more Attach line here.
void DisplaySession::StartOutputs() {
    LoadRegistry();
    StartArchive();
    for (auto& feed : feeds::StartFeeds(LoadGroup("Feeds"),
                                        [this](const std::string& message) { Report(message); })) {
        Attach(std::move(feed));
    }
    StartShefOutbox();
    m_.Sink = &assembler_;
}

void DisplaySession::Attach(std::unique_ptr<data::ReadingOutput> output) {
    assembler_.Attach(*output);
    outputs_.push_back(std::move(output));
}

// Rows that cannot be read are listed once; the others load.
void DisplaySession::LoadRegistry() {
    const std::string path = data::DefaultRegistryPath();
    std::vector<data::RegistryProblem> problems;
    bool found = false;
    try {
        registry_ = data::LoadRegistry(path, problems, found);
    } catch (const std::exception& error) {
        Report(std::string(error.what()) + "  Can't read the station registry " + path);
    }
    for (const data::RegistryProblem& problem : problems) {
        Report("  " + data::DescribeProblem(path, problem));
    }
}

// On unless [Archive] enabled says otherwise; a value that is no Boolean
// is listed and leaves it on, so nothing goes unarchived by a typing slip.
void DisplaySession::StartArchive() {
    const auto keys = LoadGroup("Archive");
    if (const auto enabled = keys.find("enabled"); enabled != keys.end()) {
        const std::optional<bool> value = ParseBoolean(enabled->second);
        if (value == false) {
            return;
        }
        if (!value) {
            Report("  Archive: enabled=\"" + enabled->second +
                   "\" is not true or false; the archive stays on");
        }
    }
    const std::string path = m_.ui.DataFolder() + "/" + kArchiveName;
    auto archive = std::make_unique<data::Archive>(
        path, [this](const std::string& message) { Report(message); });
    archive_ = archive.get();
    Attach(std::move(archive));
}

// On unless [Export] shef_dir is set empty; a relative folder is taken
// inside the data folder.
void DisplaySession::StartShefOutbox() {
    const auto keys = LoadGroup("Export");
    std::optional<std::string> setting;
    if (const auto dir = keys.find("shef_dir"); dir != keys.end()) {
        setting = dir->second;
    }
    const auto folder = data::ShefOutboxFolder(setting, m_.ui.DataFolder());
    if (!folder) {
        return;
    }
    auto outbox = std::make_unique<data::ShefOutbox>(
        *folder, "veltaro", [this](const std::string& message) { Report(message); });
    shef_ = outbox.get();
    Attach(std::move(outbox));
}

void DisplaySession::Report(const std::string& message) {
    if (closing_) {
        std::fprintf(stderr, "veltaro: %s\n", message.c_str());
        return;
    }
    if (cycle_running_ || m_.CycleRunning) {
        held_reports_.push_back(message);
        return;
    }
    m_.MessageText = message;
    ShowMessage(m_);
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
    if (archive_ != nullptr) {
        archive_->Commit();
    }
    if (shef_ != nullptr) {
        shef_->Tick();
    }
    for (const std::string& message : std::exchange(held_reports_, {})) {
        Report(message);
    }
    // A backlog is worked through a slice a tick, with events between.
    tmrCheck_.setInterval(backlog ? 0 : kTickMs);
    emit cycleFinished();
}

} // namespace veltaro
