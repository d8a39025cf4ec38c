#pragma once

// How a fuzz target reports a broken property (the engine's targets get it through FuzzSupport.h).

#include <cstdio>
#include <cstdlib>

extern "C" __attribute__ ((weak)) void __sanitizer_report_error_summary (const char*);

namespace olvo::fuzz
{

/** A broken property: libFuzzer keeps the input that led here. The line goes where the sanitizer's reports go, which
    stays open when the fuzzer runs with -close_fd_mask (the engine's own lines would only slow it down). */
[[noreturn]] inline void fail (const char* what)
{
    if (__sanitizer_report_error_summary != nullptr)
        __sanitizer_report_error_summary (what);
    else
        std::fprintf (stderr, "%s\n", what);

    std::abort();
}

} // namespace olvo::fuzz
