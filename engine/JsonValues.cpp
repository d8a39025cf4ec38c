#include "JsonValues.h"

#include <cmath>
#include <cstring>
#include <string>
#include <limits>

namespace olvo::json
{

namespace
{
    template <typename Int>
    Int clampDouble (double d)
    {
        if (std::isnan (d))
            return 0;
        if (d >= (double) std::numeric_limits<Int>::max())
            return std::numeric_limits<Int>::max();
        if (d <= (double) std::numeric_limits<Int>::min())
            return std::numeric_limits<Int>::min();
        return (Int) d;
    }

    /** Leading integer of a text, saturating at the int64 range; false when there are no digits. */
    bool leadingInteger (const juce::String& text, int64_t& out)
    {
        auto p = text.getCharPointer();
        while (juce::CharacterFunctions::isWhitespace (*p))
            ++p;

        bool negative = false;
        if (*p == '-' || *p == '+')
        {
            negative = *p == '-';
            ++p;
        }

        if (! juce::CharacterFunctions::isDigit (*p))
        {
            out = 0;
            return false;
        }

        constexpr int64_t limit = std::numeric_limits<int64_t>::max();
        int64_t value = 0;
        for (; juce::CharacterFunctions::isDigit (*p); ++p)
        {
            const int digit = (int) (*p - '0');
            value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
        }

        out = negative ? -value : value;
        return true;
    }

    int64_t toInt64Impl (const juce::var& v, int64_t fallback)
    {
        if (v.isInt() || v.isInt64())
            return (int64_t) static_cast<juce::int64> (v);
        if (v.isBool())
            return (bool) v ? 1 : 0;
        if (v.isDouble())
            return clampDouble<int64_t> ((double) v);
        if (v.isString())
        {
            int64_t value = 0;
            leadingInteger (v.toString(), value);
            return value;
        }
        return fallback;
    }

    int clampToInt (int64_t value)
    {
        return (int) juce::jlimit<int64_t> (std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), value);
    }
}

bool isObject (const juce::var& v)
{
    return v.getDynamicObject() != nullptr && ! v.isArray();
}

int toInt (const juce::var& v, int fallback)
{
    return clampToInt (toInt64Impl (v, fallback));
}

int64_t toInt64 (const juce::var& v, int64_t fallback)
{
    return toInt64Impl (v, fallback);
}

int atoiClamped (const juce::String& text)
{
    int64_t value = 0;
    leadingInteger (text, value);
    return clampToInt (value);
}

bool startsWithInteger (const juce::String& text)
{
    int64_t value = 0;
    return leadingInteger (text, value);
}

juce::String text (const juce::var& v)
{
    return v.isVoid() || v.isUndefined() ? juce::String() : v.toString();
}

namespace
{
    /** Control characters, white space and the invisible format characters (zero-width, direction overrides) of
        Unicode as well as of ASCII: a link holding one is not what it shows. */
    bool isControlSpaceOrInvisible (juce::juce_wchar c)
    {
        return c < 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0xAD || c == 0x1680 || c == 0x180E
               || (c >= 0x2000 && c <= 0x200F) || (c >= 0x2028 && c <= 0x202F) || (c >= 0x205F && c <= 0x206F)
               || c == 0x3000 || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB) || (c >= 0xE0000 && c <= 0xE007F);
    }
}

bool isSafeLink (const juce::String& url)
{
    if (! (url.startsWithIgnoreCase ("https://") || url.startsWithIgnoreCase ("http://")))
        return false;

    const int schemeEnd = url.indexOf ("://") + 3;
    if (url.length() <= schemeEnd || url[schemeEnd] == '/')
        return false;   // no host

    for (auto p = url.getCharPointer(); ! p.isEmpty(); ++p)
    {
        const auto c = *p;
        if (isControlSpaceOrInvisible (c) || c == ' ' || c == '"' || c == '\'' || c == '`' || c == '$' || c == '\\')
            return false;
    }
    return true;
}

juce::String safeLink (const juce::var& v)
{
    const auto url = text (v);
    return isSafeLink (url) ? url : juce::String();
}

juce::String toJsonText (const juce::var& value)
{
    const auto text = juce::JSON::toString (value);
    const char* utf8 = text.toRawUTF8();

    // In JUCE's output a backslash always starts an escape of two characters (a backslash itself is doubled), so
    // "\a" found this way is always the bell's.
    if (std::strstr (utf8, "\\a") == nullptr)
        return text;

    std::string strict;
    strict.reserve (std::strlen (utf8) + 16);

    for (const char* p = utf8; *p != 0; ++p)
    {
        if (*p != '\\' || p[1] == 0)
        {
            strict += *p;
            continue;
        }

        ++p;
        if (*p == 'a')
            strict += "\\u0007";
        else
            (strict += '\\') += *p;
    }

    return juce::String::fromUTF8 (strict.data(), (int) strict.size());
}

juce::String withoutWhitespace (const juce::String& text)
{
    // One pass over the bytes: appending to a juce::String one character at a time is quadratic.
    const char* utf8 = text.toRawUTF8();
    std::string kept;
    kept.reserve (std::strlen (utf8));

    for (const char* p = utf8; *p != 0; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n' && *p != '\f' && *p != '\v')
            kept += *p;

    return juce::String::fromUTF8 (kept.data(), (int) kept.size());
}

} // namespace olvo::json
