// The three display logs: one writer per list. A writer appends one list entry
// to its log and marks the entry with "*" so it is never written twice.
#include "display/decoding/procedures.h"

#include "common/file_io.h"

#include <array>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>

namespace veltaro {

namespace {

// Opens, appends one CR LF line and closes again, so other programs can read
// the log between writes and nothing is held open. A log name that is not a
// regular file is refused; a line cut short by a full disk is cut off again.
void AppendLine(const std::string& path, std::string line) {
    line += "\r\n";
    fileio::Problem problem;
    const fileio::Fd fd = fileio::OpenRegular(path, O_WRONLY | O_APPEND | O_CREAT, problem);
    if (!fd.valid()) {
        throw std::runtime_error(problem.Describe());
    }
    if (const int error = fileio::AppendWhole(fd.get(), line)) {
        throw std::runtime_error(std::strerror(error));
    }
}

// With "Displayed" the writer logs the newest (top) entry; otherwise the entry
// the user picked.
int ChooseEntry(MStart& m, ListId list) {
    if (m.ui.IsSelected(OptionId::optDisplayed)) {
        if (m.ui.Count(list) == 0) {
            throw std::runtime_error("The list is empty");
        }
        m.ui.SetSelected(list, 0, true);
        return 0;
    }
    const int index = m.ui.SelectedIndex(list);
    if (index < 0 || index >= m.ui.Count(list)) {
        throw std::runtime_error("No entry is selected");
    }
    return index;
}

// Marks the chosen entry and returns its text without the mark and the blank
// after it; returns false (after a beep) when the entry was already written.
bool TakeUnwrittenEntry(MStart& m, ListId list, std::string& text, bool close_last_field) {
    const int index = ChooseEntry(m, list);
    std::string entry = m.ui.Entry(list, index);
    if (!entry.empty() && entry[0] == '*') {
        m.ui.Beep();
        m.ui.SetSelected(list, index, false);
        return false;
    }
    std::string marked = "*" + (entry.empty() ? std::string() : entry.substr(1));
    m.ui.ReplaceEntry(list, index, marked);
    m.ui.SetSelected(list, index, false);
    if (close_last_field) {
        marked += '\t';
    }
    text = marked.substr(2 < marked.size() ? 2 : marked.size());
    return true;
}

// The first `limit` TAB-closed fields joined by commas; missing fields are empty.
std::string JoinFields(const std::string& text, int limit) {
    std::array<std::string, 10> fields;
    int counter = 0;
    std::string collector;
    for (const char c : text) {
        if (c != '\t') {
            collector += c;
            continue;
        }
        ++counter;
        if (counter <= limit) {
            fields[static_cast<std::size_t>(counter - 1)] = collector;
        }
        collector.clear();
    }
    std::string line;
    for (int i = 0; i < limit; ++i) {
        if (i > 0) {
            line += ',';
        }
        line += fields[static_cast<std::size_t>(i)];
    }
    return line;
}

// Inside a slice of a claimed file the first failure ends the slice, which
// is done again later; elsewhere (a double-click) it is listed at once.
void WriteFailed(MStart& m, const std::string& description, std::string_view literal) {
    if (!m.HoldLogFailures) {
        ReportProblem(m, description, literal);
    } else if (m.LogFailure.empty()) {
        m.LogFailure = description + std::string(literal);
    }
}

// Writes the chosen entry with write(text) and reports what fails.
template <typename Write>
void SaveEntry(MStart& m, ListId list, bool close_last_field, std::string_view literal,
               Write write) {
    if (m.HoldLogFailures && !m.LogFailure.empty()) {
        return; // the slice is being undone
    }
    std::string text;
    try {
        if (!TakeUnwrittenEntry(m, list, text, close_last_field)) {
            return;
        }
    } catch (const std::exception& error) {
        ReportProblem(m, error.what(), literal);
        return;
    }
    try {
        write(text);
    } catch (const std::exception& error) {
        WriteFailed(m, error.what(), literal);
    }
}

} // namespace

void SaveRawReport(MStart& m) {
    SaveEntry(m, ListId::lstOutput, false, "  Can't save RawReport",
              [&](const std::string& text) { AppendLine(m.RawDataPath, text); });
}

void SaveMessage(MStart& m) {
    SaveEntry(m, ListId::lstMessage, true, "  Can't save Message",
              [&](const std::string& text) { AppendLine(m.MsgPath, JoinFields(text, 10)); });
}

void SaveReport(MStart& m) {
    SaveEntry(m, ListId::lstReport, true, "  Can't save Report",
              [&](const std::string& text) { AppendLine(m.ReportPath, JoinFields(text, 5)); });
}

} // namespace veltaro
