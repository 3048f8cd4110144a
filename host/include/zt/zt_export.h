// Symbol visibility for the host library's exported API.
#pragma once

#if defined(_WIN32)
#if defined(ZTHOST_BUILDING)
#define ZTHOST_API __declspec(dllexport)
#else
#define ZTHOST_API __declspec(dllimport)
#endif
#define ZT_PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define ZTHOST_API __attribute__((visibility("default")))
#define ZT_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#include <cstdint>

// Windows-sized integers used across the host interfaces.
using ZT_DWORD = std::uint32_t;

constexpr ZT_DWORD ZT_INFINITE = 0xFFFFFFFFu;
constexpr ZT_DWORD ZT_WAIT_OBJECT_0 = 0;
constexpr ZT_DWORD ZT_WAIT_TIMEOUT = 258;
constexpr int ZT_MAX_PATH = 260;
