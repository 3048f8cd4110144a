// The host's object model: reference-counted classes, interfaces by name, and the class factory.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "zt/zt_export.h"

// Root of every host interface. QueryInterface answers the sub-object for an interface name
// (with a reference added) or null.
class IZtInterface {
public:
    virtual long AddRef() = 0;
    virtual long Release() = 0;
    virtual void* QueryInterface(const char* interfaceName) = 0;

protected:
    virtual ~IZtInterface() = default;
};

// The registration record of a class: what the host's class registry knows about it.
struct SZtClassRecord {
    std::wstring className;
    std::vector<std::wstring> parents;  // interface names the class implements
    int version = 0;
    std::wstring priority;
    std::wstring friendlyName;
};

// Signature of a class constructor exported by a plug-in as ZT_ConstructorFor<Class>.
// file and line tag the allocation for the host's leak reports.
using ZT_CONSTRUCTOR = IZtInterface* (*)(const char* file, int line);

// Thread-safe reference counting. Objects start with one reference owned by their creator and
// delete themselves when the last one is released.
class ZTHOST_API CZtClass : public virtual IZtInterface {
public:
    long AddRef() override;
    long Release() override;
    // Answers "IZtInterface"; derived classes answer their own interfaces first.
    void* QueryInterface(const char* interfaceName) override;
    // The class name the object was created under; empty for objects made without the registry.
    virtual const wchar_t* GetClassName() const;

protected:
    CZtClass() = default;
    ~CZtClass() override = default;

private:
    friend class CZtRTTI;  // names the object after the class it was created as
    std::atomic<long> m_refCount{1};
    std::wstring m_className;
};

// Thread-safe. The class factory.
class ZTHOST_API CZtRTTI {
public:
    // Creates an object of a registered class and returns its interface interfaceName, holding
    // one reference. Null (with a log line) for an unknown class, a constructor that fails, or an
    // interface the object does not answer; the object is released then.
    static void* CreateAndQuery(const char* className, const char* interfaceName);
    static bool IsRegistered(const char* className);
};
