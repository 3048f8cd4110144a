// The host's open documents and live mode, with their exported functions (zt/zt_document.h,
// zt/zt_acquisition.h, zt/zt_camera.h) and control side (zthost/camera_control.h).
#include "documentstore.h"

#include <algorithm>

#include "hostcontext.h"
#include "zt/zt_camera.h"
#include "zthost/camera_control.h"

DocumentStore& DocumentStore::Instance() {
    // Never destroyed: plug-ins may release documents at exit.
    static DocumentStore* const store = new DocumentStore;
    return *store;
}

void DocumentStore::MakeCurrentLocked(Document* document) {
    std::erase(m_activation, document);
    m_activation.push_back(document);
}

Document* DocumentStore::FindCaptureLocked(ZT_DWORD tag) {
    for (auto it = m_activation.rbegin(); it != m_activation.rend(); ++it) {
        if ((*it)->GetType() == ZT_DOCTYPE_CAPTURE && (*it)->GetTag() == tag) {
            return *it;
        }
    }
    return nullptr;
}

void DocumentStore::Add(Document* document) {
    std::lock_guard lock(m_mutex);
    document->AddRef();
    m_documents.push_back(document);
    MakeCurrentLocked(document);
}

Document* DocumentStore::Current() {
    std::lock_guard lock(m_mutex);
    if (m_activation.empty()) {
        return nullptr;
    }
    m_activation.back()->AddRef();
    return m_activation.back();
}

Document* DocumentStore::FindCapture(ZT_DWORD tag) {
    std::lock_guard lock(m_mutex);
    Document* document = FindCaptureLocked(tag);
    if (document) {
        document->AddRef();
    }
    return document;
}

int DocumentStore::Activate(Document* document, int view) {
    std::lock_guard lock(m_mutex);
    if (std::find(m_documents.begin(), m_documents.end(), document) == m_documents.end() ||
        !document->HasView(view)) {
        return -5;
    }
    document->SetActiveView(view);
    MakeCurrentLocked(document);
    return 0;
}

int DocumentStore::CloseCurrent() {
    Document* document = nullptr;
    bool liveStopped = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_activation.empty()) {
            return -5;
        }
        document = m_activation.back();
        m_activation.pop_back();
        std::erase(m_documents, document);
        if (document == m_liveDocument) {
            m_liveDocument = nullptr;
            liveStopped = true;
        }
        document->SetOpen(false);
    }
    document->Release();
    if (liveStopped) {
        zthost::NotifyLiveChanged(false, false);
    }
    return 0;
}

int DocumentStore::StartLive(int mode, bool requireCamera) {
    if (mode < 1) {
        return -4;
    }
    SZtPictureMetadata camera;
    const int status = ZT_GetGrabberPictureMetadata(&camera);
    if (status != 0 && requireCamera) {
        return status;
    }
    const bool hasCamera = status == 0;
    const ZT_DWORD tag = hasCamera ? static_cast<ZT_DWORD>(camera.cameraIndex) : 0;
    bool wasLive = false;
    Document* document = nullptr;
    {
        std::lock_guard lock(m_mutex);
        wasLive = m_liveDocument != nullptr;
        document = wasLive ? m_liveDocument : FindCaptureLocked(tag);
        if (!document) {
            document = new Document(ZT_DOCTYPE_CAPTURE, hasCamera ? camera.cameraName.Str() : L"");
            document->SetTag(tag);
            int view = 0;
            document->AddView(&view);
            document->SetActiveView(view);
            m_documents.push_back(document);
        }
        m_liveMode = mode;
        m_liveDocument = document;
        MakeCurrentLocked(document);
        document->AddRef();  // for the first frame below
    }
    if (hasCamera) {
        CZtGrabberSample sample;
        if (sample.Capture() == 0) {
            document->LoadSample(&sample, nullptr);
        }
    }
    document->Release();
    if (!wasLive) {
        zthost::NotifyLiveChanged(true, false);
    }
    return 0;
}

void DocumentStore::Freeze() {
    bool wasLive = false;
    {
        std::lock_guard lock(m_mutex);
        wasLive = m_liveDocument != nullptr;
        m_liveDocument = nullptr;
    }
    if (wasLive) {
        zthost::NotifyLiveChanged(false, false);
    }
}

bool DocumentStore::IsLive() {
    std::lock_guard lock(m_mutex);
    return m_liveDocument != nullptr;
}

int DocumentStore::LiveMode() {
    std::lock_guard lock(m_mutex);
    return m_liveMode;
}

bool DocumentStore::HasCaptureDocument() {
    std::lock_guard lock(m_mutex);
    return std::any_of(m_documents.begin(), m_documents.end(),
                       [](Document* d) { return d->GetType() == ZT_DOCTYPE_CAPTURE; });
}

int DocumentStore::GrabLiveFrame() {
    Document* document = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (!m_liveDocument) {
            return -9;
        }
        document = m_liveDocument;
        document->AddRef();
    }
    CZtGrabberSample sample;
    int status = sample.Capture();
    if (status == 0) {
        status = document->LoadSample(&sample, nullptr);
    }
    document->Release();
    return status;
}

int DocumentStore::GetDocumentFormat(SZtGrabberFormatDesc* format) {
    if (!format) {
        return -4;
    }
    SZtGrabberFormatDesc read;
    bool known = false;
    bool live = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_activation.empty()) {
            return -5;
        }
        live = m_activation.back() == m_liveDocument;
        known = !live && m_activation.back()->Format(&read);
    }
    if (live) {
        IZtGrabberProvider* grabber = HostContext::Instance().GetGrabberProvider();
        known = grabber && grabber->CameraSettingsGet(&read) == 0;
    }
    const SZtRect& rect = read.value.imageRect;
    if (!known || rect.right <= rect.left || rect.bottom <= rect.top) {
        return -5;
    }
    *format = read;
    return 0;
}

std::vector<zthost::DocumentInfo> DocumentStore::Infos() {
    std::lock_guard lock(m_mutex);
    std::vector<zthost::DocumentInfo> infos;
    for (Document* document : m_documents) {
        infos.push_back(document->Info());
        infos.back().current = document == m_activation.back();
        infos.back().live = document == m_liveDocument;
    }
    return infos;
}

int DocumentStore::Picture(std::size_t index, SZtPicBuf* picture) {
    std::lock_guard lock(m_mutex);
    return index < m_documents.size() ? m_documents[index]->GetPicture(picture) : -5;
}

void DocumentStore::Clear() {
    std::vector<Document*> documents;
    {
        std::lock_guard lock(m_mutex);
        documents.swap(m_documents);
        m_activation.clear();
        m_liveMode = 1;
        m_liveDocument = nullptr;
    }
    for (Document* document : documents) {
        document->SetOpen(false);
        document->Release();
    }
}

// ---- Plug-in side ------------------------------------------------------------------------------

IZtDocument* ZT_GetCurrentDocument() {
    return DocumentStore::Instance().Current();
}

IZtDocument* ZT_FindCaptureDocument(ZT_DWORD tag) {
    return DocumentStore::Instance().FindCapture(tag);
}

int ZT_CreateDocumentFromSample(const CZtGrabberSample* sample, const wchar_t* title,
                                IZtDocument** document) {
    if (!sample || !title || !document) {
        return -4;
    }
    if (sample->IsEmpty()) {
        return -9;
    }
    auto* created = new Document(ZT_DOCTYPE_CAPTURE, title);  // the caller's reference
    const int status = created->LoadSample(sample, nullptr);
    if (status != 0) {
        created->Release();
        return status;
    }
    DocumentStore::Instance().Add(created);
    *document = created;
    return 0;
}

int ZT_CloseCurrentDocument() {
    return DocumentStore::Instance().CloseCurrent();
}

int ZT_LiveStart(int mode) {
    return DocumentStore::Instance().StartLive(mode, true);
}

int ZT_Freeze() {
    DocumentStore::Instance().Freeze();
    return 0;
}

bool ZT_IsLive() {
    return DocumentStore::Instance().IsLive();
}

int ZT_GetLiveMode() {
    return DocumentStore::Instance().LiveMode();
}

bool ZT_HasLiveOrFrozenDocument() {
    return DocumentStore::Instance().HasCaptureDocument();
}

int ZT_GetDocumentCameraFormat(SZtGrabberFormatDesc* format) {
    return DocumentStore::Instance().GetDocumentFormat(format);
}

// ---- Control side ------------------------------------------------------------------------------

namespace zthost {

void OpenCameraDocument() {
    DocumentStore::Instance().StartLive(1, false);
}

void OpenDocument(const SZtGrabberFormatDesc& format) {
    auto* document = new Document(ZT_DOCTYPE_PICTURE, L"Picture");
    document->SetFormat(format);
    DocumentStore::Instance().Add(document);
    document->Release();
}

void CloseDocument() {
    while (DocumentStore::Instance().CloseCurrent() == 0) {
    }
}

std::vector<DocumentInfo> Documents() {
    return DocumentStore::Instance().Infos();
}

int DocumentPicture(std::size_t index, SZtPicBuf* picture) {
    return DocumentStore::Instance().Picture(index, picture);
}

int GrabLiveFrame() {
    return DocumentStore::Instance().GrabLiveFrame();
}

}  // namespace zthost
