// The host's object model: CZtClass reference counting and the class factory CZtRTTI.
#include <cstring>

#include "classregistry.h"
#include "zt/zt_class.h"
#include "zt/zt_log.h"
#include "zt/zt_string.h"

long CZtClass::AddRef() {
    return ++m_refCount;
}

long CZtClass::Release() {
    const long count = --m_refCount;
    if (count == 0) {
        delete this;
    }
    return count;
}

void* CZtClass::QueryInterface(const char* interfaceName) {
    if (interfaceName && std::strcmp(interfaceName, "IZtInterface") == 0) {
        AddRef();
        return static_cast<IZtInterface*>(this);
    }
    return nullptr;
}

const wchar_t* CZtClass::GetClassName() const {
    return m_className.c_str();
}

void* CZtRTTI::CreateAndQuery(const char* className, const char* interfaceName) {
    if (!className || !interfaceName) {
        ZT_DIAG_OUTPUT(L"zthost %hs: null class or interface name", "CZtRTTI::CreateAndQuery");
        return nullptr;
    }
    const std::wstring name = CZtStringW::FromUtf8(className).Str();
    const ZT_CONSTRUCTOR constructor = ClassRegistry::Instance().Constructor(name);
    if (!constructor) {
        ZT_DIAG_OUTPUT(L"zthost %hs: class \"%hs\" is not registered", "CZtRTTI::CreateAndQuery",
                       className);
        return nullptr;
    }
    IZtInterface* object = constructor(__FILE__, __LINE__);
    if (!object) {
        ZT_DIAG_OUTPUT(L"zthost %hs: the constructor of class \"%hs\" failed",
                       "CZtRTTI::CreateAndQuery", className);
        return nullptr;
    }
    if (auto* base = dynamic_cast<CZtClass*>(object)) {
        base->m_className = name;
    }
    void* answer = object->QueryInterface(interfaceName);
    // The creation reference is ours; the caller keeps the one QueryInterface added.
    object->Release();
    if (!answer) {
        ZT_DIAG_OUTPUT(L"zthost %hs: class \"%hs\" does not answer interface \"%hs\"",
                       "CZtRTTI::CreateAndQuery", className, interfaceName);
    }
    return answer;
}

bool CZtRTTI::IsRegistered(const char* className) {
    return className &&
           ClassRegistry::Instance().Find(CZtStringW::FromUtf8(className).Str(), nullptr);
}
