#include "db/DbError.h"

#include <ibase.h>

#include <type_traits>

static_assert(std::is_same_v<DbErrorCode, ISC_STATUS>,
              "CDbError keeps the status vector's codes as they are");

bool IsDatabaseOpenElsewhere(const CDbError& error) {
    // ERROR_SHARING_VIOLATION and ERROR_LOCK_VIOLATION of winerror.h.
    constexpr int kSharingViolation = 32;
    constexpr int kLockViolation = 33;
    return error.Has(isc_io_error) &&
           (error.WindowsError() == kSharingViolation || error.WindowsError() == kLockViolation);
}

bool IsLostDatabase(const CDbError& error) {
    for (const DbErrorCode code :
         {isc_network_error, isc_net_read_err, isc_net_write_err, isc_net_connect_err,
          isc_lost_db_connection, isc_conn_lost, isc_shutdown, isc_shutinprog, isc_att_shutdown,
          isc_io_error, isc_io_write_err, isc_bad_db_handle}) {
        if (error.Has(code)) {
            return true;
        }
    }
    return false;
}
