#include "verify.h"

#include <windows.h>

#include <cstdio>
#include <memory>

#include "database.h"
#include "exit_codes.h"
#include "trail_chain.h"
#include "trail_file.h"
#include "win_text.h"

namespace qz45trail {
namespace {

std::unique_ptr<TrailFile> OpenOrSay(const std::string &path) {
    TrailFile::OpenResult opened;
    std::string error;
    std::unique_ptr<TrailFile> file = TrailFile::Open(path, &opened, &error);
    if (file == nullptr)
        std::fprintf(stderr, "qz45trail: cannot read %s: %s\n", path.c_str(), error.c_str());
    return file;
}

// The file's chain, its lines without chain members before the chain, and
// an unfinished last line.
int VerifyFile(TrailFile *file, const VerifyOptions &o) {
    TrailReader reader(*file);
    ChainCheck chain;
    long long n = 0;
    std::string line;
    for (TrailReader::Result r; (r = reader.Next(&line)) != TrailReader::Result::kEnd;) {
        if (r == TrailReader::Result::kError) {
            std::fprintf(stderr, "qz45trail: cannot read %s after line %lld: %s\n", o.file.c_str(),
                         n, reader.Error().c_str());
            return kExitFailed;
        }
        if (r == TrailReader::Result::kTooLong) {
            std::printf("%s: line %lld is longer than any trail line: not a trail\n", o.file.c_str(),
                        n + 1);
            return kExitBroken;
        }
        chain.Add(++n, line);
    }
    const ChainVerdict v = chain.Finish();
    if (!v.Intact()) {
        std::printf("%s: %s\n", o.file.c_str(), v.Describe().c_str());
        return kExitBroken;
    }
    std::printf("%s\n", v.Describe().c_str());

    int result = kExitOk;
    const long long unchained = static_cast<long long>(v.unchainedPrefix);
    if (unchained > 0) {
        const bool accepted = unchained == o.unchained;
        if (v.firstChained == 0)
            std::printf("none of them is chained: a trail written before chaining, or one whose "
                        "chain members were removed; nothing shows whether it was changed");
        else
            std::printf("lines 1-%lld have no chain members and precede the chain: written before "
                        "chaining, or put in front of it; the chain is checked from line %lld on",
                        unchained, v.firstChained);
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
    if (reader.Unfinished() > 0) {
        std::printf("%s: line %lld is unfinished: %llu byte(s) without a line end (a writer at "
                    "work, or one that died mid-line); the lines before it are checked\n",
                    o.file.c_str(), n + 1, static_cast<unsigned long long>(reader.Unfinished()));
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
    std::unique_ptr<TrailFile> file;
    int result = kExitOk;
    if (!o.file.empty()) {
        file = OpenOrSay(o.file);
        if (file == nullptr) return kExitFailed;
        result = VerifyFile(file.get(), o);
    }
    if (o.connection.empty()) return result;
    try {
        Database db(o.connection);
        if (file == nullptr) return VerifyStoredTrail(db, o.machine, o.unchained);
        TrailReader witness(*file);
        return Graver(result, VerifyStoredAgainstFile(db, o.machine.empty() ? ComputerName()
                                                                             : o.machine,
                                                      &witness, 1, o.file, o.unchained));
    } catch (const OdbcError &e) {
        std::fprintf(stderr, "qz45trail: %s\n", e.what());
        return Graver(result, kExitFailed);
    }
}

}  // namespace qz45trail
