// Many writers, one trail: processes started side by side (trail_soak.sh),
// each with threads of its own, send events through the real DLL to the real
// reference service, all appending to the same audit trail. Each process
// lists the RefIds of the events SendQZ45Event reported delivered; `check`
// then reads the trail back:
//  - every listed event is in the trail exactly once, and nothing else is;
//  - every line is whole (parses, ends with a line end);
//  - the events of each thread stand in the order it sent them.
//
// Usage:
//   trail_soak send TAG THREADS EVENTS SECONDS LIST
//       each thread sends up to EVENTS events, for at most SECONDS; the
//       delivered RefIds go to LIST; exit 0 when every send was delivered
//   trail_soak check TRAIL LIST...
#include <windows.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "qz45alarmevent_api.h"

namespace {

struct Worker {
    std::string tag;
    int thread = 0;
    int events = 0;
    DWORD deadline = 0;  // GetTickCount() value
    std::vector<std::string> delivered;
    long failed = 0;     // any status but 0
    long sent = 0;
};

DWORD WINAPI Send(void *p) {
    Worker &w = *static_cast<Worker *>(p);
    const HRESULT opened = InitializeQZ45AlarmEvent();
    for (int i = 0; i < w.events && static_cast<LONG>(GetTickCount() - w.deadline) < 0; ++i) {
        const std::string refId = w.tag + "-" + std::to_string(w.thread) + "-" + std::to_string(i);
        const std::string message = "trail soak event " + std::to_string(i);
        EventRecord r;
        int16_t populated = -1;
        int32_t type = EVT_TYPE_STARTUP;
        PopulateGeneralSystemEvent(&r, nullptr, nullptr, "soak", "PLANT", nullptr,
                                   message.c_str(), nullptr, &type, refId.c_str(), nullptr,
                                   nullptr, &populated);
        EventStatus st{-1, 0, 0};
        SendQZ45Event(&r, &st);
        ++w.sent;
        if (populated == EVT_SUCCESS && st.status == EVT_SUCCESS)
            w.delivered.push_back(refId);
        else
            ++w.failed;
    }
    if (SUCCEEDED(opened)) UninitializeQZ45AlarmEvent();
    return 0;
}

int SendAll(const std::string &tag, int threads, int events, int seconds, const char *list) {
    std::vector<Worker> workers(static_cast<std::size_t>(threads));
    std::vector<HANDLE> handles;
    const DWORD deadline = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
    for (int t = 0; t < threads; ++t) {
        Worker &w = workers[static_cast<std::size_t>(t)];
        w.tag = tag, w.thread = t, w.events = events, w.deadline = deadline;
        HANDLE h = CreateThread(nullptr, 0, &Send, &w, 0, nullptr);
        if (h == nullptr) return 3;
        handles.push_back(h);
    }
    WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, INFINITE);
    for (HANDLE h : handles) CloseHandle(h);
    long sent = 0, failed = 0;
    std::ofstream out(list, std::ios::binary);
    for (const Worker &w : workers) {
        sent += w.sent, failed += w.failed;
        for (const std::string &id : w.delivered) out << id << "\n";
    }
    std::printf("trail soak %s: %ld sent, %ld delivered, %ld failed\n", tag.c_str(), sent,
                sent - failed, failed);
    return failed == 0 && out ? 0 : 1;
}

int Check(const char *trail, int lists, char **names) {
    std::map<std::string, int> listed;  // RefId -> times stored
    for (int i = 0; i < lists; ++i) {
        std::ifstream in(names[i]);
        for (std::string id; std::getline(in, id);)
            if (!id.empty()) listed[id] = 0;
    }
    std::ifstream in(trail, std::ios::binary);
    std::stringstream whole;
    whole << in.rdbuf();
    const std::string text = whole.str();
    int wrong = 0;
    if (!text.empty() && text.back() != '\n') {
        std::printf("the trail ends in a partial line\n");
        ++wrong;
    }
    std::map<std::string, long> lastOfThread;  // "tag-thread" -> last sequence number
    long lines = 0, unlisted = 0, twice = 0, outOfOrder = 0;
    std::istringstream rows(text);
    for (std::string row; std::getline(rows, row);) {
        ++lines;
        const nlohmann::json line = nlohmann::json::parse(row, nullptr, false);
        if (line.is_discarded() || !line.contains("properties")) {
            std::printf("line %ld is not a whole event\n", lines);
            ++wrong;
            continue;
        }
        const std::string id = line["properties"].value("RefId", "");
        const auto found = listed.find(id);
        if (found == listed.end()) {
            ++unlisted;
            continue;
        }
        if (++found->second > 1) ++twice;
        const std::size_t dash = id.rfind('-');
        const long n = std::strtol(id.c_str() + dash + 1, nullptr, 10);
        const auto last = lastOfThread.find(id.substr(0, dash));
        if (last != lastOfThread.end() && last->second >= n) ++outOfOrder;
        lastOfThread[id.substr(0, dash)] = n;
    }
    long lost = 0;
    for (const auto &entry : listed) lost += entry.second == 0;
    std::printf("trail soak check: %ld lines, %zu delivered events listed, lost %ld, stored twice "
                "%ld, not listed %ld, out of order %ld, partial or broken %d\n",
                lines, listed.size(), lost, twice, unlisted, outOfOrder, wrong);
    return lost == 0 && twice == 0 && unlisted == 0 && outOfOrder == 0 && wrong == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    const std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "send" && argc == 7)
        return SendAll(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), argv[6]);
    if (verb == "check" && argc >= 3) return Check(argv[2], argc - 3, argv + 3);
    std::fprintf(stderr, "usage: trail_soak send TAG THREADS EVENTS SECONDS LIST\n"
                         "       trail_soak check TRAIL LIST...\n");
    return 2;
}
