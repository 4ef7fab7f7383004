// Descriptors of the three worm variants over their detection data.
#include "scanners/worm_variants.h"

const WormVariant WormVariants[WormVariantCount] = {
    {"W32/Bagle.N.Worm", false, &WormImmediateN, WormPlaintextN, 48, 405, false},
    {"W32/Bagle.O.Worm", false, &WormImmediateO, WormPlaintextO, 48, 404, false},
    {"W32/Bagle.Q.Worm", true, nullptr, WormPlaintextQ, 60, 405, true},
};
