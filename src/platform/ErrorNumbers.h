#pragma once

#include "platform/VbError.h"

// Every kind of run-time error the program raises, with its number and description.
namespace ErrorNumbers {

struct Kind
{
    int number;
    const char *description;
};

inline constexpr Kind InvalidCall{5, "Invalid procedure call or argument"};
inline constexpr Kind Overflow{6, "Overflow"};
inline constexpr Kind SubscriptOutOfRange{9, "Subscript out of range"};
inline constexpr Kind TypeMismatch{13, "Type mismatch"};
inline constexpr Kind ObjectNotSet{91, "Object variable or With block variable not set"};
inline constexpr Kind InvalidPropertyValue{380, "Invalid property value"};
// The remote desktop client cannot be made: its module is missing or broken (the reason follows).
inline constexpr Kind ModuleNotLoaded{429, "The remote desktop module could not be loaded"};
// A send or read on a side-link socket that is not connected.
inline constexpr Kind SocketBadState{40006, "Wrong protocol or connection state for the requested transaction or request"};

[[noreturn]] inline void raise(const Kind &kind)
{
    throw VbError(kind.number, QString::fromLatin1(kind.description));
}

} // namespace ErrorNumbers
