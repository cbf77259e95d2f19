#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <vector>

// The references of an x86-64 ELF file (an executable or a shared object)
// that move when a release moves code or data: rel32 displacements of calls,
// jumps, conditional jumps and RIP-relative operands in the executable
// sections; the addresses the relocation tables, the symbol tables, the
// dynamic section and the unwind tables (.eh_frame, .eh_frame_hdr) hold; and,
// in an executable without relocation tables (a statically linked program),
// every aligned quadword of its data that points into its image.
//
// The code is not disassembled instruction by instruction: the executable
// sections are scanned byte by byte for the opcodes that carry a rel32 (E8,
// E9, 0F 80-8F, and the common ModR/M forms with a RIP-relative operand), a
// candidate counts when its target lies inside the image, and the scan goes
// on after its displacement. A wrong guess costs only bytes, never
// correctness: the encoder and the applier find the same references in the
// same old file, by the same code.

// What the applier needs of an ELF file's headers, checked against its size.
struct ElfSection {
    quint32 type = 0;
    quint64 flags = 0;
    quint64 address = 0;
    quint64 offset = 0;
    quint64 size = 0;
    quint32 link = 0;
    QByteArray name;
};

struct ElfLayout {
    quint16 type = 0; // ET_EXEC or ET_DYN
    std::vector<ElfSection> sections;
};

// The layout of an ELF64 little-endian x86-64 executable or shared object with
// a section table; nullopt with why set for anything else or anything
// inconsistent: a table or section outside the file, sections that together
// hold more bytes than the file (they overlap), a name outside the
// section names, a link to no section, a table whose entry size is not the
// one its type has, an address range that wraps.
std::optional<ElfLayout> parseElf(QByteArrayView file, QString* why = nullptr);

// Where a release moved the old file's addresses: from each breakpoint's old
// address up to the next, new address = old address + shift. Below the first
// breakpoint nothing moved.
struct AddressShift {
    quint64 address = 0;
    qint64 shift = 0;
};
using ShiftMap = std::vector<AddressShift>; // strictly increasing addresses

// One reference: the place of its bytes in the file, what they hold, and the
// address the value is taken relative to.
struct ElfReference {
    enum class Form : quint8 {
        Absolute, // 8 bytes: the target's address
        Relative, // 4 bytes, signed: the target's distance from base
        Backward, // 4 bytes: base's distance back to the target (.eh_frame's CIE pointers)
    };
    quint64 position = 0;
    Form form = Form::Absolute;
    quint64 base = 0;
};

// The address a reference of file points to.
quint64 referenceTarget(QByteArrayView file, const ElfReference& reference);

// Every reference of the file, by position.
std::vector<ElfReference> findReferences(QByteArrayView file, const ElfLayout& layout);

// The old file with every reference rewritten as the shift map predicts the
// new file has it: a reference whose target moved with its code writes the
// new file's bytes. Bounded by the file's size: one pass over each section.
QByteArray predictReferences(QByteArrayView old, const ElfLayout& layout, const ShiftMap& map);

// How many references predictReferences rewrites (for tests and benchmarks).
qint64 countReferences(QByteArrayView old, const ElfLayout& layout);

// The map as bytes (LEB128 numbers: the count, then each address's distance
// from the last and its shift's change, zig-zag) and back; nullopt when the
// bytes are malformed, hold more than maxEntries breakpoints, bytes left
// over or an address that wraps.
QByteArray formatShiftMap(const ShiftMap& map);
std::optional<ShiftMap> parseShiftMap(QByteArrayView bytes, qint64 maxEntries);
