#include "decoder/records.h"

#include "decoder/exchange_append.h"

#include <chrono>
#include <cstring>
#include <string>

namespace quorvel {

namespace {

// A record is kept only while the buffer stays below its last character.
constexpr std::size_t kPendingLimit = kPendingSize - 1;

// "P", "N" or "S,<type>": what the drop message calls the record.
std::string record_kind(std::string_view record) {
    std::size_t end = record.find(',');
    if (!record.empty() && record[0] == 'S' && end != std::string_view::npos) {
        end = record.find(',', end + 1);
    }
    std::string kind(record.substr(0, std::min<std::size_t>(end, 8)));
    for (char& c : kind) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return kind;
}

void append(RecordOutput& out, std::string_view text) {
    if (out.pending_length + text.size() >= kPendingLimit) {
        if (out.console != nullptr) {
            std::fprintf(out.console, "record dropped, pending output full: %s record\r\n",
                         record_kind(text).c_str());
        }
        return;
    }
    std::memcpy(out.pending.data() + out.pending_length, text.data(), text.size());
    out.pending_length += text.size();
}

// Text-file line ends: every LF goes out as CR LF.
std::string text_mode(std::string_view text) {
    std::string converted;
    converted.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') {
            converted += '\r';
        }
        converted += c;
    }
    return converted;
}

void echo_new_text(RecordOutput& out) {
    const std::string_view fresh(out.pending.data() + out.echoed_length,
                                 out.pending_length - out.echoed_length);
    if (out.console != nullptr) {
        std::fwrite(fresh.data(), 1, fresh.size(), out.console);
        std::fflush(out.console);
    }
    if (out.log != nullptr) {
        const std::string converted = text_mode(fresh);
        std::fwrite(converted.data(), 1, converted.size(), out.log);
        std::fflush(out.log);
    }
    out.echoed_length = out.pending_length;
}

void console_message(const RecordOutput& out, const char* message) {
    if (out.console != nullptr) {
        std::fputs(message, out.console);
        std::fflush(out.console);
    }
}

} // namespace

void queue_record(RecordOutput& out, std::string_view record) {
    append(out, record);
}

void queue_line(RecordOutput& out, std::string_view line) {
    if (line.empty()) {
        return;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.remove_suffix(1);
    }
    std::string text(line);
    text += "\r\n";
    append(out, text);
}

void flush_pending_output(RecordOutput& out) {
    if (out.pending_length == 0) {
        return;
    }
    echo_new_text(out);

    // Waits as long as another program holds the lock.
    const AppendWait wait{std::chrono::steady_clock::now() + std::chrono::hours(24 * 365)};
    const std::string text = text_mode(std::string_view(out.pending.data(), out.pending_length));
    switch (append_exchange_file(out.exchange_path, text, wait)) {
    case AppendResult::OpenFailed:
        console_message(out, "error on opening exchange file\r\n");
        return;
    case AppendResult::WriteFailed:
        console_message(out, "error on writing exchange file\r\n");
        return;
    case AppendResult::Locked:
        return;
    case AppendResult::CloseFailed:
        console_message(out, "error on closing exchange file\r\n");
        break;
    case AppendResult::Written:
        break;
    }
    out.pending_length = 0;
    out.echoed_length = 0;
}

} // namespace quorvel
