#include "GuiTestSupport.h"

#include "platform/Links.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace olvo
{

namespace
{
    // Links a server or a user could hand us: only what a URL may hold unescaped is opened. None of those refused
    // may reach a browser, and none of any kind may reach a shell.
    const struct { const char* url; bool openable; } linkTable[] {
        { "https://olvo.example/olvo-app-how-to", true },
        { "http://127.0.0.1:8080/page?x=1&y=2#top", true },
        { "HTTPS://OLVO.EXAMPLE/", true },
        { "https://olvo.example/a;b=c&d+e,f!g*h(i)~j@k:l/m?n[o]#p", true },   // every reserved character
        { "https://olvo.example/caf%C3%A9%20menu%2a", true },                  // escaped, in either case
        { "http://[::1]:8080/", true },
        { "http://host/help;touch</dev/null>/tmp/x", false },   // outside a URL: refused though no shell sees it
        { "http://host/app|touch>/tmp/y", false },
        { "https://olvo.example/{a}", false },
        { "https://olvo.example/a^b", false },
        { "https://olvo.example/100%", false },                 // "%" only with two hex digits after it
        { "https://olvo.example/%4", false },
        { "https://olvo.example/%zz", false },
        { "https://olvo.example/price$5", false },              // allowed in a URL, kept out here: shells' "$"
        { "", false },
        { "olvo.example/page", false },
        { "ftp://olvo.example/file", false },
        { "file:///etc/passwd", false },
        { "javascript:alert(1)", false },
        { "-https://olvo.example/", false },
        { "https://", false },
        { "https:///path-without-host", false },
        { "https://olvo.example/$(touch CANARY)", false },
        { "https://olvo.example/`touch CANARY`", false },
        { "https://olvo.example/${HOME}", false },
        { "https://olvo.example/ touch CANARY", false },
        { "https://olvo.example/\ttab", false },
        { "https://olvo.example/\nline", false },
        { "https://olvo.example/\x7f", false },
        { "https://olvo.example/\"quote", false },
        { "https://olvo.example/'quote", false },
        { "https://olvo.example/back\\slash", false },
        { u8"https://olvo.example/caf\u00e9", false },      // beyond ASCII: a server escapes it
        { u8"https://olvo.example/\u0085next-line", false },   // Unicode's control characters and spaces too
        { u8"https://olvo.example/no\u00a0break", false },
        { u8"https://olvo.example/line\u2028separator", false },
        { u8"https://olvo.example/\u202egpj.exe", false },   // shown backwards
        { u8"https://olvo.example/zero\u200bwidth", false },
        { u8"https://olvo.example/wide\u3000space", false },
        { u8"https://olvo.example/\ufeffmark", false },
        { u8"https://olvo.example/soft\u00adhyphen", false },
        { u8"https://olvo.example/tag\U000e0041", false },
    };

    juce::String urlOf (const char* utf8) { return juce::String::fromUTF8 (utf8); }

    juce::String withCanary (const char* url, const juce::File& canary)
    {
        return urlOf (url).replace ("CANARY", canary.getFullPathName());
    }
}

TEST (Links, OnlyPlainAbsoluteHttpLinksAreOpened)
{
    const test::ScopedLinkCapture capture;

    for (const auto& row : linkTable)
    {
        EXPECT_EQ (platform::isOpenableLink (urlOf (row.url)), row.openable) << row.url;
        EXPECT_EQ (platform::openLink (urlOf (row.url)), row.openable) << row.url;
    }

    juce::StringArray expected;
    for (const auto& row : linkTable)
        if (row.openable)
            expected.add (urlOf (row.url));
    EXPECT_EQ (capture.links, expected);
}

TEST (Links, XdgOpenGetsTheLinkAsOneArgumentAndNoShellRunsIt)
{
    // A stand-in xdg-open first on PATH records its arguments, one per line, in a file named after its process.
    const juce::TemporaryFile folderName;
    const auto folder = folderName.getFile();
    ASSERT_TRUE (folder.createDirectory());
    const auto canary = folder.getChildFile ("canary");
    const auto script = folder.getChildFile ("xdg-open");
    ASSERT_TRUE (script.replaceWithText ("#!/bin/sh\n"
                                         "printf '%s\\n' \"$#\" \"$@\" > \"$(dirname \"$0\")/call.$$\"\n",
                                         false, false, "\n"));
    ASSERT_TRUE (script.setExecutePermission (true));

    const auto oldPath = juce::SystemStats::getEnvironmentVariable ("PATH", {});
    setenv ("PATH", (folder.getFullPathName() + ":" + oldPath).toRawUTF8(), 1);

    int openable = 0;
    for (const auto& row : linkTable)
        if (platform::openLink (withCanary (row.url, canary)))
            ++openable;

    // Each accepted link arrives as exactly one argument, unchanged.
    juce::StringArray arrived;
    const auto allArrived = [&]
    {
        return folder.getNumberOfChildFiles (juce::File::findFiles, "call*") == openable;
    };
    for (int waited = 0; ! allArrived() && waited < 10000; waited += 20)
        juce::Thread::sleep (20);
    setenv ("PATH", oldPath.toRawUTF8(), 1);
    ASSERT_TRUE (allArrived());

    for (const auto& file : folder.findChildFiles (juce::File::findFiles, false, "call*"))
    {
        juce::StringArray lines;
        lines.addLines (file.loadFileAsString().trimEnd());
        ASSERT_EQ (lines.size(), 2) << file.loadFileAsString();
        EXPECT_EQ (lines[0], "1");
        arrived.add (lines[1]);
    }

    juce::StringArray expected;
    for (const auto& row : linkTable)
        if (row.openable)
            expected.add (urlOf (row.url));
    arrived.sort (false);
    expected.sort (false);
    EXPECT_EQ (arrived, expected);

    juce::Thread::sleep (200);
    EXPECT_FALSE (canary.exists());
    folder.deleteRecursively();
}

} // namespace olvo
