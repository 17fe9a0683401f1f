// qz45trail verify: checks an audit trail's hash chain.
#pragma once

// Prints "N lines, chain intact" and returns 0, or names the first line that
// was changed, removed, inserted or moved and returns 1 (2: unreadable).
int VerifyTrail(const char *path);
