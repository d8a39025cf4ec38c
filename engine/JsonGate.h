#pragma once

#include <cstddef>

namespace olvo::json
{

//==============================================================================
/** The check a reply's JSON text must pass before JUCE's reader is given it.

    JUCE's reader is not made for hostile text: it recurses once per level of nesting, adds up a number's integer
    part in 64 bits and its exponent in 32 bits without checking, takes text that is not JSON, and costs time that
    grows with the square of the member names it meets (each member is looked up by a linear search in its object,
    each new name is inserted into a process-wide sorted pool). The gate reads the text with simdjson, strictly and
    at byte level, and lets through only what the reader handles safely and quickly.
*/
struct JsonGate
{
    /** Deepest nesting of objects and arrays. */
    static constexpr int maxNesting = 64;

    /** Most members of one object, and most elements of one array. */
    static constexpr int maxMembers = 4096;

    /** Most members of all objects together. */
    static constexpr int maxTotalMembers = 65536;

    /** Most different member names in one text. */
    static constexpr int maxDistinctNames = 4096;

    /** Largest integer part of a number (JUCE adds it up in a signed 64-bit integer, whatever the sign). */
    static constexpr const char* maxIntegerPart = "9223372036854775807";

    /** Most digits of an exponent after its leading zeros (JUCE adds it up in a signed 32-bit integer). */
    static constexpr int maxExponentDigits = 9;

    /** What the gate found. */
    enum class Verdict
    {
        accepted,           ///< strict JSON within every limit
        notJson,            ///< not one strict JSON value (grammar, UTF-8, trailing text, a number out of range)
        tooDeep,            ///< nested deeper than maxNesting
        tooManyMembers,     ///< an object or an array above maxMembers, or all objects above maxTotalMembers
        tooManyNames,       ///< more than maxDistinctNames different member names
        numberTooLong       ///< a number whose integer part or exponent JUCE's reader would overflow on
    };

    /** Checks the UTF-8 text of one JSON object or array (JUCE's reader takes nothing else at the top). */
    static Verdict check (const char* utf8, size_t numBytes);

    JsonGate() = delete;
};

} // namespace olvo::json
