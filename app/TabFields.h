// Lines of the program's text files hold fields split by tabs.
#pragma once

#include <string>
#include <vector>

// The fields of a line, split at its tabs: one field when it holds none.
inline std::vector<std::string> TabFields(const std::string& line)
{
    std::vector<std::string> out(1);
    for (char c : line) {
        if (c == '\t')
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}
