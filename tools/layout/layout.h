// The header layout that archive builders rely on, given to the linked stub
// by a post-link step: DOS header with the marker, the zeroed block area at
// 512, a DOS stub program at 0x370, the PE header at 0x408 and section data
// from 0x600. Only file offsets move; nothing that the loader maps changes.
#pragma once

#include <stdint.h>

#include <string>

#include "files/pe_image.h"

namespace layout {

constexpr uint32_t DOS_HEADER_PARAGRAPHS = 32;  // the DOS load image begins at 0x200
constexpr uint16_t DOS_ENTRY_CS = 0x0017;       // 0x200 + 0x17 * 16 = 0x370
constexpr uint16_t DOS_ENTRY_IP = 0x0000;
constexpr uint32_t MARKER_OFFSET = 0x24;
constexpr char MARKER[] = "LHA's SFX ";  // ten bytes, no terminator in the file
constexpr uint32_t MARKER_LENGTH = 10;
constexpr uint32_t BLOCK_AREA = 0x200;       // the configuration block's place
constexpr uint32_t BLOCK_AREA_END = 0x370;   // block (364 bytes) and 4 zero bytes
constexpr uint32_t DOS_PROGRAM = 0x370;
constexpr uint32_t PE_HEADER = 0x408;
constexpr uint32_t SECTION_DATA = 0x600;

static_assert(BLOCK_AREA + DOS_ENTRY_CS * 16 + DOS_ENTRY_IP == DOS_PROGRAM, "CS:IP names 0x370");
static_assert(sizeof MARKER - 1 == MARKER_LENGTH, "the marker is ten bytes");

// The DOS program: prints its message through DOS and exits with code 1.
//   push cs / pop ds / mov dx, message / mov ah, 9 / int 21h / mov ax, 4C01h / int 21h
constexpr uint8_t DOS_CODE[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09,
                                0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
constexpr char DOS_MESSAGE[] = "This program cannot be run in DOS mode.\r\r\n$";
constexpr uint32_t DOS_PROGRAM_SIZE = sizeof DOS_CODE + sizeof DOS_MESSAGE - 1;
static_assert(sizeof DOS_CODE == 0x0E, "the message follows the code at offset 0x0E");
static_assert(DOS_PROGRAM + DOS_PROGRAM_SIZE <= PE_HEADER, "the DOS program fits before the PE header");

// Rewrites a linked PE32 file in memory into the layout above and sets a
// valid image checksum. False with a reason when the file cannot take it
// (section table too long to end before 0x600, certificate present, ...).
bool Apply(pe::Bytes& file, std::string* error);

}  // namespace layout
