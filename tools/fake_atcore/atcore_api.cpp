// The AT_* C interface of the fake SDK library: argument checks, then the library and device.
#include <cwchar>
#include <string>

#include "atcore.h"
#include "fakelibrary.h"

namespace {

FakeLibrary& Lib() {
    return FakeLibrary::Instance();
}

std::wstring Text(double value) {
    wchar_t text[64];
    std::swprintf(text, 64, L"%g", value);
    return text;
}

// Copies text into the caller's buffer of length characters, terminator included.
int CopyOut(const std::wstring& text, AT_WC* buffer, int length) {
    if (length <= 0 || text.size() + 1 > static_cast<std::size_t>(length)) {
        return AT_ERR_EXCEEDEDMAXSTRINGLENGTH;
    }
    std::wmemcpy(buffer, text.c_str(), text.size() + 1);
    return AT_SUCCESS;
}

}  // namespace

#pragma GCC visibility push(default)
extern "C" {

int AT_EXP_CONV AT_InitialiseLibrary() {
    return Lib().Call("AT_InitialiseLibrary", AT_HANDLE_UNINITIALISED, nullptr,
                      [](std::wstring*) { return Lib().Initialise(); });
}

int AT_EXP_CONV AT_FinaliseLibrary() {
    return Lib().Call("AT_FinaliseLibrary", AT_HANDLE_UNINITIALISED, nullptr,
                      [](std::wstring*) { return Lib().Finalise(); });
}

int AT_EXP_CONV AT_Open(int CameraIndex, AT_H* Hndl) {
    return Lib().Call("AT_Open", AT_HANDLE_UNINITIALISED, nullptr, [&](std::wstring* value) {
        *value = std::to_wstring(CameraIndex);
        return Hndl ? Lib().Open(CameraIndex, Hndl) : AT_ERR_NULL_HANDLE;
    });
}

int AT_EXP_CONV AT_Close(AT_H Hndl) {
    return Lib().Call("AT_Close", Hndl, nullptr, [&](std::wstring*) { return Lib().Close(Hndl); });
}

int AT_EXP_CONV AT_RegisterFeatureCallback(AT_H Hndl, const AT_WC* Feature,
                                           FeatureCallback EvCallback, void* Context) {
    return Lib().Call("AT_RegisterFeatureCallback", Hndl, Feature, [&](std::wstring*) {
        return Lib().OnDevice(Hndl, Feature, [&](FakeDevice& d) {
            return EvCallback ? d.RegisterCallback(Feature, EvCallback, Context)
                              : AT_ERR_NULL_EVCALLBACK;
        });
    });
}

int AT_EXP_CONV AT_UnregisterFeatureCallback(AT_H Hndl, const AT_WC* Feature,
                                             FeatureCallback EvCallback, void* Context) {
    return Lib().Call("AT_UnregisterFeatureCallback", Hndl, Feature, [&](std::wstring*) {
        return Lib().OnDevice(Hndl, Feature, [&](FakeDevice& d) {
            return EvCallback ? d.UnregisterCallback(Feature, EvCallback, Context)
                              : AT_ERR_NULL_EVCALLBACK;
        });
    });
}

int AT_EXP_CONV AT_SetInt(AT_H Hndl, const AT_WC* Feature, AT_64 Value) {
    return Lib().Call("AT_SetInt", Hndl, Feature, [&](std::wstring* value) {
        *value = std::to_wstring(Value);
        return Lib().OnDevice(Hndl, Feature,
                              [&](FakeDevice& d) { return d.SetInt(Feature, Value); });
    });
}

int AT_EXP_CONV AT_GetInt(AT_H Hndl, const AT_WC* Feature, AT_64* Value) {
    return Lib().Call("AT_GetInt", Hndl, Feature, [&](std::wstring* value) {
        if (!Value) {
            return AT_ERR_NULL_VALUE;
        }
        int result = Hndl == AT_HANDLE_SYSTEM && Feature
                         ? Lib().SystemInt(Feature, Value)
                         : Lib().OnDevice(Hndl, Feature,
                                          [&](FakeDevice& d) { return d.GetInt(Feature, Value); });
        if (result == AT_SUCCESS) {
            *value = std::to_wstring(*Value);
        }
        return result;
    });
}

int AT_EXP_CONV AT_SetFloat(AT_H Hndl, const AT_WC* Feature, double Value) {
    return Lib().Call("AT_SetFloat", Hndl, Feature, [&](std::wstring* value) {
        *value = Text(Value);
        return Lib().OnDevice(Hndl, Feature,
                              [&](FakeDevice& d) { return d.SetFloat(Feature, Value); });
    });
}

int AT_EXP_CONV AT_GetFloat(AT_H Hndl, const AT_WC* Feature, double* Value) {
    return Lib().Call("AT_GetFloat", Hndl, Feature, [&](std::wstring* value) {
        if (!Value) {
            return AT_ERR_NULL_VALUE;
        }
        int result = Lib().OnDevice(Hndl, Feature,
                                    [&](FakeDevice& d) { return d.GetFloat(Feature, Value); });
        if (result == AT_SUCCESS) {
            *value = Text(*Value);
        }
        return result;
    });
}

int AT_EXP_CONV AT_GetFloatMax(AT_H Hndl, const AT_WC* Feature, double* MaxValue) {
    return Lib().Call("AT_GetFloatMax", Hndl, Feature, [&](std::wstring* value) {
        if (!MaxValue) {
            return AT_ERR_NULL_MAXVALUE;
        }
        int result = Lib().OnDevice(
            Hndl, Feature, [&](FakeDevice& d) { return d.GetFloatMax(Feature, MaxValue); });
        if (result == AT_SUCCESS) {
            *value = Text(*MaxValue);
        }
        return result;
    });
}

int AT_EXP_CONV AT_GetFloatMin(AT_H Hndl, const AT_WC* Feature, double* MinValue) {
    return Lib().Call("AT_GetFloatMin", Hndl, Feature, [&](std::wstring* value) {
        if (!MinValue) {
            return AT_ERR_NULL_MINVALUE;
        }
        int result = Lib().OnDevice(
            Hndl, Feature, [&](FakeDevice& d) { return d.GetFloatMin(Feature, MinValue); });
        if (result == AT_SUCCESS) {
            *value = Text(*MinValue);
        }
        return result;
    });
}

int AT_EXP_CONV AT_SetBool(AT_H Hndl, const AT_WC* Feature, AT_BOOL Value) {
    return Lib().Call("AT_SetBool", Hndl, Feature, [&](std::wstring* value) {
        *value = std::to_wstring(Value);
        return Lib().OnDevice(Hndl, Feature,
                              [&](FakeDevice& d) { return d.SetBool(Feature, Value != 0); });
    });
}

int AT_EXP_CONV AT_GetBool(AT_H Hndl, const AT_WC* Feature, AT_BOOL* Value) {
    return Lib().Call("AT_GetBool", Hndl, Feature, [&](std::wstring* value) {
        if (!Value) {
            return AT_ERR_NULL_VALUE;
        }
        bool on = false;
        int result =
            Lib().OnDevice(Hndl, Feature, [&](FakeDevice& d) { return d.GetBool(Feature, &on); });
        if (result == AT_SUCCESS) {
            *Value = on ? AT_TRUE : AT_FALSE;
            *value = on ? L"1" : L"0";
        }
        return result;
    });
}

int AT_EXP_CONV AT_SetEnumIndex(AT_H Hndl, const AT_WC* Feature, int Value) {
    return Lib().Call("AT_SetEnumIndex", Hndl, Feature, [&](std::wstring* value) {
        *value = std::to_wstring(Value);
        return Lib().OnDevice(Hndl, Feature,
                              [&](FakeDevice& d) { return d.SetEnumIndex(Feature, Value); });
    });
}

int AT_EXP_CONV AT_SetEnumString(AT_H Hndl, const AT_WC* Feature, const AT_WC* String) {
    return Lib().Call("AT_SetEnumString", Hndl, Feature, [&](std::wstring* value) {
        if (!String) {
            return AT_ERR_NULL_STRING;
        }
        *value = String;
        return Lib().OnDevice(Hndl, Feature,
                              [&](FakeDevice& d) { return d.SetEnumString(Feature, String); });
    });
}

int AT_EXP_CONV AT_GetEnumIndex(AT_H Hndl, const AT_WC* Feature, int* Value) {
    return Lib().Call("AT_GetEnumIndex", Hndl, Feature, [&](std::wstring* value) {
        if (!Value) {
            return AT_ERR_NULL_VALUE;
        }
        int result = Lib().OnDevice(Hndl, Feature,
                                    [&](FakeDevice& d) { return d.GetEnumIndex(Feature, Value); });
        if (result == AT_SUCCESS) {
            *value = std::to_wstring(*Value);
        }
        return result;
    });
}

int AT_EXP_CONV AT_GetEnumCount(AT_H Hndl, const AT_WC* Feature, int* Count) {
    return Lib().Call("AT_GetEnumCount", Hndl, Feature, [&](std::wstring* value) {
        if (!Count) {
            return AT_ERR_NULL_COUNT_VAR;
        }
        int result = Lib().OnDevice(Hndl, Feature,
                                    [&](FakeDevice& d) { return d.GetEnumCount(Feature, Count); });
        if (result == AT_SUCCESS) {
            *value = std::to_wstring(*Count);
        }
        return result;
    });
}

int AT_EXP_CONV AT_GetEnumStringByIndex(AT_H Hndl, const AT_WC* Feature, int Index, AT_WC* String,
                                        int StringLength) {
    return Lib().Call("AT_GetEnumStringByIndex", Hndl, Feature, [&](std::wstring* value) {
        if (!String) {
            return AT_ERR_NULL_STRING;
        }
        std::wstring text;
        int result = Lib().OnDevice(
            Hndl, Feature, [&](FakeDevice& d) { return d.GetEnumString(Feature, Index, &text); });
        if (result == AT_SUCCESS) {
            result = CopyOut(text, String, StringLength);
        }
        if (result == AT_SUCCESS) {
            *value = text;
        }
        return result;
    });
}

int AT_EXP_CONV AT_Command(AT_H Hndl, const AT_WC* Feature) {
    return Lib().Call("AT_Command", Hndl, Feature, [&](std::wstring*) {
        return Lib().OnDevice(Hndl, Feature, [&](FakeDevice& d) { return d.Command(Feature); });
    });
}

int AT_EXP_CONV AT_SetString(AT_H Hndl, const AT_WC* Feature, const AT_WC* String) {
    return Lib().Call("AT_SetString", Hndl, Feature, [&](std::wstring* value) {
        if (!String) {
            return AT_ERR_NULL_STRING;
        }
        *value = String;
        return Lib().OnDevice(Hndl, Feature,
                              [&](FakeDevice& d) { return d.SetString(Feature, String); });
    });
}

int AT_EXP_CONV AT_GetString(AT_H Hndl, const AT_WC* Feature, AT_WC* String, int StringLength) {
    return Lib().Call("AT_GetString", Hndl, Feature, [&](std::wstring* value) {
        if (!String) {
            return AT_ERR_NULL_STRING;
        }
        std::wstring text;
        int result = Hndl == AT_HANDLE_SYSTEM && Feature
                         ? Lib().SystemString(Feature, &text)
                         : Lib().OnDevice(Hndl, Feature, [&](FakeDevice& d) {
                               return d.GetString(Feature, &text);
                           });
        if (result == AT_SUCCESS) {
            result = CopyOut(text, String, StringLength);
        }
        if (result == AT_SUCCESS) {
            *value = text;
        }
        return result;
    });
}

int AT_EXP_CONV AT_QueueBuffer(AT_H Hndl, AT_U8* Ptr, int PtrSize) {
    return Lib().Call("AT_QueueBuffer", Hndl, nullptr, [&](std::wstring* value) {
        *value = std::to_wstring(PtrSize);
        if (!Ptr) {
            return AT_ERR_NULL_QUEUE_PTR;
        }
        if (PtrSize <= 0) {
            return AT_ERR_INVALIDSIZE;
        }
        return Lib().OnDevice(Hndl, L"",
                              [&](FakeDevice& d) { return d.QueueBuffer(Ptr, PtrSize); });
    });
}

// A mirror device hands no frames back.
int AT_EXP_CONV AT_WaitBuffer(AT_H Hndl, AT_U8** Ptr, int* PtrSize, unsigned int Timeout) {
    return Lib().Call("AT_WaitBuffer", Hndl, nullptr, [&](std::wstring*) {
        if (!Ptr) {
            return AT_ERR_NULL_WAIT_PTR;
        }
        if (!PtrSize) {
            return AT_ERR_NULL_PTRSIZE;
        }
        return Lib().OnDevice(Hndl, L"", [](FakeDevice&) { return AT_ERR_NOTIMPLEMENTED; });
    });
}

int AT_EXP_CONV AT_Flush(AT_H Hndl) {
    return Lib().Call("AT_Flush", Hndl, nullptr, [&](std::wstring*) {
        return Lib().OnDevice(Hndl, L"", [](FakeDevice& d) { return d.Flush(); });
    });
}

}  // extern "C"
#pragma GCC visibility pop
