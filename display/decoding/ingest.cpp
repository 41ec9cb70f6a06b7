// The ingest cycle: takes over the exchange file the decoder appends to, lists
// every record, decodes the N records and keeps the lists bounded. The file is
// claimed by renaming it under its lock and deleted only once it has been
// processed, so a display that is killed loses and doubles nothing.
#include "display/decoding/procedures.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace veltaro {

namespace {

constexpr std::string_view kIngestProblem = "  Problem ingesting N records";

struct ListLimit {
    ListId list;
    int limit;
};
constexpr ListLimit kListLimits[] = {
    {ListId::lstOutput, 500}, {ListId::lstMessage, 1000}, {ListId::lstReport, 1000}};

std::runtime_error SystemError(int error) {
    return std::runtime_error(std::strerror(error));
}

// Marks a cycle as running for its whole extent, so a tick handled inside the
// trimming's event processing does not start a nested one.
class CycleGuard {
public:
    explicit CycleGuard(MStart& m) : m_(m) { m_.CycleRunning = true; }
    ~CycleGuard() { m_.CycleRunning = false; }
    CycleGuard(const CycleGuard&) = delete;
    CycleGuard& operator=(const CycleGuard&) = delete;

private:
    MStart& m_;
};

// Names are fixed at the first cycle; edits of the boxes apply after a restart.
void SetPaths(MStart& m) {
    if (m.PathsSet) {
        return;
    }
    m.FieldSep = "\t";
    const std::string folder = m.ui.DataFolder() + "/";
    m.InputPath = folder + m.ui.Text(TextBoxId::txtInputFile);
    m.RawDataPath = folder + m.ui.Text(TextBoxId::txtRawDataFile);
    m.MsgPath = folder + m.ui.Text(TextBoxId::txtMsgFile);
    m.ReportPath = folder + m.ui.Text(TextBoxId::txtReportFile);
    m.PathsSet = true;
}

void SetGmtOffset(MStart& m) {
    const double hours = m.ui.IsSelected(OptionId::optSystemTz)
                             ? -static_cast<double>(GetZoneBiasMinutes()) / 60.0
                             : LeadingNumber(m.ui.Text(TextBoxId::txtGMTOffset));
    const double rounded = RoundHalfEven(hours);
    if (!(rounded >= INT32_MIN && rounded <= INT32_MAX)) {
        throw std::runtime_error("The GMT offset is out of range");
    }
    m.GmtOffsetHours = static_cast<std::int32_t>(rounded);
}

// The exchange file's folder, so a missing folder can be told from a missing
// file: the first is a setup fault the user must hear about, the second the
// ordinary idle case.
void CheckFolderExists(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        throw SystemError(errno);
    }
}

bool SameFile(int fd, const std::string& path) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Renames the exchange file to the claimed name while holding its lock: the
// decoder, which appends only under that lock and only to the file at its
// path, starts a new exchange file at its next flush. Returns false in the
// silent cases: no file yet, or the decoder holds it right now.
bool ClaimExchangeFile(const std::string& path, const std::string& claimed) {
    // Non-blocking, so a name that points at a pipe cannot hang the window.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error != ENOENT) {
            throw SystemError(error);
        }
        CheckFolderExists(path);
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); } // also releases the lock
    } closer{fd};

    // A mistyped name may point at a folder or a device: never rename those.
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        throw SystemError(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        throw SystemError(EISDIR);
    }
    if (!S_ISREG(info.st_mode)) {
        throw std::runtime_error("The exchange file is not a regular file");
    }

    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return false;
        }
        throw SystemError(errno);
    }
    if (!SameFile(fd, path)) {
        return false; // replaced between our open and our lock: next tick
    }
    if (::rename(path.c_str(), claimed.c_str()) != 0) {
        throw SystemError(errno);
    }
    return true;
}

// Reads a whole file; false when it does not exist.
bool ReadWholeFile(const std::string& path, std::string& content) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return false;
        }
        throw SystemError(errno);
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw SystemError(errno);
        }
        if (n == 0) {
            return true;
        }
        content.append(buffer, static_cast<std::size_t>(n));
    }
}

void RemoveIfPresent(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        throw SystemError(errno);
    }
}

void WriteWholeFile(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        throw SystemError(errno);
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            ::close(fd);
            throw SystemError(error);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) {
        throw SystemError(errno);
    }
}

// A claimed file stays until every line of it is listed, logged and decoded,
// so a display killed meanwhile finds it at its next cycle. Beside it, the
// log mark holds each log's size (-1: absent) at the start of the pass over
// it: a pass that is cut short is rolled back to the mark and done again, so
// no log line is lost or written twice.
struct ClaimPaths {
    std::string claimed;
    std::string mark;
};

ClaimPaths ClaimPathsOf(const MStart& m) {
    return {m.InputPath + ".claimed", m.InputPath + ".claimed-logs"};
}

std::vector<std::string> LogPaths(const MStart& m) {
    return {m.RawDataPath, m.MsgPath, m.ReportPath};
}

// Written under a temporary name and renamed, so a kill leaves either no
// mark or a whole one.
void WriteLogMark(const MStart& m, const std::string& mark) {
    std::string text;
    for (const std::string& log : LogPaths(m)) {
        struct stat info {};
        const long long size = ::stat(log.c_str(), &info) == 0 ? info.st_size : -1;
        text += std::to_string(size) + "\t" + log + "\n";
    }
    const std::string fresh = mark + ".new";
    WriteWholeFile(fresh, text);
    if (::rename(fresh.c_str(), mark.c_str()) != 0) {
        throw SystemError(errno);
    }
}

// Cuts each log back to its size at the mark. A log that is now shorter than
// its mark was replaced by someone else and is left alone.
void RollBackLogs(const std::string& mark) {
    std::string text;
    if (!ReadWholeFile(mark, text)) {
        return; // killed before the mark was written: nothing logged yet
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string_view line = std::string_view(text).substr(start, end - start);
        start = end + 1;
        const std::size_t tab = line.find('\t');
        long long size = 0;
        if (tab == std::string_view::npos ||
            std::from_chars(line.data(), line.data() + tab, size).ec != std::errc()) {
            continue;
        }
        const std::string log(line.substr(tab + 1));
        struct stat info {};
        if (::stat(log.c_str(), &info) != 0) {
            continue;
        }
        if (size < 0) {
            RemoveIfPresent(log);
        } else if (info.st_size > size && ::truncate(log.c_str(), size) != 0) {
            throw SystemError(errno);
        }
    }
}

// The content of this cycle: a claimed file left by a pass that did not end
// (its logs rolled back to their mark), else the exchange file, newly claimed.
// Returns false when there is nothing to read.
bool TakeContent(const MStart& m, const ClaimPaths& paths, std::string& content) {
    if (ReadWholeFile(paths.claimed, content)) {
        RollBackLogs(paths.mark);
    } else {
        // Left by a pass that ended after deleting its claimed file.
        RemoveIfPresent(paths.mark);
        if (!ClaimExchangeFile(m.InputPath, paths.claimed) ||
            !ReadWholeFile(paths.claimed, content)) {
            return false;
        }
    }
    WriteLogMark(m, paths.mark);
    return true;
}

// The claimed file's lines are all listed, logged and decoded: it and its mark go.
void ReleaseClaim(const ClaimPaths& paths) {
    RemoveIfPresent(paths.claimed);
    RemoveIfPresent(paths.mark);
}

bool IsRecord(std::string_view line) {
    return line.size() >= 2 && line[1] == ',' &&
           (line[0] == 'S' || line[0] == 'P' || line[0] == 'N');
}

// Where the line from start ends (CR or LF), or npos. One pass over the
// characters: find_first_of searches its set once per character.
std::size_t LineEnd(std::string_view content, std::size_t start) {
    const auto end = std::find_if(content.begin() + static_cast<std::ptrdiff_t>(start),
                                  content.end(), [](char c) { return c == '\r' || c == '\n'; });
    return end == content.end() ? std::string_view::npos
                                : static_cast<std::size_t>(end - content.begin());
}

// Lists every record line (logging it with "Displayed") and returns the N
// records in file order. A line ends at CR, LF or CR LF.
std::vector<std::string> ListRecords(MStart& m, std::string_view content) {
    std::vector<std::string> n_queue;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = LineEnd(content, start);
        std::size_t next = end;
        if (end == std::string_view::npos) {
            end = content.size();
            next = end;
        } else if (content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n') {
            next = end + 2;
        } else {
            next = end + 1;
        }
        const std::string_view line = content.substr(start, end - start);
        start = next;
        if (!IsRecord(line)) {
            continue;
        }
        m.ui.InsertTop(ListId::lstOutput, "  " + std::string(line));
        if (m.ui.IsSelected(OptionId::optDisplayed)) {
            SaveRawReport(m);
        }
        if (m.Sink != nullptr) {
            m.Sink->OnRecord(line);
        }
        if (line[0] == 'N') {
            n_queue.emplace_back(line);
        }
    }
    return n_queue;
}

void DecodeNRecords(MStart& m, const std::vector<std::string>& n_queue) {
    for (const std::string& record : n_queue) {
        m.NRecord = record;
        ReadMantHeader(m);
        if (m.RecordSelected) {
            m.ui.SetText(TextBoxId::txtNMessage, m.NRecord);
            m.NRecord += ",";
            ParseAppPacket(m);
        }
    }
}

// Removes the oldest lines one at a time, letting window events run after
// each removal.
void TrimLists(MStart& m) {
    for (const ListLimit& limit : kListLimits) {
        while (m.ui.Count(limit.list) > limit.limit) {
            m.ui.Remove(limit.list, m.ui.Count(limit.list) - 1);
            m.ui.ProcessEvents();
        }
    }
}

void ListAndDecode(MStart& m, std::string_view content) {
    const std::vector<std::string> n_queue = ListRecords(m, content);
    m.SourceFilter = LeadingNumber(m.ui.Text(TextBoxId::txtFilter));
    DecodeNRecords(m, n_queue);
}

void ProcessContent(MStart& m, std::string_view content) {
    ListAndDecode(m, content);
    TrimLists(m);
}

// A failure after listing ends the pass as the lines stand: they are not
// listed again at the next tick. The claim is released before the trimming,
// whose event processing may log entries a roll-back must not touch.
void ProcessClaimedContent(MStart& m, const ClaimPaths& paths, std::string_view content) {
    try {
        ListAndDecode(m, content);
    } catch (const std::exception&) {
        ReleaseClaim(paths);
        throw;
    }
    ReleaseClaim(paths);
    TrimLists(m);
}

// Digits of a hexadecimal or octal literal read with the width its length (hex)
// or value (octal) calls for: 16-bit two's complement, else 32-bit.
double RadixNumber(std::string_view text, unsigned radix) {
    unsigned long long value = 0;
    std::size_t digits = 0;
    for (const char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (radix == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (radix == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        }
        if (digit < 0 || static_cast<unsigned>(digit) >= radix) {
            break;
        }
        value = value * radix + static_cast<unsigned>(digit);
        ++digits;
        if (value > 0xFFFFFFFFULL) {
            throw std::runtime_error("The number is too large");
        }
    }
    const bool narrow = radix == 16 ? digits <= 4 : value <= 0xFFFF;
    if (narrow) {
        return static_cast<double>(static_cast<std::int16_t>(static_cast<std::uint16_t>(value)));
    }
    if (radix == 16 && digits > 8) {
        throw std::runtime_error("The number is too large");
    }
    return static_cast<double>(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
}

std::size_t TakeDigits(const std::string& text, std::size_t pos, std::string& digits) {
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        digits += text[pos++];
    }
    return pos;
}

} // namespace

void ShowMessage(MStart& m) {
    m.ui.InsertTop(ListId::lstReport, m.MessageText);
}

void ReportProblem(MStart& m, const std::string& description, std::string_view literal) {
    m.MessageText = description + std::string(literal);
    ShowMessage(m);
}

std::int16_t GetZoneBiasMinutes() {
    ::tzset(); // picks up a change of the system's zone while the display runs
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local) == nullptr) {
        return 0;
    }
    // The offset in effect now, daylight saving included; minutes west of UTC.
    return static_cast<std::int16_t>(-local.tm_gmtoff / 60);
}

double LeadingNumber(std::string_view text) {
    std::string s;
    for (const char c : text) {
        if (c != ' ' && c != '\t' && c != '\n') {
            s += c;
        }
    }
    if (s.size() >= 2 && s[0] == '&') {
        const char kind = s[1];
        if (kind == 'H' || kind == 'h') {
            return RadixNumber(std::string_view(s).substr(2), 16);
        }
        if (kind == 'O' || kind == 'o') {
            return RadixNumber(std::string_view(s).substr(2), 8);
        }
        return 0;
    }
    std::size_t pos = 0;
    bool negative = false;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
        negative = s[pos] == '-';
        ++pos;
    }
    std::string whole;
    std::string fraction;
    pos = TakeDigits(s, pos, whole);
    if (pos < s.size() && s[pos] == '.') {
        pos = TakeDigits(s, pos + 1, fraction);
    }
    if (whole.empty() && fraction.empty()) {
        return 0;
    }
    std::string exponent;
    if (pos < s.size() && (s[pos] == 'E' || s[pos] == 'e' || s[pos] == 'D' || s[pos] == 'd')) {
        std::size_t p = pos + 1;
        std::string sign;
        if (p < s.size() && (s[p] == '+' || s[p] == '-')) {
            sign = s[p++];
        }
        std::string digits;
        TakeDigits(s, p, digits);
        if (!digits.empty()) {
            exponent = "e" + sign + digits;
        }
    }
    const std::string canonical =
        (whole.empty() ? "0" : whole) + "." + (fraction.empty() ? "0" : fraction) + exponent;
    double value = 0;
    const auto result =
        std::from_chars(canonical.data(), canonical.data() + canonical.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Far too small reads as 0; far too large is an error, not infinity.
        if (exponent.size() > 1 && exponent[1] == '-') {
            return 0;
        }
        throw std::runtime_error("The number is too large");
    }
    return negative ? -value : value;
}

void IngestExchangeFile(MStart& m) {
    if (m.CycleRunning) {
        return;
    }
    CycleGuard guard(m);
    try {
        SetPaths(m);
        SetGmtOffset(m);
        const ClaimPaths paths = ClaimPathsOf(m);
        std::string content;
        if (!TakeContent(m, paths, content)) {
            return;
        }
        ProcessClaimedContent(m, paths, content);
    } catch (const std::exception& error) {
        ReportProblem(m, error.what(), kIngestProblem);
    }
}

void IngestExchangeText(MStart& m, std::string_view content) {
    if (m.CycleRunning) {
        return;
    }
    CycleGuard guard(m);
    try {
        SetPaths(m);
        SetGmtOffset(m);
        ProcessContent(m, content);
    } catch (const std::exception& error) {
        ReportProblem(m, error.what(), kIngestProblem);
    }
}

} // namespace veltaro
