#pragma once

#include <juce_core/juce_core.h>

namespace olvo
{

class OlvoThread;

namespace webapi
{

//==============================================================================
/** How long the web-API transport waits and how much it takes before it calls an exchange "no reply".

    These are network limits, so they run on real time, not on the engine's clock: a test's virtual clock must not
    make a real server look stalled.

    With JUCE's curl back end, a read blocks inside JUCE until its bytes or the end arrive, so the loop around it
    cannot interrupt a silent server by itself. What ends that wait is curl: JUCE hands it the connection time-out
    (rounded up to whole seconds) both as the connect limit and as a low-speed cut (under 100 bytes a second for
    that long). Curl averages the speed over its last few seconds, so a server that falls silent is dropped some
    five seconds plus the connection time-out after its last byte (about 11 s with the defaults). The loop checks
    the stall limit between reads (for back ends whose read returns early), and a time limit that grows with what
    has arrived: the start allowance, plus the time the bytes so far take at the slowest average rate. That rate is
    half of the slowest link we promise to serve (2 KB/s, where the largest reply takes some 35 minutes), so a
    steady link of that speed finishes with room to spare; a server that drips its reply, fast enough for curl but
    slower than that rate, is cut once the allowance is used up.
*/
struct TransportLimits
{
    int connectTimeoutMs = 5000;            ///< connect (and, on curl, low-speed) limit
    int stallTimeoutMs = 10000;             ///< longest wait for the next part of the body
    int startAllowanceMs = 30000;           ///< time for connecting and for the server to begin, beside the transfer
    int minBytesPerSecond = 1024;           ///< slowest average transfer that is waited for
    int maxReplyBytes = 4 * 1024 * 1024;    ///< a larger reply counts as no reply

    /** How long an exchange that has received this many bytes may have taken so far. */
    juce::int64 timeAllowedMs (juce::int64 bytesReceived) const
    {
        return startAllowanceMs + bytesReceived * 1000 / juce::jmax (1, minBytesPerSecond);
    }
};

/** The limits in force. */
TransportLimits transportLimits();

/** Replaces the limits (tests lower them); safe to call while a worker posts. */
void setTransportLimits (const TransportLimits& limits);

//==============================================================================
/** POSTs a JSON text to an http or https URL and reads the whole reply body. HTTP-level redirects are followed (up
    to 5). False, with replyText empty, when nothing usable came back: no connection, a transfer that broke off or
    ran out of time, a body over the size limit, or a URL that is not http(s). The HTTP status is not looked at: the
    body decides. bytesReceived, when given, gets the size of the body as it arrived. */
bool postJson (const juce::String& url, const juce::String& body, juce::String& replyText,
               size_t* bytesReceived = nullptr);

/** Turns a reply body into a JSON value: drops anything before the first "{" (unless the text starts with it), lets
    the rest through only when it passes the JSON gate (strict JSON within the limits JUCE's reader needs, see
    JsonGate), then parses it with JUCE. Text that does not pass gives a void value, as text that is not JSON. */
juce::var parseReplyText (const juce::String& replyText);

/** True when the server's "api_url" may be followed: a safe absolute https URL, or a safe URL with the scheme, host
    and port of the configured default (so a loopback default can redirect within itself). */
bool isAcceptableApiUrl (const juce::String& candidate, const juce::String& defaultUrl);

/** The reply path of a poll without the network: parses the body as the transport does and hands it, with its
    "UID", to the engine's reply processing. Returns the poll result. */
int handleReplyText (OlvoThread& engine, const juce::String& replyText, const juce::String& requestUid, bool process);

} // namespace webapi
} // namespace olvo
