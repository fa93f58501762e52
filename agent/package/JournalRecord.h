// One line of an install journal: a kind and up to two texts (paths, names).
#pragma once

#include <string>

struct JournalRecord {
    std::string kind;
    std::string path;
    std::string other;
};
