// The display's module state: the variables through which the decoding
// procedures pass their results, under the names the rest of the system uses.
// One instance lives for the whole run, next to the controls it works on.
#pragma once

#include "common/exchange_file.h"
#include "display/decoding/controls.h"
#include "display/decoding/datetime.h"
#include "display/decoding/reading_sink.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace veltaro {

struct MStart {
    explicit MStart(Controls& controls) : ui(controls) {}

    Controls& ui;

    // Ingest cycle
    bool PathsSet = false;
    std::string FieldSep;
    std::string InputPath;
    std::string RawDataPath;
    std::string MsgPath;
    std::string ReportPath;
    std::int32_t GmtOffsetHours = 0;
    double SourceFilter = 0;
    std::string NRecord;
    std::string MessageText;
    bool CycleRunning = false;   // a tick that falls due inside a cycle starts none
    ReadingSink* Sink = nullptr; // receives what is listed, as data; optional

    // The claimed exchange file, read a slice per cycle until its end.
    exchange::ClaimedFile Claimed;
    // Work one cycle does before it lets the window run again; with the
    // last line's own work a slice stays within about 50 ms.
    std::chrono::steady_clock::duration SliceTime = std::chrono::milliseconds(40);
    // Inside a slice of a claimed file a failed log write is not listed: it
    // ends the slice, which is undone and done again later (LogFailure holds
    // the first such message).
    bool HoldLogFailures = false;
    std::string LogFailure;
    // Writing has failed and been reported once; "Logs written again" ends it.
    bool WritesFailing = false;
    // Refused data-folder names reported by the last cycle: each is reported
    // again only after it went away or changed.
    std::vector<std::string> RefusalsShown;

    // MANT header of the current N record
    bool RecordSelected = false;
    std::string SourceAddress;
    bool AddPath = false;
    bool DestFlag = false;
    std::int16_t PayloadKind = 0;
    std::int16_t HopLimit = 0;
    double PayloadChars = 0;
    std::int16_t PathCount = 0;
    std::array<std::string, 5> PathAddress; // positions 1..5 at indexes 0..4
    std::string PacketBytes;
    DateTime ReceiveTime = 0;
    std::string HeaderLine;

    // Application packet
    std::string PayloadText;
    bool TimeStampFlag = false;
    std::int16_t PktId = 0;
    std::string TestMsgText;
    std::int16_t ReportType = 0;
    std::string ReportLine;
    bool PacketUnreadable = false;
    DateTime ReportTime = 0;
};

} // namespace veltaro
