// Further Verove units and their aggregator, created and driven by the host program.
#include "unitaggregation.h"

#include <QFileInfo>

#include "iztstimulationdeviceaggregator.h"
#include "zt/zt_class.h"
#include "zt/zt_settings.h"
#include "zt/zt_stimulation.h"
#include "zt/zt_verovedevice.h"

namespace {

const char kAggregatorName[] = "CZtVeroveAggregator";

}  // namespace

UnitAggregation::~UnitAggregation() {
    Release();
    for (IZtStimulationDevice* unit : m_units) {
        unit->Release();
    }
}

bool UnitAggregation::ConnectFurther(int units, std::uint32_t brand, QString* detail) {
    IZtStimulationDeviceManager* manager = CZtStimulationDeviceManager::GetInstance();
    for (int unit = 1; unit < units; ++unit) {
        auto* device = static_cast<IZtStimulationDevice*>(
            CZtRTTI::CreateAndQuery("CZtStimulationDeviceVerove", "IZtStimulationDevice"));
        if (!device) {
            *detail = "the plug-in offers no \"CZtStimulationDeviceVerove\"";
            return false;
        }
        // The device class's own operations, reached by their slots as the host does.
        auto* operations = static_cast<IZtVeroveDeviceOperations*>(device);
        const std::wstring name = L"CZtStimulationDeviceVerove_" + std::to_wstring(unit);
        operations->SetUniqueName(name.c_str());
        operations->SetGUIElementName(L"Verove");
        if (!operations->Connect(true, brand, unit)) {
            device->Release();
            *detail = QStringLiteral("unit %1 did not connect").arg(unit + 1);
            return false;
        }
        SZtStimulationDeviceRecord record;
        record.typeName = L"Unknown";
        record.uniqueName = name.c_str();
        record.device = device;
        if (manager->StaticDeviceAdd(record) != 0) {
            operations->Connect(false, brand, -1);
            device->Release();
            *detail = QStringLiteral("the host refused to register unit %1").arg(unit + 1);
            return false;
        }
        m_units.push_back(device);
        m_names.push_back(name);
    }
    manager->Update();
    return true;
}

bool UnitAggregation::DisconnectFurther(std::uint32_t brand) {
    IZtStimulationDeviceManager* manager = CZtStimulationDeviceManager::GetInstance();
    bool all = true;
    for (size_t i = 0; i < m_units.size(); ++i) {
        all = static_cast<IZtVeroveDeviceOperations*>(m_units[i])->Connect(false, brand, -1) && all;
        manager->StaticDeviceRemove(QString::fromStdWString(m_names[i]).toLatin1().constData());
        m_units[i]->Release();
    }
    m_units.clear();
    m_names.clear();
    manager->Update();
    return all;
}

int UnitAggregation::Create(const wchar_t* deviceClass) {
    Release();
    auto* device = static_cast<IZtStimulationDevice*>(
        CZtRTTI::CreateAndQuery(kAggregatorName, "IZtStimulationDevice"));
    auto* aggregator = device ? static_cast<IZtStimulationDeviceAggregator*>(
                                    device->QueryInterface("IZtStimulationDeviceAggregator"))
                              : nullptr;
    if (!aggregator) {
        if (device) {
            device->Release();
        }
        return kNoAggregatorClass;
    }
    IZtStimulationDeviceManager* manager = CZtStimulationDeviceManager::GetInstance();
    // -9 after a successful discovery: the aggregator does not read the stored assignment
    // then, and the default assignment stands.
    const int status = aggregator->Initialize(manager, deviceClass);
    aggregator->Release();
    if (status != 0 && status != -9) {
        device->Release();
        return status;
    }
    SZtStimulationDeviceRecord record;
    record.typeName = L"Unknown";
    record.uniqueName = device->GetUniqueName();
    record.device = device;
    if (manager->StaticDeviceAdd(record) != 0) {
        if (auto* releasing = static_cast<IZtStimulationDeviceAggregator*>(
                device->QueryInterface("IZtStimulationDeviceAggregator"))) {
            releasing->ReleaseDevices();
            releasing->Release();
        }
        device->Release();
        return kNotRegistered;
    }
    manager->Update();
    m_aggregator = device;
    return status;
}

void UnitAggregation::Release() {
    if (!m_aggregator) {
        return;
    }
    IZtStimulationDeviceManager* manager = CZtStimulationDeviceManager::GetInstance();
    const QString name = QString::fromWCharArray(m_aggregator->GetUniqueName().GetString());
    manager->StaticDeviceRemove(name.toLatin1().constData());
    manager->Update();
    // The devices hold the aggregator while they are aggregated; detaching them (which saves the
    // assignment) lets the last reference destroy it.
    if (auto* aggregator = static_cast<IZtStimulationDeviceAggregator*>(
            m_aggregator->QueryInterface("IZtStimulationDeviceAggregator"))) {
        aggregator->ReleaseDevices();
        aggregator->Release();
    }
    m_aggregator->Release();
    m_aggregator = nullptr;
}

std::vector<StoredUnitGroups> UnitAggregation::StoredAssignment(const QString& settingsFile) {
    std::vector<StoredUnitGroups> stored;
    CZtLoadSettingsManager manager;
    const QString name = QFileInfo(settingsFile).completeBaseName();
    if (manager.PrepareLoading(name.toStdWString().c_str(), 1, nullptr) != 1) {
        return stored;
    }
    CZtLiteVariantR* reader = manager.GetLiteVariant(0);
    if (!reader || reader->OpenLevel(L"Verove") != 0 ||
        reader->OpenLevel(L"VeroveAggregator") != 0 || reader->OpenLevel(L"ROIAssignment") != 0) {
        return stored;
    }
    for (int at = reader->FirstChild(); at == 0; at = reader->NextChild()) {
        if (reader->OpenChild() != 0) {
            continue;
        }
        StoredUnitGroups unit;
        unit.device = reader->GetString(L"DeviceToROIName", L"").Str();
        const std::uint32_t count = reader->GetUInt(L"DeviceToROICount", 0);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::wstring key = L"Item_" + std::to_wstring(i);
            const std::uint32_t group = reader->GetUInt(key.c_str(), 0);
            unit.mask |= group < 32 ? 1u << group : 0u;
        }
        stored.push_back(unit);
        reader->CloseLevel();
    }
    return stored;
}
