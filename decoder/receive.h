// The receive loop: the receiver's "x" + hex-digit stream through the packet
// state machine, FEC, P and S records, the MANT stage and a flush per byte.
#pragma once

#include "decoder/fec.h"
#include "decoder/records.h"
#include "decoder/serial_port.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

namespace quorvel {

enum class RxState { IDLE, FIRST_BLOCK, SECOND_BLOCKS };

// Exit status when records could not be handed to the exchange file.
constexpr int kExitRecordsNotWritten = 3;

// How long the last flush may wait for the exchange file after a stop.
constexpr std::chrono::seconds kLastFlushTime{2};

// A reading of the clock: whole seconds since 1970 (UTC) and milliseconds.
struct TimeMark {
    long long seconds = 0;
    long milliseconds = 0;
};

TimeMark read_clock();

long long elapsed_usec(const TimeMark& a, const TimeMark& b);

// The packet line's timestamp text, e.g. "2014,06,04,20,25,26.007,".
std::string packet_timestamp(const TimeMark& mark);

// Runs until the port ends (recorded stream) or a terminating signal arrives;
// returns the process exit status: 0, or kExitRecordsNotWritten when records
// never reached the exchange file (the console says how many). Flushes the
// pending output after every byte.
// A serial port that hangs up (receiver unplugged) is reopened by its path
// once a second until it comes back.
int run_receive_loop(Port& port, FecContext& fec, RecordOutput& out);

// Asks a running (or the next) receive loop to end as SIGTERM would.
// Async-signal-safe; callable from any thread.
void request_receive_stop();

} // namespace quorvel
