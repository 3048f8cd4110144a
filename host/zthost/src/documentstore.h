// DocumentStore: the host's open documents, the current one, and live mode.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "document.h"
#include "zt/zt_grabber.h"

// Thread-safe; every member is guarded by m_mutex. Lock order: the store, then a document.
// Camera-update listeners and the camera are called without the store's lock.
class DocumentStore {
public:
    static DocumentStore& Instance();

    // Opens the document (the store adds a reference of its own) and makes it current.
    void Add(Document* document);
    // The current document, or the last activated open capture document with the tag, with a
    // reference added; null when there is none.
    Document* Current();
    Document* FindCapture(ZT_DWORD tag);
    int Activate(Document* document, int view);
    // 0, or -5 when no document is open.
    int CloseCurrent();

    // Live mode. requireCamera false: the live document is opened even without a camera (it
    // then has no picture and no format).
    int StartLive(int mode, bool requireCamera);
    void Freeze();
    bool IsLive();
    int LiveMode();
    bool HasCaptureDocument();
    // A new frame of the camera into the live document: 0, -9 when live mode is off, or the
    // capture's status.
    int GrabLiveFrame();

    // The camera format of the current document: the camera's own for the live document.
    int GetDocumentFormat(SZtGrabberFormatDesc* format);

    std::vector<zthost::DocumentInfo> Infos();
    int Picture(std::size_t index, SZtPicBuf* picture);

    // Closes every document; live mode off (no listener hears it).
    void Clear();

private:
    // The document goes to the end of the activation order.
    void MakeCurrentLocked(Document* document);
    // The last activated open capture document with the tag, borrowed; null when there is none.
    Document* FindCaptureLocked(ZT_DWORD tag);

    std::mutex m_mutex;
    std::vector<Document*> m_documents;   // in the order opened; each holds a reference
    std::vector<Document*> m_activation;  // the current document last
    int m_liveMode = 1;
    Document* m_liveDocument = nullptr;  // borrowed from m_documents; set while live
};
