#pragma once
// Authenticode signatures of Windows programs. A signature covers the whole program, its
// resources included, and sits at the end of the file in the certificate table that the PE
// header's security directory points to. Adding packages changes the resources and so breaks
// the signature; Windows' resource updater even keeps the stale table, which leaves a program
// with an invalid signature. tessara-pack therefore packs a signed base without its signature,
// and the result is signed once its packages are in.

#include <cstdint>
#include <optional>
#include <string>

struct CertificateTable {
    uint64_t offset = 0;  // in the file: the security directory holds a file offset
    uint64_t size = 0;
    uint64_t entryOffset = 0;  // where the security directory entry itself lies in the file
};

// The certificate table of the program at `path`; nullopt when it carries none or is no PE
// program (the resource updater has its own say about that). Throws when the table does not end
// the file: data a signing tool does not write, which cannot be taken off safely.
std::optional<CertificateTable> FindCertificateTable(const std::string& path);

// Writes `to` as the program `from` without its certificate table: the bytes in front of the
// table, with the security directory entry emptied.
void CopyWithoutCertificates(const std::string& from, const CertificateTable& table,
                             const std::string& to);
