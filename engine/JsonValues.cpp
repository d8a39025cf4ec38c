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
    /** The characters a URL may hold unescaped: letters, digits, the unreserved "-._~" and the reserved characters,
        except "$" and "'". A link reaches xdg-open, a shell script, and through it whatever opener the desktop has:
        these two mean the most to a shell, and a server can send them escaped (%24, %27) all the same. */
    bool isPlainUrlCharacter (unsigned char c)
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
               || (c != 0 && std::strchr ("-._~:/?#[]@!&()*+,;=", c) != nullptr);
    }

    bool isHexDigit (unsigned char c)
    {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    }
}

bool isSafeLink (const juce::String& url)
{
    if (! (url.startsWithIgnoreCase ("https://") || url.startsWithIgnoreCase ("http://")))
        return false;

    const int schemeEnd = url.indexOf ("://") + 3;
    if (url.length() <= schemeEnd || url[schemeEnd] == '/')
        return false;   // no host

    // Byte by byte: any byte of a character beyond ASCII is refused, as is everything else a URL must escape.
    for (auto* p = reinterpret_cast<const unsigned char*> (url.toRawUTF8()); *p != 0; ++p)
    {
        if (*p == '%')
        {
            if (! isHexDigit (p[1]) || ! isHexDigit (p[2]))
                return false;
            p += 2;
        }
        else if (! isPlainUrlCharacter (*p))
        {
            return false;
        }
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
