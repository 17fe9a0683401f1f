// The reference audit service behind the real DLL: what it stores for each
// kind of event, and that a trail it cannot write fails the delivery.
#include <windows.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <string>
#include <vector>

#include "qz45alarmevent_api.h"
#include "qz45audit_service.h"

using nlohmann::json;

namespace {

const char kTrail[] = "audit_trail_service_test.jsonl";

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
