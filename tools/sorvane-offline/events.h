// --events FILE|-: the scan's results as a stream of JSON lines, one per
// results line (one per removed registry value or key), with nested Elastic
// Common Schema fields, and a last line with the statistics and the exit
// code. Written from the result records as they come, each line flushed.
#pragma once

#include <string>

// Opens the stream ("-": the real stdout, and from then on everything the
// tool prints to stdout goes to stderr) and starts taking the records.
// Call after StartRescue. An empty target does nothing; false with a message.
bool StartEvents(const std::string& target, std::string* error);

// The scan moved on (a status refresh): an event held back to learn whether
// its file's removal was scheduled for the next start is written now.
void PollEvents();

// Writes what is held and the statistics line with `exitCode`, then closes
// the stream. False with a message when a line could not be written (then
// or earlier in the run).
bool FinishEvents(int exitCode, std::string* error);
