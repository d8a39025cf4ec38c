#pragma once

#include "BatteryDisplay.h"
#include "CollectionModel.h"
#include "DefaultChoiceRequests.h"
#include "DropdownRules.h"
#include "EngineSnapshot.h"
#include "ImageUrlCache.h"
#include "MainLayout.h"
#include "NetDisplay.h"
#include "RegimenModel.h"
#include "WebView.h"

#include "engine/OlvoThread.h"
#include "look/Fonts.h"
#include "look/MyCustomLookAndFeel.h"
#include "windows/Dialogs.h"
#include "windows/Popups.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace olvo
{

//==============================================================================
/** How a MainComponent is built: seams for tests; the defaults are the application's. The clock is the engine's
    (engine/Clock.h) and links go through the platform layer (platform/Links.h), each with a seam of its own. */
struct MainComponentOptions
{
    /** Start the worker thread (tests that drive the engine's fields themselves leave it stopped). */
    bool startWorker = true;

    /** Start the 500 ms timer (tests call timerCallback themselves). */
    bool startTimer = true;

    /** Makes the web view; empty: the real WebViewComponent (whose browser starts a helper process once the view
        is first shown). */
    WebView::Factory makeWebView;

    /** The device web API endpoint; empty: MainComponent::apiUrlFromEnvironment(). */
    juce::String apiUrl;

    /** Fetches an image named by URL, on the image cache's thread; empty: over HTTP (fetchImageOverHttp). */
    ImageUrlCache::Fetcher fetchImage;

    /** Launches the information dialog and the popups (see DialogLauncher); empty: launchAsync (asynchronous,
        modal, deleted with its content when dismissed). The component tracks each window it gets back until it
        closes: teardown deletes those still open. */
    DialogLauncher launchDialog;
};

//==============================================================================
/**
    The main window's content: it owns the engine (the worker thread and the model it shares with the windows), the
    window's look-and-feel and the fonts every window uses, and it shows the engine's state.

    One class spread over files by concern:
        MainComponent.cpp           construction and teardown, the start option and the API endpoint
        MainComponentHelpers.cpp    the image cache, the popups and the information dialog
        MainComponentDropdowns.cpp  the dropdown buttons' images, closing a list, the loaded-program match
        MainComponentLayout.cpp     resized and paint
        MainComponentInput.cpp      buttonClicked, sliderValueChanged, mouseDown
        MainComponentTimer.cpp      the timer pass: its order, the device's arrival and going, battery, status,
                                    the window's visibility and the layout
        MainComponentTimerGroups.cpp        the pass's program-group steps
        MainComponentTimerRegimen.cpp       the pass's packages, popups, regimen texts and web view
    The rules they apply are plain functions over plain values: UiHelpers.h, DurationTexts.h, DropdownRules.h,
    MainLayout.h, ImageUrlCache.h, TimerRules.h, windows/Popups.h, and the firmware table engine/FirmwareRules.h.

    Construction loads and publishes the three faces, sets up the look-and-feel with the window's colours, builds
    every child (visible or hidden as below), creates the engine with the API endpoint and starts it, sizes itself
    702 x 468, takes the group colours, applies the "-v" start option from launchCommandLine and starts its 500 ms
    timer. Destruction closes the dialogs it launched, stops the worker (waiting for it), deletes it, takes the
    look-and-feel off every child and deletes it, and withdraws the fonts.

    The window reads the engine through its accessors and guarded copies and writes requests into its atomics. Each
    timer pass reads the engine once (EngineSnapshot) at one clock value, then runs its steps on that read. A window
    test builds it with Options that leave the worker and the timer stopped and give it a stand-in web view, fetcher
    and dialog launcher, sets engine fields, calls a handler or the timer pass and reads what the children show.

    The pass keeps the controls in step with the engine: while the user is editing (userIsEditing) they keep the
    user's choices, otherwise they mirror the device and the server. It repaints and lays out only what changed.

    Dropdown states and indexes: see DropdownRules.h (1 closed, -1 open, 0 no list; 0..2 program lists, 3..5
    duration lists, 6 the package list).
*/
class MainComponent : public juce::Component,
                      public juce::Button::Listener,
                      public juce::Slider::Listener,
                      public juce::Timer
{
public:
    /** Seams for tests (see MainComponentOptions). */
    using Options = MainComponentOptions;

    explicit MainComponent (Options options = {});
    ~MainComponent() override;

    //==============================================================================
    /** Any press in the window, on its children too: marks the user active; closes the open list unless the press
        is on that list or its button. */
    void mouseDown (const juce::MouseEvent&) override;

    /** The group panels behind the children, and the regimen's phase texts. */
    void paint (juce::Graphics&) override;

    /** Places every child by the proportional layout (MainLayout.h) and redraws the dropdown buttons. */
    void resized() override;

    /** Opens the information dialog or a link, toggles a dropdown, or sends SAVE or CANCEL to the engine; every
        click marks the user active. */
    void buttonClicked (juce::Button*) override;

    /** A level slider: asks the engine for that brightness and shows the level. */
    void sliderValueChanged (juce::Slider*) override;

    /** One pass of the window's timer: reads the engine once, then, in this order, the device's presence, the
        program groups and their visibility (both held as shown while the device restarts after a firmware attempt),
        the packages, the popups, the regimen texts, the battery, the status, the window's visibility, the layout
        and the web view. */
    void timerCallback() override;

    //==============================================================================
    /** Draws a dropdown button's one image and installs it: the caption (centred or at the left) or, for the package
        and filler image buttons, the image named by the text; then for a state other than 0 a triangle after the
        content (down: closed, up: open). A button smaller than 3 x 3 keeps its image. */
    void renderDropdownButton (juce::ImageButton& button, const juce::String& text, int state, bool centred,
                               juce::Colour textColour, juce::Colour background);

    /** The index of the choice the device holds in the group's slots (see loadedProgram::bestMatch), or -1. For an
        empty list, marks the group's slots that hold a program for erasing (OlvoThread::slotClearMask) under the
        rule of loadedProgram::eraseMask. The slots' codes and the erase conditions come from a read of the engine:
        the timer pass gives its own, so that the match agrees with everything else the pass shows. */
    int findLoadedProgram (int group, const std::vector<ProgramChoice>& choices, const juce::String& firmwareText,
                           const EngineSnapshot& read);

    /** Closes a dropdown's list (index as in DropdownRules.h) and redraws its button; openDropdown is the caller's. */
    void closeDropdown (int index);

    /** The image named by a URL, through the cache (see ImageUrlCache). Returns at once: null while the image's
        download runs; the next timer pass shows the image once it has arrived. */
    juce::Image getImageForURL (const juce::String& url);

    /** Builds and launches a popup (PopupKind and its four texts, see windows/Popups.h) over the window and tracks
        it; a next-phase popup's result reaches popupClosed. */
    void showPopup (int kind, const juce::String& urlOrChoices, const juce::String& message,
                    const juce::String& heading, const juce::String& link);

    /** The modal callback of a next-phase popup, bound to its owner: hands the decision to the engine (see
        applyNextPhaseDecision). Does nothing once the owner is gone (JUCE then passes null). */
    static void popupClosed (int result, MainComponent* owner, int kind);

    //==============================================================================
    /** The engine's endpoint for a value of OLVO_API_URL: the value when it is a plain absolute http(s) URL, the
        built-in default when it is empty; anything else is ignored with a line on standard error. */
    static juce::String chooseApiUrl (const juce::String& environmentValue);

    /** chooseApiUrl of the environment variable OLVO_API_URL. */
    static juce::String apiUrlFromEnvironment();

    /** Applies the start option: each token of the command line that begins with "-v" sets the engine's default
        view type to the rest of the token (a later one wins). Tokens are split at spaces, tabs and line breaks,
        except inside double quotes, which stay in the token. */
    static void applyStartOption (const juce::String& commandLine, OlvoThread& engine);

    /** The help page when the server names none. */
    static constexpr const char* builtInHelpUrl = "https://www.olvo.example/olvo-app-how-to";

    //==============================================================================
    // Members. The look-and-feel and the fonts come first so that they outlive every child; each list model comes
    // before its list (a list must go first).

    /** The window's one look-and-feel: the main window, its lists and the dialogs it launches. */
    std::unique_ptr<MyCustomLookAndFeel> lookAndFeel;

    /** The embedded faces, published through appFontRegular, appFontLight and appFontBold. */
    juce::Font fontRegular, fontLight, fontBold;
    PublishedFonts publishedFonts;

    /** The engine; never null while the component exists. */
    std::unique_ptr<OlvoThread> thread;

    /** Header and footer buttons: device information, the help page, the web application or filler link. */
    juce::ImageButton infoButton, helpButton;
    juce::TextButton linkButton;

    /** Per program group: the program dropdown (first row), the duration dropdown (second row), the level number. */
    juce::ImageButton programButtons[3];
    juce::ImageButton durationButtons[3];
    juce::Label levelLabels[3];

    /** Captions and list states of the program and duration dropdowns. */
    juce::String programButtonText[3];
    int32_t programListState[3] {};
    juce::String durationButtonText[3];
    int32_t durationListState[3] {};

    /** The open list: -1 none, else its dropdown index. */
    int32_t openDropdown = -1;

    BatteryDisplay batteryDisplay;
    NetDisplay netDisplay;

    /** The program lists and the timer's copy of each group's choices (the rows of its list). */
    CollectionModel programListModels[3];
    juce::ListBox programLists[3];
    std::vector<ProgramChoice> shownProgramChoices[3];

    /** The duration lists. */
    CollectionModel durationListModels[3];
    juce::ListBox durationLists[3];

    /** Regimen texts the timer keeps: the phase line and the day badge that paint draws, the phase name last seen. */
    juce::String phaseText, phaseNameText, dayText;

    /** Tooltips for the window's children (100 ms delay), only while the window is showing: a tooltip window listens
        to the mouse everywhere, which keeps JUCE polling the pointer 50 times a second even behind a hidden window.
        The timer's visibility step makes and deletes it. */
    std::optional<juce::TooltipWindow> tooltipWindow;

    /** The timer has shown the window for the device now present. */
    bool windowShown = false;

    /** The window has just become visible: the next pass brings it to the front once more (if still showing). */
    bool raiseWindowPending = false;

    /** The last showMainWindow or hideMainWindow, until the window is seen to have followed it. A minimised window
        counts as showing until the window manager has taken it, and comes back only once the window manager
        restores it; meanwhile:
        - putAway: the timer never raises the window (a raise would bring it back); back to none once the window is
          seen not showing, so that a later showing (the user's) is raised as usual;
        - shown: the window is on its way back, not hidden (the user, who has just plugged the device in, is
          there); back to none once the window shows. */
    enum class WindowRequest { none, shown, putAway };
    WindowRequest windowRequest = WindowRequest::none;

    /** The frame counter of the marquee the program captions show while an update runs. */
    int32_t updatingFrameCounter = 0;

    /** The timer runs resized and repaints at the end of its pass, then clears it. */
    bool layoutDirty = true;

    /** Earliest times (ms since 1970) of the next application-update and next-phase popups. */
    int64_t nextAppUpdateCheck = 0;
    int64_t nextPhaseOffer = 0;

    /** The device the last next-phase popup was raised for: its decision applies to that device only. */
    std::optional<DeviceUid> nextPhaseDevice;

    /** The warning popup has been shown for the device now present. */
    bool warningShown = false;

    /** A level slider is being dragged (the timer leaves the sliders alone meanwhile). */
    bool userDragging = false;

    juce::Slider levelSliders[3];

    /** Time (ms since 1970) of the last SAVE click. */
    int64_t lastSaveAt = 0;

    /** The groups whose first program the window has asked for on its own, for this device and list. */
    DefaultChoiceRequests defaultChoiceRequests;

    /** The duration range (minutes) per group that the timer last computed; none (0..0) until it does. */
    int32_t durationRangeMin[3] {};
    int32_t durationRangeMax[3] {};

    /** The firmware version text seen at the last pass. */
    juce::String firmwareVersionText;

    juce::TextButton saveButton, cancelButton;

    /** Launch settings of the information dialog and of the popups (reused for every launch). */
    juce::DialogWindow::LaunchOptions infoOptions, popupOptions;

    /** The popups and information dialogs launched and still open (weak references: a closed one drops out). The
        device's going and the window's hiding close the popups; teardown deletes both. */
    OpenDialogs openPopups, openInfoWindows;

    /** Whether the window was showing at the last pass. */
    bool lastShowing = true;

    /** The web view (hidden until the server asks for it) and the URL last given to it. */
    std::unique_ptr<WebView> webView;
    juce::String loadedWebUrl;

    /** Images fetched by URL (getImageForURL). */
    ImageUrlCache imageCache;

    /** The package dropdown. */
    juce::ImageButton packageButton;
    RegimenModel packageListModel;
    juce::ListBox packageList;
    int32_t packageListState = 0;

    /** The server's filler image and text. */
    juce::ImageButton fillerImageButton;
    juce::TextButton fillerTextButton;

private:
    //==============================================================================
    /** A dropdown's button, list and state by its index; all null for an index out of range. */
    struct DropdownParts
    {
        juce::ImageButton* button = nullptr;
        juce::ListBox* list = nullptr;
        int32_t* state = nullptr;
    };

    DropdownParts dropdownParts (int index);

    /** A click on a dropdown's button: opens or closes its list (DropdownRules.h) and redraws the button. */
    void toggleDropdown (int index);

    /** Launches the information dialog over the window. */
    void openInformation();

    /** The layout at the current size with the groups available now. */
    MainLayout currentLayout() const;

    /** Redraws the buttons of a dropdown index with its caption and state. */
    void renderDropdownOf (int index);

    /** Marks the user active now (the engine keeps the device while the user is active). */
    void noteUserActivity();

    //==============================================================================
    // Drawing the dropdown buttons only when what they show changed.

    /** renderDropdownButton, unless the button already shows this (same text, state, alignment, colours, size and,
        for the package and filler buttons, the same image). */
    void redrawDropdownButton (juce::ImageButton& button, const juce::String& text, int state, bool centred,
                               juce::Colour textColour, juce::Colour background);

    /** What a dropdown button was last drawn with. */
    struct DrawnButton
    {
        juce::String text;
        int state = 0;
        bool centred = false;
        juce::uint32 textColour = 0, background = 0;
        int width = 0, height = 0;
        juce::Image picture;

        bool operator== (const DrawnButton& o) const
        {
            return text == o.text && state == o.state && centred == o.centred && textColour == o.textColour
                   && background == o.background && width == o.width && height == o.height && picture == o.picture;
        }
    };

    std::map<const juce::ImageButton*, DrawnButton> drawnButtons;

    //==============================================================================
    // The timer pass, step by step (each on the pass's one read of the engine).

    /** The device's presence: its arrival shows the window, its going runs the absent path. */
    void presenceStep (EngineSnapshot&);
    void deviceArrived();
    void deviceGone (const EngineSnapshot&);
    void deviceAbsent (const EngineSnapshot&);

    /** The program groups while the device is present: firmware caption, colours, program lists, the default
        choice, duration ranges and lists, level sliders and SAVE/CANCEL. */
    void programGroupSteps (EngineSnapshot&);
    void firmwareCaptionStep (const EngineSnapshot&);
    void groupColoursStep (const EngineSnapshot&);
    bool programListStep (int group, EngineSnapshot&);
    void marqueeStep (const EngineSnapshot&);
    void defaultChoiceStep (bool defaultChosen, EngineSnapshot&);
    void durationRangesStep (const EngineSnapshot&);
    void durationListStep (int group, EngineSnapshot&);
    void levelsAndSaveStep (const EngineSnapshot&);
    void groupVisibilityStep (const EngineSnapshot&);

    /** While the device restarts (EngineSnapshot::restarting) the groups stay as they were shown; a marquee that ran
        goes on turning. */
    void restartHoldStep();

    /** The marquee's next frame in the three program captions (no lists meanwhile). */
    void turnMarquee();

    void packageStep (EngineSnapshot&);
    void popupSteps (const EngineSnapshot&);
    void phaseTextStep (const EngineSnapshot&);
    void batteryStep (const EngineSnapshot&);
    void statusStep (const EngineSnapshot&);
    void windowVisibilityStep (const EngineSnapshot&);
    void layoutStep();
    void webViewStep (const EngineSnapshot&);

    /** A list's state for its number of rows (see dropdown::stateForRows); a list that is open and can no longer be
        chosen from is closed first (and is no longer the open one). */
    void settleListState (int dropdownIndex, int rows);

    /** Closes the open list, if any, and records that none is open. */
    void closeOpenDropdown();

    /** The engine's erase conditions as the pass read them. */
    static loadedProgram::EraseConditions eraseConditionsOf (const EngineSnapshot&);

    /** Whether the window is blocked by a modal component (a dialog) other than its own parents. */
    bool isBlockedByDialog() const;

    //==============================================================================
    DialogLauncher dialogLauncher;

    /** The first pass takes the window's visibility as it finds it, without taking it for a change. */
    bool visibilityRecorded = false;

    /** The packages the package list shows (their ids, in row order): a click is resolved against them. */
    juce::Array<int> shownPackageIds;

    /** The regimen's texts as last built, from these inputs. */
    struct RegimenInputs
    {
        int32_t phase = 0, total = 0, days = 0, remaining = 0;
        juce::String name;

        bool operator== (const RegimenInputs& o) const
        {
            return phase == o.phase && total == o.total && days == o.days && remaining == o.remaining
                   && name == o.name;
        }
    };

    std::optional<RegimenInputs> regimenInputs;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};

} // namespace olvo
