#pragma once
// ASCII case changes that leave every other byte as it is: names of users, computers and shares
// are compared this way in the lists and the backends alike.

#include <string>

namespace vantor {

// Upper-cases a..z; every other byte stays as it is.
inline std::string upperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// Lower-cases A..Z; every other byte stays as it is.
inline std::string lowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace vantor
