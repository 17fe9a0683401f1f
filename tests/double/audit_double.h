/*
 * The audit service's test double: an in-process COM server with the six
 * classes of qz45audit_service.h that records every call made on its objects
 * and does what the tests script.
 *
 * Class indexes follow the library's connection set: 0 ClientContext,
 * 1 EventLogger, 2 SystemEvent, 3 GeneralEvent, 4 ChangeEvent,
 * 5 HistoryChangeEvent.
 *
 * Operations are named as the interface methods ("SetArea", "Reset",
 * "Submit", ...), plus "Create" (the class factory making an object),
 * "QueryInterface" and "Release". AddRef is counted but not recorded.
 *
 * Arguments are recorded as text: a BSTR as its UTF-8 text in double quotes
 * or null; a DATE as %.17g; a LONG in decimal; a VARIANT_BOOL as -1 or 0; a
 * VARIANT as VT_I2:-1, VT_I4:7, VT_R4:1.5, VT_R8:2.5, VT_DATE:36526.5,
 * VT_BSTR:"abc", VT_EMPTY (others VT_<number>); SetContext as ClientContext
 * (one of this double's ClientContext objects), null or foreign; Submit as the
 * class name of the submitted event (or null, foreign); QueryInterface and
 * Release as the interface asked for or released through (IUnknown,
 * IGeneralEvent, ILoggableEvent, ...).
 */
#ifndef QZ45_AUDIT_DOUBLE_H
#define QZ45_AUDIT_DOUBLE_H

#include <stddef.h>
#include <stdint.h>

#if defined(QZ45_BUILDING_AUDIT_DOUBLE)
#  define AUDIT_DOUBLE_API
#else
#  define AUDIT_DOUBLE_API __declspec(dllimport)
#endif
#define AUDIT_DOUBLE_CALL __cdecl

#if defined(__cplusplus)
extern "C" {
#endif

enum AuditDoubleClass {
    AUDIT_DOUBLE_ANY_CLASS = -1,
    AUDIT_DOUBLE_CLIENT_CONTEXT = 0,
    AUDIT_DOUBLE_EVENT_LOGGER = 1,
    AUDIT_DOUBLE_SYSTEM_EVENT = 2,
    AUDIT_DOUBLE_GENERAL_EVENT = 3,
    AUDIT_DOUBLE_CHANGE_EVENT = 4,
    AUDIT_DOUBLE_HISTORY_CHANGE_EVENT = 5
};

/* What a scripted operation does instead of its default. */
enum AuditDoubleAction {
    /* Return the scripted HRESULT. "Create" and "QueryInterface" with a
     * failure code hand out nothing; "Release" still drops its reference and
     * returns the code as its count. */
    AUDIT_DOUBLE_RETURN = 0,
    /* RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE): a C++ throw as a
     * foreign component's runtime raises it. Nothing else happens. */
    AUDIT_DOUBLE_THROW = 1,
    /* Write to address 0: an access violation. Nothing else happens. */
    AUDIT_DOUBLE_FAULT = 2,
    /* Sleep for the scripted milliseconds, then act as AUDIT_DOUBLE_RETURN. */
    AUDIT_DOUBLE_SLEEP = 3,
    /* Fault, and handle the fault with a structured-exception handler of the
     * double's own frame, which lets the method go on; then act as
     * AUDIT_DOUBLE_RETURN. A caller's handler further out never sees it. */
    AUDIT_DOUBLE_FAULT_HANDLED = 4
};

typedef struct AuditDoubleCall {
    int32_t ClassIndex;
    uint32_t InstanceId; /* 1, 2, ... per object made; 0 for "Create" */
    uint32_t ThreadId;
    char Operation[32];
} AuditDoubleCall;

/* Registers the six classes (DllRegisterServer): HKLM\Software\Classes\CLSID,
 * InprocServer32 = this DLL, ThreadingModel Both. */
AUDIT_DOUBLE_API long AUDIT_DOUBLE_CALL AuditDoubleRegister(void);

/* Clears the call log and every script. Objects stay alive. */
AUDIT_DOUBLE_API void AUDIT_DOUBLE_CALL AuditDoubleReset(void);

/* Scripts `operation` on objects of `classIndex` (or AUDIT_DOUBLE_ANY_CLASS).
 * once: the script applies to the next matching call only; otherwise to
 * every one. The earliest matching script wins. */
AUDIT_DOUBLE_API void AUDIT_DOUBLE_CALL AuditDoubleScript(int classIndex, const char *operation,
                                                          int action, long hresult,
                                                          unsigned long sleepMs, int once);

/* The call log. AuditDoubleGetCall fills *call and the argument text into
 * arguments (NUL-terminated, cut to size) and returns the text's full length,
 * or -1 when index is out of range. */
AUDIT_DOUBLE_API int AUDIT_DOUBLE_CALL AuditDoubleCallCount(void);
AUDIT_DOUBLE_API int AUDIT_DOUBLE_CALL AuditDoubleGetCall(int index, AuditDoubleCall *call,
                                                          char *arguments, size_t size);

/* Objects alive, and the references they hold in total. */
AUDIT_DOUBLE_API long AUDIT_DOUBLE_CALL AuditDoubleLiveObjects(void);
AUDIT_DOUBLE_API long AUDIT_DOUBLE_CALL AuditDoubleOutstandingRefs(void);

/* The whole log, one call a line, for failure messages. Writes at most size
 * bytes including the terminator; returns the full length. */
AUDIT_DOUBLE_API size_t AUDIT_DOUBLE_CALL AuditDoubleFormatLog(char *buffer, size_t size);

/* Soak mode. logging 0 stops the call log (it would grow without end);
 * faultsPerMillion > 0 gives every call that no script matches that chance of
 * a random fault: a failure HRESULT, a sleep of up to maxSleepMs, a raised
 * foreign C++ exception or an access violation (creation only fails or
 * sleeps). seed makes the faults repeatable. */
AUDIT_DOUBLE_API void AUDIT_DOUBLE_CALL AuditDoubleSoak(int logging, unsigned seed,
                                                        unsigned faultsPerMillion,
                                                        unsigned maxSleepMs);

typedef struct AuditDoubleFacts {
    long FaultsInjected;  /* random faults given out */
    long AbandonedRefs;   /* Release calls that raised instead of releasing */
    long Interleavings;   /* calls on an event object by a thread other than the
                             one between its Reset and its Submit */
    long Submitted;       /* events submitted successfully */
} AuditDoubleFacts;

AUDIT_DOUBLE_API void AUDIT_DOUBLE_CALL AuditDoubleSoakFacts(AuditDoubleFacts *facts);

/* How many faults of AUDIT_DOUBLE_FAULT_HANDLED the double's own handler
 * has handled in this process. */
AUDIT_DOUBLE_API long AUDIT_DOUBLE_CALL AuditDoubleHandledFaults(void);

/* How many times an event with this RefId was submitted successfully. */
AUDIT_DOUBLE_API long AUDIT_DOUBLE_CALL AuditDoubleSubmittedCount(const char *refId);
AUDIT_DOUBLE_API void AUDIT_DOUBLE_CALL AuditDoubleForgetSubmitted(void);

#if defined(__cplusplus)
}
#endif

#endif /* QZ45_AUDIT_DOUBLE_H */
