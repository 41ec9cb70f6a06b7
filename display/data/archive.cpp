#include "display/data/archive.h"

#include <chrono>
#include <exception>
#include <optional>
#include <utility>

namespace veltaro::data {

namespace {

// A big cycle (an import, a backlog) is handed over in parts of this size,
// and the writer takes about this much into one transaction.
constexpr std::size_t kBatchReadings = 20000;
constexpr std::size_t kMaxSpares = 4;
constexpr auto kRetryInterval = std::chrono::seconds(1);

} // namespace

Archive::Archive(std::string path, Report report, Limits limits)
    : path_(std::move(path)), report_(std::move(report)), limits_(limits),
      writer_([this] { WriterLoop(); }) {}

Archive::~Archive() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
        retry_now_ = true;
    }
    wake_writer_.notify_all();
    writer_.join();
}

void Archive::OnPacket(const Packet& packet) {
    if (collecting_.readings.size() >= kBatchReadings) {
        Commit();
    }
    collecting_.Add(packet);
}

void Archive::OnReading(const Reading& reading) {
    if (!collecting_.Empty()) {
        collecting_.Add(reading);
    }
}

bool Archive::Commit() {
    std::unique_lock lock(mutex_);
    if (!collecting_.Empty()) {
        queued_readings_ += collecting_.readings.size();
        ArchiveBatch next;
        if (!spares_.empty()) {
            next = std::move(spares_.back());
            spares_.pop_back();
        } else {
            // The writer still has the spare room: make as much again at once.
            next.Reserve(collecting_);
        }
        queue_.push_back(std::exchange(collecting_, std::move(next)));
        MakeRoom(lock);
        wake_writer_.notify_all();
    }
    const bool healthy = !outage_;
    lock.unlock();
    Reported();
    return healthy;
}

bool Archive::Flush() {
    Commit();
    std::unique_lock lock(mutex_);
    const long long tries = tries_;
    retry_now_ = true;
    wake_writer_.notify_all();
    written_.wait(lock,
                  [&] { return !writing_ && (queue_.empty() || (outage_ && tries_ > tries)); });
    const bool all_written = queue_.empty() && !outage_;
    lock.unlock();
    Reported();
    return all_written;
}

long long Archive::PacketsAdded() const {
    const std::lock_guard lock(mutex_);
    return packets_added_;
}

long long Archive::ReadingsAdded() const {
    const std::lock_guard lock(mutex_);
    return readings_added_;
}

// The writer behind by too much: wait while it writes; while it cannot,
// drop or keep as the limits say.
void Archive::MakeRoom(std::unique_lock<std::mutex>& lock) {
    while (queued_readings_ > limits_.max_behind && !queue_.empty()) {
        if (!outage_) {
            wake_writer_.notify_all();
            written_.wait(lock);
            continue;
        }
        if (!limits_.drop_during_outage) {
            return;
        }
        queued_readings_ -= queue_.front().readings.size();
        dropped_packets_ += static_cast<long long>(queue_.front().packets.size());
        queue_.pop_front();
    }
}

void Archive::Reported() {
    std::vector<std::string> messages;
    {
        const std::lock_guard lock(mutex_);
        messages.swap(messages_);
    }
    for (const std::string& message : messages) {
        report_(message);
    }
}

std::vector<ArchiveBatch> Archive::TakeBatches() {
    std::vector<ArchiveBatch> batches;
    std::size_t readings = 0;
    while (!queue_.empty() && (batches.empty() || readings < kBatchReadings)) {
        readings += queue_.front().readings.size();
        batches.push_back(std::move(queue_.front()));
        queue_.pop_front();
    }
    queued_readings_ -= readings;
    return batches;
}

void Archive::Written(std::vector<ArchiveBatch>& batches, const AddedRows& added) {
    packets_added_ += added.packets;
    readings_added_ += added.readings;
    for (ArchiveBatch& batch : batches) {
        if (spares_.size() < kMaxSpares) {
            batch.Clear();
            spares_.push_back(std::move(batch));
        }
    }
    if (!outage_) {
        return;
    }
    outage_ = false;
    std::string message = "  Archive written again";
    if (dropped_packets_ > 0) {
        message += "; " + std::to_string(dropped_packets_) +
                   " packets were dropped while it could not be written";
        dropped_packets_ = 0;
    }
    messages_.push_back(message);
}

void Archive::NotWritten(std::vector<ArchiveBatch>& batches, const std::string& failure) {
    for (auto batch = batches.rbegin(); batch != batches.rend(); ++batch) {
        queued_readings_ += batch->readings.size();
        queue_.push_front(std::move(*batch));
    }
    if (!outage_) {
        outage_ = true;
        messages_.push_back(failure + " (" + path_ + ")  Can't save Archive");
    }
}

void Archive::WriterLoop() {
    std::optional<ArchiveDatabase> database;
    std::unique_lock lock(mutex_);
    auto retry_at = std::chrono::steady_clock::now();
    const auto ready = [&] { return stop_ || (!queue_.empty() && (!outage_ || retry_now_)); };
    for (;;) {
        if (outage_) {
            wake_writer_.wait_until(lock, retry_at, ready);
        } else {
            wake_writer_.wait(lock, ready);
        }
        if (queue_.empty()) {
            if (stop_) {
                return;
            }
            continue;
        }
        retry_now_ = false;
        std::vector<ArchiveBatch> batches = TakeBatches();
        writing_ = true;
        lock.unlock();
        std::string failure;
        AddedRows added;
        try {
            if (!database) {
                database.emplace(path_);
            }
            added = database->Add(batches);
        } catch (const std::exception& error) {
            failure = error.what();
            // Opened again at the next try: the file may have been replaced
            // or the disk freed meanwhile.
            database.reset();
        }
        lock.lock();
        writing_ = false;
        ++tries_;
        if (failure.empty()) {
            Written(batches, added);
        } else {
            NotWritten(batches, failure);
            retry_at = std::chrono::steady_clock::now() + kRetryInterval;
        }
        written_.notify_all();
        if (stop_ && !failure.empty()) {
            return; // the owner is gone: one try is all there is
        }
    }
}

} // namespace veltaro::data
