#pragma once
// Document files ("<id>.r", "<id>.u"): all bytes of the file become `note` or `note_u` of the
// ARTICLE row with that id.

#include <string>

#include "install/Status.h"

class CDatabase;

// Stores one document file into `database` in its own transaction, pumping the owner's messages
// while a large file is written. A name that is not an integer is logged and skipped; any other
// failure (an unreadable file, a database error) propagates.
void StoreDocumentFile(CDatabase& database, IOwner& owner, const std::string& path);
