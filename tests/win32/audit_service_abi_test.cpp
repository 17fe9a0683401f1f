// The audit service's binary contract: each operation at its vtable place,
// called by place number as a component built elsewhere would receive it,
// and the double's record of it.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audit_double_fixture.h"
#include "qz45audit_service.h"

namespace {

enum Kind { Text, Context, Date, Long, Bool, Value, None };

struct Place {
    int place;  // 1-based, after IUnknown's three methods
    const char *op;
    Kind kind;
};

// The places of the operations in the three event interfaces.
const std::vector<Place> kCommon = {
    {1, "SetAppKey", Text},  {2, "SetContext", Context}, {3, "SetMessage", Text},
    {4, "SetEventTime", Date}, {5, "SetSeverity", Long}, {6, "SetRefId", Text},
    {7, "SetCategory", Long}, {8, "Reset", None},        {9, "SetAuditTrail", Bool}};

// Places 10 to 15 of both change interfaces.
const std::vector<Place> kChangeDescriptor = {
    {10, "SetDescriptor", Text}, {11, "SetDescriptorType", Text}, {12, "SetUnit", Text},
    {13, "SetProperty", Text},   {14, "SetOldValue", Value},      {15, "SetNewValue", Value}};

std::vector<Place> With(std::vector<Place> middle, std::vector<Place> more = {}) {
    std::vector<Place> all = kCommon;
    all.insert(all.end(), middle.begin(), middle.end());
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

template <class Fn>
Fn SlotOf(void *object, int place) {
    void **vtable = *static_cast<void ***>(object);
    return reinterpret_cast<Fn>(vtable[2 + place]);
}

// Calls the operation at `place` with a sample argument of its kind.
HRESULT CallAt(void *object, const Place &p, IClientContext *context) {
    using BstrFn = HRESULT(STDMETHODCALLTYPE *)(void *, BSTR);
    using PtrFn = HRESULT(STDMETHODCALLTYPE *)(void *, void *);
    using DateFn = HRESULT(STDMETHODCALLTYPE *)(void *, DATE);
    using LongFn = HRESULT(STDMETHODCALLTYPE *)(void *, LONG);
    using BoolFn = HRESULT(STDMETHODCALLTYPE *)(void *, VARIANT_BOOL);
    using VariantFn = HRESULT(STDMETHODCALLTYPE *)(void *, VARIANT);
    using NoneFn = HRESULT(STDMETHODCALLTYPE *)(void *);
    switch (p.kind) {
    case Text: {
        BSTR s = SysAllocString(L"t\u00e4");
        HRESULT hr = SlotOf<BstrFn>(object, p.place)(object, s);
        SysFreeString(s);
        return hr;
    }
    case Context: return SlotOf<PtrFn>(object, p.place)(object, context);
    case Date: return SlotOf<DateFn>(object, p.place)(object, 36526.5);
    case Long: return SlotOf<LongFn>(object, p.place)(object, -7);
    case Bool: return SlotOf<BoolFn>(object, p.place)(object, VARIANT_TRUE);
    case Value: {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_I2;
        V_I2(&v) = -1;
        return SlotOf<VariantFn>(object, p.place)(object, v);
    }
    case None: return SlotOf<NoneFn>(object, p.place)(object);
    }
    return E_FAIL;
}

std::string Expected(const Place &p) {
    switch (p.kind) {
    case Text: return "(\"t\xC3\xA4\")";
    case Context: return "(ClientContext)";
    case Date: return "(36526.5)";
    case Long: return "(-7)";
    case Bool: return "(-1)";
    case Value: return "(VT_I2:-1)";
    case None: return "()";
    }
    return "";
}

class AuditServiceAbi : public AuditDoubleTest {
protected:
    void SetUp() override {
        AuditDoubleTest::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        ASSERT_EQ(CoCreateInstance(CLSID_ClientContext, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(&context_)),
                  S_OK);
    }
    void TearDown() override {
        context_->Release();
        CoUninitialize();
        AuditDoubleTest::TearDown();
    }

    void CheckPlaces(const CLSID &clsid, const IID &iid, int cls,
                     const std::vector<Place> &places) {
        IUnknown *event = nullptr;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                                   reinterpret_cast<void **>(&event)),
                  S_OK);
        AuditDoubleReset();
        std::vector<std::string> expected;
        for (const Place &p : places) {
            EXPECT_EQ(CallAt(event, p, context_), S_OK) << p.op;
            expected.push_back(std::string(audit::ClassName(cls)) + "." + p.op + Expected(p));
        }
        EXPECT_EQ(audit::Lines(), expected);
        event->Release();
    }

    IClientContext *context_ = nullptr;
};

}  // namespace

TEST_F(AuditServiceAbi, GeneralEventPlaces) {
    CheckPlaces(CLSID_GeneralEvent, IID_IGeneralEvent, AUDIT_DOUBLE_GENERAL_EVENT,
                With({{10, "SetPath", Text},
                      {11, "SetArea", Text},
                      {12, "SetDescriptor", Text},
                      {13, "SetDescriptorType", Text},
                      {14, "SetUnit", Text},
                      {15, "SetProperty", Text},
                      {16, "SetValue", Value}}));
}

TEST_F(AuditServiceAbi, ChangeEventPlaces) {
    CheckPlaces(CLSID_ChangeEvent, IID_IChangeEvent, AUDIT_DOUBLE_CHANGE_EVENT,
                With(kChangeDescriptor, {{16, "SetPath", Text}, {17, "SetArea", Text}}));
}

TEST_F(AuditServiceAbi, HistoryChangeEventPlaces) {
    CheckPlaces(CLSID_HistoryChangeEvent, IID_IHistoryChangeEvent,
                AUDIT_DOUBLE_HISTORY_CHANGE_EVENT,
                With(kChangeDescriptor,
                     {{16, "SetHistory", Date}, {17, "SetPath", Text}, {18, "SetArea", Text}}));
}

TEST_F(AuditServiceAbi, ClientContextLoggerAndTheirRecordedArguments) {
    IEventLogger *logger = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_EventLogger, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(&logger)),
              S_OK);
    IChangeEvent *change = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_ChangeEvent, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(&change)),
              S_OK);
    ILoggableEvent *loggable = nullptr;
    ASSERT_EQ(change->QueryInterface(IID_PPV_ARGS(&loggable)), S_OK);
    AuditDoubleReset();

    BSTR user = SysAllocString(L"alice");
    BSTR empty = SysAllocString(L"");
    EXPECT_EQ(context_->SetAppName(nullptr), S_OK);
    EXPECT_EQ(context_->SetIdentity(user, empty, user), S_OK);
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(change->SetOldValue(v), S_OK);
    V_VT(&v) = VT_R8;
    V_R8(&v) = 2.5;
    EXPECT_EQ(change->SetOldValue(v), S_OK);
    V_VT(&v) = VT_DATE;
    V_DATE(&v) = 36526.5;
    EXPECT_EQ(change->SetOldValue(v), S_OK);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = user;
    EXPECT_EQ(change->SetNewValue(v), S_OK);
    EXPECT_EQ(change->SetContext(nullptr), S_OK);
    audit::Fail(AUDIT_DOUBLE_EVENT_LOGGER, "Submit", S_FALSE);
    EXPECT_EQ(logger->Submit(loggable), S_FALSE);
    EXPECT_EQ(logger->Submit(nullptr), S_OK);
    SysFreeString(user);
    SysFreeString(empty);

    EXPECT_EQ(audit::Lines(),
              (std::vector<std::string>{
                  "ClientContext.SetAppName(null)",
                  "ClientContext.SetIdentity(\"alice\", \"\", \"alice\")",
                  "ChangeEvent.SetOldValue(VT_EMPTY)", "ChangeEvent.SetOldValue(VT_R8:2.5)",
                  "ChangeEvent.SetOldValue(VT_DATE:36526.5)",
                  "ChangeEvent.SetNewValue(VT_BSTR:\"alice\")", "ChangeEvent.SetContext(null)",
                  "EventLogger.Submit(ChangeEvent)", "EventLogger.Submit(null)"}));
    loggable->Release();
    change->Release();
    logger->Release();
}
