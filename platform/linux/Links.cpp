#include "platform/Links.h"

#include "engine/JsonValues.h"

#include <cstdio>

namespace olvo::platform
{

namespace
{
    LinkLauncher& launcherInForce()
    {
        static LinkLauncher launcher { launchWithXdgOpen };
        return launcher;
    }
}

bool isOpenableLink (const juce::String& url)
{
    return json::isSafeLink (url);
}

bool openLink (const juce::String& url)
{
    if (! isOpenableLink (url))
    {
        // The link itself is not printed: it may hold control characters.
        std::fputs ("Link not opened: not a plain http(s) URL\n", stderr);
        return false;
    }

    return launcherInForce() (url);
}

LinkLauncher setLinkLauncher (LinkLauncher launcher)
{
    auto previous = std::move (launcherInForce());
    launcherInForce() = launcher ? std::move (launcher) : LinkLauncher (launchWithXdgOpen);
    return previous;
}

bool launchWithXdgOpen (const juce::String& url)
{
    // The launched helpers are kept until they have ended, so that they are reaped rather than left as zombies.
    static juce::OwnedArray<juce::ChildProcess> launched;

    for (int i = launched.size(); --i >= 0;)
        if (! launched.getUnchecked (i)->isRunning())
            launched.remove (i);

    auto process = std::make_unique<juce::ChildProcess>();
    if (! process->start (juce::StringArray { "xdg-open", url }, 0))
    {
        std::fputs ("Link not opened: xdg-open could not be started\n", stderr);
        return false;
    }

    launched.add (process.release());
    return true;
}

} // namespace olvo::platform
