/*
 * qz45alarmevent_api: report audit-trail events of the process database to
 * the audit service.
 *
 * A caller fills one EventRecord (with PopulateGeneralSystemEvent or
 * PopulateChangeValueEvent, or field by field) and hands it to the library.
 * The records below are part of the binary interface: every size and offset
 * is fixed and checked at compile time.
 *
 * Two builds of the DLL exist, one per architecture, with the same exports
 * and the same records: the 32-bit one (i686) for 32-bit processes and the
 * 64-bit one (x86-64) for 64-bit processes. A process loads the build of its
 * own bitness. Every record has the same size and offsets in both, with one
 * exception: the text by address of an EventValue holds an address, which
 * takes 8 bytes in the 64-bit layout (see EventValue).
 *
 * Usable from C (C89 or later) and C++ (C++98 or later), without warnings
 * under -pedantic; the layout is checked at compile time in each of them.
 */
#ifndef QZ45ALARMEVENT_API_H
#define QZ45ALARMEVENT_API_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(QZ45_BUILDING_LIBRARY)
#    define QZ45_API
#  else
#    define QZ45_API __declspec(dllimport)
#  endif
#  define QZ45_CALL __cdecl
#  if !defined(QZ45_HRESULT_DEFINED)
#    define QZ45_HRESULT_DEFINED
typedef long QZ45_HRESULT;
#  endif
#else
#  define QZ45_API
#  define QZ45_CALL
typedef int32_t QZ45_HRESULT;
#endif

/* The layout asserts hold in every language level: where the language has no
 * static assertion, an array type whose size is negative when the condition
 * fails stands in for it (one per line, named after the line). */
#if defined(__cplusplus) && (__cplusplus >= 201103L || (defined(_MSC_VER) && _MSC_VER >= 1600))
#  define QZ45_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#elif !defined(__cplusplus) && defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#  define QZ45_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#else
#  define QZ45_ASSERT_NAME2(line) qz45_layout_assert_##line
#  define QZ45_ASSERT_NAME(line) QZ45_ASSERT_NAME2(line)
#  define QZ45_STATIC_ASSERT(cond, msg) \
    typedef char QZ45_ASSERT_NAME(__LINE__)[(cond) ? 1 : -1]
#endif

#if defined(__cplusplus)
extern "C" {
#endif

/* ------------------------------------------------------------------ */
/* Status codes, written to the 16-bit status of every event export.   */
/* ------------------------------------------------------------------ */
#define EVT_SUCCESS       0    /* filled, delivered, or dropped by the breaker */
#define EVT_E_TOO_LONG    (-10) /* a text argument does not fit its field */
#define EVT_E_BAD_TYPE    (-92) /* Type is 0 or not in 0..53 */
#define EVT_E_APARTMENT   (-93) /* the thread could not join a COM apartment */
#define EVT_E_SERVICE     (-94) /* the audit service failed; see hresult */
#define EVT_E_INVALID     (-95) /* a required field is empty */

/* ------------------------------------------------------------------ */
/* Event types.                                                        */
/* ------------------------------------------------------------------ */
enum QZ45EventType {
    EVT_TYPE_UNINITIALIZED = 0,
    EVT_TYPE_SAVE_SNAPSHOT = 1,
    EVT_TYPE_RESTORE_SNAPSHOT = 2,
    EVT_TYPE_CHANGE_PARAMETERS = 3,
    EVT_TYPE_STARTUP = 4,
    EVT_TYPE_SHUTDOWN = 5,
    EVT_TYPE_SAVE_SNAPSHOT_DENIED = 6,
    EVT_TYPE_RESTORE_SNAPSHOT_DENIED = 7,
    EVT_TYPE_STARTUP_DENIED = 8,
    EVT_TYPE_SHUTDOWN_DENIED = 9,
    EVT_TYPE_DB_READ_DENIED = 10,
    EVT_TYPE_DB_WRITE_DENIED = 11,
    EVT_TYPE_DB_CHANGE_SECURITY_DENIED = 12,
    EVT_TYPE_ENABLE_AUDIT_TRAIL_DENIED = 13,
    EVT_TYPE_DISABLE_AUDIT_TRAIL_DENIED = 14,
    EVT_TYPE_ENABLE_CFR11_MODE_DENIED = 15,
    EVT_TYPE_DISABLE_CFR11_MODE_DENIED = 16,
    EVT_TYPE_DB_ADMIN_DENIED = 17,
    EVT_TYPE_READ_DENIED = 18,
    EVT_TYPE_WRITE_DENIED = 19,
    EVT_TYPE_ACTIVATE_DENIED = 20,
    EVT_TYPE_DELETE_DENIED = 21,
    EVT_TYPE_CREATE_DENIED = 22,
    EVT_TYPE_SET_USABLE_DENIED = 23,
    EVT_TYPE_SET_UNUSABLE_DENIED = 24,
    EVT_TYPE_CHANGE_SECURITY_DENIED = 25,
    EVT_TYPE_CREATE_RECORD = 26,
    EVT_TYPE_DELETE_RECORD = 27,
    EVT_TYPE_ACTIVATE_RECORD = 28,
    EVT_TYPE_SET_RECORD_USABLE = 29,
    EVT_TYPE_SET_RECORD_UNUSABLE = 30,
    EVT_TYPE_CHANGE_DB_SECURITY = 31,
    EVT_TYPE_CHANGE_RECORD_SECURITY = 32,
    EVT_TYPE_ENABLE_AUDIT_TRAIL = 33,
    EVT_TYPE_DISABLE_AUDIT_TRAIL = 34,
    EVT_TYPE_ENABLE_CFR11_MODE = 35,
    EVT_TYPE_DISABLE_CFR11_MODE = 36,
    EVT_TYPE_CHANGE_VALUE = 37,
    EVT_TYPE_CHANGE_HISTORY_VALUE = 38,
    EVT_TYPE_START_TASK = 39,
    EVT_TYPE_STOP_TASK = 40,
    EVT_TYPE_ADD_TASK = 41,
    EVT_TYPE_UPDATE_TASK = 42,
    EVT_TYPE_REMOVE_TASK = 43,
    EVT_TYPE_MOVE_TASK_UP = 44,
    EVT_TYPE_MOVE_TASK_DOWN = 45,
    EVT_TYPE_ENABLE_START_AT_BOOT = 46,
    EVT_TYPE_DISABLE_START_AT_BOOT = 47,
    EVT_TYPE_STOP_TASK_SERVER = 48,
    EVT_TYPE_STOP_TASK_SERVER_2 = 49,
    EVT_TYPE_START_UPGRADE = 50,
    EVT_TYPE_STOP_UPGRADE = 51,
    EVT_TYPE_START_UPGRADE_WIZARD = 52,
    EVT_TYPE_STOP_UPGRADE_WIZARD = 53
};

/* ------------------------------------------------------------------ */
/* Records. Packed to 4 bytes so that a double may start at offset 4.  */
/* ------------------------------------------------------------------ */
#pragma pack(push, 4)

/* A time: seconds since 1970-01-01 00:00:00 UTC, then microseconds. */
typedef struct TimeStamp {
    int32_t secs;
    int32_t usecs;
} TimeStamp;

/* The outcome of an event export. */
typedef struct EventStatus {
    int16_t status;        /* EVT_SUCCESS or an EVT_E_* code */
    int16_t reserved;      /* never touched by the library */
    int32_t hresult;       /* written with EVT_SUCCESS, EVT_E_APARTMENT and
                              EVT_E_SERVICE; any other outcome leaves what the
                              caller set */
} EventStatus;

/* DataType codes of an EventValue. 1..603: inline text of that many bytes;
 * 0: empty text; below -24: no layout, read as an empty text. */
#define EVT_VALUE_TEXT_MAX            603
#define EVT_VALUE_RECORD              (-1)
#define EVT_VALUE_RECORD_FIELD        (-2)
#define EVT_VALUE_INT16               (-3)
#define EVT_VALUE_INT32               (-4)
#define EVT_VALUE_SINGLE              (-5)
#define EVT_VALUE_DOUBLE              (-6)
#define EVT_VALUE_TIME_WORD           (-7)
#define EVT_VALUE_PACKED_TIME         (-8)
#define EVT_VALUE_INT16_STATUS        (-9)
#define EVT_VALUE_INT32_STATUS        (-10)
#define EVT_VALUE_SINGLE_STATUS       (-11)
#define EVT_VALUE_DOUBLE_STATUS       (-12)
#define EVT_VALUE_INT16_STATUS_PACKED (-13)
#define EVT_VALUE_INT32_STATUS_PACKED (-14)
#define EVT_VALUE_SINGLE_STATUS_PACKED (-15)
#define EVT_VALUE_DOUBLE_STATUS_PACKED (-16)
#define EVT_VALUE_TIME_STAMP          (-17)
#define EVT_VALUE_INT16_STATUS_STAMP  (-18)
#define EVT_VALUE_INT32_STATUS_STAMP  (-19)
#define EVT_VALUE_SINGLE_STATUS_STAMP (-20)
#define EVT_VALUE_DOUBLE_STATUS_STAMP (-21)
#define EVT_VALUE_TEXT_REF_STATUS     (-22)
#define EVT_VALUE_TEXT_REF_PACKED     (-23)
#define EVT_VALUE_TEXT_REF_STAMP      (-24)
#define EVT_VALUE_TEXT_REF_MAX        1023 /* longest TextLen of a text by address */

/* One typed value, 608 bytes: DataType at offset 0, payload from offset 4.
 * Read the payload member that DataType names.
 *
 * The text by address (DataType -22, -23, -24) has a 32-bit and a 64-bit
 * layout; offsets from the start of the block, sizes in bytes:
 *
 *   member          32-bit (i686)     64-bit (x86-64)
 *   Text            4, 4 bytes        4, 8 bytes
 *   TextLen         8                 12
 *   Gap             10                14
 *   Status          12                16
 *   Level           14                18
 *   FAST or secs    16 (-23, -24)     20
 *   SLOW or usecs   20 (-23, -24)     24
 *   end             16 (-22), 24      20 (-22), 28
 *
 * Every other layout is the same in both, and the block keeps its 608
 * bytes. The records are packed to 4 bytes: a caller written in another
 * language puts the 64-bit address at offset 4 with no padding before it,
 * whatever alignment its language would give an address. */
typedef struct EventValue {
    int16_t DataType;
    int16_t Reserved;                 /* neither read nor written by the library */
    union {
        char Text[604];               /* DataType 1..603: inline text */
        unsigned char Bytes[604];
        struct { int32_t RecId; } Record;                                      /* -1 */
        struct { int32_t RecId; int32_t FldId; } RecordField;                  /* -2 */
        struct { int16_t Value; } Int16;                                       /* -3 */
        struct { int32_t Value; } Int32;                                       /* -4 */
        struct { float Value; } Single;                                        /* -5 */
        struct { double Value; } Double;                                       /* -6 */
        struct { int32_t Time; } TimeWord;                                     /* -7 */
        struct { int32_t FAST; int32_t SLOW; } PackedTime;                     /* -8 */
        struct { int16_t Value; int16_t Status; int16_t Level; } Int16Status;  /* -9 */
        struct { int32_t Value; int16_t Status; int16_t Level; } Int32Status;  /* -10 */
        struct { float Value; int16_t Status; int16_t Level; } SingleStatus;   /* -11 */
        struct { double Value; int16_t Status; int16_t Level; } DoubleStatus;  /* -12 */
        struct { int16_t Value; int16_t Status; int16_t Level; int16_t Gap;
                 int32_t FAST; int32_t SLOW; } Int16StatusPacked;              /* -13 */
        struct { int32_t Value; int16_t Status; int16_t Level;
                 int32_t FAST; int32_t SLOW; } Int32StatusPacked;              /* -14 */
        struct { float Value; int16_t Status; int16_t Level;
                 int32_t FAST; int32_t SLOW; } SingleStatusPacked;             /* -15 */
        struct { double Value; int16_t Status; int16_t Level;
                 int32_t FAST; int32_t SLOW; } DoubleStatusPacked;             /* -16 */
        struct { int32_t secs; int32_t usecs; } Stamp;                         /* -17 */
        struct { int16_t Value; int16_t Status; int16_t Level; int16_t Gap;
                 int32_t secs; int32_t usecs; } Int16StatusStamp;              /* -18 */
        struct { int32_t Value; int16_t Status; int16_t Level;
                 int32_t secs; int32_t usecs; } Int32StatusStamp;              /* -19 */
        struct { float Value; int16_t Status; int16_t Level;
                 int32_t secs; int32_t usecs; } SingleStatusStamp;             /* -20 */
        struct { double Value; int16_t Status; int16_t Level;
                 int32_t secs; int32_t usecs; } DoubleStatusStamp;             /* -21 */
        /* Text by address: the caller's buffer must be writable and hold at
         * least TextLen + 1 bytes; a zero byte is stored at Text + TextLen
         * when the value is sent. */
        struct { char *Text; int16_t TextLen; int16_t Gap;
                 int16_t Status; int16_t Level; } TextRef;                     /* -22 */
        struct { char *Text; int16_t TextLen; int16_t Gap;
                 int16_t Status; int16_t Level;
                 int32_t FAST; int32_t SLOW; } TextRefPacked;                  /* -23 */
        struct { char *Text; int16_t TextLen; int16_t Gap;
                 int16_t Status; int16_t Level;
                 int32_t secs; int32_t usecs; } TextRefStamp;                  /* -24 */
    } Payload;
} EventValue;

/* The event record, 6,364 bytes. Texts are NUL-terminated, ANSI code page. */
typedef struct EventRecord {
    char Path[256];
    char AppName[256];
    char User[256];
    char Domain[256];
    TimeStamp EventTime;
    char Message[2048];
    int32_t AuditTrail;          /* 1: belongs to the audit trail */
    int32_t Type;                /* QZ45EventType */
    char RefId[256];
    char AppKey[256];
    int32_t Severity;
    char Descriptor[512];
    char DescriptorType[256];
    char Area[256];
    char Unit[256];
    char Property[256];
    TimeStamp History;
    EventValue OldValue;
    EventValue NewValue;
} EventRecord;

#pragma pack(pop)

#define QZ45_ASSERT_AT(type, member, offset) \
    QZ45_STATIC_ASSERT(offsetof(type, member) == (offset), #type "." #member " offset")

QZ45_STATIC_ASSERT(sizeof(TimeStamp) == 8, "TimeStamp size");
QZ45_ASSERT_AT(TimeStamp, secs, 0);
QZ45_ASSERT_AT(TimeStamp, usecs, 4);

QZ45_STATIC_ASSERT(sizeof(EventStatus) == 8, "EventStatus size");
QZ45_ASSERT_AT(EventStatus, status, 0);
QZ45_ASSERT_AT(EventStatus, hresult, 4);

QZ45_STATIC_ASSERT(sizeof(EventValue) == 608, "EventValue size");
QZ45_ASSERT_AT(EventValue, DataType, 0);
QZ45_ASSERT_AT(EventValue, Payload, 4);
QZ45_ASSERT_AT(EventValue, Payload.Text, 4);

/* Where each layout ends: the first offset behind its last member. */
#define QZ45_ASSERT_END(layout, end)                                              \
    QZ45_STATIC_ASSERT(offsetof(EventValue, Payload.layout) +                     \
                           sizeof(((EventValue *)0)->Payload.layout) == (end),   \
                       "EventValue." #layout " end")

QZ45_ASSERT_AT(EventValue, Payload.Record.RecId, 4);
QZ45_ASSERT_END(Record, 8);
QZ45_ASSERT_AT(EventValue, Payload.RecordField.RecId, 4);
QZ45_ASSERT_AT(EventValue, Payload.RecordField.FldId, 8);
QZ45_ASSERT_END(RecordField, 12);
QZ45_ASSERT_AT(EventValue, Payload.Int16.Value, 4);
QZ45_ASSERT_END(Int16, 6);
QZ45_ASSERT_AT(EventValue, Payload.Int32.Value, 4);
QZ45_ASSERT_END(Int32, 8);
QZ45_ASSERT_AT(EventValue, Payload.Single.Value, 4);
QZ45_ASSERT_END(Single, 8);
QZ45_ASSERT_AT(EventValue, Payload.Double.Value, 4);
QZ45_ASSERT_END(Double, 12);
QZ45_ASSERT_AT(EventValue, Payload.TimeWord.Time, 4);
QZ45_ASSERT_END(TimeWord, 8);
QZ45_ASSERT_AT(EventValue, Payload.PackedTime.FAST, 4);
QZ45_ASSERT_AT(EventValue, Payload.PackedTime.SLOW, 8);
QZ45_ASSERT_END(PackedTime, 12);

QZ45_ASSERT_AT(EventValue, Payload.Int16Status.Value, 4);
QZ45_ASSERT_AT(EventValue, Payload.Int16Status.Status, 6);
QZ45_ASSERT_AT(EventValue, Payload.Int16Status.Level, 8);
QZ45_ASSERT_END(Int16Status, 10);
QZ45_ASSERT_AT(EventValue, Payload.Int32Status.Value, 4);
QZ45_ASSERT_AT(EventValue, Payload.Int32Status.Status, 8);
QZ45_ASSERT_AT(EventValue, Payload.Int32Status.Level, 10);
QZ45_ASSERT_END(Int32Status, 12);
QZ45_ASSERT_AT(EventValue, Payload.SingleStatus.Value, 4);
QZ45_ASSERT_AT(EventValue, Payload.SingleStatus.Status, 8);
QZ45_ASSERT_AT(EventValue, Payload.SingleStatus.Level, 10);
QZ45_ASSERT_END(SingleStatus, 12);
QZ45_ASSERT_AT(EventValue, Payload.DoubleStatus.Value, 4);
QZ45_ASSERT_AT(EventValue, Payload.DoubleStatus.Status, 12);
QZ45_ASSERT_AT(EventValue, Payload.DoubleStatus.Level, 14);
QZ45_ASSERT_END(DoubleStatus, 16);

QZ45_ASSERT_AT(EventValue, Payload.Int16StatusPacked.Value, 4);
QZ45_ASSERT_AT(EventValue, Payload.Int16StatusPacked.Status, 6);
QZ45_ASSERT_AT(EventValue, Payload.Int16StatusPacked.Level, 8);
QZ45_ASSERT_AT(EventValue, Payload.Int16StatusPacked.FAST, 12);
QZ45_ASSERT_AT(EventValue, Payload.Int16StatusPacked.SLOW, 16);
QZ45_ASSERT_END(Int16StatusPacked, 20);
QZ45_ASSERT_AT(EventValue, Payload.Int32StatusPacked.Value, 4);
QZ45_ASSERT_AT(EventValue, Payload.Int32StatusPacked.Status, 8);
QZ45_ASSERT_AT(EventValue, Payload.Int32StatusPacked.Level, 10);
QZ45_ASSERT_AT(EventValue, Payload.Int32StatusPacked.FAST, 12);
QZ45_ASSERT_AT(EventValue, Payload.Int32StatusPacked.SLOW, 16);
QZ45_ASSERT_END(Int32StatusPacked, 20);
QZ45_ASSERT_AT(EventValue, Payload.SingleStatusPacked.Value, 4);
QZ45_ASSERT_AT(EventValue, Payload.SingleStatusPacked.Status, 8);
QZ45_ASSERT_AT(EventValue, Payload.SingleStatusPacked.Level, 10);
QZ45_ASSERT_AT(EventValue, Payload.SingleStatusPacked.FAST, 12);
QZ45_ASSERT_AT(EventValue, Payload.SingleStatusPacked.SLOW, 16);
QZ45_ASSERT_END(SingleStatusPacked, 20);
QZ45_ASSERT_AT(EventValue, Payload.DoubleStatusPacked.Value, 4);
QZ45_ASSERT_AT(EventValue, Payload.DoubleStatusPacked.Status, 12);
QZ45_ASSERT_AT(EventValue, Payload.DoubleStatusPacked.Level, 14);
QZ45_ASSERT_AT(EventValue, Payload.DoubleStatusPacked.FAST, 16);
QZ45_ASSERT_AT(EventValue, Payload.DoubleStatusPacked.SLOW, 20);
QZ45_ASSERT_END(DoubleStatusPacked, 24);

QZ45_ASSERT_AT(EventValue, Payload.Stamp.secs, 4);
QZ45_ASSERT_AT(EventValue, Payload.Stamp.usecs, 8);
QZ45_ASSERT_END(Stamp, 12);
QZ45_ASSERT_AT(EventValue, Payload.Int16StatusStamp.Value, 4);
QZ45_ASSERT_AT(EventValue, Payload.Int16StatusStamp.Status, 6);
QZ45_ASSERT_AT(EventValue, Payload.Int16StatusStamp.Level, 8);
QZ45_ASSERT_AT(EventValue, Payload.Int16StatusStamp.secs, 12);
QZ45_ASSERT_AT(EventValue, Payload.Int16StatusStamp.usecs, 16);
QZ45_ASSERT_END(Int16StatusStamp, 20);
QZ45_ASSERT_AT(EventValue, Payload.Int32StatusStamp.Value, 4);
QZ45_ASSERT_AT(EventValue, Payload.Int32StatusStamp.Status, 8);
QZ45_ASSERT_AT(EventValue, Payload.Int32StatusStamp.Level, 10);
QZ45_ASSERT_AT(EventValue, Payload.Int32StatusStamp.secs, 12);
QZ45_ASSERT_AT(EventValue, Payload.Int32StatusStamp.usecs, 16);
QZ45_ASSERT_END(Int32StatusStamp, 20);
QZ45_ASSERT_AT(EventValue, Payload.SingleStatusStamp.Value, 4);
QZ45_ASSERT_AT(EventValue, Payload.SingleStatusStamp.Status, 8);
QZ45_ASSERT_AT(EventValue, Payload.SingleStatusStamp.Level, 10);
QZ45_ASSERT_AT(EventValue, Payload.SingleStatusStamp.secs, 12);
QZ45_ASSERT_AT(EventValue, Payload.SingleStatusStamp.usecs, 16);
QZ45_ASSERT_END(SingleStatusStamp, 20);
QZ45_ASSERT_AT(EventValue, Payload.DoubleStatusStamp.Value, 4);
QZ45_ASSERT_AT(EventValue, Payload.DoubleStatusStamp.Status, 12);
QZ45_ASSERT_AT(EventValue, Payload.DoubleStatusStamp.Level, 14);
QZ45_ASSERT_AT(EventValue, Payload.DoubleStatusStamp.secs, 16);
QZ45_ASSERT_AT(EventValue, Payload.DoubleStatusStamp.usecs, 20);
QZ45_ASSERT_END(DoubleStatusStamp, 24);

QZ45_ASSERT_AT(EventValue, Payload.TextRef.Text, 4);
QZ45_ASSERT_AT(EventValue, Payload.TextRefPacked.Text, 4);
QZ45_ASSERT_AT(EventValue, Payload.TextRefStamp.Text, 4);
/* In the 32-bit layout of the text by address the address takes 4 bytes; in
 * the 64-bit layout it takes 8 and the members behind it move back by 4 (the
 * block keeps its 608 bytes). Measured with sizeof, not UINTPTR_MAX, which
 * C++98 does not define without __STDC_LIMIT_MACROS. */
#define QZ45_TEXT_REF_SHIFT (sizeof(void *) - 4)
QZ45_ASSERT_AT(EventValue, Payload.TextRef.TextLen, 8 + QZ45_TEXT_REF_SHIFT);
QZ45_ASSERT_AT(EventValue, Payload.TextRef.Status, 12 + QZ45_TEXT_REF_SHIFT);
QZ45_ASSERT_AT(EventValue, Payload.TextRef.Level, 14 + QZ45_TEXT_REF_SHIFT);
QZ45_ASSERT_END(TextRef, 16 + QZ45_TEXT_REF_SHIFT);
QZ45_ASSERT_AT(EventValue, Payload.TextRefPacked.TextLen, 8 + QZ45_TEXT_REF_SHIFT);
QZ45_ASSERT_AT(EventValue, Payload.TextRefPacked.Status, 12 + QZ45_TEXT_REF_SHIFT);
QZ45_ASSERT_AT(EventValue, Payload.TextRefPacked.Level, 14 + QZ45_TEXT_REF_SHIFT);
QZ45_ASSERT_AT(EventValue, Payload.TextRefPacked.FAST, 16 + QZ45_TEXT_REF_SHIFT);
QZ45_ASSERT_AT(EventValue, Payload.TextRefPacked.SLOW, 20 + QZ45_TEXT_REF_SHIFT);
QZ45_ASSERT_END(TextRefPacked, 24 + QZ45_TEXT_REF_SHIFT);
QZ45_ASSERT_AT(EventValue, Payload.TextRefStamp.TextLen, 8 + QZ45_TEXT_REF_SHIFT);
QZ45_ASSERT_AT(EventValue, Payload.TextRefStamp.Status, 12 + QZ45_TEXT_REF_SHIFT);
QZ45_ASSERT_AT(EventValue, Payload.TextRefStamp.Level, 14 + QZ45_TEXT_REF_SHIFT);
QZ45_ASSERT_AT(EventValue, Payload.TextRefStamp.secs, 16 + QZ45_TEXT_REF_SHIFT);
QZ45_ASSERT_AT(EventValue, Payload.TextRefStamp.usecs, 20 + QZ45_TEXT_REF_SHIFT);
QZ45_ASSERT_END(TextRefStamp, 24 + QZ45_TEXT_REF_SHIFT);
#undef QZ45_TEXT_REF_SHIFT
#undef QZ45_ASSERT_END

QZ45_STATIC_ASSERT(sizeof(EventRecord) == 6364, "EventRecord size");
QZ45_ASSERT_AT(EventRecord, Path, 0);
QZ45_ASSERT_AT(EventRecord, AppName, 256);
QZ45_ASSERT_AT(EventRecord, User, 512);
QZ45_ASSERT_AT(EventRecord, Domain, 768);
QZ45_ASSERT_AT(EventRecord, EventTime, 1024);
QZ45_ASSERT_AT(EventRecord, Message, 1032);
QZ45_ASSERT_AT(EventRecord, AuditTrail, 3080);
QZ45_ASSERT_AT(EventRecord, Type, 3084);
QZ45_ASSERT_AT(EventRecord, RefId, 3088);
QZ45_ASSERT_AT(EventRecord, AppKey, 3344);
QZ45_ASSERT_AT(EventRecord, Severity, 3600);
QZ45_ASSERT_AT(EventRecord, Descriptor, 3604);
QZ45_ASSERT_AT(EventRecord, DescriptorType, 4116);
QZ45_ASSERT_AT(EventRecord, Area, 4372);
QZ45_ASSERT_AT(EventRecord, Unit, 4628);
QZ45_ASSERT_AT(EventRecord, Property, 4884);
QZ45_ASSERT_AT(EventRecord, History, 5140);
QZ45_ASSERT_AT(EventRecord, OldValue, 5148);
QZ45_ASSERT_AT(EventRecord, NewValue, 5756);
QZ45_ASSERT_AT(EventRecord, OldValue.Payload, 5152);
QZ45_ASSERT_AT(EventRecord, NewValue.Payload, 5760);

/* ------------------------------------------------------------------ */
/* Exports. All are cdecl with plain, undecorated names.               */
/* ------------------------------------------------------------------ */

/* Fill the general part of a record. Every argument but record and status
 * may be null: its field stays zero, except auditTrail, whose null sets 1.
 * A text longer than its field allows gives EVT_E_TOO_LONG. */
QZ45_API void QZ45_CALL PopulateGeneralSystemEvent(
    EventRecord *record, const char *path, const char *appName,
    const char *user, const char *domain, const TimeStamp *eventTime,
    const char *message, const int32_t *auditTrail, const int32_t *type,
    const char *refId, const char *appKey, const int32_t *severity,
    int16_t *status);

/* Fill the general and the descriptor part of a record. */
QZ45_API void QZ45_CALL PopulateChangeValueEvent(
    EventRecord *record, const char *path, const char *appName,
    const char *user, const char *domain, const TimeStamp *eventTime,
    const char *message, const int32_t *auditTrail, const int32_t *type,
    const char *refId, const char *appKey, const int32_t *severity,
    const char *descriptor, const char *descriptorType, const char *area,
    const char *unit, const char *property, const TimeStamp *history,
    const EventValue *oldValue, const EventValue *newValue,
    int16_t *status);

/* Open a use of the library. The first open joins the calling thread to a
 * COM apartment (multithreaded, or the thread's single-threaded one) and
 * connects to the audit service; further opens only count. Returns S_OK, or
 * the failure of the apartment join or of the connection (nothing stays
 * open then). Optional: without an open use, every event connects and
 * disconnects on its own. */
QZ45_API QZ45_HRESULT QZ45_CALL InitializeQZ45AlarmEvent(void);

/* Close a use. The close of the last one disconnects from the audit service
 * (its result is returned) and leaves the apartment the first open joined.
 * S_OK when no use is open. */
QZ45_API QZ45_HRESULT QZ45_CALL UninitializeQZ45AlarmEvent(void);

/* Join the calling thread to a COM apartment with the library's policy
 * (multithreaded, or the thread's single-threaded one). Returns the result
 * of the last CoInitializeEx call. Does not count. */
QZ45_API QZ45_HRESULT QZ45_CALL QZ45AlarmEventCoInit(void);

/* Leave the apartment joined by the last successful QZ45AlarmEventCoInit,
 * if any. Always S_OK. */
QZ45_API QZ45_HRESULT QZ45_CALL QZ45AlarmEventCoUninit(void);

/* Deliver one record to the audit service. The record is completed in place
 * (Path, AppKey, AppName, EventTime and per type Descriptor, DescriptorType,
 * Property). status->status receives EVT_SUCCESS, EVT_E_BAD_TYPE,
 * EVT_E_APARTMENT, EVT_E_SERVICE or EVT_E_INVALID; status->hresult is written
 * once delivery is attempted: with EVT_SUCCESS (the service's result),
 * EVT_E_APARTMENT (the apartment join's failure) and EVT_E_SERVICE. After
 * three service failures in a row, delivery stops for the life of the
 * process and sends report success without writing hresult. */
QZ45_API void QZ45_CALL SendQZ45Event(EventRecord *record, EventStatus *status);

#if defined(__cplusplus)
}
#endif

#endif /* QZ45ALARMEVENT_API_H */
