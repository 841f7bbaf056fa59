#pragma once
// A walk over the block chain of a RAR 2.9/4.x archive. lsar and unar silently stop at a block
// header cut short by truncation and report success for what came before; this walk notices it.

#include <string>

// Follows the blocks from the signature to the end-of-archive block (or the exact end of the
// file, which old archivers leave without one) and checks that no block header or data runs
// past the end of the file and that every file header's CRC matches. Throws CArchiveError
// describing the first fault. Archives not starting with the RAR 4 signature (RAR 5,
// self-extracting) are left to unar and pass unchecked.
void CheckRar4Blocks(const std::string& archivePath);
