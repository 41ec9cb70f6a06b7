// The main window's controls as the decoding core sees them. The Qt window
// implements this with its widgets; the tests and veltaro-decode with plain
// memory (MemoryControls).
#pragma once

#include <string>

namespace veltaro {

enum class ListId { lstOutput, lstMessage, lstReport };

enum class TextBoxId {
    txtNMessage,
    txtAppName,
    txtInputFile,
    txtRawDataFile,
    txtMsgFile,
    txtReportFile,
    txtGMTOffset,
    txtFilter,
    txtClock,
};

// Two independent option groups: optSystemTz/optUseOffset, OptSelected/optDisplayed.
enum class OptionId { optSystemTz, optUseOffset, OptSelected, optDisplayed };

class Controls {
public:
    virtual ~Controls() = default;

    // Lists: index 0 is the top (newest) entry.
    virtual void InsertTop(ListId list, const std::string& text) = 0;
    virtual int Count(ListId list) const = 0;
    virtual void Remove(ListId list, int index) = 0;
    virtual void Clear(ListId list) = 0;
    virtual std::string Entry(ListId list, int index) const = 0;
    virtual void ReplaceEntry(ListId list, int index, const std::string& text) = 0;
    // The selected entry's index, or -1 when none is selected.
    virtual int SelectedIndex(ListId list) const = 0;
    virtual void SetSelected(ListId list, int index, bool selected) = 0;

    virtual std::string Text(TextBoxId box) const = 0;
    virtual void SetText(TextBoxId box, const std::string& text) = 0;

    // Selecting an option clears its group partner; clearing one leaves the
    // partner as it is.
    virtual bool IsSelected(OptionId option) const = 0;
    virtual void SetOption(OptionId option, bool selected) = 0;

    virtual void Beep() = 0;
    // Lets queued window events run (the only re-entry point of a cycle).
    virtual void ProcessEvents() = 0;
    // The folder the exchange file and the logs are resolved against.
    virtual std::string DataFolder() const = 0;
};

} // namespace veltaro
