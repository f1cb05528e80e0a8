// ui/web_window.h — the web window "TARNHOLD": the small modal box the web client shows while a
// request, a download or an unpacking runs.
#pragma once

#include "web/web.h"

#include <functional>
#include <string>

namespace ui {

// The web client's web::WaitView on screen: a centred box titled "TARNHOLD" holding the label,
// shown modally, so the screen that asked and every screen under it are drawn disabled until
// the work is over. Without an open program window (tools, tests without screens) nothing is
// shown and ShowUntil returns at once.
class WebWindowView : public web::WaitView {
public:
    void ShowUntil(const std::string& label, const std::function<bool()>& finished) override;
};

} // namespace ui
