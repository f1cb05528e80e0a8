// ui/render_window.h — the window a match is drawn in: loading log, chat box, two timers.
#pragma once

#include "platform/window/window.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace ui {

// Sends one chat line to every player of the session. Calls SendChatHook when set (the network
// layer sets it when a session exists); without it the line goes nowhere. An empty line is sent
// like any other.
void SendChat(std::string_view text);
extern std::function<void(std::string_view)> SendChatHook;

// The render window. While loading it shows three pictures taken from the splash, a label and
// the loading log; afterwards it draws nothing of its own except the chat box when open, so
// the 3D view (window::SetBackgroundHook) shows through. Named "render".
class RenderWindow : public window::Screen {
public:
    static constexpr uint32_t kMessageTimerMs = 10000;
    static constexpr uint32_t kKeyTimerMs = 400;
    static constexpr size_t kChatMaxLength = 255; // bytes of one chat line

    // `pictures` are the splash's pictures 0, 1 and 2 (any may be nullptr).
    explicit RenderWindow(std::array<std::shared_ptr<window::Picture>, 3> pictures);

    void Draw() override;

    // --- Loading log: a text area the match start appends to. ---
    void AppendLog(std::string_view text);     // text as given ("." for a progress dot)
    void AppendLogLine(std::string_view line); // the line and a line break
    const std::string& LoadingLog() const { return log_; }
    // Hides the pictures, the label and the log: loading has ended.
    void EndLoading() { loading_ = false; }
    bool IsLoading() const { return loading_; }

    // --- Chat box: one line of text; Enter (or losing the focus) sends it. ---
    void OpenChat();
    bool IsChatOpen() const { return chatOpen_; }
    std::string& ChatText() { return chatText_; }
    // The lost-focus handling: SendChat with the box's text, hide the box, run onChatClosed.
    void SubmitChat();

    // --- Timers, both one-shot and initially disabled. ---
    // 10000 ms: onMessageTimer clears the HUD message line (armed when a message is shown).
    window::Timer messageTimer;
    // 400 ms: onKeyTimer sets the local player's key-ready flag (armed every frame of a match).
    window::Timer keyTimer;

    // Hooks the game fills in: message timer expiry, key timer expiry, chat box closed
    // (ChatOpen = False). Empty hooks do nothing.
    std::function<void()> onMessageTimer;
    std::function<void()> onKeyTimer;
    std::function<void()> onChatClosed;

private:
    void DrawLoading();
    void DrawChat();

    std::array<std::shared_ptr<window::Picture>, 3> pictures_;
    std::string log_;
    bool loading_ = true;
    bool scrollLog_ = false;
    bool chatOpen_ = false;
    bool chatFocus_ = false;
    std::string chatText_;
};

} // namespace ui
