#include "main/shell/placement.h"

namespace tovra::shell {

Position MainWindowPosition(double screenWidth, double screenHeight, double width, double height) {
    return {screenWidth - width, (screenHeight - height) / 10};
}

Position AboutBoxPosition(double screenWidth, double screenHeight, double width, double height) {
    return {(screenWidth - width) / 3, (screenHeight - height) / 2};
}

Position CentredPosition(double screenWidth, double screenHeight, double width, double height) {
    return {(screenWidth - width) / 2, (screenHeight - height) / 2};
}

}  // namespace tovra::shell
