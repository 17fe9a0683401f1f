// qz45trail verify: runs the file's check and the database's, and prints
// what they find.
#include "verify.h"

#include <cstdio>

#include "computer_name.h"
#include "database.h"
#include "exit_codes.h"
#include "file_check.h"
#include "stored_check.h"
#include "trail_file.h"
#include "trail_set.h"

namespace qz45trail {
namespace {

// Verdicts on standard output, failures on standard error; the exit code.
int Print(const Findings &found) {
    for (const Finding &f : found.list) {
        if (f.failure)
            std::fprintf(stderr, "qz45trail: %s\n", f.Said().c_str());
        else
            std::printf("%s\n", f.Said().c_str());
    }
    return found.exit;
}

int Failed(const std::string &what) {
    std::fprintf(stderr, "qz45trail: %s\n", what.c_str());
    return kExitFailed;
}

// The trail's file(s): the check's exit code in *result, and the number of
// the first line they hold; false when they could not be opened (said).
bool VerifyFile(const VerifyOptions &o, long long *firstLine, int *result) {
    std::string error;
    FileIdentity id;
    if (TrailFile::IdentityOf(o.file, &id, &error) != TrailFile::OpenResult::kOpened) {
        Failed("cannot read " + o.file + ": " + error);
        return false;
    }
    TrailSetReader set(o.file, o.single);
    if (!set.Open(&error)) {
        Failed(error);
        return false;
    }
    *firstLine = set.FirstLine();
    *result = Print(CheckTrailFile(&set, o.file, o.unchained));
    return true;
}

}  // namespace

int Verify(const VerifyOptions &o) {
    int result = kExitOk;
    long long firstLine = 1;
    if (!o.file.empty() && !VerifyFile(o, &firstLine, &result)) return kExitFailed;
    if (o.connection.empty()) return result;
    try {
        Database db(o.connection);
        if (o.file.empty()) return Print(VerifyStoredTrail(db, o.machine, o.unchained));
        TrailSetReader witness(o.file, o.single);
        std::string error;
        if (!witness.Open(&error)) return Failed(error);
        const std::string machine = o.machine.empty() ? ComputerName() : o.machine;
        return WorseExitCode(result, Print(VerifyStoredAgainstFile(db, machine, &witness, firstLine,
                                                                   o.file, o.unchained)));
    } catch (const OdbcError &e) {
        return WorseExitCode(result, Failed(e.what()));
    }
}

}  // namespace qz45trail
