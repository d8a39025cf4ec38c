#pragma once

#include <juce_core/juce_core.h>

#include <functional>

namespace olvo::platform
{

//==============================================================================
/** Opening links in the default browser (help, the web application, the filler link, links in popups).

    Only absolute http or https URLs made of what a URL may hold unescaped are opened (no white space, quotes,
    "<>|", backticks, "$", backslashes or characters beyond ASCII): the same rule by which the engine keeps the
    server's links (olvo::json::isSafeLink). An accepted link is started as `xdg-open <url>` with an argument list,
    never through a shell (JUCE's Process::openDocument and URL::launchInDefaultBrowser run one on Linux). Message
    thread only.
*/

/** True for a link that openLink would hand to the browser. */
bool isOpenableLink (const juce::String& url);

/** Opens the link when it is openable; false when it was refused (one line on standard error) or could not be
    started. */
bool openLink (const juce::String& url);

/** What starts the browser for an accepted link; true when it was started. */
using LinkLauncher = std::function<bool (const juce::String& url)>;

/** Replaces the launcher (tests capture links instead of starting a browser); an empty one restores xdg-open.
    Returns the launcher in force before. */
LinkLauncher setLinkLauncher (LinkLauncher launcher);

/** The default launcher: `xdg-open <url>` as a child process, found through PATH. */
bool launchWithXdgOpen (const juce::String& url);

} // namespace olvo::platform
