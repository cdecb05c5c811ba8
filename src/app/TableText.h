// The album table as text: searching its rows and exporting it as CSV. The window's
// grid hands its cell texts in; nothing here knows about widgets.
#pragma once

#include <string>
#include <vector>

namespace brenvik {

using TableRows = std::vector<std::vector<std::string>>;  // row 0 is the header row

struct SearchOptions {
    bool matchCase = false;
    bool wholeCell = false;
    bool forward = true;  // "下一个"; false for "上一个"
};

// The row after (or before) `focusRow` whose cells match the keyword, wrapping around
// past the header row; -1 when no row matches.
int FindTableRow(const TableRows& rows, int focusRow, const std::string& keyword,
                 const SearchOptions& options);

// The CSV bytes of every row below the first: per cell "'" removed, '"' doubled,
// "," turned into "','", each followed by ","; GBK; CR LF after each line.
std::string TableCsv(const TableRows& rows);

}  // namespace brenvik
