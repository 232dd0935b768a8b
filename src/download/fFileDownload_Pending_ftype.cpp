// Stand-in until the single-connection transfer control lands: no request is ever running.

#include "platform/Inet.h"

bool Inet::StillExecuting() const {
    return false;
}
