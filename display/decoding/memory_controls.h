// Controls held in plain memory: for veltaro-decode and the tests.
#pragma once

#include "display/decoding/controls.h"

#include <array>
#include <deque>
#include <string>
#include <vector>

namespace veltaro {

class MemoryControls : public Controls {
public:
    explicit MemoryControls(std::string data_folder = ".");

    void InsertTop(ListId list, const std::string& text) override;
    int Count(ListId list) const override;
    void Remove(ListId list, int index) override;
    void Clear(ListId list) override;
    std::string Entry(ListId list, int index) const override;
    void ReplaceEntry(ListId list, int index, const std::string& text) override;
    int SelectedIndex(ListId list) const override;
    void SetSelected(ListId list, int index, bool selected) override;

    std::string Text(TextBoxId box) const override;
    void SetText(TextBoxId box, const std::string& text) override;

    bool IsSelected(OptionId option) const override;
    void SetOption(OptionId option, bool selected) override;

    void Beep() override { ++beeps; }
    void ProcessEvents() override;
    std::string DataFolder() const override { return data_folder_; }

    // Whole list, top first: a copy taken when the list has changed since the
    // last call, so the reference stays valid but not live across changes.
    const std::vector<std::string>& Lines(ListId list) const;

    int beeps = 0;
    int process_events_calls = 0;
    // Runs at every ProcessEvents (tests use it to stand in for a queued event).
    void (*on_process_events)(void* context) = nullptr;
    void* on_process_events_context = nullptr;

private:
    std::string data_folder_;
    // A cycle inserts thousands of lines at the top before trimming the
    // bottom: both ends must be cheap.
    std::array<std::deque<std::string>, 3> lists_;
    mutable std::array<std::vector<std::string>, 3> snapshots_;
    mutable std::array<bool, 3> snapshot_stale_{true, true, true};
    std::array<int, 3> selected_{-1, -1, -1};
    std::array<std::string, 9> texts_;
    std::array<bool, 4> options_{true, false, true, false}; // as a new window starts
};

} // namespace veltaro
