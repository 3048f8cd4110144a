// SaveFileDialogs: the host's save-file dialog, answered from a queue when no GUI is shown.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "zthost/zthost.h"

// Thread-safe. With the GUI shown, the dialog itself runs on the GUI thread.
class SaveFileDialogs {
public:
    static SaveFileDialogs& Instance();

    // 0 with chosen filled, 1 when cancelled.
    int Show(const zthost::SaveFileDialogRecord& dialog, std::wstring* chosen);
    std::vector<zthost::SaveFileDialogRecord> Records();
    void QueueChoice(const std::wstring& path);
    void SetStoragePath(const std::wstring& folder);
    std::wstring StoragePath();
    // Forgets the records, queued choices and storage path.
    void Clear();

private:
    std::mutex m_mutex;
    std::vector<zthost::SaveFileDialogRecord> m_records;
    std::deque<std::wstring> m_choices;
    std::wstring m_storagePath;
};
