// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/effect_table.h"

#include <iterator>
#include <optional>
#include <string_view>
#include <utility>

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

namespace {

// A known option: its field name, and how its value reads, shows and is held as an int (the
// absent value is 0 for all of them).
struct OptionField {
    std::string_view name;
    int minValue;
    int maxValue;
    int EffectOptions::*member; // null for retrigger, which is a word
};

constexpr int kMaxMs = 24 * 60 * 60 * 1000;

constexpr OptionField kOptionFields[] = {
    {"retrigger", 0, 0, nullptr},
    {"choke", 1, 9, &EffectOptions::nChoke},
    {"fadein", 0, 10000, &EffectOptions::nFadeInMs},
    {"fadeout", 0, 10000, &EffectOptions::nFadeOutMs},
    {"start", 0, kMaxMs, &EffectOptions::nStartMs},
    {"end", 0, kMaxMs, &EffectOptions::nEndMs},
};

constexpr std::string_view kRestart = "restart";
constexpr std::string_view kToggle = "toggle";

int Get(const EffectOptions& o, const OptionField& f) {
    return f.member ? o.*f.member : static_cast<int>(o.retrigger);
}

void Set(EffectOptions& o, const OptionField& f, int value) {
    if (f.member)
        o.*f.member = value;
    else
        o.retrigger = static_cast<EffectOptions::Retrigger>(value);
}

// The value a field's text gives, or nullopt when it is bad. Plain decimal digits only.
std::optional<int> ReadValue(const OptionField& f, std::string_view text) {
    if (!f.member) {
        if (text == kRestart)
            return static_cast<int>(EffectOptions::Retrigger::Restart);
        if (text == kToggle)
            return static_cast<int>(EffectOptions::Retrigger::Toggle);
        return std::nullopt;
    }
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < f.minValue || value > f.maxValue)
        return std::nullopt;
    return value;
}

std::string ShowValue(const OptionField& f, int value) {
    if (!f.member)
        return std::string(value == static_cast<int>(EffectOptions::Retrigger::Restart) ? kRestart
                                                                                        : kToggle);
    return std::to_string(value);
}

// The known option a field names, or null.
const OptionField* FindField(std::string_view field, std::string_view& value) {
    const std::size_t eq = field.find('=');
    if (eq == std::string_view::npos)
        return nullptr;
    for (const OptionField& f : kOptionFields) {
        if (field.substr(0, eq) == f.name) {
            value = field.substr(eq + 1);
            return &f;
        }
    }
    return nullptr;
}

} // namespace

EffectOptions ParseEffectOptions(std::vector<std::string> fields) {
    EffectOptions options;
    bool seen[std::size(kOptionFields)] = {};
    for (const std::string& field : fields) {
        std::string_view value;
        const OptionField* f = FindField(field, value);
        if (!f)
            continue;
        const auto index = static_cast<std::size_t>(f - kOptionFields);
        if (std::exchange(seen[index], true))
            continue;
        if (const std::optional<int> v = ReadValue(*f, value))
            Set(options, *f, *v);
    }
    options.extra = std::move(fields);
    return options;
}

std::vector<std::string> FormatEffectOptions(const EffectOptions& options) {
    std::vector<std::string> out;
    out.reserve(options.extra.size() + std::size(kOptionFields));
    bool seen[std::size(kOptionFields)] = {};
    for (const std::string& field : options.extra) {
        std::string_view value;
        const OptionField* f = FindField(field, value);
        if (!f) {
            out.push_back(field);
            continue;
        }
        const auto index = static_cast<std::size_t>(f - kOptionFields);
        if (std::exchange(seen[index], true)) {
            out.push_back(field);
            continue;
        }
        const int now = Get(options, *f);
        if (now == ReadValue(*f, value).value_or(0))
            out.push_back(field);
        else if (now != 0)
            out.push_back(std::string(f->name) + '=' + ShowValue(*f, now));
    }
    for (std::size_t i = 0; i < std::size(kOptionFields); ++i) {
        const OptionField& f = kOptionFields[i];
        if (const int now = Get(options, f); !seen[i] && now != 0)
            out.push_back(std::string(f.name) + '=' + ShowValue(f, now));
    }
    return out;
}
