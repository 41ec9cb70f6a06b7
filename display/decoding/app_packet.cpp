#include "display/decoding/report_decoders.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <vector>

namespace veltaro {

namespace {

const std::string kUnreadable = "  Unreadable Data Packet";
const std::string kSeparator = "__________";

void RemoveFront(std::string& text, std::size_t count, const char* description) {
    if (text.size() < count) {
        throw std::runtime_error(description);
    }
    text.erase(0, count);
}

// The byte text that follows the MANT header fields of NRecord, found by
// walking the fields by the header's own flags; empty when the record ends
// within its header.
std::string PayloadInRecord(const std::string& record) {
    std::vector<std::size_t> commas;
    for (std::size_t i = record.find(','); i != std::string::npos; i = record.find(',', i + 1)) {
        commas.push_back(i);
    }
    // Field k (k >= 2) lies between comma k - 1 and comma k.
    const auto field_number = [&](std::size_t k) {
        if (k < 2 || commas.size() < k) {
            return -1.0;
        }
        const std::size_t start = commas[k - 2] + 1;
        return RoundHalfEven(
            LeadingNumber(std::string_view(record).substr(start, commas[k - 1] - start)));
    };
    std::size_t last = 19; // the source address
    if (field_number(12) == 1) {
        ++last; // destination address
    }
    if (field_number(9) == 1) {
        ++last; // extra header byte
    }
    if (field_number(11) == 1) {
        const double paths = field_number(last + 1);
        if (!(paths <= static_cast<double>(commas.size()))) {
            return {}; // more addresses than the record has fields
        }
        last += 1 + static_cast<std::size_t>(paths > 0 ? paths : 0);
    }
    if (commas.size() < last) {
        return {};
    }
    return record.substr(commas[last - 1] + 1);
}

void AppendHeaderColumns(MStart& m) {
    m.HeaderLine += std::to_string(m.HopLimit) + m.FieldSep + std::to_string(m.PktId) + m.FieldSep +
                    m.TestMsgText + m.FieldSep + m.PacketBytes + m.FieldSep;
    for (std::size_t i = 0; i < m.PathAddress.size(); ++i) {
        if (i > 0) {
            m.HeaderLine += m.FieldSep;
        }
        m.HeaderLine += m.PathAddress[i];
    }
}

// The packet whose header line was just listed, for the sink.
void HandOnPacket(MStart& m) {
    if (m.Sink == nullptr) {
        return;
    }
    std::string_view record = m.NRecord;
    if (!record.empty() && record.back() == ',') {
        record.remove_suffix(1); // the comma the ingest cycle appended
    }
    PacketEvent packet;
    packet.record = record;
    packet.source = m.SourceAddress;
    packet.test = m.TestMsgText == "Yes";
    packet.hop_limit = m.HopLimit;
    packet.packet_id = m.PktId;
    const auto paths =
        std::min(static_cast<std::size_t>(std::max<int>(m.PathCount, 0)), m.PathAddress.size());
    packet.path = std::span<const std::string>(m.PathAddress.data(), paths);
    packet.bytes = m.PacketBytes;
    m.Sink->OnPacket(packet);
}

void ListHeaderLine(MStart& m) {
    AppendHeaderColumns(m);
    m.ui.InsertTop(ListId::lstMessage, m.HeaderLine);
    if (m.ui.IsSelected(OptionId::optDisplayed)) {
        SaveMessage(m);
    }
    HandOnPacket(m);
}

void ReadReportElements(MStart& m) {
    while (!m.PayloadText.empty()) {
        m.ReportType = static_cast<std::int16_t>(HexValue(m.PayloadText.substr(0, 2)));
        RemoveFront(m.PayloadText, 3, "The packet ends inside an element's type byte");
        auto length = static_cast<std::int16_t>(3 * HexValue(m.PayloadText.substr(0, 2)));
        RemoveFront(m.PayloadText, 3, "The packet ends after an element's type byte");
        std::string body = m.PayloadText.substr(0, static_cast<std::size_t>(length));
        m.PayloadText.erase(0, body.size());
        if (const ReportDecoder read = FindReportDecoder(m.ReportType)) {
            read(m, body, length);
        } else {
            m.PacketUnreadable = true;
        }
        if (m.PacketUnreadable) {
            return;
        }
    }
}

} // namespace

void ReadAppHeader(MStart& m) {
    const auto b = static_cast<std::int16_t>(HexValue(m.PayloadText.substr(0, 2)));
    m.TimeStampFlag = (b & 4) != 0;
    m.TestMsgText = (b & 8) != 0 ? "Yes" : "No";
    m.PktId = static_cast<std::int16_t>((b & 112) / 16);
}

void ParseAppPacket(MStart& m) {
    try {
        // Cleared here so that a packet that failed early cannot mark the next one.
        m.PacketUnreadable = false;
        const std::string payload = PayloadInRecord(m.NRecord);
        // Any length beyond the record is simply more than it holds.
        const double limit = static_cast<double>(m.NRecord.size()) + 3;
        const auto declared = static_cast<std::size_t>(
            m.PayloadChars > 0 ? (m.PayloadChars < limit ? m.PayloadChars : limit) : 0);
        if (BytesPresent(payload) < declared / 3) {
            // Reading on would take header fields for payload bytes.
            m.PayloadText = payload;
            ReadAppHeader(m);
            ListHeaderLine(m);
            m.ui.InsertTop(ListId::lstReport, kUnreadable);
            m.ui.InsertTop(ListId::lstReport, kSeparator);
            return;
        }
        m.PayloadText = payload.substr(0, declared);
        ReadAppHeader(m);
        ListHeaderLine(m);

        if (m.TimeStampFlag) {
            ComputeReportTime(m);
            RemoveFront(m.PayloadText, 9, "The packet ends before its time stamp");
        } else {
            RemoveFront(m.PayloadText, 3, "The packet has no application header");
            m.ReportTime = FromWholeSeconds(ToWholeSeconds(m.ReceiveTime) +
                                            static_cast<long long>(m.GmtOffsetHours) * 3600);
        }

        if (m.PayloadKind == 0) {
            ReadReportElements(m);
        } else if (m.PayloadKind == 1) {
            std::string reports = m.PayloadText;
            ReadCompactReports(m, reports);
        }
        if (m.PacketUnreadable) {
            m.PacketUnreadable = false;
            m.ui.InsertTop(ListId::lstReport, kUnreadable);
        }
        m.ui.InsertTop(ListId::lstReport, kSeparator);
    } catch (const std::exception& e) {
        ReportProblem(m, e.what(), "  Problem parsing App packet");
    }
}

} // namespace veltaro
