// A call run on the host's thread pool, with a completion record the caller waits on.
#include "cztasynccall.h"

#include "zt/zt_util.h"

CZtAsyncCall* CZtAsyncCall::Start(std::function<void()> work) {
    auto* call = new CZtAsyncCall(std::move(work));
    call->m_references.fetch_add(1);  // the caller's; the first is the worker's
    if (!ZT_QueueUserWorkItem(&CZtAsyncCall::Run, call, ZT_WORKITEM_LONGFUNCTION)) {
        delete call;
        return nullptr;
    }
    return call;
}

bool CZtAsyncCall::WaitAndRelease(ZT_DWORD timeoutMs) {
    const bool finished = m_done.Wait(timeoutMs) == ZT_WAIT_OBJECT_0;
    Release();
    return finished;
}

unsigned long CZtAsyncCall::Run(void* context) {
    auto* call = static_cast<CZtAsyncCall*>(context);
    call->m_work();
    call->m_work = nullptr;  // the bound references go with the call, not with the record
    call->m_done.Set();
    call->Release();
    return 0;
}

void CZtAsyncCall::Release() {
    if (m_references.fetch_sub(1) == 1) {
        delete this;
    }
}
