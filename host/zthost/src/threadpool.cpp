// The host's thread pool: work items on a QThreadPool of the host's own.
#include <QRunnable>
#include <QThreadPool>
#include <atomic>

#include "zt/zt_util.h"

namespace {

// Long items may block for seconds on a device; a pool the size of the machine's cores would
// let two of them hold back every other item.
constexpr int kLongItemThreads = 32;

// Its destructor at exit waits for the items still running: no pool thread is left detached.
QThreadPool& HostPool() {
    static QThreadPool pool;
    static const bool sized = [] {
        pool.setMaxThreadCount(kLongItemThreads);
        return true;
    }();
    (void)sized;
    return pool;
}

class WorkItem : public QRunnable {
public:
    WorkItem(ZT_WORK_ITEM function, void* context) : m_context(context) {
        // The pool hands the item over inside Qt; the release here and the acquire in run()
        // make that hand-over visible to race detectors too.
        m_function.store(function, std::memory_order_release);
    }
    void run() override {
        ZT_WORK_ITEM function = m_function.load(std::memory_order_acquire);
        function(m_context);
    }

private:
    std::atomic<ZT_WORK_ITEM> m_function;
    void* m_context;
};

}  // namespace

bool ZT_QueueUserWorkItem(ZT_WORK_ITEM function, void* context, unsigned long flags) {
    if (!function) {
        return false;
    }
    (void)flags;  // every item of this pool may run long
    HostPool().start(new WorkItem(function, context));
    return true;
}
