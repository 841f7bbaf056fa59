#pragma once
// The RAR 2.9/4.x archive format as far as the project writes and checks it: the signature,
// the block types and header flags, the fields of STORE file headers and the CRC-32 of headers
// and data. Shared by the writer of tessara-pack and the block walk of the archiver.

#include <cstddef>
#include <cstdint>

// The signature that starts every archive: "Rar!" 1A 07 00.
inline constexpr uint8_t kRarSignature[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};

// Every block starts with HEAD_CRC u16, HEAD_TYPE u8, HEAD_FLAGS u16, HEAD_SIZE u16.
inline constexpr size_t kRarBaseHeaderSize = 7;
// A file header up to its name; 8 bytes more with kRarLargeFile.
inline constexpr size_t kRarFileHeaderSize = 32;
inline constexpr size_t kRarLargeFileHeaderSize = 40;

// Block types.
inline constexpr uint8_t kRarMainHead = 0x73;
inline constexpr uint8_t kRarFileHead = 0x74;
inline constexpr uint8_t kRarServiceHead = 0x7A;
inline constexpr uint8_t kRarEndArcHead = 0x7B;

// Header flags.
inline constexpr uint16_t kRarLongBlock = 0x8000;    // a 32-bit data size follows the base header
inline constexpr uint16_t kRarEndArcFlags = 0x4000;  // what the RAR archiver puts in its end block
inline constexpr uint16_t kRarUnicodeName = 0x200;   // file header: the name bytes are UTF-8
inline constexpr uint16_t kRarLargeFile = 0x100;     // file header: HIGH_PACK_SIZE follows
inline constexpr uint16_t kRarDirectoryDict = 0xE0;  // file header: the entry is a directory
// File header flags that only readers meet.
inline constexpr uint16_t kRarSplitBefore = 0x01;  // continued from the previous volume
inline constexpr uint16_t kRarSplitAfter = 0x02;   // continued in the next volume
inline constexpr uint16_t kRarEncrypted = 0x04;    // the data needs a password
inline constexpr uint16_t kRarDictionaryMask = 0xE0;
inline constexpr uint16_t kRarFileVersion = 0x800;  // the name carries a version suffix ";n"
// Main header flags.
inline constexpr uint16_t kRarVolume = 0x01;            // one volume of a multi-volume archive
inline constexpr uint16_t kRarEncryptedHeaders = 0x80;  // every later block needs a password

// Fields of the file headers of STORE entries.
inline constexpr size_t kRarNameSizeOffset = 26;  // NAME_SIZE u16, then ATTR u32
inline constexpr size_t kRarHostOffset = 15;      // HOST_OS u8
inline constexpr uint8_t kRarHostMsDos = 0;
inline constexpr uint8_t kRarHostOs2 = 1;
inline constexpr uint8_t kRarHostWin32 = 2;
inline constexpr uint8_t kRarHostUnix = 3;
inline constexpr uint8_t kRarUnpackVersion = 20;
inline constexpr uint8_t kRarMethodStore = 0x30;
inline constexpr uint32_t kRarAttrDirectory = 0x10;
inline constexpr uint32_t kRarAttrArchive = 0x20;

// The standard CRC-32 (as in zip), computed incrementally.
class CCrc32 {
  public:
    void Update(const void* data, size_t size);
    uint32_t Value() const { return m_state ^ 0xFFFFFFFFu; }

  private:
    uint32_t m_state = 0xFFFFFFFFu;
};

// The HEAD_CRC of a whole block header: the low 16 bits of the CRC-32 of what follows the field.
uint16_t RarHeaderCrc(const uint8_t* header, size_t size);
