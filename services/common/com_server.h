// What every in-process COM server of the audit service needs: the class
// factory, reference counting with a module-wide object count, and the four
// Dll* entry points (class objects, unloading, registration).
//
// A server DLL links this library, lists its classes by defining
// ServerClasses(), and exports DllGetClassObject, DllCanUnloadNow,
// DllRegisterServer and DllUnregisterServer (defined here) in its .def file.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstddef>

namespace qz45svc {

// One class the server offers.
struct ServerClass {
    const CLSID *clsid;
    const char *name;  // the class's description in the registry
    // Makes one new object and asks it for iid; the object must be released
    // (deleted) again when that fails.
    HRESULT (*create)(REFIID iid, void **out);
};

// Defined by each server DLL: its classes.
const ServerClass *ServerClasses(std::size_t *count);

// Base of the server's objects: one reference count, and a share of the
// module's object count from construction to destruction, so that
// DllCanUnloadNow says no while any object lives.
class ServerObject {
public:
    ServerObject();
    virtual ~ServerObject();
    ServerObject(const ServerObject &) = delete;
    ServerObject &operator=(const ServerObject &) = delete;

protected:
    ULONG AddRefCount();
    // Drops one reference and deletes the object at zero; returns the count
    // left.
    ULONG ReleaseCount();
    ULONG RefCount() const { return static_cast<ULONG>(refs_); }

private:
    volatile LONG refs_ = 0;
};

// Objects alive in this module plus the server locks taken through
// IClassFactory::LockServer.
LONG ModuleUseCount();

// The module these functions are linked into.
HMODULE ServerModule();

}  // namespace qz45svc
