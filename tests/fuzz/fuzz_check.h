// What a harness does when one of its checks fails: says which, and stops
// the run, so that libFuzzer keeps the input that did it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

inline void Require(bool condition, const char* what, const std::string& detail = "")
{
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n%s", what, detail.c_str());
        std::abort();
    }
}
