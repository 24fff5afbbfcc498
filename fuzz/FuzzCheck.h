#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string>

// A property every input must keep. A broken one ends the run as a crash, so that libFuzzer
// keeps the input that broke it.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "property broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

inline QByteArray bytesOf(const std::string &s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}
