// The three display logs: one writer per list. A writer appends one list entry
// to its log and marks the entry with "*" so it is never written twice.
#include "display/decoding/procedures.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace veltaro {

namespace {

std::runtime_error SystemError() {
    return std::runtime_error(std::strerror(errno));
}

// Opens, appends one CR LF line and closes again, so other programs can read
// the log between writes and nothing is held open.
void AppendLine(const std::string& path, std::string line) {
    line += "\r\n";
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        throw SystemError();
    }
    // A full disk or a file-size limit can take part of a line: cut it off
    // again, so the log holds whole lines only.
    const off_t before = ::lseek(fd, 0, SEEK_END);
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int saved = errno;
            if (done > 0 && before >= 0) {
                [[maybe_unused]] const int cut = ::ftruncate(fd, before);
            }
            ::close(fd);
            errno = saved;
            throw SystemError();
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) {
        throw SystemError();
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

void SaveFields(MStart& m, ListId list, const std::string& path, int limit,
                std::string_view literal) {
    try {
        std::string text;
        if (TakeUnwrittenEntry(m, list, text, true)) {
            AppendLine(path, JoinFields(text, limit));
        }
    } catch (const std::exception& error) {
        ReportProblem(m, error.what(), literal);
    }
}

} // namespace

void SaveRawReport(MStart& m) {
    try {
        std::string text;
        if (TakeUnwrittenEntry(m, ListId::lstOutput, text, false)) {
            AppendLine(m.RawDataPath, text);
        }
    } catch (const std::exception& error) {
        ReportProblem(m, error.what(), "  Can't save RawReport");
    }
}

void SaveMessage(MStart& m) {
    SaveFields(m, ListId::lstMessage, m.MsgPath, 10, "  Can't save Message");
}

void SaveReport(MStart& m) {
    SaveFields(m, ListId::lstReport, m.ReportPath, 5, "  Can't save Report");
}

} // namespace veltaro
