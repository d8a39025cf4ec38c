// The JSON gate in front of JUCE's reader: strict JSON only, within the nesting, member, name and number limits that
// keep the reader safe and quick; and replies refused by it end as text that is not JSON.

#include "EngineHarness.h"

#include "engine/JsonGate.h"
#include "engine/WebApiTransport.h"

using namespace olvo;
using Gate = olvo::json::JsonGate;
using Verdict = Gate::Verdict;

namespace
{
    Verdict check (const std::string& text)
    {
        return Gate::check (text.data(), text.size());
    }

    std::string nested (int levels, const std::string& inner = "1")
    {
        return std::string ((size_t) levels, '[') + inner + std::string ((size_t) levels, ']');
    }

    /** An object of n members named by prefix and number. */
    std::string objectOf (int n, const std::string& prefix = "k")
    {
        std::string text = "{";
        for (int i = 0; i < n; ++i)
            text += (i == 0 ? "\"" : ",\"") + prefix + std::to_string (i) + "\":0";
        return text + "}";
    }

    std::string arrayOf (int n)
    {
        std::string text = "[0";
        for (int i = 1; i < n; ++i)
            text += ",0";
        return text + "]";
    }

    /** count objects of n members each, side by side in an array. */
    std::string objectsOf (int count, int n, const std::string& prefix = "k")
    {
        std::string text = "[";
        for (int i = 0; i < count; ++i)
            text += (i == 0 ? "" : ",") + objectOf (n, prefix);
        return text + "]";
    }

    constexpr const char* uid = "000012ab:00000000:ffffffff:00000001";
    using GatedReply = test::EngineTest;
}

//==============================================================================
TEST (JsonGate, TakesStrictJsonOnly)
{
    struct Case { std::string text; Verdict verdict; };
    const Case cases[] {
        { "{}", Verdict::accepted },
        { " [ ] ", Verdict::accepted },
        { R"({"a":[1,-2.5e-3,"t\u00e9\n",true,false,null,{}],"":0})", Verdict::accepted },
        { R"({"a":1,"a":2})", Verdict::accepted },

        // The two texts that overflowed JUCE's number reading: a "-" followed by no digit.
        { R"({"a":-.99999999999999999999999})", Verdict::notJson },
        { R"({"a":-x999999999999999999})", Verdict::notJson },

        { R"({'a':1})", Verdict::notJson },
        { R"({"a":'it"s'})", Verdict::notJson },
        { R"({a:1})", Verdict::notJson },
        { R"({"a":1,})", Verdict::notJson },
        { "[1,]", Verdict::notJson },
        { "[1 2]", Verdict::notJson },
        { "[,1]", Verdict::notJson },
        { R"({"a" 1})", Verdict::notJson },
        { R"({"a":1}x)", Verdict::notJson },
        { R"({"a":1}})", Verdict::notJson },
        { "[1]//", Verdict::notJson },
        { "[01]", Verdict::notJson },
        { "[1.]", Verdict::notJson },
        { "[.5]", Verdict::notJson },
        { "[+1]", Verdict::notJson },
        { "[- 1]", Verdict::notJson },
        { "[NaN]", Verdict::notJson },
        { "[1e400]", Verdict::notJson },
        { "[tru]", Verdict::notJson },
        { "[\"\\x\"]", Verdict::notJson },
        { "[\"a\tb\"]", Verdict::notJson },
        { "[\"\xff\"]", Verdict::notJson },
        { "{\"a\":1", Verdict::notJson },
        { "", Verdict::notJson },
        { "   ", Verdict::notJson },

        // JUCE's reader takes nothing but an object or an array at the top.
        { "12", Verdict::notJson },
        { "\"text\"", Verdict::notJson },
        { "null", Verdict::notJson },
    };

    for (auto& c : cases)
        EXPECT_EQ (check (c.text), c.verdict) << c.text;
}

TEST (JsonGate, NestingUpToTheLimit)
{
    EXPECT_EQ (check (nested (Gate::maxNesting)), Verdict::accepted);
    EXPECT_EQ (check (nested (Gate::maxNesting + 1)), Verdict::tooDeep);
    EXPECT_EQ (check ("{\"a\":" + nested (Gate::maxNesting - 1, "{}") + "}"), Verdict::tooDeep);
    EXPECT_EQ (check (std::string (200000, '[')), Verdict::tooDeep);
}

TEST (JsonGate, MembersElementsAndNamesUpToTheirLimits)
{
    struct Case { const char* name; std::string text; Verdict verdict; };
    const Case cases[] {
        { "a full object", objectOf (Gate::maxMembers), Verdict::accepted },
        { "one member more", objectOf (Gate::maxMembers + 1), Verdict::tooManyMembers },
        { "a full array", arrayOf (Gate::maxMembers), Verdict::accepted },
        { "one element more", arrayOf (Gate::maxMembers + 1), Verdict::tooManyMembers },
        { "all members, names repeated", objectsOf (Gate::maxTotalMembers / 4096, 4096), Verdict::accepted },
        { "one member more in all", "[" + objectsOf (Gate::maxTotalMembers / 4096, 4096) + ",{\"k0\":0}]",
          Verdict::tooManyMembers },
        { "all names", "[" + objectOf (Gate::maxDistinctNames / 2, "a") + "," + objectOf (Gate::maxDistinctNames / 2, "b")
                       + "]", Verdict::accepted },
        { "one name more", "[" + objectOf (Gate::maxDistinctNames / 2, "a") + "," + objectOf (Gate::maxDistinctNames / 2, "b")
                           + ",{\"c\":0}]", Verdict::tooManyNames },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        EXPECT_EQ (check (c.text), c.verdict);
    }
}

TEST (JsonGate, NumbersJuceCanAddUp)
{
    struct Case { const char* number; Verdict verdict; };
    const Case cases[] {
        { "123456789012345678", Verdict::accepted },
        { "9223372036854775807", Verdict::accepted },
        { "-9223372036854775807", Verdict::accepted },
        { "9223372036854775808", Verdict::numberTooLong },
        { "-9223372036854775808", Verdict::numberTooLong },
        { "12345678901234567890", Verdict::numberTooLong },
        { "-99999999999999999999.5", Verdict::numberTooLong },
        { "123456789012345678901e-30", Verdict::numberTooLong },
        { "0.123456789012345678901234567890", Verdict::accepted },
        { "1e123", Verdict::accepted },
        { "1E-000000000000300", Verdict::accepted },
        { "1.5e-999999999", Verdict::accepted },
        { "1.5e-1234567890", Verdict::numberTooLong },
    };

    for (auto& c : cases)
        EXPECT_EQ (check (std::string ("{\"a\":") + c.number + "}"), c.verdict) << c.number;

    // Inside a text a number is only text.
    EXPECT_EQ (check (R"({"a":"12345678901234567890123e12345678901"})"), Verdict::accepted);
}

//==============================================================================
TEST_F (GatedReply, TextsTheGateRefusesAreNotJson)
{
    auto& e = makeEngine();
    e.webAppUrl.set ("https://app.example/");

    const std::string refused[] {
        R"({"a":-.99999999999999999999999})",
        "{ \"UID\": \"" + std::string (uid) + "\", \"help_button_tooltip\": 'it\"s' }",
        "{ \"UID\": \"" + std::string (uid) + "\", \"last_rtc\": 12345678901234567890 }",
        "{ \"a\": " + std::string (100000, '[') + " }",
    };

    for (auto& text : refused)
    {
        SCOPED_TRACE (text.substr (0, 80));
        EXPECT_EQ (webapi::handleReplyText (e, juce::String (text), uid, true), -3);
        EXPECT_EQ (e.serverMessage.get(), "UUID Mismatch");
        EXPECT_EQ (e.webAppUrl.get(), "https://app.example/") << "nothing in it is applied";
    }

    // Text in front of the object is cut before the gate looks.
    EXPECT_EQ (webapi::handleReplyText (e, "<p>\xc3\xa9</p>{ \"UID\": \"" + juce::String (uid) + "\" }", uid, true), 1);
}

TEST_F (GatedReply, ManyNamesAreRefusedBeforeJuceReadsThem)
{
    // 160,000 different names in one object (1.8 MB): JUCE's reader took 42 s over them. The gate refuses them, so
    // the reply ends as one that is not JSON (how long that takes is the benchmarks' to measure).
    std::string text = "{\"UID\":\"" + std::string (uid) + "\"";
    for (int i = 0; i < 160000; ++i)
        text += ",\"key" + std::to_string (i) + "\":1";
    text += "}";
    EXPECT_NE (check (text), Verdict::accepted);

    auto& e = makeEngine();
    EXPECT_EQ (webapi::handleReplyText (e, juce::String (text), uid, true), -3);
}

TEST_F (GatedReply, TheCostliestAcceptedReplyIsProcessed)
{
    const auto text = test::costliestAcceptedReply (uid, 4 * 1024 * 1024 - 1024);
    ASSERT_EQ (check (text), Verdict::accepted);

    // How long it takes is the benchmarks' to measure; under the sanitizers on a loaded machine it took 47 s.
    auto& e = makeEngine();
    EXPECT_EQ (webapi::handleReplyText (e, juce::String (text), uid, true), 1);
}
