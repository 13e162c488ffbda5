#include "XdgDirs.h"

#include <cstdlib>

std::string XdgBaseDir(const char* variable, const char* underHome) {
    if (const char* xdg = std::getenv(variable); xdg && xdg[0] == '/') return xdg;
    if (const char* home = std::getenv("HOME"); home && home[0])
        return std::string(home) + "/" + underHome;
    return std::string();
}
