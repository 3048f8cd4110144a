// The driver's ordered collection of patterns and the current pattern's ID.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "patterns.h"

// Reentrant: different stores may be used at once; the driver serialises the uses of its store
// under its own lock.
class CZtPatternStore {
public:
    // Empties the store and adds the built-ins 0-5 at the store's size.
    void CreateDefaultPatterns();
    CZtPattern* FindById(std::uint32_t id);
    CZtPattern* GetAt(int position);
    int Count() const { return static_cast<int>(m_patterns.size()); }
    int GetCurrentId() const { return m_currentId; }
    // 0, or kNone when no pattern has that ID.
    int SetCurrentId(int id);
    void SetSize(std::uint32_t width, std::uint32_t height);
    // Appends a copy; the caller has given it its ID.
    void Add(const CZtPattern& pattern);
    // Removes the pattern with the same ID. kInvalidArgument null, kNone not in the store.
    int Remove(const CZtPattern* pattern);
    void Clear() { m_patterns.clear(); }
    // The renderings of the patterns in the store now.
    std::uint64_t GetRenderCount() const;

private:
    // Each pattern lives on the heap so the pointers handed out stay put while others are added.
    std::vector<std::unique_ptr<CZtPattern>> m_patterns;
    int m_currentId = 0;
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;
};
