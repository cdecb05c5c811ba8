#include "app/TableText.h"

#include "net/TextKit.h"

namespace brenvik {
namespace {

std::string Lower(const std::string& text) {
    std::u16string wide = ToUtf16(text);
    for (char16_t& c : wide) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return FromUtf16(wide);
}

bool CellMatches(const std::string& cell, const std::string& keyword,
                 const SearchOptions& options) {
    const std::string text = options.matchCase ? cell : Lower(cell);
    const std::string key = options.matchCase ? keyword : Lower(keyword);
    return options.wholeCell ? text == key : text.find(key) != std::string::npos;
}

bool RowMatches(const std::vector<std::string>& row, const std::string& keyword,
                const SearchOptions& options) {
    for (const auto& cell : row) {
        if (CellMatches(cell, keyword, options)) {
            return true;
        }
    }
    return false;
}

}  // namespace

int FindTableRow(const TableRows& rows, int focusRow, const std::string& keyword,
                 const SearchOptions& options) {
    const int last = static_cast<int>(rows.size()) - 1;
    const auto scan = [&](int from, int to, int step) {
        for (int r = from; step > 0 ? r <= to : r >= to; r += step) {
            if (RowMatches(rows[static_cast<std::size_t>(r)], keyword, options)) {
                return r;
            }
        }
        return -1;
    };
    if (last < 1) {
        return -1;
    }
    if (options.forward) {
        const int found = scan(std::max(focusRow + 1, 1), last, 1);
        return found >= 0 ? found : scan(1, last, 1);
    }
    const int found = scan(std::min(focusRow - 1, last), 1, -1);
    return found >= 0 ? found : scan(last, 1, -1);
}

std::string TableCsv(const TableRows& rows) {
    std::string csv;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        std::string line;
        for (std::string cell : rows[r]) {
            std::erase(cell, '\'');
            ReplaceAll(cell, "\"", "\"\"");
            ReplaceAll(cell, ",", "','");
            line += cell + ",";
        }
        csv += ToGbk(line) + "\r\n";
    }
    return csv;
}

}  // namespace brenvik
