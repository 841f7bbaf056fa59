#include "install/BlobFiles.h"

#include <exception>

#include "db/Database.h"
#include "db/DbError.h"
#include "db/Statement.h"
#include "install/UpdateLog.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"

namespace {

// Cuts the part before the first "." off `name` and returns it. Without a "." the part is empty
// and `name` stays as it is, so a name short of dots yields a statement the server rejects.
std::string TakePart(std::string& name) {
    const size_t dot = name.find('.');
    if (dot == std::string::npos) {
        return std::string();
    }
    std::string part = name.substr(0, dot);
    name.erase(0, dot + 1);
    return part;
}

}  // namespace

BlobStatement BuildBlobStatement(const std::string& fileName) {
    std::string name = fileName;
    // The first ".blo" goes, wherever it stands and in lower case only: "T.F.ID 1.BLO" keeps its
    // extension and "t.blobdata.id 1.blo" loses the one inside the column name.
    const size_t extension = name.find(".blo");
    if (extension != std::string::npos) {
        name.erase(extension, 4);
    }

    const std::string table = TakePart(name);
    const std::string column = TakePart(name);

    std::string key = "(";
    for (const char c : name) {
        if (c == ' ') {
            key += '=';
        } else if (c == '.') {
            key += ")and(";
        } else {
            key += c;
        }
    }
    key += ')';

    return {"update " + table + " set " + column + " = :" + column + " where " + key, column};
}

void LoadBlobFile(CDatabase& database, IOwner& owner, const std::string& path) {
    const BlobStatement blob = BuildBlobStatement(ExtractFileName(path));
    CSqlStatement statement(database);
    statement.SetParamCheck(true);
    try {
        statement.SetText(blob.text);
        // The blob is created in the same transaction, so a failed UPDATE discards it as well.
        owner.RunBlocking([&] {
            RunInOwnTransaction(database.DefaultTransaction(), [&] {
                statement.SetBlobFromFile(blob.column, path, [&] { owner.StopIfRequested(); });
                statement.Execute();
            });
        });
    } catch (const CRunStopped&) {
        throw;
    } catch (const CDbError& error) {
        // A lost database ends the run: every later file would fail too, and the next run
        // stores this one again.
        if (IsLostDatabase(error)) {
            throw;
        }
        AppendFailure(owner, statement.Text() + "\n", error.what());
    } catch (const CSystemError& error) {
        AppendFailure(owner, statement.Text() + "\n", error.what());  // the file could not be read
    }
}
