// The main window's content: the timer pass's lower half. The package list, the popups the engine's news raise, the
// regimen's phase and day texts, and the web view, link and filler controls.

#include "MainComponent.h"

#include "TimerRules.h"

#include "look/Palette.h"

namespace olvo
{

namespace
{
    constexpr int64_t appUpdateRepeatMs = 86'400'000;   // an offered update comes back a day later
    constexpr int64_t nextPhaseRepeatMs = 3'600'000;    // an offered next phase comes back an hour later
}

void MainComponent::packageStep (EngineSnapshot& s)
{
    juce::StringArray names;
    juce::Array<juce::Image> images;
    juce::Array<int> ids;

    for (const auto& package : s.packages)
    {
        names.add (package.presentationName);
        images.add (getImageForURL (package.brandIcon));
        ids.add (package.packageId);
    }

    // A click names the package the user saw in its row, by its id.
    auto& model = packageListModel;
    std::optional<int> clickedId;
    if (const auto clicked = model.takeClick(); juce::isPositiveAndBelow (clicked, shownPackageIds.size()))
        clickedId = shownPackageIds[clicked];

    shownPackageIds = ids;

    if (model.setRows (names, images))
    {
        layoutDirty = true;
        packageList.updateContent();
        packageList.repaint();
    }
    settleListState (dropdown::package, names.size());

    const int current = OlvoThread::currentPackageIndex (s.packages, s.packageChoicePending, s.chosenPackageIndex);
    const int row = clickedId ? ids.indexOf (*clickedId) : -1;
    auto logo = s.currentPackageLogo;

    if (row >= 0 && row != current)
    {
        if (s.status == SyncStatus::upToDate)
        {
            thread->chosenPackageIndex = row;
            thread->packageChoicePending = true;
            s.noteOwnRequests (*thread);
            logo = s.packages.getReference (row).brandLogo;
        }
    }
    else if (current >= 0 && ! s.editing())
    {
        packageList.selectRow (current);
    }

    redrawDropdownButton (packageButton, logo, packageListState, false, juce::Colour (uiPalette[5]),
                          juce::Colour (uiPalette[3]));
}

//==============================================================================
void MainComponent::popupSteps (const EngineSnapshot& s)
{
    // A server warning, once per presence of the device.
    if (s.present && s.status == SyncStatus::unknownDevice && ! warningShown)
    {
        if (s.serverMessage.isNotEmpty())
            showPopup (PopupKind::warning, {}, s.serverMessage, "Warning", {});
        warningShown = true;
    }

    if (s.now > nextAppUpdateCheck && ! isBlockedByDialog())
    {
        const auto offer = appUpdateOffer (s.appUpdate, s.deviceOpen);
        if (offer.isOffered())
        {
            showPopup (PopupKind::newApp, offer.download, offer.message, {}, offer.detail);
            nextAppUpdateCheck = s.now + appUpdateRepeatMs;
        }
    }

    // No decision asked for or on its way to the server, and none that the server forces.
    if (s.now > nextPhaseOffer && ! isBlockedByDialog() && s.regimenAdvancementDelay == 0 && ! s.forceUpdate
        && s.readyToAdvance)
    {
        showPopup (PopupKind::nextPhase, s.delayOptions,
                   s.advancementMessage.isNotEmpty() ? s.advancementMessage : juce::String (defaultAdvancementMessage),
                   s.advancementTitle, {});
        nextPhaseOffer = s.now + nextPhaseRepeatMs;
    }

    if (s.welcomeMessage.isNotEmpty() && ! isBlockedByDialog())
    {
        // The welcome is shown once per message: taken out of the engine as one, so that a new one the worker
        // writes meanwhile is neither lost nor mixed with this one.
        juce::String message, url, title;
        {
            const juce::ScopedLock sl (thread->lock);
            message = thread->welcomeMessage.get();
            url = thread->welcomeUrl.get();
            title = thread->welcomeMessageTitle.get();
            thread->welcomeMessage.set ({});
            thread->welcomeUrl.set ({});
            thread->welcomeMessageTitle.set ({});
        }

        if (message.isNotEmpty())
            showPopup (PopupKind::configurationUpdated, url, message, title, {});
    }
}

void MainComponent::phaseTextStep (const EngineSnapshot& s)
{
    const RegimenInputs inputs { s.currentPhase, s.phaseTotal, s.currentPhaseDurationTotal, s.currentPhaseRemaining,
                                 s.currentPhaseName };
    if (regimenInputs == inputs)
        return;

    regimenInputs = inputs;
    const auto texts = regimenTexts (inputs.phase, inputs.total, inputs.days, inputs.remaining);

    if (texts.phaseText == phaseText && texts.dayText == dayText && inputs.name == phaseNameText)
        return;

    phaseText = texts.phaseText;
    dayText = texts.dayText;
    phaseNameText = inputs.name;
    repaint();
}

//==============================================================================
void MainComponent::webViewStep (const EngineSnapshot& s)
{
    const auto plan = webPanelPlan (s.viewType, s.webAppUrl, s.webappLinkText, s.fillerLink, s.fillerText);
    auto& view = webView->getComponent();

    // Only for the device now present: after the device has gone the view stays hidden and unloaded.
    if (windowShown && plan.webViewUrl.isNotEmpty())
    {
        if (plan.webViewUrl != loadedWebUrl)
        {
            loadedWebUrl = plan.webViewUrl;
            webView->load (loadedWebUrl);
        }

        view.setVisible (true);

        if (webView->pageLoadStarted)
        {
            webView->pageLoadStarted = false;

            // "No Connection" makes the engine poll on its next tick; not over a sync, or the server's message.
            int status = thread->status;
            if (pageLoadMayPoll (status))
                thread->status.compare_exchange_strong (status, SyncStatus::noConnection);
        }
    }
    else
    {
        view.setVisible (false);
        webView->pageLoadStarted = false;
    }

    if (plan.linkVisible)
        linkButton.setButtonText (plan.linkText);
    if (plan.fillerTextVisible)
        fillerTextButton.setButtonText (plan.fillerText);
    fillerTextButton.setVisible (plan.fillerTextVisible);
    linkButton.setVisible (plan.linkVisible);

    fillerImageButton.setVisible (windowShown);
    if (windowShown)
        redrawDropdownButton (fillerImageButton, s.fillerImage, dropdown::noList, false, juce::Colour (uiPalette[5]),
                              juce::Colour (uiPalette[3]));
}

} // namespace olvo
