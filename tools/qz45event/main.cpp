// qz45event: fills event records from the command line and sends them
// through qz45alarmevent_api.dll.
#include <windows.h>

#include <shellapi.h>

#include <io.h>

#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "event/event_rules.h"
#include "event/event_types.h"
#include "failure_text.h"
#include "qz45alarmevent_api.h"
#include "sender_options.h"

namespace {

constexpr int kExitOk = 0, kExitFailed = 1, kExitUsage = 2;

// The fields a type requires and the defaults it gets.
void TypeRuleText(const qz45::EventTypeRule &rule, std::string &needs, std::string &defaults) {
    needs = "User Domain";
    if (rule.descriptorRequired) needs += " Descriptor";
    if (rule.property == nullptr) needs += " Property";
    if (rule.shape == qz45::EventShape::HistoryChange) needs += " History";
    defaults.clear();
    if (!rule.descriptorRequired) defaults = "Descriptor=<computer> ";
    defaults += std::string("DescriptorType=") + rule.descriptorType;
    if (rule.property != nullptr) defaults += std::string(" Property=") + rule.property;
}

int ListTypes() {
    std::printf("Every type also gets Path (COMPUTER/QZ.45/COMPUTER), AppKey (the program's\n"
                "name) and the time (now) when they are not given. --user, --domain,\n"
                "--descriptor, --property and --history give the fields below. A type\n"
                "carries one value (--value, stored as OldValue) or two (--old, --new).\n\n");
    std::printf("%-4s %-30s %-26s %-37s %-11s %s\n", "type", "category", "name", "requires",
                "values", "defaults");
    for (const auto &t : qz45::kEventTypes) {
        const qz45::EventTypeRule *rule = qz45::EventRuleOf(static_cast<uint32_t>(t.type));
        std::string needs = "(not sent: not an event type)", defaults, category;
        if (rule != nullptr) TypeRuleText(*rule, needs, defaults);
        if (t.category != 0)
            category = std::to_string(t.category) + " " + qz45::EventCategoryName(t.category);
        std::printf("%-4d %-30s %-26s %-37s %-11s %s\n", static_cast<int>(t.type),
                    category.c_str(), t.name, needs.c_str(), qz45event::ValueOptionsOf(t.type),
                    defaults.c_str());
    }
    for (const auto &t : qz45::kEventTypes) {
        std::vector<int32_t> named = qz45event::EventTypesNamed(t.name);
        if (named.size() > 1 && named[0] == t.type)
            std::printf("\nTypes %d and %d share the name \"%s\": give them by number.\n",
                        static_cast<int>(named[0]), static_cast<int>(named[1]), t.name);
    }
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

// The system's text for an HRESULT, on one line ("" when it has none).
std::string SystemText(HRESULT hr) {
    char text[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(hr), 0, text, sizeof text, nullptr);
    std::string out(text, n < sizeof text ? n : 0);
    for (char &c : out)
        if (c == '\r' || c == '\n') c = ' ';
    while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
    return out;
}

// A failed send on standard error, whatever -q says: what failed, and what to
// do. `before` is the record as filled, before the library completed it.
void ReportFailure(const char *prefix, const EventStatus &st, const EventRecord &before) {
    qz45event::FailureContext context;
    context.record = &before;
    context.bits = static_cast<int>(sizeof(void *) * 8);
    char trail[1024];
    DWORD n = GetEnvironmentVariableA("QZ45_AUDIT_TRAIL", trail, sizeof trail);
    if (n > 0 && n < sizeof trail) context.trail = std::string(trail, n);
    if (qz45event::KnownHresult(static_cast<uint32_t>(st.hresult)) == nullptr)
        context.systemText = SystemText(static_cast<HRESULT>(st.hresult));
    const qz45event::FailureText text = qz45event::DescribeFailure(st, context);
    std::fprintf(stderr, "qz45event: %s%s\nqz45event: what to do: %s\n", prefix, text.what.c_str(),
                 text.hint.c_str());
}

struct LocalFreeDeleter {
    void operator()(LPWSTR *p) const { LocalFree(p); }
};

// A wide text in a code page ("" when it cannot be converted at all).
std::string Narrow(UINT codePage, const wchar_t *text, int length) {
    if (length == 0) return {};
    const int n = WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text, length, &out[0], n, nullptr, nullptr);
    return out;
}

// True when the code page holds the text exactly: converted there and back,
// it is what it was (no "?", no look-alike, no replaced half of a pair).
bool Holds(UINT codePage, const wchar_t *text, int length) {
    const std::string narrow = Narrow(codePage, text, length);
    if (narrow.empty()) return length == 0;
    const int n = MultiByteToWideChar(codePage, 0, narrow.data(), static_cast<int>(narrow.size()),
                                      nullptr, 0);
    if (n != length) return false;
    std::wstring back(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, narrow.data(), static_cast<int>(narrow.size()), &back[0], n);
    return back.compare(0, back.size(), text, static_cast<std::size_t>(length)) == 0;
}

// The command line in this process's code page (UTF-8 where the manifest is
// honoured), and the first character of it that the code page cannot hold.
struct Arguments {
    std::vector<std::string> texts;  // in the process's code page
    std::vector<std::string> utf8;   // the same, in UTF-8, to name an option
    std::size_t unheldAt = 0;        // the argument that holds the character
    char32_t unheld = 0;             // 0: the code page holds every argument
};

Arguments ArgumentsInCodePage() {
    Arguments out;
    int n = 0;
    const std::unique_ptr<LPWSTR, LocalFreeDeleter> wide(CommandLineToArgvW(GetCommandLineW(), &n));
    if (!wide) {  // no memory to split it: the runtime's split, as it is
        for (int i = 0; i < __argc; ++i) out.texts.emplace_back(__argv[i]);
        out.utf8 = out.texts;
        return out;
    }
    for (int i = 0; i < n; ++i) {
        const wchar_t *arg = wide.get()[i];
        const int length = static_cast<int>(wcslen(arg));
        out.texts.push_back(Narrow(CP_ACP, arg, length));
        out.utf8.push_back(Narrow(CP_UTF8, arg, length));
        if (out.unheld != 0 || Holds(CP_ACP, arg, length)) continue;
        for (int at = 0; at < length; ++at) {
            const bool pair = IS_HIGH_SURROGATE(arg[at]) && at + 1 < length &&
                              IS_LOW_SURROGATE(arg[at + 1]);
            const int units = pair ? 2 : 1;
            if (!Holds(CP_ACP, arg + at, units)) {
                out.unheldAt = static_cast<std::size_t>(i);
                out.unheld = pair ? 0x10000 + ((arg[at] - 0xD800u) << 10) + (arg[at + 1] - 0xDC00u)
                                  : static_cast<char32_t>(arg[at]);
                break;
            }
            at += units - 1;
        }
    }
    return out;
}

int Send(qz45event::SenderOptions &o) {
    EventRecord record;
    int16_t populated = 0;
    qz45event::FillRecord(o, record, &populated);
    if (populated != EVT_SUCCESS) {
        std::string which = qz45event::TooLongOption(o);
        std::fprintf(stderr, "qz45event: status %s (%d): %s\nqz45event: what to do: shorten it\n",
                     qz45event::StatusName(populated), static_cast<int>(populated),
                     which.empty() ? "a text does not fit its field" : which.c_str());
        return kExitFailed;
    }
    if (o.repeat == 1) {
        EventRecord copy = record;  // the library completes the record it is given
        EventStatus st{EVT_SUCCESS, 0, 0};
        SendQZ45Event(&copy, &st);
        if (st.status != EVT_SUCCESS) {
            ReportFailure("", st, record);
            return kExitFailed;
        }
        if (!o.quiet) PrintOutcome(st);
        return kExitOk;
    }

    // Many events inside one open use: the service objects stay connected.
    HRESULT hr = InitializeQZ45AlarmEvent();
    if (FAILED(hr)) {
        const qz45event::HresultText *known = qz45event::KnownHresult(static_cast<uint32_t>(hr));
        std::fprintf(stderr, "qz45event: the library could not connect (0x%08lX %s); "
                             "each send connects by itself\n", static_cast<unsigned long>(hr),
                     known != nullptr ? known->name : SystemText(hr).c_str());
    }
    const bool terminal = _isatty(_fileno(stdout)) && !o.quiet && !o.verbose;
    qz45event::SendTally tally;
    EventStatus last{EVT_SUCCESS, 0, 0};
    EventStatus firstFailure{EVT_SUCCESS, 0, 0};
    qz45event::SendOutcome lastOutcome = qz45event::SendOutcome::Delivered;
    for (unsigned i = 1; i <= o.repeat; ++i) {
        EventRecord copy = record;  // each send completes its own record
        EventStatus st{EVT_SUCCESS, 0, 0};
        SendQZ45Event(&copy, &st);
        lastOutcome = tally.Count(st.status);
        if (lastOutcome == qz45event::SendOutcome::Failed && tally.failed == 1) firstFailure = st;
        last = st;
        if (o.verbose && !o.quiet) {
            std::printf("send %u: ", i);
            if (lastOutcome == qz45event::SendOutcome::Dropped)
                std::printf("%s\n", qz45event::kDroppedText);
            else
                PrintOutcome(st);
        }
        if (tally.JustOpened()) {
            std::fflush(stdout);
            std::fprintf(stderr, "qz45event: send %u: %s\n", i, qz45event::kBreakerOpenedText);
        }
        if (terminal && (i % 100 == 0 || i == o.repeat))
            std::printf("\rsent %u/%u, %u failed, %u dropped", i, o.repeat, tally.failed,
                        tally.dropped), std::fflush(stdout);
    }
    if (terminal) std::printf("\n");
    if (SUCCEEDED(hr)) UninitializeQZ45AlarmEvent();
    if (!o.quiet) {
        std::printf("%u events: %u delivered, %u failed, %u dropped; last: ", o.repeat,
                    tally.delivered, tally.failed, tally.dropped);
        if (lastOutcome == qz45event::SendOutcome::Dropped)
            std::printf("%s\n", qz45event::kDroppedText);
        else
            PrintOutcome(last);
    }
    if (tally.failed) {
        std::fflush(stdout);
        ReportFailure("first failure: ", firstFailure, record);
    }
    return tally.failed == 0 && tally.dropped == 0 ? kExitOk : kExitFailed;
}

}  // namespace

int main() {
    const Arguments args = ArgumentsInCodePage();
    std::vector<const char *> argv;
    for (const std::string &a : args.texts) argv.push_back(a.c_str());
    qz45event::SenderOptions options;
    qz45event::ParseResult parsed =
        qz45event::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options);
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
    if (args.unheld != 0) {
        // Never a "?" or a look-alike in the trail instead of what was typed.
        const qz45event::FailureText text = qz45event::DescribeUnheldText(
            qz45event::OptionOfArgument(args.utf8, args.unheldAt), args.unheld, GetACP());
        std::fprintf(stderr, "qz45event: %s\nqz45event: what to do: %s\n", text.what.c_str(),
                     text.hint.c_str());
        return kExitFailed;
    }
    if (options.command == "types") return ListTypes();
    if (options.command == "register-event-source") return RegisterEventSource(options.messageDll);
    return Send(options);
}
