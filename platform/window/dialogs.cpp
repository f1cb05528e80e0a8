// platform/window/dialogs.cpp — the modal message box and input box.
#include "platform/system/system.h"
#include "platform/window/automation.h"
#include "platform/window/automation_local.h"
#include "platform/window/window.h"

#include <imgui.h>

#include <cstdio>

namespace window {

std::string_view AnswerName(Answer answer) {
    switch (answer) {
    case Answer::Ok:
        return "OK";
    case Answer::Cancel:
        return "CANCEL";
    case Answer::Yes:
        return "YES";
    case Answer::No:
        return "NO";
    }
    return "?";
}

namespace {

// Centres the next ImGui window on the display and brings it to the front.
void PlaceDialog() {
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    ImGui::SetNextWindowPos(ImVec2(display.x * 0.5f, display.y * 0.5f), ImGuiCond_Always,
                            ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowFocus();
}

// True when nobody can answer: no display to click on and no script command left to answer.
bool Unanswerable() {
    return !IsOpen() || (IsHeadless() && (!automation::IsActive() || automation::IsFinished()));
}

constexpr ImGuiWindowFlags kDialogFlags = ImGuiWindowFlags_AlwaysAutoResize |
                                          ImGuiWindowFlags_NoCollapse |
                                          ImGuiWindowFlags_NoSavedSettings;

// The ImGui window title: the caption, made unique so two boxes with one caption coexist.
std::string DialogTitle(std::string_view caption, const void* self) {
    char id[32];
    std::snprintf(id, sizeof id, "###dialog%p", self);
    return std::string(caption.empty() ? " " : caption) + id;
}

class MessageBoxScreen : public Screen {
public:
    MessageBoxScreen(std::string_view text, std::string_view caption, Buttons buttons)
        : Screen("messagebox"), text_(text), caption_(caption), buttons_(buttons),
          title_(DialogTitle(caption, this)) {}

    Answer answer = Answer::Ok;

    void Draw() override {
        if (const std::optional<Answer> scripted = automation::detail::TakeAnswer(caption_)) {
            Finish(*scripted);
            return;
        }
        if (Unanswerable()) { // the script ended without answering: the default answer
            CloseScreen(*this);
            return;
        }
        PlaceDialog();
        if (ImGui::Begin(title_.c_str(), nullptr, kDialogFlags)) {
            ImGui::PushTextWrapPos(ImGui::GetFontSize() * 35.0f);
            ImGui::TextUnformatted(text_.c_str());
            ImGui::PopTextWrapPos();
            ImGui::Spacing();
            switch (buttons_) {
            case Buttons::Ok:
                Offer(Answer::Ok, "OK", false);
                break;
            case Buttons::OkCancel:
                Offer(Answer::Ok, "OK", false);
                Offer(Answer::Cancel, "Cancel", true);
                break;
            case Buttons::YesNo:
                Offer(Answer::Yes, "Yes", false);
                Offer(Answer::No, "No", true);
                break;
            case Buttons::YesNoCancel:
                Offer(Answer::Yes, "Yes", false);
                Offer(Answer::No, "No", true);
                Offer(Answer::Cancel, "Cancel", true);
                break;
            }
        }
        ImGui::End();
    }

private:
    void Offer(Answer value, const char* label, bool sameLine) {
        if (sameLine) ImGui::SameLine();
        if (Button(label, 80.0f)) Finish(value);
    }
    void Finish(Answer value) {
        answer = value;
        CloseScreen(*this);
    }

    std::string text_;
    std::string caption_;
    Buttons buttons_;
    std::string title_;
};

class InputBoxScreen : public Screen {
public:
    InputBoxScreen(std::string_view prompt, std::string_view caption, std::string_view text)
        : Screen("inputbox"), text(text), prompt_(prompt), caption_(caption),
          title_(DialogTitle(caption, this)) {}

    std::optional<std::string> answer;
    std::string text;

    void Draw() override {
        if (auto scripted = automation::detail::TakeInput(caption_)) {
            answer = std::move(*scripted);
            CloseScreen(*this);
            return;
        }
        if (Unanswerable()) {
            answer = text;
            CloseScreen(*this);
            return;
        }
        PlaceDialog();
        if (ImGui::Begin(title_.c_str(), nullptr, kDialogFlags)) {
            ImGui::TextUnformatted(prompt_.c_str());
            bool ok = InputLine("##answer", text, 255, firstFrame_);
            firstFrame_ = false;
            ok = Button("OK", 80.0f) || ok;
            ImGui::SameLine();
            if (Button("Cancel", 80.0f)) {
                CloseScreen(*this);
            } else if (ok) {
                answer = text;
                CloseScreen(*this);
            }
        }
        ImGui::End();
    }

private:
    std::string prompt_;
    std::string caption_;
    std::string title_;
    bool firstFrame_ = true;
};

// True when the box cannot even be shown for an answer: no window, or headless and unscripted.
bool NoScriptNoDisplay() {
    return !IsOpen() || (IsHeadless() && !automation::IsActive());
}

} // namespace

Answer MsgBox(std::string_view text, std::string_view caption, Buttons buttons) {
    sys::Log("messagebox \"" + std::string(caption) + "\": " + std::string(text));
    auto box = std::make_shared<MessageBoxScreen>(text, caption, buttons);
    box->answer =
        buttons == Buttons::YesNo || buttons == Buttons::YesNoCancel ? Answer::Yes : Answer::Ok;
    if (!NoScriptNoDisplay()) ShowModal(box);
    sys::Log("messagebox answer: " + std::string(AnswerName(box->answer)));
    return box->answer;
}

std::optional<std::string> InputBox(std::string_view prompt, std::string_view caption,
                                    std::string_view defaultText) {
    sys::Log("inputbox \"" + std::string(caption) + "\": " + std::string(prompt));
    auto box = std::make_shared<InputBoxScreen>(prompt, caption, defaultText);
    if (NoScriptNoDisplay()) {
        box->answer = std::string(defaultText);
    } else {
        ShowModal(box);
        // Closed by the quit flag: treated as cancelled.
    }
    sys::Log(box->answer ? "inputbox answer: " + *box->answer : "inputbox cancelled");
    return box->answer;
}

} // namespace window
