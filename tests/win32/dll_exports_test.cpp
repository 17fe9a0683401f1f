// The DLL as a caller sees it: its export table and the exports themselves.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "qz45alarmevent_api.h"

namespace {

std::set<std::string> ExportedNames(HMODULE module) {
    auto base = reinterpret_cast<const unsigned char *>(module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const auto &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(base + dir.VirtualAddress);
    auto names = reinterpret_cast<const DWORD *>(base + exp->AddressOfNames);
    std::set<std::string> result;
    for (DWORD i = 0; i < exp->NumberOfNames; ++i)
        result.insert(reinterpret_cast<const char *>(base + names[i]));
    return result;
}

}  // namespace

TEST(DllExports, ExactlyTheBuiltFunctionsUndecorated) {
    HMODULE dll = LoadLibraryA("qz45alarmevent_api.dll");
    ASSERT_NE(dll, nullptr);
    const std::set<std::string> expected = {
        "InitializeQZ45AlarmEvent", "PopulateChangeValueEvent", "PopulateGeneralSystemEvent",
        "QZ45AlarmEventCoInit",     "QZ45AlarmEventCoUninit",   "SendQZ45Event",
        "UninitializeQZ45AlarmEvent",
    };
    EXPECT_EQ(ExportedNames(dll), expected);
    for (const auto &name : expected) EXPECT_NE(GetProcAddress(dll, name.c_str()), nullptr);
    FreeLibrary(dll);
}

TEST(DllExports, PopulateThroughTheDll) {
    EventRecord r;
    int16_t status = -1;
    int32_t type = EVT_TYPE_STARTUP;
    TimeStamp when{1, 2};
    PopulateGeneralSystemEvent(&r, nullptr, "C:\\bin\\ops.exe", "alice", "PLANT", &when,
                               "started", nullptr, &type, "R-1", nullptr, nullptr, &status);
    EXPECT_EQ(status, EVT_SUCCESS);
    EXPECT_STREQ(r.User, "alice");
    EXPECT_EQ(r.AuditTrail, 1);
    EXPECT_EQ(r.Type, 4);

    EventValue v{};
    v.DataType = EVT_VALUE_INT16;
    v.Payload.Int16.Value = -1;
    type = EVT_TYPE_CHANGE_VALUE;
    std::string tooLong(2048, 'm');
    PopulateChangeValueEvent(&r, nullptr, nullptr, "bob", "PLANT", nullptr, tooLong.c_str(),
                             nullptr, &type, nullptr, nullptr, nullptr, "FIC101", nullptr,
                             nullptr, nullptr, "PV", nullptr, &v, &v, &status);
    EXPECT_EQ(status, EVT_E_TOO_LONG);
    EXPECT_STREQ(r.User, "bob");
    EXPECT_EQ(r.Message[0], '\0');
    PopulateChangeValueEvent(&r, nullptr, nullptr, "bob", "PLANT", nullptr, "m", nullptr,
                             &type, nullptr, nullptr, nullptr, "FIC101", nullptr, nullptr,
                             nullptr, "PV", nullptr, &v, &v, &status);
    EXPECT_EQ(status, EVT_SUCCESS);
    EXPECT_EQ(r.NewValue.Payload.Int16.Value, -1);
}

TEST(DllResources, MessageTableAndVersionInformation) {
    HMODULE dll = LoadLibraryExA("qz45alarmevent_api.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(dll, nullptr);
    // The event-log entry's text, as a viewer formats it from the DLL.
    const char *inserts[1] = {"Process id 7 failed"};
    char text[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, dll,
                             8448, 0, text, sizeof text,
                             reinterpret_cast<va_list *>(const_cast<char **>(inserts)));
    ASSERT_GT(n, 0u);
    EXPECT_EQ(std::string(text).substr(0, 19), "Process id 7 failed");
    EXPECT_NE(FindResourceA(dll, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16) /* RT_VERSION */),
              nullptr);
    FreeLibrary(dll);
}
