// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/effect_table.h"

#include "base/text.h"

#include <algorithm>
#include <random>

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
constexpr char kFileSeparator = '|';
} // namespace

bool EffectEntry::IsAvailable() const {
    return pBuffer != nullptr && dwDataLength != 0 &&
           std::all_of(extraSounds.begin(), extraSounds.end(),
                       [](const EffectSound& s) { return s.pBuffer && s.dwDataLength != 0; });
}

int EffectEntry::PickSound() {
    const int count = 1 + static_cast<int>(extraSounds.size());
    int pick = 0;
    if (options.pick == EffectOptions::Pick::Random && count > 1) {
        // One of the others than the last, each as likely.
        thread_local std::minstd_rand rng{std::random_device{}()};
        const int last = nLastPick >= 0 && nLastPick < count ? nLastPick : count;
        pick = std::uniform_int_distribution<int>(0, last < count ? count - 2 : count - 1)(rng);
        if (pick >= last)
            ++pick;
    } else if (nLastPick >= 0) {
        pick = (nLastPick + 1) % count;
    }
    nLastPick = pick;
    return pick;
}

EffectSound EffectEntry::SoundAt(int pick) const {
    if (pick <= 0 || pick > static_cast<int>(extraSounds.size()))
        return {pBuffer, dwDataLength, loudness};
    return extraSounds[static_cast<std::size_t>(pick - 1)];
}

bool FitsFileList(std::string_view cp932Path) {
    if (cp932Path.empty())
        return false;
    for (std::size_t pos = 0; pos < cp932Path.size(); ++pos) {
        if (IsLeadByte(cp932Path, pos))
            ++pos;
        else if (cp932Path[pos] == kFileSeparator)
            return false;
    }
    return true;
}

namespace {

constexpr int kMaxMs = 24 * 60 * 60 * 1000;

// Plain decimal digits, with a sign only where the field takes one, within the range.
std::optional<int> ReadInt(std::string_view text, int minValue, int maxValue, bool signedText) {
    bool negative = false;
    if (signedText && !text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (negative)
        value = -value;
    if (value < minValue || value > maxValue)
        return std::nullopt;
    return value;
}

template <int EffectOptions::*M, int Min, int Max, bool Signed = false>
bool ReadIntField(std::string_view text, EffectOptions& o) {
    const std::optional<int> v = ReadInt(text, Min, Max, Signed);
    if (v)
        o.*M = *v;
    return v.has_value();
}

template <int EffectOptions::*M> std::string ShowIntField(const EffectOptions& o) {
    return o.*M != 0 ? std::to_string(o.*M) : std::string();
}

// A word option: its words by value; the first (value 0) is what an absent field means.
template <typename E, E EffectOptions::*M, const std::string_view* Words, std::size_t N>
bool ReadWordField(std::string_view text, EffectOptions& o) {
    for (std::size_t i = 0; i < N; ++i) {
        if (!Words[i].empty() && text == Words[i]) {
            o.*M = static_cast<E>(i);
            return true;
        }
    }
    return false;
}

template <typename E, E EffectOptions::*M, const std::string_view* Words, std::size_t N>
std::string ShowWordField(const EffectOptions& o) {
    const auto i = static_cast<std::size_t>(o.*M);
    return i != 0 && i < N ? std::string(Words[i]) : std::string();
}

bool ReadFiles(std::string_view text, EffectOptions& o) {
    std::vector<std::string> files(1);
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        if (IsLeadByte(text, pos)) {
            files.back().append(text.substr(pos, 2));
            ++pos;
        } else if (text[pos] == kFileSeparator) {
            files.emplace_back();
        } else {
            files.back().push_back(text[pos]);
        }
    }
    if (std::any_of(files.begin(), files.end(), [](const std::string& f) { return f.empty(); }))
        return false;
    o.files = std::move(files);
    return true;
}

std::string ShowFiles(const EffectOptions& o) {
    std::string text;
    for (const std::string& file : o.files) {
        if (!text.empty())
            text += kFileSeparator;
        text += file;
    }
    return text;
}

constexpr std::string_view kRetriggerWords[] = {"", "restart", "toggle", "hold"};
constexpr std::string_view kPickWords[] = {"cycle", "random"};
constexpr std::string_view kSendWords[] = {"both", "main", "monitor"};

// A known option: its field name, how its value reads into the options (false: a bad value)
// and how the options show it (empty: absent, as a field that was never written).
struct OptionField {
    std::string_view name;
    bool (*read)(std::string_view, EffectOptions&);
    std::string (*show)(const EffectOptions&);
};

using R = EffectOptions::Retrigger;
using P = EffectOptions::Pick;
using S = EffectOptions::Send;
constexpr OptionField kOptionFields[] = {
    {"retrigger", ReadWordField<R, &EffectOptions::retrigger, kRetriggerWords, 4>,
     ShowWordField<R, &EffectOptions::retrigger, kRetriggerWords, 4>},
    {"choke", ReadIntField<&EffectOptions::nChoke, 1, 9>, ShowIntField<&EffectOptions::nChoke>},
    {"fadein", ReadIntField<&EffectOptions::nFadeInMs, 0, 10000>,
     ShowIntField<&EffectOptions::nFadeInMs>},
    {"fadeout", ReadIntField<&EffectOptions::nFadeOutMs, 0, 10000>,
     ShowIntField<&EffectOptions::nFadeOutMs>},
    {"start", ReadIntField<&EffectOptions::nStartMs, 0, kMaxMs>,
     ShowIntField<&EffectOptions::nStartMs>},
    {"end", ReadIntField<&EffectOptions::nEndMs, 0, kMaxMs>, ShowIntField<&EffectOptions::nEndMs>},
    {"files", ReadFiles, ShowFiles},
    {"pick", ReadWordField<P, &EffectOptions::pick, kPickWords, 2>,
     ShowWordField<P, &EffectOptions::pick, kPickWords, 2>},
    {"gain",
     ReadIntField<&EffectOptions::nGainDb, static_cast<int>(kMinGainDb),
                  static_cast<int>(kMaxGainDb), true>,
     ShowIntField<&EffectOptions::nGainDb>},
    {"send", ReadWordField<S, &EffectOptions::send, kSendWords, 3>,
     ShowWordField<S, &EffectOptions::send, kSendWords, 3>},
};

// What a field as read gives, shown as the program would write it.
std::string ShownAsRead(const OptionField& f, std::string_view value) {
    EffectOptions o;
    return f.read(value, o) ? f.show(o) : std::string();
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
        if (!std::exchange(seen[index], true))
            f->read(value, options);
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
        const std::string now = f->show(options);
        if (now == ShownAsRead(*f, value))
            out.push_back(field);
        else if (!now.empty())
            out.push_back(std::string(f->name) + '=' + now);
    }
    for (std::size_t i = 0; i < std::size(kOptionFields); ++i) {
        const OptionField& f = kOptionFields[i];
        if (std::string now = f.show(options); !seen[i] && !now.empty())
            out.push_back(std::string(f.name) + '=' + now);
    }
    return out;
}
