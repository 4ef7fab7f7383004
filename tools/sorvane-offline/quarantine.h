// The quarantine folder of a run: the original bytes of every file before
// the scan deletes, renames, truncates or repairs it, and of every hive
// before it is rewritten. Each copy is made (never over an existing one)
// and fsynced, and its record appended to the journal manifest.jsonl and
// fsynced, before the change goes ahead; manifest.json sums the folder up
// at the end. --restore puts the originals back from either.
#pragma once

#include <string>

struct HiveFile;

namespace quarantine {

// Starts keeping copies in `dir` (created when missing). A folder that
// holds a journal already is continued: numbering goes on after its
// highest entry, and a hive write a stopped run left unfinished is rolled
// back first. With `hivesOnly` only hives are kept (the hive backups'
// folder of a run without --quarantine). False with a message.
bool Open(const std::string& dir, std::string* error, bool hivesOnly = false);
bool IsOpen();
const std::string& Folder();

// Keeps the file before a change; false (with a message on stderr) when no
// copy could be made, so the change must not go ahead. A file already
// kept in this run is not kept again.
bool Keep(const std::string& host, const std::string& windowsPath, const char* action,
          const std::string& renamedTo = "");
// Whether the file may be removed at the next start of Windows: not when
// its copy could not be kept.
bool MayRemoveAtRestart(const std::string& host, const std::string& windowsPath);

// Keeps a hive's original bytes before it is written back; the entry's
// number (0 with a message when no copy could be kept) and the copy's
// host path in *copy.
size_t KeepHive(const HiveFile& hive, const std::string& original, std::string* copy, std::string* error);
// Around the one write of a hive's file: recorded before it starts (false:
// the write must not start) and when it ended, written or not.
bool HiveWriteStarts(size_t entry);
void HiveWriteEnded(size_t entry, bool written);

// Names the detection of the kept file `windowsPath` (from its results line).
void NoteDetection(const std::string& windowsPath, const std::string& detection);

// Names where the volume came from (JSON text of the image and partition)
// and the folder it was mounted at, in the journal and the summary.
void SetOrigin(const std::string& originJson, const std::string& mountedAt);

// Records the state the run left each file in and writes manifest.json.
bool Close(std::string* error);

// Puts every kept file back, the latest first; a file changed since the
// run is left unless `force`. With `volume`, the drive root the run
// cleaned is now mounted there (its identity must match; a manifest
// without identities needs it). Prints one line per file; returns the
// exit code (0 all restored, 1 something left or a record skipped, 2 no
// usable manifest or not the volume the run cleaned).
int Restore(const std::string& dir, bool force, const std::string& volume = "");

// Lower-case hex SHA-256 of a file's bytes; empty when it cannot be read.
std::string FileSha256(const std::string& host);
std::string Sha256(const std::string& bytes);

}  // namespace quarantine
