#include "JsonGate.h"

#include <simdjson.h>

#include <string_view>
#include <unordered_set>

namespace olvo::json
{

namespace
{
    namespace od = simdjson::ondemand;
    using Verdict = JsonGate::Verdict;

    bool isDigit (char c) { return c >= '0' && c <= '9'; }

    /** A number token (already read as valid JSON by simdjson) against what JUCE's reader adds up unchecked. */
    bool fitsTheReader (std::string_view token)
    {
        size_t i = 0;
        if (i < token.size() && token[i] == '-')
            ++i;

        const size_t integerStart = i;
        while (i < token.size() && isDigit (token[i]))
            ++i;

        // JSON has no leading zeros, so a longer integer part is a larger one; one as long compares as text.
        const auto integerPart = token.substr (integerStart, i - integerStart);
        const std::string_view largest (JsonGate::maxIntegerPart);
        if (integerPart.size() > largest.size() || (integerPart.size() == largest.size() && integerPart > largest))
            return false;

        // The fraction is not added up.
        while (i < token.size() && (isDigit (token[i]) || token[i] == '.'))
            ++i;

        if (i < token.size() && (token[i] == 'e' || token[i] == 'E'))
        {
            ++i;
            if (i < token.size() && (token[i] == '+' || token[i] == '-'))
                ++i;

            while (i < token.size() && token[i] == '0')
                ++i;

            int digits = 0;
            for (; i < token.size() && isDigit (token[i]); ++i)
                if (++digits > JsonGate::maxExponentDigits)
                    return false;
        }

        return true;
    }

    /** Reads every value of a document once, in order, which is what makes simdjson's on-demand reader check all
        of it; counts what JUCE's reader would pay for on the way. */
    class Walker
    {
    public:
        Verdict walk (od::value value, int depth)
        {
            od::json_type type;
            if (value.type().get (type) != simdjson::SUCCESS)
                return Verdict::notJson;

            switch (type)
            {
                case od::json_type::object:   return walkObject (value, depth);
                case od::json_type::array:    return walkArray (value, depth);
                case od::json_type::number:   return checkNumber (value);

                case od::json_type::string:
                {
                    std::string_view text;
                    return value.get_string().get (text) == simdjson::SUCCESS ? Verdict::accepted : Verdict::notJson;
                }

                case od::json_type::boolean:
                {
                    bool flag = false;
                    return value.get_bool().get (flag) == simdjson::SUCCESS ? Verdict::accepted : Verdict::notJson;
                }

                case od::json_type::null:
                {
                    bool isNull = false;
                    return value.is_null().get (isNull) == simdjson::SUCCESS && isNull ? Verdict::accepted
                                                                                       : Verdict::notJson;
                }
            }

            return Verdict::notJson;
        }

    private:
        Verdict walkObject (od::value value, int depth)
        {
            if (depth >= JsonGate::maxNesting)
                return Verdict::tooDeep;

            od::object object;
            if (value.get_object().get (object) != simdjson::SUCCESS)
                return Verdict::notJson;

            int members = 0;

            for (auto field : object)
            {
                std::string_view name;
                if (field.unescaped_key().get (name) != simdjson::SUCCESS)
                    return Verdict::notJson;

                if (++members > JsonGate::maxMembers || ++totalMembers > JsonGate::maxTotalMembers)
                    return Verdict::tooManyMembers;

                // The views point into the parser's string buffer, which holds every name until the walk ends.
                if (names.insert (name).second && (int) names.size() > JsonGate::maxDistinctNames)
                    return Verdict::tooManyNames;

                od::value child;
                if (field.value().get (child) != simdjson::SUCCESS)
                    return Verdict::notJson;

                if (const auto verdict = walk (child, depth + 1); verdict != Verdict::accepted)
                    return verdict;
            }

            return Verdict::accepted;
        }

        Verdict walkArray (od::value value, int depth)
        {
            if (depth >= JsonGate::maxNesting)
                return Verdict::tooDeep;

            od::array array;
            if (value.get_array().get (array) != simdjson::SUCCESS)
                return Verdict::notJson;

            int elements = 0;

            for (auto element : array)
            {
                od::value child;
                if (element.get (child) != simdjson::SUCCESS)
                    return Verdict::notJson;

                if (++elements > JsonGate::maxMembers)
                    return Verdict::tooManyMembers;

                if (const auto verdict = walk (child, depth + 1); verdict != Verdict::accepted)
                    return verdict;
            }

            return Verdict::accepted;
        }

        static Verdict checkNumber (od::value value)
        {
            const auto token = value.raw_json_token();

            // Reading it checks the grammar, and refuses a value outside the range of a double.
            double number = 0;
            if (value.get_double().get (number) != simdjson::SUCCESS)
                return Verdict::notJson;

            return fitsTheReader (token) ? Verdict::accepted : Verdict::numberTooLong;
        }

        int totalMembers = 0;
        std::unordered_set<std::string_view> names;
    };
}

JsonGate::Verdict JsonGate::check (const char* utf8, size_t numBytes)
{
    // simdjson reads in blocks past the end of the text: it wants a padded copy.
    const simdjson::padded_string text (utf8, numBytes);

    od::parser parser;
    od::document document;
    if (parser.iterate (text).get (document) != simdjson::SUCCESS)
        return Verdict::notJson;

    // JUCE's reader takes an object or an array at the top and nothing else.
    od::json_type type;
    if (document.type().get (type) != simdjson::SUCCESS
        || (type != od::json_type::object && type != od::json_type::array))
        return Verdict::notJson;

    od::value root;
    if (document.get_value().get (root) != simdjson::SUCCESS)
        return Verdict::notJson;

    Walker walker;
    if (const auto verdict = walker.walk (root, 0); verdict != Verdict::accepted)
        return verdict;

    // Nothing but white space may follow the value.
    const char* position = nullptr;
    return document.current_location().get (position) == simdjson::OUT_OF_BOUNDS ? Verdict::accepted
                                                                                  : Verdict::notJson;
}

} // namespace olvo::json
