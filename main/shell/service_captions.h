// How the main window shows a service that runs or stands still. The captions are drawn from the
// service's own state after every command; nothing decides by them.
#pragma once

namespace tovra::shell {

struct ServiceCaptions {
    const wchar_t* button;  // the service's button: what pressing it does next
    const wchar_t* status;  // the service's status label
};

constexpr ServiceCaptions CaptionsOf(bool running) {
    return running ? ServiceCaptions{L"Stop", L"Running"} : ServiceCaptions{L"Start", L"Stopped"};
}

}  // namespace tovra::shell
