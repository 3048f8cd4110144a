// Exit codes of verove-host, which its steps answer too.
#pragma once

// Exit codes of verove-host.
enum SessionExit : int {
    kExitDone = 0,
    kExitFailed = 1,    // a step failed
    kExitBadInput = 2,  // command line, scenario file or report folder unusable; nothing ran
    kExitRefused = 3,   // the hardware configuration refused the Verove (galvo XY scanner)
};
