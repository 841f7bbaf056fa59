// The client library is linked (libfbclient): its master interface is at hand.

#include "db/Client.h"

Firebird::IMaster* FbMaster() {
    static Firebird::IMaster* const master = Firebird::fb_get_master_interface();
    return master;
}
