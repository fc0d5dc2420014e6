// The post-link layout on a synthetic linked image: every byte the archive
// builders rely on, file offsets moved, nothing the loader maps changed.
#include <gtest/gtest.h>

#include "layout/layout.h"
#include "synthetic_pe.h"

namespace {

TEST(Layout, GivesTheDosHeaderBlockAreaAndDosProgram) {
    pe::Bytes file = synthetic::LinkedImage();
    std::string error;
    ASSERT_TRUE(layout::Apply(file, &error)) << error;

    EXPECT_EQ(pe::Get16(file, 0), 0x5A4D);               // "MZ"
    EXPECT_EQ(pe::Get16(file, 0x08), 32);                // header paragraphs
    EXPECT_EQ(pe::Get16(file, 0x14), 0x0000);            // IP
    EXPECT_EQ(pe::Get16(file, 0x16), 0x0017);            // CS
    EXPECT_EQ(std::string(file.begin() + 0x24, file.begin() + 0x2E), "LHA's SFX ");
    EXPECT_EQ(pe::Get32(file, 0x3C), 0x408u);
    for (size_t i = 0x40; i < 0x370; ++i) ASSERT_EQ(file[i], 0) << "offset " << i;

    // The DOS load image (from the header's page counts) holds the program
    // and its "$"-terminated message at DS:DX.
    uint32_t pages = pe::Get16(file, 0x04), lastPage = pe::Get16(file, 0x02);
    uint32_t dosEnd = (lastPage == 0 ? pages : pages - 1) * 512 + lastPage;
    uint32_t entry = pe::Get16(file, 0x08) * 16 + pe::Get16(file, 0x16) * 16 + pe::Get16(file, 0x14);
    ASSERT_EQ(entry, 0x370u);
    ASSERT_EQ(file[entry + 2], 0xBA);  // mov dx, imm16
    uint32_t message = entry + pe::Get16(file, entry + 3);
    std::string text(file.begin() + message, file.begin() + dosEnd);
    EXPECT_EQ(text, "This program cannot be run in DOS mode.\r\r\n$");
    EXPECT_LE(pe::Get16(file, 0x0E) * 16 + pe::Get16(file, 0x10), dosEnd - 0x200 + pe::Get16(file, 0x0A) * 16)
        << "the stack lies inside the memory DOS gives the program";
}

TEST(Layout, MovesFileOffsetsOnly) {
    const pe::Bytes linked = synthetic::LinkedImage();
    pe::Image before;
    std::string error;
    ASSERT_TRUE(pe::Parse(linked, &before, &error));
    pe::Bytes file = linked;
    ASSERT_TRUE(layout::Apply(file, &error)) << error;
    pe::Image after;
    ASSERT_TRUE(pe::Parse(file, &after, &error)) << error;

    EXPECT_EQ(after.peOffset, 0x408u);
    EXPECT_EQ(after.sizeOfHeaders, 0x600u);
    EXPECT_EQ(file.size(), linked.size() + 0x200);
    ASSERT_EQ(after.sections.size(), before.sections.size());
    for (size_t i = 0; i < after.sections.size(); ++i) {
        const pe::Section& a = after.sections[i];
        const pe::Section& b = before.sections[i];
        EXPECT_EQ(a.rawPointer, b.rawPointer + 0x200);
        EXPECT_EQ(a.virtualAddress, b.virtualAddress);
        EXPECT_EQ(a.virtualSize, b.virtualSize);
        EXPECT_EQ(pe::Bytes(file.begin() + a.rawPointer, file.begin() + a.rawPointer + a.rawSize),
                  pe::Bytes(linked.begin() + b.rawPointer, linked.begin() + b.rawPointer + b.rawSize));
    }
    // Optional header unchanged except SizeOfHeaders and the checksum.
    for (size_t i = 0; i < 24 + 224; ++i) {
        if (i >= pe::OPT_SIZE_OF_HEADERS && i < pe::OPT_SIZE_OF_HEADERS + 4) continue;
        if (i >= pe::OPT_CHECKSUM && i < pe::OPT_CHECKSUM + 4) continue;
        ASSERT_EQ(file[0x408 + i], linked[0x80 + i]) << "header byte " << i;
    }
    EXPECT_EQ(pe::Get32(file, after.checksumOffset()), pe::Checksum(file, after.checksumOffset()));
}

TEST(Layout, IsStableWhenAppliedTwice) {
    pe::Bytes once = synthetic::LinkedImage();
    std::string error;
    ASSERT_TRUE(layout::Apply(once, &error));
    pe::Bytes twice = once;
    ASSERT_TRUE(layout::Apply(twice, &error)) << error;
    EXPECT_EQ(once, twice);
}

TEST(Layout, RefusesWhatCannotFit) {
    std::string error;
    pe::Bytes seven = synthetic::LinkedImage(7);  // section table would end at 0x618
    EXPECT_FALSE(layout::Apply(seven, &error));
    EXPECT_NE(error.find("0x600"), std::string::npos) << error;

    pe::Bytes signedFile = synthetic::LinkedImage();
    pe::Put32(signedFile, 0x80 + pe::OPT_DIRECTORIES + 8 * pe::DIR_SECURITY + 4, 0x100);
    EXPECT_FALSE(layout::Apply(signedFile, &error));

    pe::Bytes notPe = synthetic::LinkedImage();
    notPe[0x80] = 'X';
    EXPECT_FALSE(layout::Apply(notPe, &error));
}

TEST(Checksum, MatchesAKnownValue) {
    // Words 0x0201, 0x0403 and an odd last byte 0x05; the field at 4 is skipped.
    pe::Bytes file = {0x01, 0x02, 0x03, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0x05};
    EXPECT_EQ(pe::Checksum(file, 4), 0x0201u + 0x0403u + 0x05u + 9u);
    // The carry out of 16 bits folds back in.
    pe::Bytes carry = {0xFF, 0xFF, 0x02, 0x00, 0, 0, 0, 0};
    EXPECT_EQ(pe::Checksum(carry, 4), 0x0002u + 8u);
}

}  // namespace
