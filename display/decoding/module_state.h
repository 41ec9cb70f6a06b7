// The display's module state: the variables through which the decoding
// procedures pass their results, under the names the rest of the system uses.
// One instance lives for the whole run, next to the controls it works on.
#pragma once

#include "display/decoding/controls.h"
#include "display/decoding/datetime.h"
#include "display/decoding/reading_sink.h"

#include <array>
#include <cstdint>
#include <string>

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
