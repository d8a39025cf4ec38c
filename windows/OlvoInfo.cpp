#include "OlvoInfo.h"

namespace olvo
{

OlvoInfo::OlvoInfo()
{
    startTimer (500);
}

OlvoInfo::~OlvoInfo() = default;

void OlvoInfo::buttonClicked (juce::Button*) {}

void OlvoInfo::timerCallback() {}

} // namespace olvo
