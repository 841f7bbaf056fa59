#include "platform/Processes.h"

#include "platform/Text.h"

bool IsProcessRunning(const std::string& imageName) {
    for (const std::string& name : RunningImageNames()) {
        if (EqualsIgnoreAsciiCase(name, imageName)) {
            return true;
        }
    }
    return false;
}
