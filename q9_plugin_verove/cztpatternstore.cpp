// The driver's pattern store and its built-in patterns.
#include "cztpatternstore.h"

#include <cstring>

#include "verovestatus.h"
#include "zt/zt_picbuf.h"

void CZtPatternStore::CreateDefaultPatterns() {
    Clear();
    CZtPattern off(L"Full OFF", m_width, m_height);
    off.SetId(0);
    Add(off);

    CZtPattern on(L"Full ON", m_width, m_height);
    on.SetId(1);
    SZtPicBuf picture;
    if (CZtPicBufAPI::Alloc(&picture, m_width, m_height, 8, 1) == 0) {
        std::memset(picture.data, 255, std::size_t{picture.stride} * picture.height);
        on.SetBitmap(&picture);
    }
    Add(on);

    CZtPattern grid(L"Grid", m_width, m_height);
    grid.SetId(2);
    if (CZtPicBufAPI::Alloc(&picture, m_width, m_height, 8, 1) == 0) {
        for (std::uint32_t y = 0; y < m_height; ++y) {
            std::uint8_t* row = picture.Row(y);
            if (y % 10 == 0) {
                std::memset(row, 255, m_width);
                continue;
            }
            for (std::uint32_t x = 0; x < m_width; x += 10) {
                row[x] = 255;
            }
        }
        grid.SetBitmap(&picture);
    }
    Add(grid);

    const wchar_t* const groups[] = {L"S1", L"S2", L"S3"};
    for (std::uint32_t g = 0; g < 3; ++g) {
        CZtPattern group(groups[g], m_width, m_height);
        group.SetBitmap(nullptr);
        group.SetId(3 + g);
        group.SetMapping(1);
        group.SetKind(0);
        Add(group);
    }
}

CZtPattern* CZtPatternStore::FindById(std::uint32_t id) {
    for (const std::unique_ptr<CZtPattern>& pattern : m_patterns) {
        if (pattern->GetId() == id) {
            return pattern.get();
        }
    }
    return nullptr;
}

CZtPattern* CZtPatternStore::GetAt(int position) {
    if (position < 0 || position >= Count()) {
        return nullptr;
    }
    return m_patterns[static_cast<std::size_t>(position)].get();
}

int CZtPatternStore::SetCurrentId(int id) {
    if (id < 0 || !FindById(static_cast<std::uint32_t>(id))) {
        return VeroveStatus::kNone;
    }
    m_currentId = id;
    return 0;
}

std::uint64_t CZtPatternStore::GetRenderCount() const {
    std::uint64_t count = 0;
    for (const std::unique_ptr<CZtPattern>& pattern : m_patterns) {
        count += pattern->GetRenderCount();
    }
    return count;
}

void CZtPatternStore::SetSize(std::uint32_t width, std::uint32_t height) {
    m_width = width;
    m_height = height;
}

void CZtPatternStore::Add(const CZtPattern& pattern) {
    m_patterns.push_back(std::make_unique<CZtPattern>(pattern));
}

int CZtPatternStore::Remove(const CZtPattern* pattern) {
    if (!pattern) {
        return VeroveStatus::kInvalidArgument;
    }
    for (auto it = m_patterns.begin(); it != m_patterns.end(); ++it) {
        if ((*it)->GetId() == pattern->GetId()) {
            m_patterns.erase(it);
            return 0;
        }
    }
    return VeroveStatus::kNone;
}
