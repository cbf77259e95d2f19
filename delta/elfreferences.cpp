#include "delta/elfreferences.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <unordered_map>

namespace {

constexpr quint32 sectionNull = 0;
constexpr quint32 sectionProgbits = 1;
constexpr quint32 sectionSymtab = 2;
constexpr quint32 sectionStrtab = 3;
constexpr quint32 sectionRela = 4;
constexpr quint32 sectionDynamic = 6;
constexpr quint32 sectionNobits = 8;
constexpr quint32 sectionRel = 9;
constexpr quint32 sectionDynsym = 11;
constexpr quint64 flagAlloc = 0x2;
constexpr quint64 flagExec = 0x4;
constexpr quint64 flagTls = 0x400;
constexpr quint16 typeExec = 2;
constexpr quint16 typeDyn = 3;
constexpr quint16 machineX8664 = 62;
// Section indices from here up are reserved (SHN_LORESERVE): a table that
// large uses extended numbering, which the applier does not read.
constexpr quint32 reservedIndex = 0xff00;
// Addresses and sizes stay far below wrapping.
constexpr quint64 addressLimit = quint64(1) << 56;
constexpr qsizetype longestSectionName = 1024;

quint16 read16(QByteArrayView bytes, quint64 at)
{
    quint16 value = 0;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

quint32 read32(QByteArrayView bytes, quint64 at)
{
    quint32 value = 0;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

quint64 read64(QByteArrayView bytes, quint64 at)
{
    quint64 value = 0;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

bool within(quint64 offset, quint64 size, quint64 total)
{
    return offset <= total && size <= total - offset;
}

std::optional<ElfLayout> refuse(QString* why, const QString& reason)
{
    if (why != nullptr)
        *why = reason;
    return std::nullopt;
}

quint64 entrySize(quint32 type)
{
    switch (type) {
    case sectionSymtab:
    case sectionDynsym:
    case sectionRela:
        return 24;
    case sectionRel:
    case sectionDynamic:
        return 16;
    default:
        return 0;
    }
}

constexpr std::array<bool, 256> opcodeTable(std::initializer_list<int> opcodes)
{
    std::array<bool, 256> table{};
    for (const int opcode : opcodes)
        table[size_t(opcode)] = true;
    return table;
}

// The opcodes whose ModR/M byte may name a RIP-relative operand: the common
// moves, arithmetic, compares, loads of addresses, indirect calls and jumps,
// and (after 0F) the SSE moves and arithmetic and the widening moves.
constexpr std::array<bool, 256> oneByteMemoryOpcodes = opcodeTable(
    {0x01, 0x02, 0x03, 0x09, 0x0a, 0x0b, 0x11, 0x13, 0x19, 0x1b, 0x21, 0x22, 0x23, 0x29,
     0x2a, 0x2b, 0x31, 0x32, 0x33, 0x38, 0x39, 0x3a, 0x3b, 0x63, 0x80, 0x81, 0x83, 0x84,
     0x85, 0x87, 0x88, 0x89, 0x8a, 0x8b, 0x8d, 0xc6, 0xc7, 0xd9, 0xdd, 0xf6, 0xf7, 0xff});
constexpr std::array<bool, 256> twoByteMemoryOpcodes =
    opcodeTable({0x10, 0x11, 0x12, 0x16, 0x28, 0x29, 0x2a, 0x2e, 0x2f, 0x51, 0x54, 0x55,
                 0x56, 0x57, 0x58, 0x59, 0x5a, 0x5c, 0x5d, 0x5e, 0x5f, 0x6e, 0x6f, 0x7e,
                 0x7f, 0xb6, 0xb7, 0xbe, 0xbf, 0xd4, 0xd6, 0xdb, 0xef, 0xfa, 0xfb, 0xfe});

// The dynamic section's entries that hold addresses: DT_PLTGOT, DT_HASH,
// DT_STRTAB, DT_SYMTAB, DT_RELA, DT_INIT, DT_FINI, DT_REL, DT_JMPREL,
// DT_INIT_ARRAY, DT_FINI_ARRAY, DT_GNU_HASH, DT_VERSYM, DT_VERDEF, DT_VERNEED.
constexpr quint64 addressTags[] = {3,  4,  5,  6,          7,          12,         13,        17,
                                   23, 25, 26, 0x6ffffef5, 0x6ffffff0, 0x6ffffffc, 0x6ffffffe};

// Allocated sections with bytes in the file, sorted by address or offset, to
// turn one into the other.
struct Placed {
    quint64 address;
    quint64 offset;
    quint64 size;
};

std::vector<Placed> placedSections(const ElfLayout& layout, bool byAddress)
{
    std::vector<Placed> placed;
    for (const ElfSection& section : layout.sections) {
        if ((section.flags & flagAlloc) != 0 && section.type != sectionNobits &&
            section.type != sectionNull && section.size > 0)
            placed.push_back({section.address, section.offset, section.size});
    }
    std::stable_sort(placed.begin(), placed.end(), [byAddress](const Placed& a, const Placed& b) {
        return byAddress ? a.address < b.address : a.offset < b.offset;
    });
    return placed;
}

// The section holding key (an address or an offset), or nullptr.
const Placed* placedAt(const std::vector<Placed>& placed, quint64 key, bool byAddress)
{
    auto after = std::upper_bound(placed.begin(), placed.end(), key,
                                  [byAddress](quint64 value, const Placed& section) {
                                      return value < (byAddress ? section.address : section.offset);
                                  });
    if (after == placed.begin())
        return nullptr;
    const Placed& section = *(after - 1);
    const quint64 start = byAddress ? section.address : section.offset;
    return key - start < section.size ? &section : nullptr;
}

using Reference = ElfReference;
using Form = ElfReference::Form;

class ReferenceScanner final {
public:
    ReferenceScanner(QByteArrayView file, const ElfLayout& layout)
        : file(file), layout(layout), byAddress(placedSections(layout, true))
    {
        bool anyImage = false;
        bool anyCode = false;
        for (const ElfSection& section : layout.sections) {
            if ((section.flags & flagAlloc) == 0 || section.size == 0 ||
                ((section.flags & flagTls) != 0 && section.type == sectionNobits))
                continue;
            const quint64 end = section.address + section.size;
            imageLow = anyImage ? std::min(imageLow, section.address) : section.address;
            imageHigh = anyImage ? std::max(imageHigh, end) : end;
            anyImage = true;
            if ((section.flags & flagExec) != 0) {
                codeLow = anyCode ? std::min(codeLow, section.address) : section.address;
                codeHigh = anyCode ? std::max(codeHigh, end) : end;
                anyCode = true;
            }
        }
    }

    template <typename Visit> void run(Visit&& visit)
    {
        for (const ElfSection& section : layout.sections) {
            const bool placedInFile = section.type != sectionNobits && section.type != sectionNull;
            if (!placedInFile || section.size == 0)
                continue;
            const bool allocated = (section.flags & flagAlloc) != 0;
            if (allocated && (section.flags & flagExec) != 0 && section.type == sectionProgbits)
                scanCode(section, visit);
            else if (section.type == sectionRela || section.type == sectionRel)
                scanRelocations(section, visit);
            else if (section.type == sectionSymtab || section.type == sectionDynsym)
                scanSymbols(section, visit);
            else if (section.type == sectionDynamic)
                scanDynamic(section, visit);
            else if (allocated && section.name == ".eh_frame")
                scanFrames(section, visit);
            else if (allocated && section.name == ".eh_frame_hdr")
                scanFrameIndex(section, visit);
            else if (allocated && section.type == sectionProgbits && pointersInPlace())
                scanPointers(section, visit);
        }
    }

private:
    // An executable mapped at a fixed address holds its pointers as they
    // are, named by no table; in a shared object the relocations name them,
    // and small numbers would look like addresses.
    bool pointersInPlace() const { return layout.type == typeExec && imageLow >= 0x10000; }

    bool inImage(quint64 address) const { return address >= imageLow && address < imageHigh; }
    bool inCode(quint64 address) const { return address >= codeLow && address < codeHigh; }

    template <typename Visit> void scanCode(const ElfSection& section, Visit& visit)
    {
        const auto code = reinterpret_cast<const unsigned char*>(file.data() + section.offset);
        const quint64 size = section.size;
        const auto target = [&](quint64 displacement) {
            const auto value = qint32(read32(file, section.offset + displacement));
            return section.address + displacement + 4 + quint64(qint64(value));
        };
        quint64 at = 0;
        while (at + 5 <= size) {
            const quint64 displacement = rel32At(code, at, size);
            // A call or jump goes into code, an operand anywhere in the image.
            const bool branch =
                displacement == at + 1 || (displacement == at + 2 && code[at] == 0x0f);
            if (displacement != 0 && displacement + 4 <= size &&
                (branch ? inCode(target(displacement)) : inImage(target(displacement)))) {
                visit(Reference{section.offset + displacement, Form::Relative,
                                section.address + displacement + 4});
                at = displacement + 4;
            } else {
                ++at;
            }
        }
    }

    // The displacement's place in the section if an instruction with a rel32
    // may start at at, else 0.
    static quint64 rel32At(const unsigned char* code, quint64 at, quint64 size)
    {
        const unsigned char first = code[at];
        if (first == 0xe8 || first == 0xe9)
            return at + 1;
        if (first == 0x0f && at + 6 <= size && (code[at + 1] & 0xf0) == 0x80)
            return at + 2;
        quint64 op = at;
        if ((first & 0xf0) == 0x40) // REX
            ++op;
        if (op + 7 > size)
            return 0;
        const unsigned char opcode = code[op];
        const auto ripRelative = [](unsigned char modrm) { return (modrm & 0xc7) == 0x05; };
        if (opcode == 0x0f) {
            if (!ripRelative(code[op + 2]))
                return 0;
            return twoByteMemoryOpcodes[code[op + 1]] ? op + 3 : 0;
        }
        if (!ripRelative(code[op + 1]))
            return 0;
        return oneByteMemoryOpcodes[opcode] ? op + 2 : 0;
    }

    template <typename Visit> void scanRelocations(const ElfSection& section, Visit& visit)
    {
        const quint64 width = entrySize(section.type);
        const quint64 count = section.size / width;
        for (quint64 index = 0; index < count; ++index) {
            const quint64 entry = section.offset + index * width;
            visit(Reference{entry, Form::Absolute, 0});
            if (section.type == sectionRela) {
                const quint32 kind = read32(file, entry + 8);
                if (kind == 8 || kind == 37) // R_X86_64_RELATIVE, R_X86_64_IRELATIVE
                    visit(Reference{entry + 16, Form::Absolute, 0});
            }
            // What the place holds before the loader writes it: an address,
            // when the linker put one there.
            const quint64 place = read64(file, entry);
            if (const Placed* holder = placedAt(byAddress, place, true);
                holder != nullptr && holder->size >= 8 &&
                place - holder->address <= holder->size - 8) {
                const quint64 position = holder->offset + (place - holder->address);
                if (inImage(read64(file, position)))
                    visit(Reference{position, Form::Absolute, 0});
            }
        }
    }

    template <typename Visit> void scanSymbols(const ElfSection& section, Visit& visit)
    {
        const quint64 count = section.size / 24;
        for (quint64 index = 0; index < count; ++index) {
            const quint64 entry = section.offset + index * 24;
            const quint16 owner = read16(file, entry + 6);
            const auto kind = quint8(file[qsizetype(entry + 4)]) & 0xf;
            if (owner != 0 && owner < reservedIndex && kind != 6 /* STT_TLS */ &&
                read64(file, entry + 8) != 0)
                visit(Reference{entry + 8, Form::Absolute, 0});
        }
    }

    template <typename Visit> void scanDynamic(const ElfSection& section, Visit& visit)
    {
        const quint64 count = section.size / 16;
        for (quint64 index = 0; index < count; ++index) {
            const quint64 entry = section.offset + index * 16;
            const quint64 tag = read64(file, entry);
            if (tag == 0)
                break;
            if (std::find(std::begin(addressTags), std::end(addressTags), tag) !=
                std::end(addressTags))
                visit(Reference{entry + 8, Form::Absolute, 0});
        }
    }

    // The pointer encoding of a CIE's FDEs (its 'R' augmentation), or -1 when
    // it cannot be read.
    int frameEncoding(quint64 at, quint64 end) const
    {
        const auto byte = [this](quint64 where) { return quint8(file[qsizetype(where)]); };
        const auto skipLeb = [&](quint64& where) {
            while (where < end && (byte(where) & 0x80) != 0)
                ++where;
            return where++ < end;
        };
        if (at >= end)
            return -1;
        const quint8 version = byte(at++);
        const quint64 augmentation = at;
        while (at < end && byte(at) != 0)
            ++at;
        if (at >= end || (version != 1 && version != 3))
            return -1;
        const QByteArrayView letters =
            file.sliced(qsizetype(augmentation), qsizetype(at - augmentation));
        ++at;
        if (!skipLeb(at) || !skipLeb(at))
            return -1;
        if (version == 1)
            ++at;
        else if (!skipLeb(at))
            return -1;
        if (letters.empty() || letters[0] != 'z')
            return letters.empty() ? 0 : -1;
        if (!skipLeb(at))
            return -1;
        for (qsizetype index = 1; index < letters.size() && at < end; ++index) {
            switch (letters[index]) {
            case 'R':
                return byte(at);
            case 'L':
                ++at;
                break;
            case 'P': {
                const quint8 encoding = byte(at++);
                const int lowBits = encoding & 0x0f;
                at += lowBits == 2 || lowBits == 0x0a                   ? 2
                      : lowBits == 3 || lowBits == 0x0b                 ? 4
                      : lowBits == 0 || lowBits == 4 || lowBits == 0x0c ? 8
                                                                        : end; // unreadable: stop
                break;
            }
            case 'S':
            case 'B':
                break;
            default:
                return -1;
            }
        }
        return -1;
    }

    template <typename Visit> void scanFrames(const ElfSection& section, Visit& visit)
    {
        std::unordered_map<quint64, int> encodings; // by the CIE's place
        const quint64 sectionEnd = section.offset + section.size;
        quint64 at = section.offset;
        while (at + 8 <= sectionEnd) {
            const quint32 length = read32(file, at);
            if (length < 4 || length == 0xffffffff || length > sectionEnd - at - 4)
                break;
            const quint64 record = at + 4;
            const quint64 end = record + length;
            const quint32 id = read32(file, record);
            if (id == 0) {
                encodings[at] = frameEncoding(record + 4, end);
            } else if (id <= record - section.offset) {
                // The distance back to its CIE.
                visit(
                    Reference{record, Form::Backward, section.address + (record - section.offset)});
                const auto found = encodings.find(record - id);
                const int encoding = found == encodings.end() ? -1 : found->second;
                const quint64 field = record + 4;
                if (encoding == 0x1b && field + 4 <= end) // pc-relative, signed 4 bytes
                    visit(Reference{field, Form::Relative,
                                    section.address + (field - section.offset)});
            }
            at = end;
        }
    }

    template <typename Visit> void scanFrameIndex(const ElfSection& section, Visit& visit)
    {
        if (section.size < 12 || file[qsizetype(section.offset)] != 1)
            return;
        const auto encoding = [&](quint64 index) {
            return quint8(file[qsizetype(section.offset + index)]);
        };
        if (encoding(1) == 0x1b)
            visit(Reference{section.offset + 4, Form::Relative, section.address + 4});
        if (encoding(2) != 0x03 || encoding(3) != 0x3b) // a 4-byte count, a data-relative table
            return;
        const quint64 count =
            std::min<quint64>(read32(file, section.offset + 8), (section.size - 12) / 8);
        for (quint64 index = 0; index < 2 * count; ++index)
            visit(Reference{section.offset + 12 + 4 * index, Form::Relative, section.address});
    }

    template <typename Visit> void scanPointers(const ElfSection& section, Visit& visit)
    {
        quint64 at = (8 - section.address % 8) % 8;
        for (; at + 8 <= section.size; at += 8) {
            if (inImage(read64(file, section.offset + at)))
                visit(Reference{section.offset + at, Form::Absolute, 0});
        }
    }

    QByteArrayView file;
    const ElfLayout& layout;
    std::vector<Placed> byAddress;
    quint64 imageLow = 0;
    quint64 imageHigh = 0;
    quint64 codeLow = 0;
    quint64 codeHigh = 0;
};

qint64 shiftAt(const ShiftMap& map, quint64 address)
{
    auto after = std::upper_bound(
        map.begin(), map.end(), address,
        [](quint64 value, const AddressShift& point) { return value < point.address; });
    return after == map.begin() ? 0 : (after - 1)->shift;
}

void appendNumber(QByteArray& out, quint64 value)
{
    while (value >= 0x80) {
        out += char(0x80 | (value & 0x7f));
        value >>= 7;
    }
    out += char(value);
}

std::optional<quint64> readNumber(QByteArrayView bytes, qsizetype& at)
{
    quint64 value = 0;
    for (int shift = 0; shift < 64 && at < bytes.size(); shift += 7) {
        const auto byte = quint8(bytes[at++]);
        if (shift == 63 && (byte & 0x7f) > 1)
            return std::nullopt;
        value |= quint64(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0)
            return value;
    }
    return std::nullopt;
}

} // namespace

std::optional<ElfLayout> parseElf(QByteArrayView file, QString* why)
{
    const auto size = quint64(file.size());
    if (size < 64 || std::memcmp(file.data(),
                                 "\x7f"
                                 "ELF",
                                 4) != 0)
        return refuse(why, QStringLiteral("not an ELF file"));
    if (file[4] != 2 || file[5] != 1 || file[6] != 1 || read32(file, 20) != 1 ||
        read16(file, 18) != machineX8664 || read16(file, 52) != 64)
        return refuse(why, QStringLiteral("not a 64-bit little-endian x86-64 ELF file"));
    ElfLayout layout;
    layout.type = read16(file, 16);
    if (layout.type != typeExec && layout.type != typeDyn)
        return refuse(why, QStringLiteral("neither an executable nor a shared object"));
    const quint64 programTable = read64(file, 32);
    const quint16 programCount = read16(file, 56);
    if (programCount > 0 &&
        (read16(file, 54) != 56 || !within(programTable, quint64(programCount) * 56, size)))
        return refuse(why, QStringLiteral("the program header table lies outside the file"));
    const quint64 sectionTable = read64(file, 40);
    const quint16 sectionCount = read16(file, 60);
    const quint16 namesIndex = read16(file, 62);
    if (sectionCount == 0 || sectionCount >= reservedIndex)
        return refuse(why, QStringLiteral("no section table this reads"));
    if (read16(file, 58) != 64 || !within(sectionTable, quint64(sectionCount) * 64, size))
        return refuse(why, QStringLiteral("the section table lies outside the file"));
    if (namesIndex == 0 || namesIndex >= sectionCount)
        return refuse(why, QStringLiteral("the section names are no section"));
    const quint64 namesEntry = sectionTable + quint64(namesIndex) * 64;
    const quint64 namesOffset = read64(file, namesEntry + 24);
    const quint64 namesSize = read64(file, namesEntry + 32);
    if (read32(file, namesEntry + 4) != sectionStrtab || !within(namesOffset, namesSize, size))
        return refuse(why, QStringLiteral("the section names lie outside the file"));
    const QByteArrayView names = file.sliced(qsizetype(namesOffset), qsizetype(namesSize));
    layout.sections.reserve(sectionCount);
    // Sections do not share bytes: the reference scan reads each section's
    // bytes once, so their sum bounds its work whatever the table says.
    quint64 placedBytes = 0;
    for (quint64 index = 0; index < sectionCount; ++index) {
        const quint64 entry = sectionTable + index * 64;
        ElfSection section;
        const quint32 nameAt = read32(file, entry);
        section.type = read32(file, entry + 4);
        section.flags = read64(file, entry + 8);
        section.address = read64(file, entry + 16);
        section.offset = read64(file, entry + 24);
        section.size = read64(file, entry + 32);
        section.link = read32(file, entry + 40);
        const quint64 entries = read64(file, entry + 56);
        const QString where = QStringLiteral("section %1").arg(index);
        if (section.type != sectionNobits && section.type != sectionNull) {
            if (!within(section.offset, section.size, size))
                return refuse(why, where + QStringLiteral(" lies outside the file"));
            placedBytes += section.size;
            if (placedBytes > size)
                return refuse(why, QStringLiteral("the sections overlap"));
        }
        if (nameAt >= names.size())
            return refuse(why, where + QStringLiteral("'s name lies outside the section names"));
        const QByteArrayView rest =
            names.sliced(nameAt, std::min<qsizetype>(names.size() - nameAt, longestSectionName));
        const qsizetype nameEnd = rest.indexOf('\0');
        if (nameEnd < 0)
            return refuse(why, where + QStringLiteral("'s name does not end"));
        section.name = rest.first(nameEnd).toByteArray();
        if (section.link >= sectionCount)
            return refuse(why, where + QStringLiteral(" links to no section"));
        if (section.address >= addressLimit || section.size >= addressLimit)
            return refuse(why, where + QStringLiteral("'s addresses wrap"));
        if (const quint64 expected = entrySize(section.type);
            expected != 0 && section.size > 0 && entries != expected)
            return refuse(why, where + QStringLiteral("'s entries have the wrong size"));
        layout.sections.push_back(std::move(section));
    }
    return layout;
}

quint64 referenceTarget(QByteArrayView file, const ElfReference& reference)
{
    switch (reference.form) {
    case Form::Relative:
        return reference.base + quint64(qint64(qint32(read32(file, reference.position))));
    case Form::Backward:
        return reference.base - read32(file, reference.position);
    case Form::Absolute:
        break;
    }
    return read64(file, reference.position);
}

std::vector<ElfReference> findReferences(QByteArrayView file, const ElfLayout& layout)
{
    std::vector<ElfReference> found;
    ReferenceScanner(file, layout).run([&found](const Reference& reference) {
        found.push_back(reference);
    });
    std::stable_sort(found.begin(), found.end(), [](const ElfReference& a, const ElfReference& b) {
        return a.position < b.position;
    });
    return found;
}

QByteArray predictReferences(QByteArrayView old, const ElfLayout& layout, const ShiftMap& map)
{
    QByteArray predicted = old.toByteArray();
    char* out = predicted.data();
    ReferenceScanner(old, layout).run([&](const Reference& reference) {
        const quint64 target = referenceTarget(old, reference);
        const auto shift = [&map](quint64 address) { return quint64(shiftAt(map, address)); };
        if (reference.form == Form::Absolute) {
            const quint64 moved = target + shift(target);
            std::memcpy(out + reference.position, &moved, 8);
            return;
        }
        const quint32 value = read32(old, reference.position);
        const quint64 change = shift(target) - shift(reference.base);
        const quint32 moved =
            reference.form == Form::Relative ? value + quint32(change) : value - quint32(change);
        std::memcpy(out + reference.position, &moved, 4);
    });
    return predicted;
}

qint64 countReferences(QByteArrayView old, const ElfLayout& layout)
{
    qint64 count = 0;
    ReferenceScanner(old, layout).run([&count](const Reference&) { ++count; });
    return count;
}

QByteArray formatShiftMap(const ShiftMap& map)
{
    QByteArray out;
    appendNumber(out, map.size());
    quint64 address = 0;
    quint64 shift = 0;
    for (const AddressShift& point : map) {
        appendNumber(out, point.address - address);
        const quint64 change = quint64(point.shift) - shift;
        appendNumber(out, (change << 1) ^ quint64(qint64(change) >> 63));
        address = point.address;
        shift = quint64(point.shift);
    }
    return out;
}

std::optional<ShiftMap> parseShiftMap(QByteArrayView bytes, qint64 maxEntries)
{
    qsizetype at = 0;
    const std::optional<quint64> count = readNumber(bytes, at);
    if (!count || *count > quint64(maxEntries))
        return std::nullopt;
    ShiftMap map;
    map.reserve(size_t(*count));
    quint64 address = 0;
    quint64 shift = 0;
    for (quint64 index = 0; index < *count; ++index) {
        const std::optional<quint64> distance = readNumber(bytes, at);
        const std::optional<quint64> change = readNumber(bytes, at);
        if (!distance || !change || (index > 0 && *distance == 0) ||
            *distance > ~quint64(0) - address)
            return std::nullopt;
        address += *distance;
        shift += (*change >> 1) ^ (~(*change & 1) + 1);
        map.push_back({address, qint64(shift)});
    }
    if (at != bytes.size())
        return std::nullopt;
    return map;
}
