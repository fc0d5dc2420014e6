// Headers that the stub's reader and the builder's listing must judge alike:
// end markers, cuts, wrong levels and sizes, extended headers that do not fit
// or are too short to read, a missing or wrong header CRC. Each archive holds
// the one header (or marker) under test and nothing after a damaged one.
#pragma once

#include <string>
#include <vector>

#include "unit/decode_stream_writer.h"

namespace support {

enum class HeaderJudgement { End, Damaged };

struct DamagedHeaderCase {
    const char* what;
    std::string archive;
    HeaderJudgement judgement;
};

inline lzh::Header PlainHeader(const std::string& name = "a.txt") {
    lzh::Header h;
    h.extensions.push_back(lzh::FileName(name));
    return h;
}

inline std::vector<DamagedHeaderCase> DamagedHeaderCases() {
    lzh::Header level0 = PlainHeader(), level1 = PlainHeader(), noCommon = PlainHeader(), badCrc = PlainHeader();
    level0.level = 0;
    level1.level = 1;
    noCommon.common = false;
    badCrc.crcDelta = 1;
    std::string good = PlainHeader().Bytes();

    // A header whose size is a multiple of 256 starts with 0: an end marker.
    lzh::Header size256 = PlainHeader(std::string(256 - 34, 'n'));

    std::string shortSize = good;
    shortSize[0] = 20;  // below the 26 bytes of the base header
    shortSize[1] = 0;
    std::string extTooSmall = PlainHeader().Bytes();
    extTooSmall[24] = 2;  // first extension of 2 bytes
    std::string chainOutside = PlainHeader().Bytes();
    chainOutside[24] = static_cast<char>(0xF0);  // first extension runs past the header

    std::vector<DamagedHeaderCase> cases = {
        {"single end marker", std::string(1, '\0'), HeaderJudgement::End},
        {"end marker with bytes after it", std::string(1, '\0') + good, HeaderJudgement::End},
        {"no end marker", "", HeaderJudgement::Damaged},
        {"cut inside the base header", good.substr(0, 25), HeaderJudgement::Damaged},
        {"cut inside the extensions", good.substr(0, good.size() - 1), HeaderJudgement::Damaged},
        {"level 0", level0.Bytes(), HeaderJudgement::Damaged},
        {"level 1", level1.Bytes(), HeaderJudgement::Damaged},
        {"no EXT_COMMON", noCommon.Bytes(), HeaderJudgement::Damaged},
        {"wrong header CRC", badCrc.Bytes(), HeaderJudgement::Damaged},
        {"size multiple of 256", size256.Bytes() + good, HeaderJudgement::End},
        {"total size below 26", shortSize, HeaderJudgement::Damaged},
        {"extension below 3 bytes", extTooSmall, HeaderJudgement::Damaged},
        {"chain past the header", chainOutside, HeaderJudgement::Damaged},
    };
    // A record that is read but holds less than it needs: the header CRC, the
    // attribute word, the Windows times, the large sizes.
    for (uint8_t type : {0x00, 0x40, 0x41, 0x42}) {
        lzh::Header h = PlainHeader();
        h.osId = 'M';
        h.extensions.push_back(lzh::Extension{type, std::string(1, '\x11')});
        cases.push_back({type == 0x00   ? "EXT_COMMON of one byte"
                         : type == 0x40 ? "EXT_ATTRIBUTE of one byte"
                         : type == 0x41 ? "EXT_WINDOWS_TIME of one byte"
                                        : "EXT_LARGE_SIZE of one byte",
                         h.Bytes(), HeaderJudgement::Damaged});
    }
    return cases;
}

}  // namespace support
