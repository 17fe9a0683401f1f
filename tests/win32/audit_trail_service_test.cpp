// The reference audit service behind the real DLL: what it stores for each
// kind of event, that a trail it cannot write fails the delivery, and what it
// does with a file that is not a trail or a trail whose end was damaged.
#include <windows.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "qz45alarmevent_api.h"
#include "qz45audit_service.h"

using nlohmann::json;

namespace {

const char kTrail[] = "audit_trail_service_test.jsonl";
const char kTorn[] = "audit_trail_service_test.jsonl.torn";

std::string ReadBytes(const char *path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteBytes(const char *path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool Exists(const char *path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// The lines of a trail's bytes, each with its line end; what follows the last
// line end, if anything, is the last element.
std::vector<std::string> Lines(const std::string &bytes) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t feed = bytes.find('\n', at);
        const std::size_t end = feed == std::string::npos ? bytes.size() : feed + 1;
        lines.push_back(bytes.substr(at, end - at));
        at = end;
    }
    return lines;
}

// Every line of the trail is ended and chains to the one before it.
void ExpectChainIntact(const std::string &bytes) {
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.back(), '\n') << "the last line has no line end";
    std::string prev(64, '0');  // the first line follows 64 zeros
    int n = 0;
    for (const std::string &line : Lines(bytes)) {
        ++n;
        const json j = json::parse(line, nullptr, false);
        ASSERT_TRUE(j.is_object()) << "line " << n << ": " << line;
        EXPECT_EQ(j.value("prev", ""), prev) << "line " << n;
        prev = j.value("hash", "");
        EXPECT_EQ(prev.size(), 64u) << "line " << n;
    }
}

class AuditTrailService : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        HMODULE service = LoadLibraryA("qz45_audit_trail.dll");
        ASSERT_NE(service, nullptr);
        auto reg = reinterpret_cast<HRESULT(STDAPICALLTYPE *)()>(
            reinterpret_cast<void *>(GetProcAddress(service, "DllRegisterServer")));
        ASSERT_NE(reg, nullptr);
        ASSERT_EQ(reg(), S_OK);
    }
    void SetUp() override {
        DeleteFileA(kTrail);
        DeleteFileA(kTorn);
        SetEnvironmentVariableA("QZ45_AUDIT_TRAIL", kTrail);
    }

    static std::vector<json> Trail() {
        std::vector<json> lines;
        std::ifstream in(kTrail);
        for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
        return lines;
    }

    static EventStatus Send(int32_t type, const EventValue *oldV, const EventValue *newV,
                            const TimeStamp *history = nullptr, const char *descriptor = "FIC101",
                            const char *property = "PV") {
        EventRecord r;
        int16_t populated = -1;
        TimeStamp when{946728000, 250000};  // 2000-01-01 12:00:00.25 UTC
        int32_t severity = 3;
        PopulateChangeValueEvent(&r, nullptr, "C:\\Plant\\ops.exe", "alice", "PLANT", &when,
                                 "demo", nullptr, &type, "T-1", nullptr, &severity, descriptor,
                                 nullptr, "North", "U2", property, history, oldV, newV, &populated);
        EXPECT_EQ(populated, EVT_SUCCESS);
        EventStatus st{-1, 0, 0};
        SendQZ45Event(&r, &st);
        return st;
    }

    static int32_t Startup() {
        return Send(EVT_TYPE_STARTUP, nullptr, nullptr, nullptr, nullptr, nullptr).status;
    }

    // The trail the service writes for n events.
    static std::string TrailOf(int n) {
        for (int i = 0; i < n; ++i) EXPECT_EQ(Startup(), EVT_SUCCESS);
        return ReadBytes(kTrail);
    }
};

// The InprocServer32 path of the logger class in one registry view, or "".
std::wstring ServerPathInView(REGSAM view) {
    wchar_t clsid[40] = {};
    StringFromGUID2(CLSID_EventLogger, clsid, 40);
    const std::wstring key = std::wstring(L"Software\\Classes\\CLSID\\") + clsid +
                             L"\\InprocServer32";
    wchar_t path[MAX_PATH + 1] = {};
    DWORD bytes = sizeof path - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, RRF_RT_REG_SZ | view, nullptr,
                     path, &bytes) != ERROR_SUCCESS)
        return L"";
    return path;
}

}  // namespace

// A 64-bit service registers in the 64-bit view, where 64-bit callers look;
// a 32-bit one in the view a 32-bit process sees.
TEST_F(AuditTrailService, RegistersInTheViewOfItsOwnBitness) {
    const std::wstring own = ServerPathInView(0);
    ASSERT_GE(own.size(), 20u);
    EXPECT_EQ(own.substr(own.size() - 20), L"qz45_audit_trail.dll");
#if defined(_WIN64)
    EXPECT_EQ(ServerPathInView(RRF_SUBKEY_WOW6464KEY), own);
    EXPECT_EQ(ServerPathInView(RRF_SUBKEY_WOW6432KEY), L"") << "visible to 32-bit callers";
#endif
}

TEST_F(AuditTrailService, StoresEveryPropertyOfEachKindOfEvent) {
    ASSERT_EQ(InitializeQZ45AlarmEvent(), S_OK);
    EventValue oldV{}, newV{};
    oldV.DataType = EVT_VALUE_DOUBLE;
    oldV.Payload.Double.Value = 1.5;
    newV.DataType = EVT_VALUE_DOUBLE;
    newV.Payload.Double.Value = 2.5;
    TimeStamp history{946684800, 500000};
    EXPECT_EQ(Send(EVT_TYPE_STARTUP, nullptr, nullptr, nullptr, nullptr, nullptr).status,
              EVT_SUCCESS);
    EXPECT_EQ(Send(EVT_TYPE_CHANGE_VALUE, &oldV, &newV).status, EVT_SUCCESS);
    EXPECT_EQ(Send(EVT_TYPE_CHANGE_HISTORY_VALUE, &oldV, &newV, &history).status, EVT_SUCCESS);
    EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK);

    std::vector<json> trail = Trail();
    ASSERT_EQ(trail.size(), 3u);

    const json &startup = trail[0];
    EXPECT_EQ(startup["event"], "GeneralEvent");
    EXPECT_EQ(startup["context"]["AppName"], "Oskel Zentrova.45");
    EXPECT_EQ(startup["context"]["User"], "alice");
    EXPECT_EQ(startup["context"]["Domain"], "PLANT");
    EXPECT_EQ(startup["context"]["ApplicationId"].get<std::string>().size(), 38u);
    const json &p = startup["properties"];
    EXPECT_EQ(p["EventTime"]["utc"], "2000-01-01T12:00:00.250Z");
    EXPECT_DOUBLE_EQ(p["EventTime"]["date"].get<double>(), 36526.5 + 0.25 / 86400);
    EXPECT_EQ(p["Message"], "demo");
    EXPECT_EQ(p["AuditTrail"], true);
    EXPECT_EQ(p["Category"], 206);
    EXPECT_EQ(p["Severity"], 3);
    EXPECT_EQ(p["RefId"], "T-1");
    EXPECT_EQ(p["AppKey"], "ops.exe");
    EXPECT_EQ(p["DescriptorType"], "DATABASE");
    EXPECT_EQ(p["Property"], "QZ45 Admin");
    EXPECT_EQ(p["Value"]["type"], "VT_BSTR");  // an empty value is an empty text
    EXPECT_EQ(p["Value"]["value"], "");
    EXPECT_FALSE(p.contains("OldValue"));
    EXPECT_NE(p["Path"].get<std::string>().find("/QZ.45/"), std::string::npos);

    const json &change = trail[1]["properties"];
    EXPECT_EQ(trail[1]["event"], "ChangeEvent");
    EXPECT_EQ(change["Category"], 301);
    EXPECT_EQ(change["Descriptor"], "FIC101");
    EXPECT_EQ(change["OldValue"], (json{{"type", "VT_R8"}, {"value", 1.5}}));
    EXPECT_EQ(change["NewValue"], (json{{"type", "VT_R8"}, {"value", 2.5}}));

    const json &hist = trail[2]["properties"];
    EXPECT_EQ(trail[2]["event"], "HistoryChangeEvent");
    EXPECT_EQ(hist["Category"], 401);
    EXPECT_EQ(hist["History"]["utc"], "2000-01-01T00:00:00.500Z");
}

TEST_F(AuditTrailService, AnUnwritableTrailFailsTheDelivery) {
    SetEnvironmentVariableA("QZ45_AUDIT_TRAIL", "no-such-directory\\trail.jsonl");
    EventStatus st = Send(EVT_TYPE_STARTUP, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(st.status, EVT_E_SERVICE);
    EXPECT_EQ(st.hresult, static_cast<int32_t>(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)));
    // Writable again: the next event is stored.
    SetEnvironmentVariableA("QZ45_AUDIT_TRAIL", kTrail);
    EXPECT_EQ(Send(EVT_TYPE_STARTUP, nullptr, nullptr, nullptr, nullptr, nullptr).status,
              EVT_SUCCESS);
    EXPECT_EQ(Trail().size(), 1u);
}

// Someone else's file is never appended to, cut or kept aside.
TEST_F(AuditTrailService, LeavesAFileThatIsNotATrailAsItWas) {
    const struct {
        const char *what;
        std::string bytes;
    } cases[] = {
        {"a text", "hello world\n"},
        {"a text without a line end", "plain text without a line end"},
        {"a JSON object without an event", "{\"a\":1}\n"},
        {"a JSON object whose event is no text", "{\"event\":1}\n"},
        {"a JSON object without a line end", "{\"a\":1}"},
        {"a text line before trail lines", "# notes\n{\"event\":\"GeneralEvent\"}\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(kTrail, c.bytes);
        const EventStatus st = Send(EVT_TYPE_STARTUP, nullptr, nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(st.status, EVT_E_SERVICE);
        EXPECT_EQ(st.hresult, static_cast<int32_t>(HRESULT_FROM_WIN32(ERROR_INVALID_DATA)));
        EXPECT_EQ(ReadBytes(kTrail), c.bytes);
        EXPECT_FALSE(Exists(kTorn));
        // A delivery between the failures, or the third in a row stops delivery.
        DeleteFileA(kTrail);
        EXPECT_EQ(Startup(), EVT_SUCCESS);
    }
}

// A last line written whole whose line end was lost is ended and chained to,
// not cut: nothing goes to the .torn file.
TEST_F(AuditTrailService, EndsALastLineThatLostItsLineEnd) {
    for (const int lines : {1, 3}) {
        SCOPED_TRACE(lines);
        DeleteFileA(kTrail);
        const std::string whole = TrailOf(lines);
        ASSERT_EQ(Lines(whole).size(), static_cast<std::size_t>(lines));
        WriteBytes(kTrail, whole.substr(0, whole.size() - 1));
        EXPECT_EQ(Startup(), EVT_SUCCESS);
        const std::string after = ReadBytes(kTrail);
        EXPECT_EQ(after.substr(0, whole.size()), whole);
        EXPECT_EQ(Lines(after).size(), static_cast<std::size_t>(lines) + 1);
        ExpectChainIntact(after);
        EXPECT_FALSE(Exists(kTorn));
    }
}

// An unfinished last line is kept in the .torn file (a header, its bytes
// exactly, a line end), then cut; the new line takes its place and chains to
// the last complete line.
TEST_F(AuditTrailService, KeepsATornTailAsideAndCutsIt) {
    const std::string trail = TrailOf(3);
    const std::vector<std::string> line = Lines(trail);
    ASSERT_EQ(line.size(), 3u);
    const std::string withoutEnd = line[2].substr(0, line[2].size() - 1);
    const struct {
        const char *what;
        std::string kept;  // the complete lines before the tail
        std::string tail;
    } cases[] = {
        {"the start of a line", line[0] + line[1], line[2].substr(0, 40)},
        {"a whole line that follows a line no longer there", line[0], withoutEnd},
        {"the start of a first line", "", "{\"context\":{\"AppNa"},
        {"a line whose bytes never reached the disk", line[0], std::string(4096, '\0')},
        {"a line cut between its CR and its LF", line[0], line[1].substr(0, 60) + "\r"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileA(kTorn);
        WriteBytes(kTrail, c.kept + c.tail);
        EXPECT_EQ(Startup(), EVT_SUCCESS);

        const std::string torn = ReadBytes(kTorn);
        const std::size_t feed = torn.find('\n');
        ASSERT_NE(feed, std::string::npos);
        const json header = json::parse(torn.substr(0, feed), nullptr, false);
        ASSERT_TRUE(header.is_object()) << torn;
        EXPECT_EQ(header.value("trail", ""), kTrail);
        EXPECT_EQ(header.value("cut_at", -1LL), static_cast<long long>(c.kept.size()));
        EXPECT_EQ(header.value("bytes", -1LL), static_cast<long long>(c.tail.size()));
        EXPECT_TRUE(std::regex_match(header.value("time", ""),
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
            << header.dump();
        EXPECT_EQ(torn.substr(feed + 1), c.tail + "\n");

        const std::string after = ReadBytes(kTrail);
        EXPECT_EQ(after.substr(0, c.kept.size()), c.kept);
        EXPECT_EQ(Lines(after).size(), Lines(c.kept).size() + 1);
        ExpectChainIntact(after);
    }
}
