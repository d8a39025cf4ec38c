#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

namespace olvo::json
{

/** True for a JSON object only: juce::var::isObject() is true for arrays as well. */
bool isObject (const juce::var& v);

/** A JSON value as a 32-bit integer, clamped into range: numbers are rounded towards zero, NaN gives 0, booleans
    give 0 or 1, text gives the integer at its start (as C's atoi, but clamped), anything else gives fallback. */
int toInt (const juce::var& v, int fallback = 0);

/** The same as a 64-bit integer. */
int64_t toInt64 (const juce::var& v, int64_t fallback = 0);

/** The integer at the start of a text (leading spaces, an optional sign, digits), clamped; 0 when none. */
int atoiClamped (const juce::String& text);

/** True when the text starts with an integer (after leading spaces and an optional sign). */
bool startsWithInteger (const juce::String& text);

/** The value's text form; void gives the empty string. */
juce::String text (const juce::var& v);

/** True for an absolute http or https URL with a host that holds only what a URL may hold unescaped: ASCII
    letters and digits, "-._~:/?#[]@!&()*+,;=" and "%" followed by two hex digits. Everything else is refused:
    control characters, spaces, double quotes, "<>|{}^", the backslash, the backtick and any character beyond ASCII;
    and also "$" and "'", which a URL may hold but which mean the most to a shell (a server can send them escaped).
    The one rule for every link the application keeps, fetches or opens. */
bool isSafeLink (const juce::String& url);

/** The value's text when it is a safe link (see isSafeLink), otherwise empty. */
juce::String safeLink (const juce::var& v);

/** A value as JSON text in JUCE's default layout, made strict: JUCE writes the bell character (a slot name read back
    from the device may hold one) as "\a", which JSON does not have, and a strict server would refuse the whole
    request; it is written as "\u0007" instead. */
juce::String toJsonText (const juce::var& value);

/** The text without spaces, tabs and line breaks: servers may wrap Base64 in lines, and JUCE's decoder stops
    at them. */
juce::String withoutWhitespace (const juce::String& text);

} // namespace olvo::json
