// Where the shell's windows go on the screen (all measures in twips).
#pragma once

namespace tovra::shell {

struct Position {
    double left;
    double top;
};

// The main window: flush with the right edge, a tenth of the free height below the top.
Position MainWindowPosition(double screenWidth, double screenHeight, double width, double height);
// The About box: centred vertically, a third of the free width from the left.
Position AboutBoxPosition(double screenWidth, double screenHeight, double width, double height);
// The splash: centred; negative on a screen smaller than the window.
Position CentredPosition(double screenWidth, double screenHeight, double width, double height);

}  // namespace tovra::shell
