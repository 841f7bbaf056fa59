#pragma once
// Read-only access to an INI file with the Windows profile rules: section and key names match
// without regard to case, a missing file, section or key gives the default, blanks around a
// value and one pair of enclosing quotes are removed, text is cut to 2047 characters, integers
// are decimal or hexadecimal ("0x", "0X", "$"), anything else reads as 0. On Windows a file in
// the system's code page reads as UTF-8 (see SystemCodePage.h). Never writes.

#include <cstdint>
#include <map>
#include <string>

class CIniFile {
  public:
    // Reads the whole file once; a missing or unreadable file behaves as an empty one. A file
    // larger than 16 MB throws CSystemError (EFBIG) naming it.
    explicit CIniFile(const std::string& path);

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    int32_t ReadInteger(const std::string& section, const std::string& key,
                        int32_t defaultValue) const;

  private:
    // Lower-cased section name -> lower-cased key -> raw value (first occurrence wins).
    std::map<std::string, std::map<std::string, std::string>> m_sections;
};
