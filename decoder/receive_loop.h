// The receive loop: waits on the port and the stop signals, feeds what
// arrives to the packet state machine, sends the end-of-packet bytes, reopens
// a port that went away and hands the records to the exchange file.
#pragma once

#include "decoder/fec.h"
#include "decoder/records.h"
#include "decoder/serial_port.h"

namespace quorvel {

// Exit status when records could not be handed to the exchange file.
constexpr int kExitRecordsNotWritten = 3;

// How long the last flush may wait for the exchange file after a stop.
constexpr std::chrono::seconds kLastFlushTime{2};

// Runs until the port ends (recorded stream) or a terminating signal arrives;
// returns the process exit status: 0, or kExitRecordsNotWritten when records
// never reached the exchange file (the console says how many). A serial port
// that hangs up (receiver unplugged) is reopened by its name once a second
// until it comes back; both events are S,13 records.
int run_receive_loop(Port& port, FecContext& fec, RecordOutput& out);

// Asks a running (or the next) receive loop to end as SIGTERM would.
// Async-signal-safe; callable from any thread.
void request_receive_stop();

} // namespace quorvel
