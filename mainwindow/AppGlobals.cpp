#include "AppGlobals.h"

namespace olvo
{

juce::String launchCommandLine;
juce::DocumentWindow* currentMainWindow = nullptr;

} // namespace olvo
