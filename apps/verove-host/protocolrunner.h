// "Run protocol": the scenario's stimulations one after another on a work thread, as the host's
// experiment runs them, with their progress for the window.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "scenario.h"

class IZtStimulationDevice;

// Start on the GUI thread; the signals come from the work thread, queued to receivers there.
class ProtocolRunner : public QObject {
    Q_OBJECT

public:
    ~ProtocolRunner() override;

    // Runs each stimulation: StimulationBegin (run mode 2 holds the thread for the duration),
    // the rest of its duration, StimulationEnd. device is borrowed and must stay connected until
    // Finished or Cancel. False when a protocol runs already.
    bool Start(IZtStimulationDevice* device, const std::vector<ScenarioStimulationRun>& runs);
    bool Running() const { return m_running; }
    // Ends the stimulation that runs at once and runs no more; waits for the thread.
    void Cancel();

signals:
    // After each stimulation: how many are done, of how many, and one line on it.
    void Progress(int done, int total, const QString& line);
    void Finished(const QString& result);

private:
    void Run(IZtStimulationDevice* device, std::vector<ScenarioStimulationRun> runs);

    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_cancel = false;  // under m_mutex
};
