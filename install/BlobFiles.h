#pragma once
// Blob value files ("TABLE.COLUMN.KEY VALUE.blo"): the file's bytes become one blob column of the
// rows its name selects.

#include <string>

#include "install/Status.h"

class CDatabase;

// The UPDATE statement that a blob file name stands for, with ":COLUMN" as its one parameter,
// and that column's name.
struct BlobStatement {
    std::string text;
    std::string column;
};
BlobStatement BuildBlobStatement(const std::string& fileName);

// Loads one ".blo" file into `database` in its own transaction. A database error or a file that
// cannot be read is logged and rolled back; an error that leaves the database unusable
// (IsLostDatabase), a stop of the run and anything else (out of memory) leave the call.
void LoadBlobFile(CDatabase& database, IOwner& owner, const std::string& path);
