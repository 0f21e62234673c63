#include "model/effect_table.h"

int EffectTable::Add(const EffectEntry& entry) {
    auto copy = std::make_shared<EffectEntry>(entry);
    copy->bKeyHeld = 0;
    m_entries.push_back(std::move(copy));
    return GetSize() - 1;
}

void EffectTable::RemoveAt(int index) {
    if (index < 0 || index >= GetSize())
        return;
    m_entries.erase(m_entries.begin() + index);
}

int EffectTable::IndexOf(const EffectEntry* entry) const {
    for (int i = 0; i < GetSize(); ++i)
        if (m_entries[static_cast<size_t>(i)].get() == entry)
            return i;
    return -1;
}
