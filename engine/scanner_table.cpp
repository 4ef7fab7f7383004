// The scanner table: every file of the walk goes through these rows in
// order until one declares it finished.
#include "engine/scanner_table.h"

#include "scanners/backdoor_scanner.h"
#include "scanners/script_scanner.h"
#include "scanners/worm_disinfector.h"

// Backdoor and archive copies first, then script pages, then infected
// executables; a row without a name ends the table. Every row has its
// screened part (what it leaves for a file it would not act on).
const ScannerEntry ScannerTable[] = {
    {"W32/Murkel.Trojan", ScanBackdoorFile, ScreenedBackdoorFile},
    {"W32/Joleee.Worm", ScanScriptFile, ScreenedScriptFile},
    {"W32/Joleee.Worm", ScanWormFile, ScreenedWormFile},
    {nullptr, nullptr},
};

const ScannerEntry* ActiveScannerTable = ScannerTable;
