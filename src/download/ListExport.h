// Address lists for download managers: the plain ".lst", an aria2 input file that carries
// what these sites demand besides the address (Referer, login cookie, the name this
// program would give), and a JSON list for scripts.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "session/Lists.h"

namespace brenvik {

enum ListExport : unsigned {
    kExportLst = 1,
    kExportAria2 = 2,
    kExportJson = 4,
};
// What the list-only option writes when nothing else was chosen.
inline constexpr unsigned kListOnlyExports = kExportLst | kExportAria2;

// One aria2 entry per row: the address and its fallback as mirrors on one line, then
// dir=, out=, referer= (when the row's header block has one) and header=Cookie: (when
// the shared cookie store has cookies for the address).
std::string Aria2Input(const std::vector<DownloadRow>& rows, const std::filesystem::path& folder);
// A JSON array, one object per row: address, fallback, name, folder, headers.
std::string PhotoListJson(const std::vector<DownloadRow>& rows,
                          const std::filesystem::path& folder);

// Writes the chosen lists of one album beside its photos ("<album>.lst", ".aria2.txt",
// ".json"); returns the files that could not be written.
std::vector<std::filesystem::path> WriteListExports(unsigned exports,
                                                    const std::filesystem::path& albumFolder,
                                                    const std::string& albumName,
                                                    const DownloadList& list);

}  // namespace brenvik
