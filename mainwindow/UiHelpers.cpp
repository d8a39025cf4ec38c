#include "UiHelpers.h"

#include "engine/JsonValues.h"

namespace olvo
{

int32_t compareVersion (const juce::String& version, int32_t minor, int32_t tertiary)
{
    juce::StringArray parts;
    parts.addTokens (version, ".", "");

    if (parts.size() < 3)
        return 1;

    const auto major = json::atoiClamped (parts[0]);
    const auto minorOfText = json::atoiClamped (parts[1]);
    const auto tertiaryOfText = json::atoiClamped (parts[2]);

    if (major != 1)
        return major > 1 ? 1 : -1;

    if (minorOfText != minor)
        return minorOfText > minor ? 1 : -1;

    if (tertiaryOfText != tertiary)
        return tertiaryOfText > tertiary ? 1 : -1;

    return 0;
}

} // namespace olvo
