// ui/render_window.h — the window a match is drawn in: loading log, chat box, two timers.
#pragma once

#include "core/game.h"
#include "platform/window/window.h"

#include <array>
#include <memory>
#include <string>
#include <string_view>

namespace ui {

// What the render window's own events do. The entry point implements it (app/wiring.cpp): the
// game core's handlers, and for a match over a session the network's chat and leave. Called on
// the user-interface thread, from the window's timers, its chat box and Unload.
class RenderWindowEvents {
public:
    virtual ~RenderWindowEvents() = default;
    virtual void MessageTimerExpired() = 0; // 10000 ms after a message: the HUD line clears
    virtual void KeyTimerExpired() = 0;     // 400 ms without re-arming: the keys are ready again
    // One chat line for every player of the session; an empty line is sent like any other.
    virtual void ChatSent(std::string_view line) = 0;
    virtual void ChatClosed() = 0; // the chat box closed after sending its line (ChatOpen = False)
    virtual void Unloaded() = 0;   // the window goes at the end of a match
};

// The render window. While loading it shows three pictures taken from the splash, a label and
// the loading log; afterwards it draws nothing of its own except the chat box when open, so
// the 3D view (window::SetBackgroundHook) shows through. Named "render".
class RenderWindow : public window::Screen, public core::MatchWindow {
public:
    static constexpr uint32_t kMessageTimerMs = 10000;
    static constexpr uint32_t kKeyTimerMs = 400;
    static constexpr size_t kChatMaxLength = 255; // bytes of one chat line

    // `pictures` are the splash's pictures 0, 1 and 2 (any may be nullptr). `events` outlives
    // the window.
    RenderWindow(std::array<std::shared_ptr<window::Picture>, 3> pictures,
                 RenderWindowEvents& events);

    void Draw() override;

    // --- Loading log: a text area the match start appends to ("." for a progress dot). ---
    void AppendLogLine(std::string_view line); // the line and a line break
    const std::string& LoadingLog() const { return log_; }
    bool IsLoading() const { return loading_; }

    // --- Chat box: one line of text; Enter (or losing the focus) sends it. ---
    bool IsChatOpen() const { return chatOpen_; }
    std::string& ChatText() { return chatText_; }
    // The lost-focus handling: hide the box, send its text (ChatSent), then ChatClosed.
    void SubmitChat();

    // --- core::MatchWindow: the match drives the window through these. ---
    void AppendLog(std::string_view text) override;
    void Show() override { window::OpenScreen(self_.lock()); }
    void EndLoading() override { loading_ = false; }
    void OpenChat() override;
    // Hides the chat box without sending its line (Escape).
    void CloseChat() override { chatOpen_ = false; }
    int ChatTop() const override { return chatTop_; }
    void EnableMessageTimer() override { messageTimer.Enable(); }
    void EnableKeyTimer() override { keyTimer.Enable(); }
    // Closes the window; Unloaded runs first.
    void Unload() override;
    // The shared pointer the window is opened through (Show needs it).
    void SetSelf(const std::shared_ptr<RenderWindow>& self) { self_ = self; }

    // --- Timers, both one-shot and initially disabled. ---
    // 10000 ms: MessageTimerExpired (armed when a message is shown).
    window::Timer messageTimer;
    // 400 ms: KeyTimerExpired (armed every frame of a match).
    window::Timer keyTimer;

private:
    void DrawLoading();
    void DrawChat();

    RenderWindowEvents& events_;
    std::array<std::shared_ptr<window::Picture>, 3> pictures_;
    std::string log_;
    bool loading_ = true;
    bool scrollLog_ = false;
    bool chatOpen_ = false;
    bool chatFocus_ = false;
    std::string chatText_;
    int chatTop_ = 0; // pixels; set when the chat box is drawn
    std::weak_ptr<RenderWindow> self_;
};

} // namespace ui
