// The simulated PLC's memory: the word ranges of each CPU model's areas.
#include <algorithm>
#include <iterator>
#include <string>

#include "tools/sim/simulator.h"

namespace etl::sim {
namespace {

// Valid word addresses of one area: first .. first+count-1, and a second
// range for special registers (count 0: none).
struct AreaSize {
    char key;
    int first;
    int count;
    int first2 = 0;
    int count2 = 0;
};

// Today's sizes, large enough for every address the driver's tests use.
constexpr AreaSize kGenerous[] = {
    {'X', 0, 1000}, {'Y', 0, 1000}, {'R', 0, 1000}, {'L', 0, 1000}, {'T', 0, 256},
    {'C', 0, 256},  {'D', 0, 32768}, {'G', 0, 8448}, {'F', 0, 32768}, {'S', 0, 3072},
    {'V', 0, 3072}, {'H', 0, 16},   {'I', 0, 16},   {'0', 0, 16},   {'1', 0, 16},
    {'2', 0, 16},   {'3', 0, 16},   {'4', 0, 16},   {'5', 0, 16},   {'6', 0, 16},
    {'7', 0, 16},   {'8', 0, 16},   {'9', 0, 16},   {'M', 0, 16},   {'N', 0, 16},
    {'O', 0, 16},   {'P', 0, 16},   {'Q', 0, 16},   {'U', 0, 16},
};

// The CPUs' memory areas in words (contacts: 16 points a word; T and C
// share one numbering, 3072 points on the FP2, 512 on the FP3, 1024 on the
// FP5). Index registers: one word each, two addresses so that a
// double-word read of one passes. README.md says where the figures come
// from.
constexpr AreaSize kFp2[] = {
    {'X', 0, 128},  {'Y', 0, 128},  {'R', 0, 887, 900, 52}, {'L', 0, 128},
    {'T', 0, 192},  {'C', 0, 192},  {'D', 0, 6000, 90000, 444}, {'G', 0, 8448},
    {'F', 0, 32765}, {'S', 0, 3072}, {'V', 0, 3072}, {'H', 0, 2},  {'I', 0, 2},
    {'0', 0, 2},    {'1', 0, 2},    {'2', 0, 2},    {'3', 0, 2},   {'4', 0, 2},
    {'5', 0, 2},    {'6', 0, 2},    {'7', 0, 2},    {'8', 0, 2},   {'9', 0, 2},
    {'M', 0, 2},    {'N', 0, 2},    {'O', 0, 2},    {'P', 0, 2},
};
constexpr AreaSize kFp3[] = {
    {'X', 0, 128}, {'Y', 0, 128}, {'R', 0, 98, 900, 4}, {'L', 0, 64},
    {'T', 0, 32},  {'C', 0, 32},  {'D', 0, 2048, 9000, 70}, {'G', 0, 128},
    {'F', 0, 8189}, {'S', 0, 512}, {'V', 0, 512}, {'H', 0, 2}, {'I', 0, 2},
};
constexpr AreaSize kFp5[] = {
    {'X', 0, 128}, {'Y', 0, 128}, {'R', 0, 308, 900, 4}, {'L', 0, 128},
    {'T', 0, 64},  {'C', 0, 64},  {'D', 0, 6144, 9000, 70}, {'G', 0, 256},
    {'F', 0, 22525}, {'S', 0, 1024}, {'V', 0, 1024}, {'H', 0, 2}, {'I', 0, 2},
};

struct ModelTable {
    Model model;
    const char* name;
    const AreaSize* areas;
    std::size_t count;
};

constexpr ModelTable kModels[] = {
    {Model::kGenerous, "generous", kGenerous, std::size(kGenerous)},
    {Model::kFp2, "fp2", kFp2, std::size(kFp2)},
    {Model::kFp3, "fp3", kFp3, std::size(kFp3)},
    {Model::kFp5, "fp5", kFp5, std::size(kFp5)},
};

const ModelTable& TableOf(Model model) {
    for (const auto& t : kModels) {
        if (t.model == model) return t;
    }
    return kModels[0];
}

const AreaSize* AreaOf(Model model, char key) {
    const ModelTable& t = TableOf(model);
    for (std::size_t i = 0; i < t.count; ++i) {
        if (t.areas[i].key == key) return &t.areas[i];
    }
    return nullptr;
}

}  // namespace

bool ParseModel(std::string_view name, Model* model) {
    std::string lower(name);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    for (const auto& t : kModels) {
        if (lower == t.name) {
            *model = t.model;
            return true;
        }
    }
    return false;
}

const char* ModelName(Model model) { return TableOf(model).name; }

Memory::Memory(Model model) : model_(model) {
    const ModelTable& t = TableOf(model);
    for (std::size_t i = 0; i < t.count; ++i) {
        const AreaSize& a = t.areas[i];
        int end = std::max(a.first + a.count, a.count2 > 0 ? a.first2 + a.count2 : 0);
        words_[static_cast<unsigned char>(a.key)].assign(static_cast<std::size_t>(end), 0);
    }
}

int Memory::Size(char key) const {
    auto k = static_cast<unsigned char>(key);
    return k < 128 ? static_cast<int>(words_[k].size()) : 0;
}

bool Memory::Valid(char key, int first, int last) const {
    const AreaSize* a = AreaOf(model_, key);
    if (a == nullptr || first > last) return false;
    auto within = [&](int from, int count) {
        return count > 0 && first >= from && last < from + count;
    };
    return within(a->first, a->count) || within(a->first2, a->count2);
}

std::uint16_t Memory::Get(char key, int address) const {
    if (!Valid(key, address, address)) return 0;
    return words_[static_cast<unsigned char>(key)][static_cast<std::size_t>(address)];
}

void Memory::Set(char key, int address, std::uint16_t value) {
    if (!Valid(key, address, address)) return;
    words_[static_cast<unsigned char>(key)][static_cast<std::size_t>(address)] = value;
}

}  // namespace etl::sim
