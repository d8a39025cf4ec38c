// Arbitrary bytes as a web-API reply body, through the same path a body from the network takes: decoded as text,
// cut to its first "{", checked by the JSON gate, parsed and applied to an engine that is not running.

#include "engine/OlvoThread.h"
#include "engine/WebApiTransport.h"

#include <cstdint>
#include <cstdio>

namespace
{
    // Seeds in the corpus carry this "UID", so that the fuzzer gets past the UID check to the keys behind it.
    constexpr const char* requestUid = "fuzz";

    olvo::OlvoThread& engine()
    {
        static olvo::OlvoThread e;
        return e;
    }
}

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    // The reply path prints diagnostic lines; they would only slow the fuzzer down.
    std::freopen ("/dev/null", "w", stdout);

    // JUCE's leak counter for DynamicObject must outlive the engine that holds reply objects at exit: making one
    // first constructs the counter before the engine, so it is destroyed after it.
    juce::var first (new juce::DynamicObject());
    engine();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const auto text = juce::String::createStringFromData (data, (int) size);

    // Both kinds of poll: the full one reaches the update keys, the confirmation poll stops before them.
    olvo::webapi::handleReplyText (engine(), text, requestUid, true);
    olvo::webapi::handleReplyText (engine(), text, requestUid, false);

    // What the tick would hand on: the request built from the state the reply left must not fail either.
    juce::String uid;
    juce::JSON::toString (engine().buildRequest (true, false, uid));
    return 0;
}
