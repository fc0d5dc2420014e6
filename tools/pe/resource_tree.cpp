#include "pe/resource_tree.h"

#include <algorithm>
#include <tuple>

namespace pe {

namespace {

constexpr uint32_t DIRECTORY_SIZE = 16;   // characteristics, time, version, two counts
constexpr uint32_t DIRECTORY_ENTRY = 8;   // name or id, offset
constexpr uint32_t DATA_ENTRY = 16;       // data RVA, size, code page, reserved
constexpr uint32_t HIGH_BIT = 0x80000000u;
constexpr uint32_t DATA_ALIGNMENT = 8;

uint32_t AlignUp(uint32_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// A run [begin, end) of sorted resources that share a key.
struct Run {
    size_t begin;
    size_t end;
};

template <class Key>
std::vector<Run> Runs(const ResourceSet& set, Run range, Key key) {
    std::vector<Run> runs;
    for (size_t i = range.begin; i < range.end; ++i) {
        if (runs.empty() || !(key(set[i]) == key(set[runs.back().begin]))) runs.push_back(Run{i, i});
        runs.back().end = i + 1;
    }
    return runs;
}

const ResourceKey& TypeOf(const Resource& r) { return r.type; }
const ResourceKey& NameOf(const Resource& r) { return r.name; }
uint16_t LanguageOf(const Resource& r) { return r.language; }

// Writes the section in the order: root directory, type directories, name
// directories, data entries, name strings, data.
class SectionWriter {
public:
    SectionWriter(const ResourceSet& set, uint32_t baseRva) : set_(set), baseRva_(baseRva) {}

    Bytes Build() {
        std::vector<Run> types = Runs(set_, Run{0, set_.size()}, TypeOf);
        std::vector<std::vector<Run>> names;
        uint32_t directories = DIRECTORY_SIZE + DIRECTORY_ENTRY * static_cast<uint32_t>(types.size());
        for (const Run& type : types) {
            names.push_back(Runs(set_, type, NameOf));
            directories += DIRECTORY_SIZE + DIRECTORY_ENTRY * static_cast<uint32_t>(names.back().size());
        }
        for (const std::vector<Run>& ofType : names) {
            for (const Run& name : ofType) {
                directories += DIRECTORY_SIZE + DIRECTORY_ENTRY * static_cast<uint32_t>(name.end - name.begin);
            }
        }
        dataEntries_ = directories;
        stringsStart_ = dataEntries_ + DATA_ENTRY * static_cast<uint32_t>(set_.size());
        out_.assign(stringsStart_, 0);
        WriteDirectories(types, names);
        WriteData();
        return out_;
    }

private:
    void WriteDirectories(const std::vector<Run>& types, const std::vector<std::vector<Run>>& names) {
        uint32_t next = DIRECTORY_SIZE + DIRECTORY_ENTRY * static_cast<uint32_t>(types.size());
        std::vector<uint32_t> typeDirectories;
        for (size_t t = 0; t < types.size(); ++t) {
            typeDirectories.push_back(next);
            next += DIRECTORY_SIZE + DIRECTORY_ENTRY * static_cast<uint32_t>(names[t].size());
        }
        WriteDirectory(0, types, TypeOf, [&](size_t t) { return typeDirectories[t] | HIGH_BIT; });
        for (size_t t = 0; t < types.size(); ++t) {
            std::vector<uint32_t> nameDirectories;
            for (const Run& name : names[t]) {
                nameDirectories.push_back(next);
                next += DIRECTORY_SIZE + DIRECTORY_ENTRY * static_cast<uint32_t>(name.end - name.begin);
            }
            WriteDirectory(typeDirectories[t], names[t], NameOf,
                           [&](size_t n) { return nameDirectories[n] | HIGH_BIT; });
            for (size_t n = 0; n < names[t].size(); ++n) {
                std::vector<Run> languages = Runs(set_, names[t][n], LanguageOf);
                WriteDirectory(nameDirectories[n], languages, [](const Resource& r) {
                    return ResourceKey::Number(r.language);
                }, [&](size_t l) { return dataEntries_ + DATA_ENTRY * static_cast<uint32_t>(languages[l].begin); });
            }
        }
    }

    // One directory at `at`: its entries in the order of `runs` (names
    // first), each keyed by the run's first resource and pointing where
    // `target` says.
    template <class Key, class Target>
    void WriteDirectory(uint32_t at, const std::vector<Run>& runs, Key key, Target target) {
        uint16_t named = 0;
        for (const Run& run : runs) named += ResourceKey(key(set_[run.begin])).named() ? 1 : 0;
        Put16(out_, at + 12, named);
        Put16(out_, at + 14, static_cast<uint16_t>(runs.size() - named));
        for (size_t i = 0; i < runs.size(); ++i) {
            uint32_t entry = at + DIRECTORY_SIZE + DIRECTORY_ENTRY * static_cast<uint32_t>(i);
            Put32(out_, entry, KeyField(key(set_[runs[i].begin])));
            Put32(out_, entry + 4, target(i));
        }
    }

    // A number as it is; a name as a counted UTF-16 string among the strings.
    uint32_t KeyField(const ResourceKey& key) {
        if (!key.named()) return key.id;
        uint32_t offset = stringsStart_ + static_cast<uint32_t>(strings_.size());
        strings_.push_back(static_cast<uint8_t>(key.name.size()));
        strings_.push_back(static_cast<uint8_t>(key.name.size() >> 8));
        for (char16_t unit : key.name) {
            strings_.push_back(static_cast<uint8_t>(unit));
            strings_.push_back(static_cast<uint8_t>(unit >> 8));
        }
        return offset | HIGH_BIT;
    }

    void WriteData() {
        out_.insert(out_.end(), strings_.begin(), strings_.end());
        for (size_t i = 0; i < set_.size(); ++i) {
            out_.resize(AlignUp(static_cast<uint32_t>(out_.size()), DATA_ALIGNMENT), 0);
            uint32_t entry = dataEntries_ + DATA_ENTRY * static_cast<uint32_t>(i);
            Put32(out_, entry, baseRva_ + static_cast<uint32_t>(out_.size()));
            Put32(out_, entry + 4, static_cast<uint32_t>(set_[i].data.size()));
            Put32(out_, entry + 8, set_[i].codePage);
            out_.insert(out_.end(), set_[i].data.begin(), set_[i].data.end());
        }
        out_.resize(AlignUp(static_cast<uint32_t>(out_.size()), DATA_ALIGNMENT), 0);
    }

    const ResourceSet& set_;
    uint32_t baseRva_;
    uint32_t dataEntries_ = 0;
    uint32_t stringsStart_ = 0;
    Bytes strings_;
    Bytes out_;
};

// Walks the three levels of a resource section with every offset checked.
class SectionReader {
public:
    SectionReader(const Bytes& section, uint32_t baseRva, ResourceSet* set, std::string* error)
        : section_(section), baseRva_(baseRva), set_(set), error_(error) {}

    bool Read() {
        set_->clear();
        Resource partial;
        if (!Directory(0, 0, &partial)) return false;
        SortResources(set_);
        for (size_t i = 1; i < set_->size(); ++i) {
            const Resource& a = (*set_)[i - 1];
            const Resource& b = (*set_)[i];
            if (a.type == b.type && a.name == b.name && a.language == b.language) return Fail("a resource appears twice");
        }
        return true;
    }

private:
    bool Fail(const std::string& reason) {
        *error_ = "resource section: " + reason;
        return false;
    }

    bool Fits(uint32_t offset, uint32_t length) const {
        return offset <= section_.size() && section_.size() - offset >= length;
    }

    // Level 0 keys types, 1 names, 2 languages; entries of levels 0 and 1
    // point to directories, those of level 2 to data entries.
    bool Directory(uint32_t at, int level, Resource* partial) {
        if (!Fits(at, DIRECTORY_SIZE)) return Fail("a directory lies outside the section");
        uint32_t count = uint32_t(Get16(section_, at + 12)) + Get16(section_, at + 14);
        if (!Fits(at + DIRECTORY_SIZE, DIRECTORY_ENTRY * count)) return Fail("a directory runs past the section");
        for (uint32_t i = 0; i < count; ++i) {
            // Each entry of a proper tree is visited once; shared
            // directories could otherwise multiply the walk.
            if (++visited_ > section_.size() / DIRECTORY_ENTRY) return Fail("directories are shared or cyclic");
            uint32_t entry = at + DIRECTORY_SIZE + DIRECTORY_ENTRY * i;
            ResourceKey key;
            if (!Key(Get32(section_, entry), &key)) return false;
            uint32_t target = Get32(section_, entry + 4);
            bool subdirectory = (target & HIGH_BIT) != 0;
            if (subdirectory != (level < 2)) return Fail("the tree is not three levels deep");
            if (level == 0) partial->type = key;
            if (level == 1) partial->name = key;
            if (level == 2 && key.named()) return Fail("a language is given by name");
            if (level == 2) {
                partial->language = key.id;
                if (!DataEntry(target, *partial)) return false;
            } else if (!Directory(target & ~HIGH_BIT, level + 1, partial)) {
                return false;
            }
        }
        return true;
    }

    bool Key(uint32_t field, ResourceKey* key) {
        if ((field & HIGH_BIT) == 0) {
            if (field > 0xFFFF) return Fail("a resource number is larger than 16 bits");
            *key = ResourceKey::Number(static_cast<uint16_t>(field));
            return true;
        }
        uint32_t at = field & ~HIGH_BIT;
        if (!Fits(at, 2)) return Fail("a name lies outside the section");
        uint32_t length = Get16(section_, at);
        if (length == 0 || !Fits(at + 2, 2 * length)) return Fail("a name is empty or runs past the section");
        key->id = 0;
        key->name.clear();
        for (uint32_t i = 0; i < length; ++i) key->name.push_back(static_cast<char16_t>(Get16(section_, at + 2 + 2 * i)));
        return true;
    }

    bool DataEntry(uint32_t at, Resource partial) {
        // A proper tree has a data entry of its own for every resource.
        if (set_->size() >= section_.size() / DATA_ENTRY) return Fail("more resources than the section has room for");
        if (!Fits(at, DATA_ENTRY)) return Fail("a data entry lies outside the section");
        uint32_t rva = Get32(section_, at);
        uint32_t size = Get32(section_, at + 4);
        if (rva < baseRva_ || !Fits(rva - baseRva_, size)) return Fail("resource data lies outside the section");
        partial.codePage = Get32(section_, at + 8);
        partial.data.assign(section_.begin() + (rva - baseRva_), section_.begin() + (rva - baseRva_) + size);
        set_->push_back(std::move(partial));
        return true;
    }

    const Bytes& section_;
    uint32_t baseRva_;
    ResourceSet* set_;
    std::string* error_;
    size_t visited_ = 0;
};

}  // namespace

ResourceKey ResourceKey::Number(uint16_t id) {
    ResourceKey key;
    key.id = id;
    return key;
}

bool ResourceKey::operator<(const ResourceKey& other) const {
    if (named() != other.named()) return named();
    return named() ? name < other.name : id < other.id;
}

void SortResources(ResourceSet* set) {
    std::stable_sort(set->begin(), set->end(), [](const Resource& a, const Resource& b) {
        if (!(a.type == b.type)) return a.type < b.type;
        if (!(a.name == b.name)) return a.name < b.name;
        return a.language < b.language;
    });
}

Bytes BuildResourceSection(const ResourceSet& set, uint32_t baseRva) { return SectionWriter(set, baseRva).Build(); }

bool ParseResourceSection(const Bytes& section, uint32_t baseRva, ResourceSet* set, std::string* error) {
    return SectionReader(section, baseRva, set, error).Read();
}

}  // namespace pe
