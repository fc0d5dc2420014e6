#include "layout/layout.h"

#include <string.h>

namespace layout {

namespace {

// The DOS header: a load image from 0x200 to the end of the DOS program, a
// small stack right behind it, entry at 0017:0000.
void WriteDosHeader(pe::Bytes& out) {
    const uint32_t dosFileSize = DOS_PROGRAM + DOS_PROGRAM_SIZE;
    const uint32_t imageParagraphs = (dosFileSize - BLOCK_AREA + 15) / 16;
    const uint16_t stackBytes = 0x100;
    out[0] = 'M';
    out[1] = 'Z';
    pe::Put16(out, 0x02, dosFileSize % 512);               // bytes on the last page
    pe::Put16(out, 0x04, (dosFileSize + 511) / 512);       // pages
    pe::Put16(out, 0x06, 0);                               // relocations
    pe::Put16(out, 0x08, DOS_HEADER_PARAGRAPHS);           // header size
    pe::Put16(out, 0x0A, stackBytes / 16 + 1);             // minimum extra paragraphs
    pe::Put16(out, 0x0C, 0xFFFF);                          // maximum extra paragraphs
    pe::Put16(out, 0x0E, static_cast<uint16_t>(imageParagraphs));  // SS
    pe::Put16(out, 0x10, stackBytes);                      // SP
    pe::Put16(out, 0x14, DOS_ENTRY_IP);
    pe::Put16(out, 0x16, DOS_ENTRY_CS);
    pe::Put16(out, 0x18, 0x40);                            // relocation table (empty)
    memcpy(&out[MARKER_OFFSET], MARKER, MARKER_LENGTH);
    pe::Put32(out, 0x3C, PE_HEADER);
    memcpy(&out[DOS_PROGRAM], DOS_CODE, sizeof DOS_CODE);
    memcpy(&out[DOS_PROGRAM + sizeof DOS_CODE], DOS_MESSAGE, sizeof DOS_MESSAGE - 1);
}

}  // namespace

bool Apply(pe::Bytes& file, std::string* error) {
    pe::Image image;
    if (!pe::Parse(file, &image, error)) return false;
    if (image.fileAlignment == 0 || SECTION_DATA % image.fileAlignment != 0) {
        *error = "file alignment does not divide 0x600";
        return false;
    }
    for (const pe::Section& s : image.sections) {
        if (s.virtualAddress < SECTION_DATA) {
            *error = "section " + s.name + " is mapped inside the 0x600 bytes of headers";
            return false;
        }
    }
    if (image.directorySize(file, pe::DIR_SECURITY) != 0 || image.directorySize(file, pe::DIR_DEBUG) != 0) {
        *error = "certificate or debug data hold file offsets that would move";
        return false;
    }
    const size_t headersLength = image.headersEnd() - image.peOffset;
    if (PE_HEADER + headersLength > SECTION_DATA) {
        *error = "PE header and section table (" + std::to_string(image.sections.size()) +
                 " sections) do not end by 0x600; merge or drop sections at link time";
        return false;
    }
    const uint32_t dataStart = image.firstSectionData();
    if (dataStart == 0 || dataStart < image.headersEnd()) {
        *error = "no section data, or section data inside the headers";
        return false;
    }

    pe::Bytes out(SECTION_DATA, 0);
    WriteDosHeader(out);
    memcpy(&out[PE_HEADER], &file[image.peOffset], headersLength);
    out.insert(out.end(), file.begin() + dataStart, file.end());

    // Every file offset behind the headers moves by the same distance.
    const int64_t shift = static_cast<int64_t>(SECTION_DATA) - dataStart;
    for (const pe::Section& s : image.sections) {
        size_t entry = s.headerOffset - image.peOffset + PE_HEADER;
        if (s.rawSize != 0) pe::Put32(out, entry + 20, static_cast<uint32_t>(s.rawPointer + shift));
    }
    uint32_t symbols = pe::Get32(out, PE_HEADER + pe::COFF_SYMBOL_TABLE);
    if (symbols != 0) pe::Put32(out, PE_HEADER + pe::COFF_SYMBOL_TABLE, static_cast<uint32_t>(symbols + shift));
    pe::Put32(out, PE_HEADER + pe::OPT_SIZE_OF_HEADERS, SECTION_DATA);
    pe::Put32(out, PE_HEADER + pe::OPT_CHECKSUM, 0);
    pe::Put32(out, PE_HEADER + pe::OPT_CHECKSUM, pe::Checksum(out, PE_HEADER + pe::OPT_CHECKSUM));
    file.swap(out);
    return true;
}

}  // namespace layout
