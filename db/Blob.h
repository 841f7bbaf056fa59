#pragma once
// Blobs of a transaction: the statement writes files into new blobs for its parameters, and
// FetchRows reads blob columns. Used by db/ sources only (it names Firebird's blob id).

#include <ibase.h>

#include <functional>
#include <string>

class CTransaction;

// Creates a blob in the transaction (which must be active) and writes the file into it from its
// first byte, in segments of at most 65,535 bytes; an empty file gives a blob of length 0, not
// NULL. `onProgress` (when given) is called after about every megabyte written. Returns the
// blob's id. Throws CSystemError when the file cannot be opened or read; a blob that was not
// written whole is cancelled, also when `onProgress` throws.
ISC_QUAD WriteBlobFromFile(CTransaction& transaction, const std::string& path,
                           const std::function<void()>& onProgress = {});

// Every byte of the blob `id`, read in the transaction.
std::string ReadBlob(CTransaction& transaction, ISC_QUAD id);
