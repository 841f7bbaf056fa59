// The client library is linked (libfbclient): its master interface is at hand.

#include <langinfo.h>

#include <clocale>
#include <cstring>

#include "db/Client.h"

namespace {

// The client library turns SIGINT and SIGTERM into a shutdown of every attachment of the
// process, which would end the statement in hand with "connection shutdown" and leave the
// update no chance to say that it was interrupted. Refused: the program's own handler takes the
// signal, and the run ends itself at its next step.
int RefuseShutdownOnSignal(const int reason, const int /*mask*/, void* /*argument*/) {
    return reason == fb_shutrsn_signal ? 1 : 0;  // non-zero refuses the shutdown
}

// The client converts database file names from the character set of the locale, and ours are
// UTF-8 bytes. In the C locale (a service, cron, a bare shell) the letters of a Cyrillic path
// would be dropped and another file named, so the character type follows the environment's
// locale, or C.UTF-8 when that is not UTF-8, as Qt does for the window. Only LC_CTYPE: numbers
// and messages keep the C locale.
// A window's toolkit has made it UTF-8 already, and is left alone.
Firebird::IMaster* MasterWithUtf8FileNames() {
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) {
        std::setlocale(LC_CTYPE, "");
        if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) {
            std::setlocale(LC_CTYPE, "C.UTF-8");
        }
    }
    Firebird::IMaster* master = Firebird::fb_get_master_interface();
    ISC_STATUS_ARRAY status{};
    fb_shutdown_callback(status, RefuseShutdownOnSignal, fb_shut_confirmation, nullptr);
    return master;
}

}  // namespace

std::string ClientTextToUtf8(std::string text) {
    return text;
}

Firebird::IMaster* FbMaster() {
    static Firebird::IMaster* const master = MasterWithUtf8FileNames();
    return master;
}
