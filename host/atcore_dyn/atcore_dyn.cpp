// The AT_* functions of the SDK, forwarded to the SDK library loaded from the host's search path.
#include "atcore_dyn.h"

#include <atomic>
#include <mutex>

#include "atcore.h"
#include "zt/zt_log.h"
#include "zt/zt_string.h"
#include "zt/zt_util.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

#ifdef _WIN32
constexpr wchar_t kLibraryName[] = L"atcore.dll";
using LibraryHandle = HMODULE;
LibraryHandle OpenLibrary(const wchar_t* path, std::wstring* error) {
    LibraryHandle library = LoadLibraryW(path);
    if (!library) {
        *error = L"error " + std::to_wstring(GetLastError());
    }
    return library;
}
void* Symbol(LibraryHandle library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(library, name));
}
void CloseLibrary(LibraryHandle library) {
    FreeLibrary(library);
}
#else
constexpr wchar_t kLibraryName[] = L"libatcore.so";
using LibraryHandle = void*;
LibraryHandle OpenLibrary(const wchar_t* path, std::wstring* error) {
    LibraryHandle library = dlopen(CZtStringW(path).ToUtf8().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* text = dlerror();
        *error = CZtStringW::FromUtf8(text ? text : "").Str();
    }
    return library;
}
void* Symbol(LibraryHandle library, const char* name) {
    return dlsym(library, name);
}
void CloseLibrary(LibraryHandle library) {
    dlclose(library);
}
#endif

#define ATCORE_FUNCTIONS(X)         \
    X(AT_InitialiseLibrary)         \
    X(AT_FinaliseLibrary)           \
    X(AT_Open)                      \
    X(AT_Close)                     \
    X(AT_RegisterFeatureCallback)   \
    X(AT_UnregisterFeatureCallback) \
    X(AT_SetInt)                    \
    X(AT_GetInt)                    \
    X(AT_SetFloat)                  \
    X(AT_GetFloat)                  \
    X(AT_GetFloatMax)               \
    X(AT_GetFloatMin)               \
    X(AT_SetBool)                   \
    X(AT_GetBool)                   \
    X(AT_SetEnumIndex)              \
    X(AT_SetEnumString)             \
    X(AT_GetEnumIndex)              \
    X(AT_GetEnumCount)              \
    X(AT_GetEnumStringByIndex)      \
    X(AT_Command)                   \
    X(AT_SetString)                 \
    X(AT_GetString)                 \
    X(AT_QueueBuffer)               \
    X(AT_WaitBuffer)                \
    X(AT_Flush)

// The SDK library's entry points.
struct Api {
#define ATCORE_FIELD(name) decltype(&::name) name = nullptr;
    ATCORE_FUNCTIONS(ATCORE_FIELD)
#undef ATCORE_FIELD
};

// Loading and unloading are serialised by g_loadMutex. Forwarding reads g_api alone, so a call
// made from inside an SDK callback never waits for a loader: the table it points to is complete
// before it is published. Unloading while other calls run is the caller's error, as with the SDK.
std::mutex g_loadMutex;
Api g_table;  // guarded by g_loadMutex until published through g_api
std::atomic<const Api*> g_api{nullptr};
LibraryHandle g_library = nullptr;  // guarded by g_loadMutex
std::wstring g_path;                // guarded by g_loadMutex

void Log(const char* function, const wchar_t* text) {
    ZT_DIAG_OUTPUT(L"%s %hs: %s", L"Verove", function, text);
}

// Finds, loads and checks the SDK library. Every entry point must be there: a partial library
// is never used.
bool Load() {
    wchar_t path[ZT_MAX_PATH] = {};
    if (ZT_SearchPath(kLibraryName, path, ZT_MAX_PATH) != 0) {
        Log("atcore_dyn::Load",
            ZT_FormatW(L"%s not found on the search path", kLibraryName).c_str());
        return false;
    }
    std::wstring error;
    LibraryHandle library = OpenLibrary(path, &error);
    if (!library) {
        Log("atcore_dyn::Load", ZT_FormatW(L"Could not load %s: %s", path, error.c_str()).c_str());
        return false;
    }
    Api table;
    bool complete = true;
#define ATCORE_RESOLVE(name)                                                                    \
    table.name = reinterpret_cast<decltype(table.name)>(Symbol(library, #name));                \
    if (!table.name) {                                                                          \
        Log("atcore_dyn::Load", ZT_FormatW(L"%s has no entry point %hs", path, #name).c_str()); \
        complete = false;                                                                       \
    }
    ATCORE_FUNCTIONS(ATCORE_RESOLVE)
#undef ATCORE_RESOLVE
    if (!complete) {
        CloseLibrary(library);
        return false;
    }
    g_table = table;
    g_library = library;
    g_path = path;
    g_api.store(&g_table, std::memory_order_release);
    return true;
}

void Unload() {
    g_api.store(nullptr, std::memory_order_release);
    CloseLibrary(g_library);
    g_library = nullptr;
    g_path.clear();
}

template <typename Function, typename... Args>
int Forward(Function Api::*function, Args... args) {
    const Api* api = g_api.load(std::memory_order_acquire);
    return api ? (api->*function)(args...) : AT_ERR_NOTINITIALISED;
}

}  // namespace

namespace atcore_dyn {

std::wstring LoadedLibraryPath() {
    std::lock_guard<std::mutex> lock(g_loadMutex);
    return g_path;
}

}  // namespace atcore_dyn

extern "C" {

int AT_EXP_CONV AT_InitialiseLibrary() {
    std::lock_guard<std::mutex> lock(g_loadMutex);
    const bool loadedNow = !g_api.load(std::memory_order_relaxed);
    if (loadedNow && !Load()) {
        return AT_ERR_NOTINITIALISED;
    }
    const int result = g_table.AT_InitialiseLibrary();
    // A library that refuses to initialise is not kept; the next attempt searches again.
    if (result != AT_SUCCESS && loadedNow) {
        Unload();
    }
    return result;
}

int AT_EXP_CONV AT_FinaliseLibrary() {
    std::lock_guard<std::mutex> lock(g_loadMutex);
    if (!g_api.load(std::memory_order_relaxed)) {
        return AT_ERR_NOTINITIALISED;
    }
    const int result = g_table.AT_FinaliseLibrary();
    Unload();
    return result;
}

int AT_EXP_CONV AT_Open(int CameraIndex, AT_H* Hndl) {
    return Forward(&Api::AT_Open, CameraIndex, Hndl);
}

int AT_EXP_CONV AT_Close(AT_H Hndl) {
    return Forward(&Api::AT_Close, Hndl);
}

int AT_EXP_CONV AT_RegisterFeatureCallback(AT_H Hndl, const AT_WC* Feature,
                                           FeatureCallback EvCallback, void* Context) {
    return Forward(&Api::AT_RegisterFeatureCallback, Hndl, Feature, EvCallback, Context);
}

int AT_EXP_CONV AT_UnregisterFeatureCallback(AT_H Hndl, const AT_WC* Feature,
                                             FeatureCallback EvCallback, void* Context) {
    return Forward(&Api::AT_UnregisterFeatureCallback, Hndl, Feature, EvCallback, Context);
}

int AT_EXP_CONV AT_SetInt(AT_H Hndl, const AT_WC* Feature, AT_64 Value) {
    return Forward(&Api::AT_SetInt, Hndl, Feature, Value);
}

int AT_EXP_CONV AT_GetInt(AT_H Hndl, const AT_WC* Feature, AT_64* Value) {
    return Forward(&Api::AT_GetInt, Hndl, Feature, Value);
}

int AT_EXP_CONV AT_SetFloat(AT_H Hndl, const AT_WC* Feature, double Value) {
    return Forward(&Api::AT_SetFloat, Hndl, Feature, Value);
}

int AT_EXP_CONV AT_GetFloat(AT_H Hndl, const AT_WC* Feature, double* Value) {
    return Forward(&Api::AT_GetFloat, Hndl, Feature, Value);
}

int AT_EXP_CONV AT_GetFloatMax(AT_H Hndl, const AT_WC* Feature, double* MaxValue) {
    return Forward(&Api::AT_GetFloatMax, Hndl, Feature, MaxValue);
}

int AT_EXP_CONV AT_GetFloatMin(AT_H Hndl, const AT_WC* Feature, double* MinValue) {
    return Forward(&Api::AT_GetFloatMin, Hndl, Feature, MinValue);
}

int AT_EXP_CONV AT_SetBool(AT_H Hndl, const AT_WC* Feature, AT_BOOL Value) {
    return Forward(&Api::AT_SetBool, Hndl, Feature, Value);
}

int AT_EXP_CONV AT_GetBool(AT_H Hndl, const AT_WC* Feature, AT_BOOL* Value) {
    return Forward(&Api::AT_GetBool, Hndl, Feature, Value);
}

int AT_EXP_CONV AT_SetEnumIndex(AT_H Hndl, const AT_WC* Feature, int Value) {
    return Forward(&Api::AT_SetEnumIndex, Hndl, Feature, Value);
}

int AT_EXP_CONV AT_SetEnumString(AT_H Hndl, const AT_WC* Feature, const AT_WC* String) {
    return Forward(&Api::AT_SetEnumString, Hndl, Feature, String);
}

int AT_EXP_CONV AT_GetEnumIndex(AT_H Hndl, const AT_WC* Feature, int* Value) {
    return Forward(&Api::AT_GetEnumIndex, Hndl, Feature, Value);
}

int AT_EXP_CONV AT_GetEnumCount(AT_H Hndl, const AT_WC* Feature, int* Count) {
    return Forward(&Api::AT_GetEnumCount, Hndl, Feature, Count);
}

int AT_EXP_CONV AT_GetEnumStringByIndex(AT_H Hndl, const AT_WC* Feature, int Index, AT_WC* String,
                                        int StringLength) {
    return Forward(&Api::AT_GetEnumStringByIndex, Hndl, Feature, Index, String, StringLength);
}

int AT_EXP_CONV AT_Command(AT_H Hndl, const AT_WC* Feature) {
    return Forward(&Api::AT_Command, Hndl, Feature);
}

int AT_EXP_CONV AT_SetString(AT_H Hndl, const AT_WC* Feature, const AT_WC* String) {
    return Forward(&Api::AT_SetString, Hndl, Feature, String);
}

int AT_EXP_CONV AT_GetString(AT_H Hndl, const AT_WC* Feature, AT_WC* String, int StringLength) {
    return Forward(&Api::AT_GetString, Hndl, Feature, String, StringLength);
}

int AT_EXP_CONV AT_QueueBuffer(AT_H Hndl, AT_U8* Ptr, int PtrSize) {
    return Forward(&Api::AT_QueueBuffer, Hndl, Ptr, PtrSize);
}

int AT_EXP_CONV AT_WaitBuffer(AT_H Hndl, AT_U8** Ptr, int* PtrSize, unsigned int Timeout) {
    return Forward(&Api::AT_WaitBuffer, Hndl, Ptr, PtrSize, Timeout);
}

int AT_EXP_CONV AT_Flush(AT_H Hndl) {
    return Forward(&Api::AT_Flush, Hndl);
}

}  // extern "C"
