#include "verify.h"

#include <windows.h>

#include <cstdio>
#include <memory>

#include "database.h"
#include "exit_codes.h"
#include "trail_chain.h"
#include "trail_file.h"
#include "trail_set.h"
#include "win_text.h"

namespace qz45trail {
namespace {

// A verdict on a line, with the file it is in when that is a rotated one.
std::string Located(const TrailSetReader &set, long long line, const std::string &what) {
    const std::string where = set.Where(line);
    return where.empty() ? what : what + " (" + where + ")";
}

// The trail's chain across its files (or one file's), its lines without chain
// members before the chain, and an unfinished last line.
int VerifyFile(TrailSetReader *set, const VerifyOptions &o) {
    ChainCheck chain;
    chain.StartAfter(set->StartPrev());
    long long n = set->FirstLine() - 1;
    std::string line;
    for (LineResult r; (r = set->Next(&line)) != LineResult::kEnd;) {
        if (r == LineResult::kError) {
            std::fprintf(stderr, "qz45trail: cannot read %s after line %lld: %s\n", o.file.c_str(),
                         n, set->Error().c_str());
            return kExitFailed;
        }
        if (r == LineResult::kBroken && set->PrunedMeanwhile()) {
            std::fprintf(stderr, "qz45trail: %s: %s\n", o.file.c_str(), set->Error().c_str());
            return kExitFailed;
        }
        if (r == LineResult::kBroken) {
            // A line removed inside a rotated file shows first in the chain,
            // at its place, and only then at the end of its file.
            const ChainVerdict v = chain.Finish();
            std::printf("%s: %s\n", o.file.c_str(),
                        v.Intact() ? set->Error().c_str()
                                   : Located(*set, v.line, v.Describe()).c_str());
            return kExitBroken;
        }
        if (r == LineResult::kTooLong) {
            std::printf("%s: %s\n", o.file.c_str(),
                        Located(*set, n + 1, "line " + std::to_string(n + 1) +
                                                 " is longer than any trail line: not a trail")
                            .c_str());
            return kExitBroken;
        }
        chain.Add(n = set->Number(), line);
    }
    const ChainVerdict v = chain.Finish();
    if (!v.Intact()) {
        std::printf("%s: %s\n", o.file.c_str(), Located(*set, v.line, v.Describe()).c_str());
        return kExitBroken;
    }
    std::printf("%s%s\n", v.Describe().c_str(),
                set->Files() > 1 ? (" in " + std::to_string(set->Files()) + " files").c_str() : "");
    if (!set->StartNote().empty()) std::printf("%s\n", set->StartNote().c_str());

    int result = kExitOk;
    const long long unchained = static_cast<long long>(v.unchainedPrefix);
    if (unchained > 0) {
        const bool accepted = unchained == o.unchained;
        if (v.firstChained == 0)
            std::printf("none of them is chained: a trail written before chaining, or one whose "
                        "chain members were removed; nothing shows whether it was changed");
        else
            std::printf("lines %lld-%lld have no chain members and precede the chain: written "
                        "before chaining, or put in front of it; the chain is checked from line "
                        "%lld on",
                        set->FirstLine(), set->FirstLine() + unchained - 1, v.firstChained);
        if (accepted) {
            std::printf(" (accepted: --unchained %lld)\n", unchained);
        } else {
            std::printf("\n%s: %lld line(s) without chain members (--unchained %lld accepts exactly "
                        "these)\n", o.file.c_str(), unchained, unchained);
            result = kExitUnchained;
        }
    } else if (o.unchained > 0) {
        std::printf("%s: no line without chain members precedes the chain, --unchained said %lld\n",
                    o.file.c_str(), o.unchained);
        result = kExitUnchained;
    }
    if (set->Unfinished() > 0) {
        std::printf("%s: line %lld is unfinished: %llu byte(s) without a line end (a writer at "
                    "work, or one that died mid-line); the lines before it are checked\n",
                    o.file.c_str(), n + 1, static_cast<unsigned long long>(set->Unfinished()));
        result = Graver(result, kExitUnfinished);
    }
    return result;
}

}  // namespace

std::string ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &length)) return "unknown";
    return Utf8(name, length);
}

int Verify(const VerifyOptions &o) {
    int result = kExitOk;
    long long firstLine = 1;
    if (!o.file.empty()) {
        std::string error;
        FileIdentity id;
        if (TrailFile::IdentityOf(o.file, &id, &error) != TrailFile::OpenResult::kOpened) {
            std::fprintf(stderr, "qz45trail: cannot read %s: %s\n", o.file.c_str(), error.c_str());
            return kExitFailed;
        }
        TrailSetReader set(o.file, o.single);
        if (!set.Open(&error)) {
            std::fprintf(stderr, "qz45trail: %s\n", error.c_str());
            return kExitFailed;
        }
        firstLine = set.FirstLine();
        result = VerifyFile(&set, o);
    }
    if (o.connection.empty()) return result;
    try {
        Database db(o.connection);
        if (o.file.empty()) return VerifyStoredTrail(db, o.machine, o.unchained);
        TrailSetReader witness(o.file, o.single);
        std::string error;
        if (!witness.Open(&error)) {
            std::fprintf(stderr, "qz45trail: %s\n", error.c_str());
            return kExitFailed;
        }
        return Graver(result, VerifyStoredAgainstFile(db, o.machine.empty() ? ComputerName()
                                                                             : o.machine,
                                                      &witness, firstLine, o.file, o.unchained));
    } catch (const OdbcError &e) {
        std::fprintf(stderr, "qz45trail: %s\n", e.what());
        return Graver(result, kExitFailed);
    }
}

}  // namespace qz45trail
