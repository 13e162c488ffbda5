#include "DocTemplate.h"

#include <cctype>

namespace {

bool EndsWithNoCase(const std::string& s, const std::string& tail) {
    if (tail.size() > s.size()) return false;
    size_t off = s.size() - tail.size();
    for (size_t i = 0; i < tail.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[off + i])) !=
            std::tolower(static_cast<unsigned char>(tail[i])))
            return false;
    return true;
}

} // namespace

bool TDocTemplate::MatchesPath(const std::string& path) const {
    size_t start = 0;
    while (start <= filter_.size()) {
        size_t end = filter_.find(';', start);
        if (end == std::string::npos) end = filter_.size();
        std::string pattern = filter_.substr(start, end - start);
        if (pattern == "*" || pattern == "*.*") return true;
        // "*.ext" matches names ending in ".ext".
        if (pattern.size() > 1 && pattern[0] == '*' && EndsWithNoCase(path, pattern.substr(1)))
            return true;
        start = end + 1;
    }
    return false;
}
