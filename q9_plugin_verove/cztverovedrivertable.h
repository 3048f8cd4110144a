// The drivers of the open devices by handle, for the SDK's event callback.
#pragma once

class CZtVeroveDriver;

// Thread-safe. The process-wide table from an open handle to its driver. It is never destroyed:
// the SDK may call back while the process exits.
class CZtVeroveDriverTable {
public:
    // driver is borrowed; it removes itself before it goes.
    static void Add(int handle, CZtVeroveDriver* driver);
    static void Remove(const CZtVeroveDriver* driver);

    // Registered with the proxy for "IsExposing": sets the exposure-end event of the handle's
    // driver when the device reports that its exposure ended.
    static void EventCallback(int handle, const wchar_t* feature);
};
