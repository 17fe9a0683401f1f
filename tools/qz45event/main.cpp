// qz45event: fills event records from the command line and sends them
// through qz45alarmevent_api.dll.
#include <windows.h>
#include <io.h>

#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>

#include "event/event_types.h"
#include "qz45alarmevent_api.h"
#include "sender_options.h"

namespace {

constexpr int kExitOk = 0, kExitFailed = 1, kExitUsage = 2;

int ListTypes() {
    std::printf("%-5s %-9s %s\n", "type", "category", "name");
    for (const auto &t : qz45::kEventTypes)
        std::printf("%-5d %-9d %s\n", static_cast<int>(t.type), static_cast<int>(t.category),
                    t.name);
    return kExitOk;
}

int RegisterEventSource(const std::string &dll) {
    const char *key = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Zentrova.45";
    HKEY opened = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &opened, nullptr);
    if (rc == ERROR_SUCCESS) {
        const std::unique_ptr<std::remove_pointer_t<HKEY>, decltype(&RegCloseKey)> owner(
            opened, &RegCloseKey);
        const HKEY h = owner.get();
        DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
        rc = RegSetValueExA(h, "EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE *>(dll.c_str()),
                            static_cast<DWORD>(dll.size() + 1));
        if (rc == ERROR_SUCCESS)
            rc = RegSetValueExA(h, "TypesSupported", 0, REG_DWORD,
                                reinterpret_cast<const BYTE *>(&types), sizeof types);
    }
    if (rc != ERROR_SUCCESS) {
        std::fprintf(stderr, "qz45event: cannot register the event source (error %ld)\n", rc);
        return kExitFailed;
    }
    std::printf("registered event source Zentrova.45 with message file %s\n", dll.c_str());
    return kExitOk;
}

void PrintOutcome(const EventStatus &st) {
    std::printf("status %s (%d)", qz45event::StatusName(st.status), static_cast<int>(st.status));
    if (st.status == EVT_E_INVALID || st.status == EVT_E_BAD_TYPE)
        std::printf(", refused before reaching the audit service\n");
    else
        std::printf(", hresult 0x%08lX\n", static_cast<unsigned long>(st.hresult));
}

int Send(qz45event::SenderOptions &o) {
    EventRecord record;
    int16_t populated = 0;
    qz45event::FillRecord(o, record, &populated);
    if (populated != EVT_SUCCESS) {
        std::fprintf(stderr, "qz45event: %s (%d): a text does not fit its field\n",
                     qz45event::StatusName(populated), static_cast<int>(populated));
        return kExitFailed;
    }
    if (o.repeat == 1) {
        EventStatus st{EVT_SUCCESS, 0, 0};
        SendQZ45Event(&record, &st);
        if (!o.quiet) PrintOutcome(st);
        return st.status == EVT_SUCCESS ? kExitOk : kExitFailed;
    }

    // Many events inside one open use: the service objects stay connected.
    HRESULT hr = InitializeQZ45AlarmEvent();
    if (FAILED(hr))
        std::fprintf(stderr, "qz45event: the library could not connect (0x%08lX); "
                             "each send connects by itself\n", static_cast<unsigned long>(hr));
    const bool terminal = _isatty(_fileno(stdout)) && !o.quiet && !o.verbose;
    unsigned failed = 0;
    EventStatus last{EVT_SUCCESS, 0, 0};
    EventStatus firstFailure{EVT_SUCCESS, 0, 0};
    for (unsigned i = 1; i <= o.repeat; ++i) {
        EventRecord copy = record;  // each send completes its own record
        EventStatus st{EVT_SUCCESS, 0, 0};
        SendQZ45Event(&copy, &st);
        if (st.status != EVT_SUCCESS && failed++ == 0) firstFailure = st;
        last = st;
        if (o.verbose && !o.quiet) {
            std::printf("send %u: ", i);
            PrintOutcome(st);
        }
        if (terminal && (i % 100 == 0 || i == o.repeat))
            std::printf("\rsent %u/%u, %u failed", i, o.repeat, failed), std::fflush(stdout);
    }
    if (terminal) std::printf("\n");
    if (SUCCEEDED(hr)) UninitializeQZ45AlarmEvent();
    if (!o.quiet) {
        std::printf("%u events, %u failed; last: ", o.repeat, failed);
        PrintOutcome(last);
        if (failed) {
            std::printf("first failure: ");
            PrintOutcome(firstFailure);
        }
    }
    return failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace

int main(int argc, char **argv) {
    qz45event::SenderOptions options;
    qz45event::ParseResult parsed = qz45event::ParseCommandLine(argc, argv, options);
    switch (parsed.outcome) {
    case qz45event::ParseOutcome::Help:
        std::fputs(parsed.text.c_str(), stdout);
        return kExitOk;
    case qz45event::ParseOutcome::Error:
        std::fprintf(stderr, "qz45event: %s (try --help)\n", parsed.text.c_str());
        return kExitUsage;
    case qz45event::ParseOutcome::Run:
        break;
    }
    if (options.command == "types") return ListTypes();
    if (options.command == "register-event-source") return RegisterEventSource(options.messageDll);
    return Send(options);
}
