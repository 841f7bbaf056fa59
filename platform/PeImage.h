#pragma once
// The few fields of a PE program file (a Windows .exe) that a rewrite of its resources must keep
// right: the COFF symbol table that the file header points to, and the checksum of the optional
// header. A program stripped by binutils keeps a symbol table of no symbols whose string table
// holds its long section names (".gnu_debuglink", the debug link); Windows' resource updater
// rewrites the sections and leaves the header pointing into the new resources, which binutils
// then refuses ("bad string table size"). Pure functions over the file's bytes.

#include <cstdint>
#include <string>
#include <string_view>

struct CoffSymbols {
    std::string bytes;  // the symbols, then the string table; empty for none
    uint32_t count = 0;
};

// The symbol table with its string table, as the file header of `image` points to them; empty
// when it points to none. Throws std::runtime_error when the headers or the table lie outside
// the file.
CoffSymbols CoffSymbolTable(std::string_view image);

// Puts `table` (from CoffSymbolTable) right after the last section's data, drops whatever
// followed that data, and points the file header to it (no table: pointer and count 0).
void PlaceCoffSymbolTable(std::string& image, const CoffSymbols& table);

// The checksum of the image as Windows computes it (CheckSumMappedFile): 16-bit one's-complement
// sum of the file with the checksum field taken as 0, plus the file's length.
uint32_t PeChecksum(std::string_view image);

// Writes PeChecksum into the optional header.
void SetPeChecksum(std::string& image);
