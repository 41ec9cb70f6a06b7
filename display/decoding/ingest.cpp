// The ingest cycle: takes over the exchange file the decoder appends to and
// works through it one slice per cycle, so a backlog never holds the window
// for long: every record line is listed, logged with "Displayed" and, for an N
// record, decoded; then the lists are trimmed. A slice ends complete or not at
// all: when a log cannot be written, the slice is undone in the logs and the
// lists and done again at a later cycle. The hand-over itself (claim, mark,
// roll back, release) is common/exchange_file.
#include "display/decoding/procedures.h"

#include "common/exchange_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace veltaro {

namespace {

using exchange::LineReader;

constexpr std::string_view kIngestProblem = "  Problem ingesting N records";
constexpr std::string_view kLineTooLong = "record too long, skipped: ";
constexpr std::string_view kWrittenAgain = "Logs written again";
// Lines between two trimmings when a whole text or stream is one cycle, so a
// large one is listed in bounded memory.
constexpr long kLinesPerTrim = 4096;

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

std::array<std::string, 3> ConfiguredLogs(const MStart& m) {
    return {m.RawDataPath, m.MsgPath, m.ReportPath};
}

bool IsRecord(std::string_view line) {
    return line.size() >= 2 && line[1] == ',' &&
           (line[0] == 'S' || line[0] == 'P' || line[0] == 'N');
}

void DecodeNRecord(MStart& m, std::string_view record) {
    m.NRecord = record;
    ReadMantHeader(m);
    if (m.RecordSelected) {
        m.ui.SetText(TextBoxId::txtNMessage, m.NRecord);
        m.NRecord += ",";
        ParseAppPacket(m);
    }
}

// Every record line passes here, in file order: listed at the top of
// lstOutput, logged with "Displayed", and decoded when it is an N record.
void ListRecord(MStart& m, std::string_view line) {
    if (!IsRecord(line)) {
        return;
    }
    m.ui.InsertTop(ListId::lstOutput, "  " + std::string(line));
    if (m.ui.IsSelected(OptionId::optDisplayed)) {
        SaveRawReport(m);
    }
    if (m.Sink != nullptr) {
        m.Sink->OnRecord(line);
    }
    if (line[0] == 'N') {
        DecodeNRecord(m, line);
    }
}

// Tells the sink whether what it was handed since the last call stays listed.
void EndSlice(MStart& m, bool kept) {
    if (m.Sink == nullptr) {
        return;
    }
    if (kept) {
        m.Sink->OnSliceKept();
    } else {
        m.Sink->OnSliceUndone();
    }
}

// Handles the next line; false at the end of the content.
bool TakeLine(MStart& m, LineReader& lines) {
    std::string_view line;
    switch (lines.Next(line)) {
    case LineReader::Kind::line:
        ListRecord(m, line);
        return true;
    case LineReader::Kind::too_long:
        m.MessageText = std::string(kLineTooLong) + std::string(line);
        ShowMessage(m);
        return true;
    case LineReader::Kind::end:
        return false;
    case LineReader::Kind::failed:
        break;
    }
    throw SystemError(lines.error());
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

// A whole text or stream as one cycle.
void IngestLines(MStart& m, LineReader& lines) {
    m.SourceFilter = LeadingNumber(m.ui.Text(TextBoxId::txtFilter));
    for (long count = 1; TakeLine(m, lines); ++count) {
        if (count % kLinesPerTrim == 0) {
            EndSlice(m, true); // what an output holds stays bounded too
            TrimLists(m);
        }
    }
}

// ---- A claimed exchange file, a slice per cycle ----

// What a slice may change in the lists and the message box, so that a slice
// that is undone leaves no trace there and its lines are not shown twice.
struct ListState {
    std::array<int, 3> counts{};
    std::string message;
};

ListState SaveListState(const MStart& m) {
    ListState state;
    for (std::size_t i = 0; i < state.counts.size(); ++i) {
        state.counts[i] = m.ui.Count(kListLimits[i].list);
    }
    state.message = m.ui.Text(TextBoxId::txtNMessage);
    return state;
}

// A slice only inserts at the top: its lines are the top ones.
void RestoreListState(MStart& m, const ListState& state) {
    for (std::size_t i = 0; i < state.counts.size(); ++i) {
        while (m.ui.Count(kListLimits[i].list) > state.counts[i]) {
            m.ui.Remove(kListLimits[i].list, 0);
        }
    }
    m.ui.SetText(TextBoxId::txtNMessage, state.message);
}

// One message per outage, however many slices fail during it.
void ReportWriteFailure(MStart& m, const std::string& message) {
    if (!m.WritesFailing) {
        m.WritesFailing = true;
        m.MessageText = message;
        ShowMessage(m);
    }
}

void ReportWritesBack(MStart& m) {
    if (m.WritesFailing) {
        m.WritesFailing = false;
        m.MessageText = kWrittenAgain;
        ShowMessage(m);
    }
}

// A refused name is reported once, and again only after it went away or changed.
void ReportRefusals(MStart& m, const std::vector<std::string>& refusals) {
    for (const std::string& refusal : refusals) {
        if (std::find(m.RefusalsShown.begin(), m.RefusalsShown.end(), refusal) ==
            m.RefusalsShown.end()) {
            ReportProblem(m, refusal, kIngestProblem);
        }
    }
    m.RefusalsShown = refusals;
}

// Opens a claimed file when none is open: one left by an earlier pass (its
// logs cut back to the mark), else the exchange file. False: nothing to read.
bool OpenClaim(MStart& m) {
    if (m.Claimed.IsOpen()) {
        return true;
    }
    exchange::Problem problem;
    std::vector<exchange::Problem> notices;
    const std::array<std::string, 3> logs = ConfiguredLogs(m);
    const auto opened = m.Claimed.Open(m.InputPath, logs, problem, notices);
    std::vector<std::string> refusals;
    for (const exchange::Problem& notice : notices) {
        refusals.push_back(notice.Describe());
    }
    if (problem.refused != nullptr) {
        refusals.push_back(problem.Describe());
    }
    ReportRefusals(m, refusals);
    if (problem && problem.refused == nullptr) {
        throw std::runtime_error(problem.Describe());
    }
    return opened != exchange::ClaimedFile::Opened::nothing;
}

// The lines the slice writes to its logs are the ones a kill must undo: none
// unless "Displayed" logs them.
std::span<const std::string> GuardedLogs(const MStart& m, const std::array<std::string, 3>& logs) {
    if (m.ui.IsSelected(OptionId::optDisplayed)) {
        return logs;
    }
    return {};
}

enum class SliceEnd { time_up, file_end, log_failed };

// Lines of the claimed file until the slice's time is up, the file ends or a
// log write fails.
SliceEnd ReadSlice(MStart& m) {
    const auto start = std::chrono::steady_clock::now();
    m.SourceFilter = LeadingNumber(m.ui.Text(TextBoxId::txtFilter));
    m.LogFailure.clear();
    m.HoldLogFailures = true;
    struct Holding {
        MStart& m;
        ~Holding() { m.HoldLogFailures = false; }
    } holding{m};
    for (;;) {
        if (!TakeLine(m, m.Claimed.Lines())) {
            return SliceEnd::file_end;
        }
        if (!m.LogFailure.empty()) {
            return SliceEnd::log_failed;
        }
        if (std::chrono::steady_clock::now() - start >= m.SliceTime) {
            return SliceEnd::time_up;
        }
    }
}

// Reads a slice between two checkpoints; returns the message of a write that
// failed, or empty.
std::string CheckpointedSlice(MStart& m, SliceEnd& end) {
    const std::array<std::string, 3> logs = ConfiguredLogs(m);
    if (const exchange::Problem problem = m.Claimed.Checkpoint(GuardedLogs(m, logs))) {
        return problem.Describe() + std::string(kIngestProblem);
    }
    end = ReadSlice(m);
    if (end == SliceEnd::log_failed) {
        return m.LogFailure;
    }
    if (const exchange::Problem problem = m.Claimed.Checkpoint({})) {
        return problem.Describe() + std::string(kIngestProblem);
    }
    return {};
}

// One slice of the claimed file: complete, or undone in the lists here and in
// the logs by the next cycle, which resumes from the mark as after a kill.
// True while lines remain.
bool RunSlice(MStart& m) {
    const ListState before = SaveListState(m);
    SliceEnd end = SliceEnd::log_failed;
    std::string failure;
    try {
        failure = CheckpointedSlice(m, end);
    } catch (const std::exception&) {
        RestoreListState(m, before);
        m.Claimed.Close();
        EndSlice(m, false);
        throw;
    }
    if (!failure.empty()) {
        RestoreListState(m, before);
        m.Claimed.Close();
        EndSlice(m, false);
        ReportWriteFailure(m, failure);
        return false;
    }
    EndSlice(m, true);
    ReportWritesBack(m);
    if (end == SliceEnd::file_end) {
        if (const exchange::Problem problem = m.Claimed.Release()) {
            throw std::runtime_error(problem.Describe());
        }
        return false;
    }
    return true;
}

void IngestAll(MStart& m, LineReader& lines) {
    if (m.CycleRunning) {
        return;
    }
    CycleGuard guard(m);
    try {
        SetPaths(m);
        SetGmtOffset(m);
        IngestLines(m, lines);
    } catch (const std::exception& error) {
        ReportProblem(m, error.what(), kIngestProblem);
    }
    EndSlice(m, true); // what was listed stays listed, whatever stopped the pass
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

bool IngestExchangeFile(MStart& m) {
    if (m.CycleRunning) {
        return false;
    }
    CycleGuard guard(m);
    bool more = false;
    try {
        SetPaths(m);
        SetGmtOffset(m);
        more = OpenClaim(m) && RunSlice(m);
    } catch (const std::exception& error) {
        ReportProblem(m, error.what(), kIngestProblem);
    }
    TrimLists(m);
    return more;
}

void IngestExchangeText(MStart& m, std::string_view content) {
    LineReader lines(content);
    IngestAll(m, lines);
}

int IngestExchangeStream(MStart& m, int fd) {
    LineReader lines(fd, 0);
    IngestAll(m, lines);
    return lines.error();
}

} // namespace veltaro
