// The program entry: JUCE's standard application main, which also routes the web view's helper process
// (--juce-gtkwebkitfork-child) before the application starts.

#include "TrayTestApplication.h"

START_JUCE_APPLICATION (olvo::TrayTestApplication)
