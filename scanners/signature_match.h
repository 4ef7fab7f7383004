// Matching signature records against an open file: the size rule, the two
// 20-byte fragments relative to the entry point (backdoor records), and
// the two fragments searched in 1024-byte windows (archive records).
#pragma once

#include <cstdint>

#include "scanners/signature_record.h"

// Bytes read at an archive record's offset; a fragment is searched at the
// positions 0 to 1003 of that window (the last full position, 1004, is not
// among them).
constexpr int ArchiveWindowSize = 1024;
constexpr int FragmentSize = 20;

// 1 when a file of `length` bytes passes the record's size rule; 0 when it
// fails or the rule is unknown (the record is skipped).
int SizeRulePasses(const SignatureRecord& record, int32_t length);

// 1 when both fragments lie where RvaToFileOffset maps entryPoint + offset.
// The probes must have read this file's headers.
int BackdoorFragmentsMatch(const SignatureRecord& record, int fd, uint32_t entryPoint);

// Index of the first BackdoorSignatures record that passes its size rule
// and whose fragments match, or -1.
int FindBackdoorRecord(int fd, int32_t length, uint32_t entryPoint);

// 1 when both fragments occur in the windows at the record's offsets.
int ArchiveFragmentsMatch(const SignatureRecord& record, int fd);

// Index of the first ArchiveSignatures record that matches, or -1. The
// search ends at once (-1) when a record's size rule passes and the file
// does not begin with "PK".
int FindArchiveRecord(int fd, int32_t length);
