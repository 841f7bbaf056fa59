#include "install/Documents.h"

#include <cstdint>
#include <optional>

#include "db/Database.h"
#include "db/Statement.h"
#include "install/UpdateLog.h"
#include "platform/Paths.h"
#include "platform/Text.h"

void StoreDocumentFile(CDatabase& database, IOwner& owner, const std::string& path) {
    const std::string name = ExtractFileName(path);
    const size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    // The first occurrence of the extension text goes, so "1.u2.u" gives the stem "12.u".
    std::string stem = name;
    if (!extension.empty()) {
        stem.erase(stem.find(extension), extension.size());
    }

    const std::optional<int32_t> id = TryParseInteger(stem);
    if (!id) {
        // Such a file names no row: it is logged and nothing is stored for it.
        AppendFailure(owner, path + "\n", NotAnIntegerMessage(stem));
        return;
    }

    const char* column = extension == ".u" ? "note_u" : "note";
    CSqlStatement statement(database);
    statement.SetParamCheck(true);
    statement.SetText(std::string("update ARTICLE set\n") + column + "=:note \nwhere id=:id");
    // An error (a missing file is one) is not logged here: rolled back, it goes up and ends the
    // content sequence. A document of hundreds of megabytes takes seconds: streamed into a new
    // blob of the same transaction, it is one blocking call, while the window answers.
    owner.RunBlocking([&] {
        RunInOwnTransaction(database.DefaultTransaction(), [&] {
            statement.SetInteger("id", *id);
            statement.SetBlobFromFile("note", path, [&] { owner.StopIfRequested(); });
            statement.Execute();
        });
    });
}
