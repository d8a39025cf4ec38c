#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>

namespace olvo
{

//==============================================================================
/** Launches a dialog from its options and returns its window (null when none was made). The application's is
    juce::DialogWindow::LaunchOptions::launchAsync (modal, deleted with its content when it closes); tests may
    pass one that records the options or makes the window without entering a modal state. */
using DialogLauncher = std::function<juce::DialogWindow* (juce::DialogWindow::LaunchOptions&)>;

/** Fills the options as the main window launches each of its dialogs, then launches it: the content owned by the
    options until launch (a content that was never launched is deleted), "OlvoAssistant - " and the title suffix as
    its title, the look-and-feel's window background, Escape closes it, native title bar, not resizable. An empty
    launcher means launchAsync. The content keeps the size it was given. */
juce::DialogWindow* launchDialog (juce::DialogWindow::LaunchOptions& options, std::unique_ptr<juce::Component> content,
                                  const juce::String& titleSuffix, juce::LookAndFeel& lookAndFeel,
                                  const DialogLauncher& launcher = {});

/** A child's bounds as fractions of its parent's width and height, each product truncated. */
inline juce::Rectangle<int> proportionalBounds (int w, int h, double x, double y, double width, double height)
{
    return { (int) (x * w), (int) (y * h), (int) (width * w), (int) (height * h) };
}

//==============================================================================
/**
    The dialogs the main window has launched and that may still be open, held by weak references: a dialog that
    has closed (and so deleted itself) drops out by itself.

    The main window closes them all when the device goes or the window hides, and deletes them at its teardown,
    before the engine and the look-and-feel they use go. Message thread only.
*/
class OpenDialogs
{
public:
    OpenDialogs() = default;
    ~OpenDialogs() = default;

    /** Tracks a launched dialog (null is ignored). */
    void add (juce::DialogWindow* window);

    /** The number of tracked dialogs that still exist. */
    int size() const;

    /** Ends the modal state of each tracked dialog that still exists with the result (it then closes and deletes
        itself, asynchronously; one that is not modal is deleted at once) and forgets them all. */
    void closeAll (int result = 0);

    /** Deletes each tracked dialog that still exists, at once (its modal callback still comes, with result 0). */
    void deleteAll();

private:
    juce::Array<juce::Component::SafePointer<juce::DialogWindow>> windows;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OpenDialogs)
};

} // namespace olvo
