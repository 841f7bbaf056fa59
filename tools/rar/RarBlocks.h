#pragma once
// A walk over the block chain of a RAR 2.9/4.x archive. lsar and unar silently stop at a block
// header cut short by truncation and report success for what came before; this walk notices it.
// It reads every file header on the way, so it also lists the archive without starting lsar.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tools/rar/ArchiveListing.h"

// Follows the blocks from the signature to the end-of-archive block (or the exact end of the
// file, which old archivers leave without one) and checks that no block header or data runs
// past the end of the file and that every file header's CRC matches; throws CArchiveError
// describing the first fault. Returns the entries as unar will extract them, or nullopt when
// lsar must list the archive: it does not start with the RAR 4 signature (RAR 5,
// self-extracting; nothing was checked then), it is one volume of several, or a name or entry
// kind is one that unar interprets by its own rules (OEM names, version suffixes, attributes
// that contradict the directory flag). An archive with encrypted headers is listed as
// encrypted, with no entries.
std::optional<ArchiveListing> ReadRar4Listing(const std::string& archivePath);

// The name stored in a file header as unar names the entry, in UTF-8; nullopt when only unar's
// own guesses could decode it. Plain names must be ASCII. With the Unicode flag the bytes are
// UTF-8, or, when they hold a zero byte, an OEM name followed by RAR's compact encoding of the
// UTF-16 name.
std::optional<std::string> DecodeRar4Name(std::string_view stored, bool unicodeFlag);
