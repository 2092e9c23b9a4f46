#pragma once

#include <string>
#include <string_view>

// A property that must hold for every input. A broken one is reported with the input and
// ends the process with an abort, which the fuzzer records as a crash and keeps the input
// that caused it.
class Invariant {
public:
    static void require(bool holds, std::string_view what, std::string_view input);

    // `text` with every byte outside printable ASCII written as \xNN, for reports.
    static std::string escaped(std::string_view text);
};
