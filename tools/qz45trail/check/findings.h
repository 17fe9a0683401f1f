// What a check finds, as values: each finding with what it is about, its
// words and the exit code it gives; the command prints them.
#pragma once

#include <string>
#include <vector>

#include "exit_codes.h"

namespace qz45trail {

struct Finding {
    std::string subject;  // the machine or the file it is about; "" when the text says it all
    std::string text;
    int code = kExitOk;    // the exit code it gives (0: it is only said)
    bool failure = false;  // a read or a query failed: not a verdict on the trail

    // "subject: text", or the text alone.
    std::string Said() const { return subject.empty() ? text : subject + ": " + text; }
};

// A check's findings in the order they were found, and the exit code they
// make: the worse of theirs, or 3 once the check could not go on.
struct Findings {
    std::vector<Finding> list;
    int exit = kExitOk;

    // A verdict: the exit code becomes the worse of the two.
    void Add(const std::string &subject, const std::string &text, int code) {
        list.push_back({subject, text, code, false});
        exit = WorseExitCode(exit, code);
    }
    // Said, and no verdict.
    void Say(const std::string &subject, const std::string &text) {
        list.push_back({subject, text, kExitOk, false});
    }
    // The check could not go on: what it found before is not its verdict.
    void Fail(const std::string &text) {
        list.push_back({"", text, kExitFailed, true});
        exit = kExitFailed;
    }
    // Another check's findings after these.
    void Append(const Findings &more) {
        list.insert(list.end(), more.list.begin(), more.list.end());
        exit = WorseExitCode(exit, more.exit);
    }
};

}  // namespace qz45trail
