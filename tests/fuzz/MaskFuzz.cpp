// Fuzz target: the file mask matcher against a plain recursive one.
// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for the mask matcher, checked against a plain recursive
// matcher of the same rules: '*' any run of characters, '?' one character
// (a UTF-8 lead byte with its continuation bytes), letters compared
// ignoring ASCII case, "*.*" and a trailing ".*" also matching names
// without a dot.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/FolderListing.h"

namespace {

std::size_t step(std::string_view text, std::size_t at)
{
    std::size_t next = at + 1;
    while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) {
        ++next;
    }
    return next;
}

char fold(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

bool plainMatch(std::string_view name, std::size_t n, std::string_view mask, std::size_t m,
                int& budget)
{
    if (--budget < 0) {
        return false;  // the input is too costly for the plain way; not compared
    }
    if (m == mask.size()) {
        return n == name.size();
    }
    if (mask[m] == '*') {
        for (std::size_t at = n;; at = step(name, at)) {
            if (plainMatch(name, at, mask, m + 1, budget)) {
                return true;
            }
            if (at >= name.size()) {
                return false;
            }
        }
    }
    if (n == name.size()) {
        return false;
    }
    if (mask[m] == '?') {
        return plainMatch(name, step(name, n), mask, m + 1, budget);
    }
    return fold(mask[m]) == fold(name[n]) && plainMatch(name, n + 1, mask, m + 1, budget);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first line is the mask, the rest the name.
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find('\n');
    if (cut == std::string_view::npos) {
        return 0;
    }
    const std::string_view mask = input.substr(0, cut);
    const std::string_view name = input.substr(cut + 1);
    const bool got = platform::matchesMask(name, mask);

    // Mask letters are ASCII here: a continuation byte in a mask has no
    // meaning of its own to compare.
    for (const char c : mask) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return 0;
        }
    }
    int budget = 200000;
    bool expected = false;
    if (!name.empty() && !mask.empty()) {
        expected = plainMatch(name, 0, mask, 0, budget);
        if (!expected && mask.size() >= 2 && mask.substr(mask.size() - 2) == ".*" &&
            name.find('.') == std::string_view::npos) {
            expected = plainMatch(name, 0, mask.substr(0, mask.size() - 2), 0, budget);
        }
    }
    if (budget >= 0 && got != expected) {
        std::abort();
    }
    return 0;
}
