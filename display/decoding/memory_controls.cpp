#include "display/decoding/memory_controls.h"

#include <stdexcept>
#include <utility>

namespace veltaro {

namespace {
std::size_t Slot(ListId list) {
    return static_cast<std::size_t>(list);
}

// The partner of an option in its group.
OptionId Partner(OptionId option) {
    switch (option) {
    case OptionId::optSystemTz:
        return OptionId::optUseOffset;
    case OptionId::optUseOffset:
        return OptionId::optSystemTz;
    case OptionId::OptSelected:
        return OptionId::optDisplayed;
    case OptionId::optDisplayed:
        return OptionId::OptSelected;
    }
    return option;
}
} // namespace

MemoryControls::MemoryControls(std::string data_folder) : data_folder_(std::move(data_folder)) {}

void MemoryControls::InsertTop(ListId list, const std::string& text) {
    lists_[Slot(list)].push_front(text);
    snapshot_stale_[Slot(list)] = true;
    int& selected = selected_[Slot(list)];
    if (selected >= 0) {
        ++selected;
    }
}

int MemoryControls::Count(ListId list) const {
    return static_cast<int>(lists_[Slot(list)].size());
}

void MemoryControls::Remove(ListId list, int index) {
    auto& lines = lists_[Slot(list)];
    if (index < 0 || index >= static_cast<int>(lines.size())) {
        throw std::out_of_range("list index out of range");
    }
    if (index == static_cast<int>(lines.size()) - 1) {
        lines.pop_back(); // the trimming's case
    } else {
        lines.erase(lines.begin() + index);
    }
    snapshot_stale_[Slot(list)] = true;
    int& selected = selected_[Slot(list)];
    if (selected == index) {
        selected = -1;
    } else if (selected > index) {
        --selected;
    }
}

void MemoryControls::Clear(ListId list) {
    lists_[Slot(list)].clear();
    snapshot_stale_[Slot(list)] = true;
    selected_[Slot(list)] = -1;
}

std::string MemoryControls::Entry(ListId list, int index) const {
    const auto& lines = lists_[Slot(list)];
    if (index < 0 || index >= static_cast<int>(lines.size())) {
        throw std::out_of_range("list index out of range");
    }
    return lines[static_cast<std::size_t>(index)];
}

void MemoryControls::ReplaceEntry(ListId list, int index, const std::string& text) {
    auto& lines = lists_[Slot(list)];
    if (index < 0 || index >= static_cast<int>(lines.size())) {
        throw std::out_of_range("list index out of range");
    }
    lines[static_cast<std::size_t>(index)] = text;
    snapshot_stale_[Slot(list)] = true;
}

int MemoryControls::SelectedIndex(ListId list) const {
    return selected_[Slot(list)];
}

void MemoryControls::SetSelected(ListId list, int index, bool selected) {
    int& current = selected_[Slot(list)];
    if (selected) {
        if (index < 0 || index >= Count(list)) {
            throw std::out_of_range("list index out of range");
        }
        current = index;
    } else if (current == index) {
        current = -1;
    }
}

std::string MemoryControls::Text(TextBoxId box) const {
    return texts_[static_cast<std::size_t>(box)];
}

void MemoryControls::SetText(TextBoxId box, const std::string& text) {
    texts_[static_cast<std::size_t>(box)] = text;
}

bool MemoryControls::IsSelected(OptionId option) const {
    return options_[static_cast<std::size_t>(option)];
}

void MemoryControls::SetOption(OptionId option, bool selected) {
    options_[static_cast<std::size_t>(option)] = selected;
    if (selected) {
        options_[static_cast<std::size_t>(Partner(option))] = false;
    }
}

void MemoryControls::ProcessEvents() {
    ++process_events_calls;
    if (on_process_events != nullptr) {
        on_process_events(on_process_events_context);
    }
}

const std::vector<std::string>& MemoryControls::Lines(ListId list) const {
    const std::size_t slot = Slot(list);
    if (snapshot_stale_[slot]) {
        snapshots_[slot].assign(lists_[slot].begin(), lists_[slot].end());
        snapshot_stale_[slot] = false;
    }
    return snapshots_[slot];
}

} // namespace veltaro
