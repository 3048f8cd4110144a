// MessageBoxes: the host's message boxes, recorded and answered at once when no GUI is shown.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

#include "zthost/zthost.h"

class QWidget;

// Thread-safe. With the GUI shown, the box itself runs on the GUI thread.
class MessageBoxes {
public:
    static MessageBoxes& Instance();

    int Show(QWidget* parent, const std::wstring& text, const std::wstring& title, unsigned type);

    void SetGuiShown(bool shown) { m_guiShown = shown; }
    bool GuiShown() const { return m_guiShown; }
    std::vector<zthost::MessageBoxRecord> Records();
    void QueueAnswer(int answer);
    // Forgets the records and queued answers.
    void Clear();

private:
    int NextHeadlessAnswer(unsigned buttons);

    std::mutex m_mutex;
    std::vector<zthost::MessageBoxRecord> m_records;
    std::deque<int> m_answers;
    std::atomic<bool> m_guiShown{false};
};
