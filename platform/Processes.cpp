#include "platform/Processes.h"

bool IsProcessRunning(const std::string& imageName) {
    for (const std::string& name : RunningImageNames()) {
        if (SameImageName(name, imageName)) {
            return true;
        }
    }
    return false;
}
