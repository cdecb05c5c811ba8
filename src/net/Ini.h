// A small INI reader in the manner of the Windows private-profile calls: sections and
// keys match without regard to case, values are trimmed and lose surrounding quotes.
// The file may be GBK (as written on Chinese Windows), UTF-8 with or without a BOM,
// or UTF-16LE with a BOM.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace brenvik {

class IniFile {
  public:
    IniFile() = default;
    // Reads the file once; a missing or unreadable file behaves as an empty one.
    explicit IniFile(std::filesystem::path file);

    bool Exists() const { return exists_; }
    const std::filesystem::path& File() const { return file_; }

    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& fallback) const;
    // The decimal value of a non-empty text (unsigned conversion), else the fallback.
    unsigned GetInt(const std::string& section, const std::string& key, unsigned fallback) const;
    bool Has(const std::string& section, const std::string& key) const;
    // Every key of a section in file order, as written.
    std::vector<std::string> Keys(const std::string& section) const;
    // Lines that are neither a section, a key, a comment nor blank.
    const std::vector<std::string>& BadLines() const { return badLines_; }

    // Parses INI text already turned into UTF-8.
    void ParseText(const std::string& text);
    // Turns the bytes of an INI file into UTF-8 text.
    static std::string DecodeFileBytes(const std::string& bytes);

  private:
    struct Section {
        std::map<std::string, std::string> values;  // by lower-cased key
        std::vector<std::string> order;             // keys as written
    };
    const std::string* Find(const std::string& section, const std::string& key) const;

    std::filesystem::path file_;
    bool exists_ = false;
    std::map<std::string, Section> sections_;  // by lower-cased name
    std::vector<std::string> badLines_;
};

}  // namespace brenvik
