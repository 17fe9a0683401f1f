// Which of two exit codes a command ends with when it has both.
#include "exit_codes.h"

namespace qz45trail {

int WorseExitCode(int a, int b) {
    static const int kOrder[] = {kExitBroken, kExitUsage, kExitFailed, kExitUnchained,
                                 kExitUnfinished};
    for (const int code : kOrder)
        if (a == code || b == code) return code;
    return a != kExitOk ? a : b;
}

}  // namespace qz45trail
