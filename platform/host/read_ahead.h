// Read-ahead of a host directory tree being walked. When the walk lists a
// directory, a small pool of host threads reads what the scan will ask of
// its entries next, a bounded number of entries ahead of the walk: a
// file's status, its first block and its last two; a subdirectory's
// listing, the statuses of its entries and the ends of its first files.
// The walk's own reads then find these in the page cache, and the status
// and the open descriptor of each file are handed to the search and to the
// first open of that entry, so the walk does not look them up again. The
// pool only reads: every entry is taken relative to the descriptor of the
// directory listed, no link is followed, only regular files are opened,
// and what it took is used only while the caller's generation of the host
// tree is still the listing's (the caller moves it on every change it
// makes), so what the scan sees and prints is the same with or without it.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/host/file_screen.h"

namespace host {

// Starts reading ahead the entries `names` (in the walk's order; "." and
// ".." are passed over) of the host directory `hostDir`, open as `dirFd`
// (duplicated), listed at host generation `generation`. Returns the
// listing's id for the calls below, 0 when the read-ahead is off. A new
// listing takes the pool from the one before.
uint64_t ReadAheadListing(int dirFd, const std::string& hostDir, const std::vector<std::string>& names,
                          uint64_t generation);

// The walk has reached entry `index` of listing `id`: the pool reads up to
// a fixed number of entries beyond it. Ignored for a listing no longer
// current.
void ReadAheadReached(uint64_t id, size_t index);

// The lstat the pool took of entry `index` of listing `id`, if it has and
// the host generation is still the listing's.
bool ReadAheadStatus(uint64_t id, size_t index, uint64_t generation, struct stat* st);

// The read-only descriptor the pool opened (without following a link) for
// entry `name` of `hostDir`, the entry the walk last reached; -1 when there
// is none or the generation is no longer the listing's. The caller owns
// the descriptor.
int ReadAheadTake(const std::string& hostDir, const std::string& name, uint64_t generation);

// Closes a read-only descriptor the walk is done with: over a tree in
// memory the pool's thread at work closes it, sparing the walk the call.
void ReadAheadClose(int fd);
// Closes at once every descriptor still waiting (before the emulation
// changes a host file).
void ReadAheadCloseWaiting();

// Screens every regular file the pool reads, on at most `workers` threads
// at a time (reads in flight stay the pool's); null turns screening off.
void SetReadAheadScreen(FileScreen screen, int workers);

// True when the pool screened entry `name` of `hostDir`, the entry the walk
// last reached, and found that no row could act on it, and the host
// generation is still the listing's. Its descriptor is then closed. Waits
// for an entry the pool is reading at the moment.
bool ReadAheadScreenedOut(const std::string& hostDir, const std::string& name, uint64_t generation);

// Whether listings are read ahead: on unless SORVANE_READ_AHEAD=0 is in
// the environment or SetReadAhead turned it off.
bool ReadAheadOn();

// Turns the read-ahead on or off, overriding the environment; off also
// drops what the pool holds, as a reset does.
void SetReadAhead(bool on);

// Drops the current listing and the descriptors waiting to be closed, and
// turns screening off (the threads stay). The emulation calls it with
// every fresh machine.
void ResetReadAhead();

}  // namespace host
