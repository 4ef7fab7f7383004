// The quarantine folder of a run: the original bytes of every file before
// the scan deletes, renames, truncates or repairs it, and of every hive
// before it is rewritten, listed in manifest.json (original path,
// detection, action, size, SHA-256, time, and the state the run left) so
// that --restore can put them back.
#pragma once

#include <string>

namespace quarantine {

// Starts keeping copies in `dir` (created when missing); false with a message.
bool Open(const std::string& dir, std::string* error);
bool IsOpen();
const std::string& Folder();

// Keeps the file before a change; false (with a message on stderr) when no
// copy could be made, so the change must not go ahead. A file already
// kept in this run is not kept again.
bool Keep(const std::string& host, const std::string& windowsPath, const char* action,
          const std::string& renamedTo = "");
// Records a hive whose original was copied to `copy` (inside the folder).
void KeepHive(const std::string& host, const std::string& label, const std::string& copy);
// Names the detection of the kept file `windowsPath` (from its results line).
void NoteDetection(const std::string& windowsPath, const std::string& detection);

// Names where the volume came from (JSON text of the image and partition)
// and the folder it was mounted at, for the manifest.
void SetOrigin(const std::string& originJson, const std::string& mountedAt);

// Writes manifest.json with the state the run left each file in.
bool Close(std::string* error);

// Puts every kept file back; a file changed since the run is left unless
// `force`. Prints one line per file; returns the exit code (0 all
// restored, 1 something left, 2 no usable manifest).
// With `mountedAt` and `mountNow`, files kept below `mountedAt` are put
// back below `mountNow` (the volume mounted elsewhere now); others are
// left.
int Restore(const std::string& dir, bool force, const std::string& mountedAt = "",
            const std::string& mountNow = "");

// Lower-case hex SHA-256 of a file's bytes; empty when it cannot be read.
std::string FileSha256(const std::string& host);
std::string Sha256(const std::string& bytes);

}  // namespace quarantine
