/*
 * The audit service as qz45alarmevent_api uses it: six COM classes, created
 * in process, and the interfaces the library calls on them.
 *
 * A component that implements the audit service includes this header and
 * nothing else of ours. C++17 or later; interfaces are C++ structs with
 * pure virtual methods, as COM lays them out.
 *
 * Objects and their own interfaces:
 *   CLSID_ClientContext       IClientContext       the application and user identity
 *   CLSID_EventLogger         IEventLogger         takes submitted events
 *   CLSID_SystemEvent         ISystemEvent         created and held, never called
 *   CLSID_GeneralEvent        IGeneralEvent        one general event, reset for each use
 *   CLSID_ChangeEvent         IChangeEvent         one change event
 *   CLSID_HistoryChangeEvent  IHistoryChangeEvent  one history change event
 * Each event object also answers QueryInterface for ILoggableEvent, the
 * interface IEventLogger::Submit takes.
 *
 * Every method returns an HRESULT. Arguments are inputs passed by value; the
 * caller keeps ownership of every BSTR and VARIANT it passes. The caller
 * ignores the results of the property setters; Reset, SetIdentity and Submit
 * decide whether an event is delivered.
 *
 * The vtable order of every interface is part of the binary contract: never
 * insert, remove or reorder a method.
 */
#ifndef QZ45AUDIT_SERVICE_H
#define QZ45AUDIT_SERVICE_H

#if !defined(__cplusplus) || __cplusplus < 201703L
#  error "qz45audit_service.h needs C++17 or later"
#endif

#include <windows.h>
#include <unknwn.h>
#include <oaidl.h>

#if !defined(__CRT_UUID_DECL)
#  define __CRT_UUID_DECL(type, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)
#endif

/* Declares the interface `name`, its identifier IID_name and, where the
 * compiler supports it, __uuidof(name) for IID_PPV_ARGS. */
#define QZ45_AUDIT_IID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                  \
    struct name;                                                                         \
    inline constexpr IID IID_##name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}};     \
    __CRT_UUID_DECL(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)

#define QZ45_AUDIT_CLSID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    inline constexpr CLSID CLSID_##name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}};

/* ---- Class identifiers ------------------------------------------------ */
QZ45_AUDIT_CLSID(ClientContext, 0x53121F18, 0x68FB, 0x4B86,
                 0xA7, 0xCE, 0x01, 0x87, 0x9F, 0x25, 0xF5, 0x70)
QZ45_AUDIT_CLSID(EventLogger, 0x31F3A261, 0xC09F, 0x4655,
                 0xAE, 0x58, 0x42, 0x84, 0xD2, 0xF6, 0xF3, 0x4E)
QZ45_AUDIT_CLSID(SystemEvent, 0x1953187F, 0x7FC1, 0x40BB,
                 0x85, 0xB0, 0xAB, 0x89, 0x7F, 0x9F, 0xD0, 0x5A)
QZ45_AUDIT_CLSID(GeneralEvent, 0xFC2E6357, 0x1F60, 0x462E,
                 0xBB, 0x03, 0xC8, 0x99, 0x54, 0x84, 0x36, 0xCD)
QZ45_AUDIT_CLSID(ChangeEvent, 0x1DB64742, 0xEB94, 0x4D72,
                 0x96, 0xEA, 0xFC, 0x8A, 0x1C, 0x07, 0xB9, 0x36)
QZ45_AUDIT_CLSID(HistoryChangeEvent, 0xFF538D3A, 0x209D, 0x48A5,
                 0xA9, 0xB2, 0x8D, 0x7A, 0x9F, 0x10, 0xCB, 0xEF)

/* ---- Interface identifiers ------------------------------------------- */
QZ45_AUDIT_IID(IClientContext, 0xB2411B79, 0xF18F, 0x4E32,
               0xB2, 0x86, 0x8D, 0x31, 0x32, 0x00, 0x26, 0x79)
QZ45_AUDIT_IID(IEventLogger, 0xCB2A4637, 0x9AD4, 0x4455,
               0xAB, 0x3B, 0x5C, 0xC0, 0x09, 0xFC, 0x35, 0xE1)
QZ45_AUDIT_IID(ILoggableEvent, 0x48AA0521, 0x9908, 0x47B2,
               0x8E, 0x45, 0x43, 0xC2, 0xA9, 0x4F, 0x77, 0xB3)
QZ45_AUDIT_IID(ISystemEvent, 0x26887DA2, 0xBF91, 0x4DCE,
               0xAA, 0x05, 0x01, 0xEA, 0x64, 0x1A, 0x1A, 0x5F)
QZ45_AUDIT_IID(IGeneralEvent, 0x697F85D9, 0x78E0, 0x4E12,
               0x9F, 0x78, 0x85, 0xD4, 0x26, 0x39, 0xF6, 0xD3)
QZ45_AUDIT_IID(IChangeEvent, 0xE987BD6D, 0xCCF8, 0x484D,
               0x96, 0xEA, 0xFE, 0x41, 0x11, 0x48, 0x9C, 0x50)
QZ45_AUDIT_IID(IHistoryChangeEvent, 0xB06AEB3E, 0x47AA, 0x4A41,
               0x98, 0xF0, 0xBD, 0x1E, 0x6D, 0xF6, 0x8D, 0x18)

/* ---- Interfaces ------------------------------------------------------- */

/* The application and the user on whose behalf events are logged. */
struct IClientContext : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetAppName(BSTR appName) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIdentity(BSTR user, BSTR domain,
                                                  BSTR applicationId) = 0;
};

/* The face of an event object that the logger takes. */
struct ILoggableEvent : public IUnknown {};

/* Takes one filled event object. Success means the event was delivered. */
struct IEventLogger : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Submit(ILoggableEvent *event) = 0;
};

/* Created and held with the other objects; the library calls nothing on it. */
struct ISystemEvent : public IUnknown {};

/* The first nine methods of every event interface, in vtable order. */
#define QZ45_AUDIT_EVENT_COMMON_METHODS                                         \
    virtual HRESULT STDMETHODCALLTYPE SetAppKey(BSTR appKey) = 0;               \
    virtual HRESULT STDMETHODCALLTYPE SetContext(IClientContext *context) = 0;  \
    virtual HRESULT STDMETHODCALLTYPE SetMessage(BSTR message) = 0;             \
    virtual HRESULT STDMETHODCALLTYPE SetEventTime(DATE eventTime) = 0;         \
    virtual HRESULT STDMETHODCALLTYPE SetSeverity(LONG severity) = 0;           \
    virtual HRESULT STDMETHODCALLTYPE SetRefId(BSTR refId) = 0;                 \
    virtual HRESULT STDMETHODCALLTYPE SetCategory(LONG category) = 0;           \
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;                              \
    virtual HRESULT STDMETHODCALLTYPE SetAuditTrail(VARIANT_BOOL auditTrail) = 0;

/* The descriptor block of the two change interfaces, in vtable order. */
#define QZ45_AUDIT_CHANGE_DESCRIPTOR_METHODS                                    \
    virtual HRESULT STDMETHODCALLTYPE SetDescriptor(BSTR descriptor) = 0;       \
    virtual HRESULT STDMETHODCALLTYPE SetDescriptorType(BSTR descriptorType) = 0; \
    virtual HRESULT STDMETHODCALLTYPE SetUnit(BSTR unit) = 0;                   \
    virtual HRESULT STDMETHODCALLTYPE SetProperty(BSTR property) = 0;           \
    virtual HRESULT STDMETHODCALLTYPE SetOldValue(VARIANT oldValue) = 0;        \
    virtual HRESULT STDMETHODCALLTYPE SetNewValue(VARIANT newValue) = 0;

/* A general event: one value. */
struct IGeneralEvent : public IUnknown {
    QZ45_AUDIT_EVENT_COMMON_METHODS
    virtual HRESULT STDMETHODCALLTYPE SetPath(BSTR path) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetArea(BSTR area) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDescriptor(BSTR descriptor) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDescriptorType(BSTR descriptorType) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetUnit(BSTR unit) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProperty(BSTR property) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetValue(VARIANT value) = 0;
};

/* A change of a value: old and new. */
struct IChangeEvent : public IUnknown {
    QZ45_AUDIT_EVENT_COMMON_METHODS
    QZ45_AUDIT_CHANGE_DESCRIPTOR_METHODS
    virtual HRESULT STDMETHODCALLTYPE SetPath(BSTR path) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetArea(BSTR area) = 0;
};

/* A change of a history value: old, new and the history time. */
struct IHistoryChangeEvent : public IUnknown {
    QZ45_AUDIT_EVENT_COMMON_METHODS
    QZ45_AUDIT_CHANGE_DESCRIPTOR_METHODS
    virtual HRESULT STDMETHODCALLTYPE SetHistory(DATE history) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPath(BSTR path) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetArea(BSTR area) = 0;
};

#undef QZ45_AUDIT_EVENT_COMMON_METHODS
#undef QZ45_AUDIT_CHANGE_DESCRIPTOR_METHODS
#undef QZ45_AUDIT_IID
#undef QZ45_AUDIT_CLSID

#endif /* QZ45AUDIT_SERVICE_H */
