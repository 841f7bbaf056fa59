#include "db/Client.h"

#include <algorithm>
#include <string>
#include <utility>

#include "db/Database.h"
#include "platform/SystemError.h"

using namespace Firebird;

void InitDatabaseClient() {
    try {
        FbMaster();
    } catch (const CSystemError&) {
        // The next call tries again and throws the same error where it can be shown.
    }
}

IUtil* FbUtil() {
    return FbMaster()->getUtilInterface();
}

CDbError ToDbError(IStatus* status) {
    char buffer[4096];
    const unsigned length = FbUtil()->formatStatus(buffer, sizeof buffer, status);
    std::string text(buffer, std::min<size_t>(length, sizeof buffer));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '\0')) {
        text.pop_back();
    }
    text = ClientTextToUtf8(std::move(text));

    // The vector is a list of (kind, value) items ended by isc_arg_end; a counted string takes
    // two values (length and pointer). The error codes are the values of the isc_arg_gds items.
    std::vector<DbErrorCode> codes;
    int windowsError = 0;
    for (const intptr_t* item = status->getErrors(); item && *item != isc_arg_end;
         item += item[0] == isc_arg_cstring ? 3 : 2) {
        if (item[0] == isc_arg_gds) {
            codes.push_back(item[1]);
        } else if (item[0] == isc_arg_win32 && windowsError == 0) {
            windowsError = static_cast<int>(item[1]);
        }
    }
    return CDbError(text, std::move(codes), windowsError);
}
