// The splash screen: the product's name, version and maker for three seconds, then the main window.
#pragma once
#include <functional>

#include "shared/forms.h"

namespace tovra::shell {

class SplashForm : public forms::Form {
public:
    static const forms::FormSpec& Layout();

    // showMain is called once, on the tick that ends the count.
    explicit SplashForm(std::function<void()> showMain);

    // Creates the window centred on the screen, starts the clock and shows it.
    bool Load();
    // A tenth of a second more on the clock; the tick that reaches three seconds hides the splash
    // and shows the main window.
    void OnClockTick();
    bool TimerEnabled() const { return timerOn_; }

protected:
    void OnTimer(UINT_PTR timerId) override;

private:
    std::function<void()> showMain_;
    bool timerOn_ = false;
};

}  // namespace tovra::shell
