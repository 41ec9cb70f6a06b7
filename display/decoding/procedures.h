// The display's decoding procedures. Each traps its own failures: internal
// steps throw std::runtime_error with a plain description of what went wrong,
// and the procedure catches it at its boundary, sets MessageText to that
// description followed directly by its own literal ("  Problem reading GSR"),
// calls ShowMessage and returns normally, so its caller carries on.
#pragma once

#include "display/decoding/module_state.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace veltaro {

// ingest.cpp -----------------------------------------------------------------
// One cycle over the exchange file at InputPath: claims it (or resumes the
// file claimed before), works through one slice of about SliceTime, deletes
// it once every line is processed, and trims the lists. True while the
// claimed file has lines left: the caller runs the next cycle soon.
bool IngestExchangeFile(MStart& m);
// One cycle as if the exchange file held content (tests).
void IngestExchangeText(MStart& m, std::string_view content);
// One cycle over everything fd gives (veltaro-decode), read in slices and
// trimmed as it goes; 0 or the errno of a failed read.
int IngestExchangeStream(MStart& m, int fd);
// Inserts MessageText at the top of lstReport.
void ShowMessage(MStart& m);
// Sets MessageText to description + literal and calls ShowMessage.
void ReportProblem(MStart& m, const std::string& description, std::string_view literal);
std::int16_t GetZoneBiasMinutes();
double LeadingNumber(std::string_view text);

// mant_header.cpp ------------------------------------------------------------
void ReadMantHeader(MStart& m);

// app_packet.cpp -------------------------------------------------------------
void ParseAppPacket(MStart& m);
void ReadAppHeader(MStart& m);
void ReadCompactReports(MStart& m, std::string& text);

// report_time.cpp ------------------------------------------------------------
void ComputeReportTime(MStart& m);

// field_readers.cpp ----------------------------------------------------------
double HexValue(std::string_view digits);
std::string TakeByte(std::string& text);
// 64-bit so that a four-byte unsigned field reads as 0 to 4294967295.
std::int64_t ReadInteger(MStart& m, std::int16_t signedness, std::int16_t count, std::string& text);
double ReadFloat(MStart& m, std::int16_t type_code, std::string& text);

// Report decoders, one file each (gsr_report.cpp, rain_report.cpp,
// msr_report.cpp), dispatched by element type from app_packet.cpp.
void ReadGSR(MStart& m, std::string& body, std::int16_t& length);
void ReadRainReport(MStart& m, std::string& body, std::int16_t& length);
void ReadMSR(MStart& m, std::string& body, std::int16_t& length);

// logs.cpp -------------------------------------------------------------------
void SaveRawReport(MStart& m);
void SaveMessage(MStart& m);
void SaveReport(MStart& m);

} // namespace veltaro
