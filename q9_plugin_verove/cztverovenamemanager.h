// The brand names under which the device is shown: the host's device list, the pad and its tab.
#pragma once

#include <memory>

// Reentrant: the providers are stateless; the texts they return live for the program's lifetime.
class IZtVeroveNameProvider {
public:
    virtual ~IZtVeroveNameProvider() = default;
    virtual const wchar_t* GetName() = 0;          // internal name
    virtual const wchar_t* GetSettingsName() = 0;  // internal settings-section name
    virtual const wchar_t* GetDisplayName() = 0;   // translated
    virtual const wchar_t* GetDeviceName() = 0;    // translated
};

class CZtVeroveNameProviderAndor : public IZtVeroveNameProvider {
public:
    const wchar_t* GetName() override { return L"AndorVerove"; }
    const wchar_t* GetSettingsName() override { return L"AndorVeroveSettings"; }
    const wchar_t* GetDisplayName() override;
    const wchar_t* GetDeviceName() override { return GetDisplayName(); }
};

class CZtVeroveNameProviderVelmar : public IZtVeroveNameProvider {
public:
    const wchar_t* GetName() override { return L"VelmarDMD"; }
    const wchar_t* GetSettingsName() override { return L"VelmarDMDSettings"; }
    const wchar_t* GetDisplayName() override;
    const wchar_t* GetDeviceName() override { return GetDisplayName(); }
};

class CZtVeroveNameProviderNone : public IZtVeroveNameProvider {
public:
    const wchar_t* GetName() override { return L""; }
    const wchar_t* GetSettingsName() override { return L""; }
    const wchar_t* GetDisplayName() override { return L""; }
    const wchar_t* GetDeviceName() override { return L""; }
};

// Thread-bound to the host's main thread: the brand is chosen when a device connects, and every
// device of the process shares it.
class CZtVeroveNameManager : public IZtVeroveNameProvider {
public:
    static CZtVeroveNameManager& Instance();

    // 1 Andor, 2 Velmar, anything else no names.
    void SetBrand(int brand);
    int GetBrand() const { return m_brand; }

    const wchar_t* GetName() override { return m_provider->GetName(); }
    const wchar_t* GetSettingsName() override { return m_provider->GetSettingsName(); }
    const wchar_t* GetDisplayName() override { return m_provider->GetDisplayName(); }
    const wchar_t* GetDeviceName() override { return m_provider->GetDeviceName(); }

private:
    CZtVeroveNameManager() { SetBrand(2); }

    int m_brand = 2;
    IZtVeroveNameProvider* m_provider = nullptr;  // one of the stateless singletons below
};
