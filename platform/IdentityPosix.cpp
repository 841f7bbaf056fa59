#include "platform/Identity.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <vector>

std::string CurrentHostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "?";
    }
    return name;
}

std::string CurrentUserName() {
    // The effective user's entry; an account that the user database does not know (a container
    // without it) is named by its number.
    const uid_t user = geteuid();
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(user, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr && found->pw_name[0] != '\0') {
        return found->pw_name;
    }
    return "uid " + std::to_string(user);
}
