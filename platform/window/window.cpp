// platform/window/window.cpp — SDL window, ImGui, screens, the pump, pointer, beep, pictures.
//
// Index
//   1. State
//   2. Window life
//   3. Screens
//   4. The pump
//   5. Pointer and beep
//   6. Pictures and screenshots
//   7. Widgets
#include "platform/window/window.h"

#include "platform/input/input.h"
#include "platform/system/system.h"
#include "platform/window/automation.h"
#include "platform/window/automation_local.h"

#include <SDL.h>
#include <epoxy/gl.h>
#include <imgui.h>
#include <imgui_impl_opengl3.h>
#include <imgui_impl_sdl.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace window {

// ---------------------------------------------------------------------------------------------
// 1. State
// ---------------------------------------------------------------------------------------------

namespace {

struct State {
    bool open = false;
    bool headless = true;
    SDL_Window* sdlWindow = nullptr;
    SDL_GLContext gl = nullptr;
    int width = 640;
    int height = 480;
    bool quit = false;
    bool drawing = false; // inside DrawScreens
    uint64_t frame = 0;
    uint64_t lastTicks = 0;
    std::vector<std::shared_ptr<Screen>> screens; // open screens, in opening order
    std::function<void()> backgroundHook;
    Pointer pointer = Pointer::Normal;
    SDL_Cursor* arrowCursor = nullptr;
    SDL_Cursor* waitCursor = nullptr;
    SDL_AudioDeviceID beepDevice = 0;
    bool beepTried = false;
};

State& W() {
    static State state;
    return state;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// 2. Window life
// ---------------------------------------------------------------------------------------------

namespace {

bool CreateGlWindow(const std::string& title) {
    State& w = W();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    w.sdlWindow =
        SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w.width,
                         w.height, SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_SHOWN);
    if (w.sdlWindow == nullptr) return false;
    w.gl = SDL_GL_CreateContext(w.sdlWindow);
    if (w.gl == nullptr) {
        sys::Log(std::string("window: no OpenGL 3.3 context (") + SDL_GetError() +
                 "), running headless");
        SDL_DestroyWindow(w.sdlWindow);
        w.sdlWindow = nullptr;
        return false;
    }
    SDL_GL_MakeCurrent(w.sdlWindow, w.gl);
    SDL_GL_SetSwapInterval(1);
    return true;
}

void InitImGui() {
    State& w = W();
    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr; // screens place themselves; nothing is saved between runs
    io.LogFilename = nullptr;
    io.ConfigFlags |= ImGuiConfigFlags_NoMouseCursorChange; // SetPointer owns the cursor
    ImGui::StyleColorsDark();
    if (!w.headless) {
        ImGui_ImplSDL2_InitForOpenGL(w.sdlWindow, w.gl);
        ImGui_ImplOpenGL3_Init("#version 330 core");
    } else {
        // No renderer: the font atlas is built on the CPU so frames can run.
        unsigned char* pixels = nullptr;
        int atlasWidth = 0;
        int atlasHeight = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &atlasWidth, &atlasHeight);
        io.DisplaySize = ImVec2(static_cast<float>(w.width), static_cast<float>(w.height));
    }
}

} // namespace

bool Init(const std::string& title, int width, int height) {
    State& w = W();
    if (w.open) return true;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0) {
        sys::Log(std::string("window: SDL video cannot start: ") + SDL_GetError());
        return false;
    }
    w.width = std::max(width, 1);
    w.height = std::max(height, 1);
    const char* driver = SDL_GetCurrentVideoDriver();
    const bool dummy = driver != nullptr && std::strcmp(driver, "dummy") == 0;
    w.headless = dummy || !CreateGlWindow(title);
    w.open = true;
    w.quit = false;
    w.lastTicks = SDL_GetTicks64();
    InitImGui();
    input::AttachWindow(w.sdlWindow);
    w.arrowCursor = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
    w.waitCursor = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_WAIT);
    return true;
}

void Shutdown() {
    State& w = W();
    if (!w.open) return;
    while (!w.screens.empty())
        CloseScreen(*w.screens.back());
    if (!w.headless) {
        ImGui_ImplOpenGL3_Shutdown();
        ImGui_ImplSDL2_Shutdown();
    }
    ImGui::DestroyContext();
    input::AttachWindow(nullptr);
    if (w.arrowCursor != nullptr) SDL_FreeCursor(w.arrowCursor);
    if (w.waitCursor != nullptr) SDL_FreeCursor(w.waitCursor);
    if (w.beepDevice != 0) SDL_CloseAudioDevice(w.beepDevice);
    if (w.gl != nullptr) SDL_GL_DeleteContext(w.gl);
    if (w.sdlWindow != nullptr) SDL_DestroyWindow(w.sdlWindow);
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER);
    if (w.beepTried) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    const uint64_t frame = w.frame;
    w = State{};
    w.frame = frame; // the frame counter never goes back within a process
}

bool IsOpen() {
    return W().open;
}
bool IsHeadless() {
    return W().headless;
}
SDL_Window* NativeWindow() {
    return W().sdlWindow;
}

void SetTitle(const std::string& title) {
    if (W().sdlWindow != nullptr) SDL_SetWindowTitle(W().sdlWindow, title.c_str());
}

void SetSize(int width, int height) {
    State& w = W();
    w.width = std::max(width, 1);
    w.height = std::max(height, 1);
    if (w.sdlWindow != nullptr) SDL_SetWindowSize(w.sdlWindow, w.width, w.height);
}

void GetSize(int& width, int& height) {
    State& w = W();
    if (w.sdlWindow != nullptr) SDL_GetWindowSize(w.sdlWindow, &w.width, &w.height);
    width = w.width;
    height = w.height;
}

namespace {

// `device` when the system has such a display, else the first (logged).
int ExistingDisplay(int device) {
    if (device >= 0 && device < SDL_GetNumVideoDisplays()) return device;
    sys::Log("display " + std::to_string(device) + " does not exist; the first display is used");
    return 0;
}

// The pixel format SDL lists display modes of `bits` per pixel with; 0 (the desktop's) for a
// depth it has no format for.
uint32_t FormatOfDepth(int bits) {
    switch (bits) {
    case 8:
        return SDL_PIXELFORMAT_INDEX8;
    case 15:
        return SDL_PIXELFORMAT_RGB555;
    case 16:
        return SDL_PIXELFORMAT_RGB565;
    case 24:
        return SDL_PIXELFORMAT_RGB888;
    case 32:
        return SDL_PIXELFORMAT_ARGB8888;
    default:
        return 0;
    }
}

std::string ModeText(const DisplayMode& m) {
    return std::to_string(m.width) + "x" + std::to_string(m.height) + "x" +
           std::to_string(m.bitsPerPixel);
}

} // namespace

DisplayMode SetFullScreen(int device, const DisplayMode& mode) {
    State& w = W();
    if (w.sdlWindow == nullptr) return mode;
    const int display = ExistingDisplay(device);
    SDL_DisplayMode desktop{};
    SDL_GetDesktopDisplayMode(display, &desktop);
    SDL_DisplayMode want{};
    const bool sized = mode.width > 0 && mode.height > 0;
    want.w = sized ? mode.width : desktop.w;
    want.h = sized ? mode.height : desktop.h;
    want.format = FormatOfDepth(mode.bitsPerPixel);
    SDL_DisplayMode chosen{};
    if (SDL_GetClosestDisplayMode(display, &want, &chosen) == nullptr) chosen = desktop;
    // Out of full screen first, so that the window may move to another display; then the
    // window takes the mode's size before the switch, which is what makes the drawing surface
    // follow it.
    SDL_SetWindowFullscreen(w.sdlWindow, 0);
    SDL_SetWindowPosition(w.sdlWindow, SDL_WINDOWPOS_CENTERED_DISPLAY(display),
                          SDL_WINDOWPOS_CENTERED_DISPLAY(display));
    SetSize(chosen.w, chosen.h);
    if (SDL_SetWindowDisplayMode(w.sdlWindow, &chosen) != 0 ||
        SDL_SetWindowFullscreen(w.sdlWindow, SDL_WINDOW_FULLSCREEN) != 0) {
        sys::Log(std::string("full screen refused: ") + SDL_GetError());
        return {};
    }
    SDL_DisplayMode current{};
    if (SDL_GetWindowDisplayMode(w.sdlWindow, &current) != 0) current = chosen;
    const DisplayMode used{current.w, current.h, int(SDL_BITSPERPIXEL(current.format))};
    std::string line = "full screen on display " + std::to_string(display) + ": " + ModeText(used);
    if ((sized && (used.width != mode.width || used.height != mode.height)) ||
        (mode.bitsPerPixel != 0 && used.bitsPerPixel != mode.bitsPerPixel))
        line += " (asked for " + ModeText(mode) + ", which the display does not offer)";
    sys::Log(line);
    return used;
}

void SetWindowed(int device, bool maximised) {
    State& w = W();
    if (w.sdlWindow == nullptr) return;
    SDL_SetWindowFullscreen(w.sdlWindow, 0);
    const int display = ExistingDisplay(device);
    SDL_SetWindowPosition(w.sdlWindow, SDL_WINDOWPOS_CENTERED_DISPLAY(display),
                          SDL_WINDOWPOS_CENTERED_DISPLAY(display));
    if (maximised)
        SDL_MaximizeWindow(w.sdlWindow);
    else
        SDL_RestoreWindow(w.sdlWindow);
}

bool QuitRequested() {
    return W().quit;
}
void RequestQuit() {
    W().quit = true;
}

// ---------------------------------------------------------------------------------------------
// 3. Screens
// ---------------------------------------------------------------------------------------------

void OpenScreen(const std::shared_ptr<Screen>& screen) {
    if (!screen || screen->open_) return;
    screen->open_ = true;
    W().screens.push_back(screen);
    sys::Log("screen open: " + screen->Name());
}

void ShowModal(const std::shared_ptr<Screen>& screen) {
    if (!screen) return;
    screen->modal_ = true;
    OpenScreen(screen);
    while (screen->IsOpen() && !W().quit && W().open)
        Yield();
    CloseScreen(*screen);
}

void CloseScreen(Screen& screen) {
    if (!screen.open_) return;
    screen.open_ = false;
    screen.OnClose();
    // While the screens are being drawn the list is pruned after the pass.
    if (!W().drawing) {
        std::erase_if(W().screens,
                      [&](const std::shared_ptr<Screen>& s) { return s.get() == &screen; });
    }
    sys::Log("screen closed: " + screen.Name());
}

bool IsScreenOpen(std::string_view name) {
    for (const auto& screen : W().screens)
        if (screen->Name() == name) return true;
    return false;
}

// ---------------------------------------------------------------------------------------------
// 4. The pump
// ---------------------------------------------------------------------------------------------

namespace {

void PumpEvents() {
    State& w = W();
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        const bool scripted = input::IsInjectedOnly();
        const bool userInput = event.type == SDL_KEYDOWN || event.type == SDL_KEYUP ||
                               event.type == SDL_TEXTINPUT || event.type == SDL_MOUSEMOTION ||
                               event.type == SDL_MOUSEBUTTONDOWN ||
                               event.type == SDL_MOUSEBUTTONUP || event.type == SDL_MOUSEWHEEL;
        if (!w.headless && !(scripted && userInput)) ImGui_ImplSDL2_ProcessEvent(&event);
        input::ProcessEvent(event);
        if (event.type == SDL_QUIT) w.quit = true;
        if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE) {
            w.quit = true;
        }
    }
}

void DrawScreens() {
    State& w = W();
    // Screens before the last modal one are shown but do not react.
    size_t firstActive = 0;
    for (size_t i = 0; i < w.screens.size(); ++i)
        if (w.screens[i]->IsModal()) firstActive = i;
    w.drawing = true;
    // Screens opened by a Draw() are appended and drawn in this same pass; closed ones stay in
    // the list, skipped, until the pass ends.
    for (size_t i = 0; i < w.screens.size(); ++i) {
        const std::shared_ptr<Screen> screen = w.screens[i];
        if (!screen->IsOpen()) continue;
        const bool disabled = i < firstActive;
        if (disabled) ImGui::BeginDisabled(true);
        screen->Draw();
        if (disabled) ImGui::EndDisabled();
    }
    w.drawing = false;
    std::erase_if(w.screens, [](const std::shared_ptr<Screen>& s) { return !s->IsOpen(); });
}

} // namespace

void Yield() {
    State& w = W();
    ++w.frame;
    if (w.open) PumpEvents();
    automation::detail::Step(w.frame);
    Timers().FireDue();
    if (!w.open) return;

    const uint64_t now = SDL_GetTicks64();
    ImGuiIO& io = ImGui::GetIO();
    if (w.headless) {
        io.DisplaySize = ImVec2(static_cast<float>(w.width), static_cast<float>(w.height));
        io.DeltaTime = std::max(static_cast<float>(now - w.lastTicks) / 1000.0f, 0.001f);
    } else {
        ImGui_ImplOpenGL3_NewFrame();
        ImGui_ImplSDL2_NewFrame();
    }
    w.lastTicks = now;
    ImGui::NewFrame();
    DrawScreens();
    ImGui::Render();

    if (!w.headless) {
        int width = 0;
        int height = 0;
        SDL_GL_GetDrawableSize(w.sdlWindow, &width, &height);
        glViewport(0, 0, width, height);
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        if (w.backgroundHook) w.backgroundHook();
        ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    }
    if (const std::string* path = automation::detail::PendingScreenshot()) {
        if (w.headless)
            sys::Log("[script] screenshot skipped (headless): " + *path);
        else if (Screenshot(*path))
            sys::Log("[script] screenshot: " + *path);
        else
            sys::Log("[script] screenshot failed: " + *path);
        automation::detail::ScreenshotTaken();
    }
    if (!w.headless) {
        SDL_GL_SwapWindow(w.sdlWindow);
    } else {
        SDL_Delay(1); // nothing waits for a display: keep a headless loop from spinning
    }
}

uint64_t FrameNumber() {
    return W().frame;
}

void SetBackgroundHook(std::function<void()> hook) {
    W().backgroundHook = std::move(hook);
}

// ---------------------------------------------------------------------------------------------
// 5. Pointer and beep
// ---------------------------------------------------------------------------------------------

void SetPointer(Pointer pointer) {
    State& w = W();
    w.pointer = pointer;
    SDL_Cursor* cursor = pointer == Pointer::Hourglass ? w.waitCursor : w.arrowCursor;
    if (cursor != nullptr) SDL_SetCursor(cursor);
}

void ShowPointer(bool shown) {
    if (W().sdlWindow != nullptr) SDL_ShowCursor(shown ? SDL_ENABLE : SDL_DISABLE);
}

Pointer GetPointer() {
    return W().pointer;
}

void Beep() {
    State& w = W();
    if (!w.beepTried) {
        w.beepTried = true;
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
            SDL_AudioSpec want{};
            want.freq = 22050;
            want.format = AUDIO_F32SYS;
            want.channels = 1;
            want.samples = 512;
            w.beepDevice = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
            if (w.beepDevice != 0) SDL_PauseAudioDevice(w.beepDevice, 0);
        }
    }
    if (w.beepDevice == 0) return;
    // 120 ms of 880 Hz with a short fade at both ends so it does not click.
    constexpr int kRate = 22050;
    constexpr int kSamples = kRate * 120 / 1000;
    constexpr int kFade = kRate * 5 / 1000;
    static float tone[kSamples];
    static bool built = false;
    if (!built) {
        for (int i = 0; i < kSamples; ++i) {
            const float edge = static_cast<float>(std::min({i, kSamples - 1 - i, kFade})) / kFade;
            tone[i] = 0.3f * edge * std::sin(2.0f * 3.14159265f * 880.0f * i / kRate);
        }
        built = true;
    }
    if (SDL_GetQueuedAudioSize(w.beepDevice) == 0) SDL_QueueAudio(w.beepDevice, tone, sizeof(tone));
}

// ---------------------------------------------------------------------------------------------
// 6. Pictures and screenshots
// ---------------------------------------------------------------------------------------------

Picture::~Picture() {
    if (texture_ != 0 && W().gl != nullptr) {
        const GLuint name = texture_;
        glDeleteTextures(1, &name);
    }
}

void* Picture::TextureId() const {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(texture_));
}

std::shared_ptr<Picture> LoadPicture(const std::string& path) {
    SDL_Surface* loaded = SDL_LoadBMP(path.c_str());
    if (loaded == nullptr) return nullptr;
    SDL_Surface* rgba = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_ABGR8888, 0);
    SDL_FreeSurface(loaded);
    if (rgba == nullptr || rgba->w <= 0 || rgba->h <= 0) {
        if (rgba != nullptr) SDL_FreeSurface(rgba);
        return nullptr;
    }
    auto picture = std::make_shared<Picture>();
    picture->width_ = rgba->w;
    picture->height_ = rgba->h;
    if (W().gl != nullptr) {
        GLuint name = 0;
        glGenTextures(1, &name);
        glBindTexture(GL_TEXTURE_2D, name);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, rgba->pitch / 4);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, rgba->w, rgba->h, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     rgba->pixels);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        picture->texture_ = name;
    }
    SDL_FreeSurface(rgba);
    return picture;
}

bool Screenshot(const std::string& path) {
    State& w = W();
    if (w.headless || w.sdlWindow == nullptr) return false;
    int width = 0;
    int height = 0;
    SDL_GL_GetDrawableSize(w.sdlWindow, &width, &height);
    if (width <= 0 || height <= 0) return false;
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    // GL rows go bottom-up; files go top-down.
    const size_t stride = static_cast<size_t>(width) * 4;
    std::vector<uint8_t> flipped(pixels.size());
    for (int y = 0; y < height; ++y)
        std::memcpy(&flipped[static_cast<size_t>(y) * stride],
                    &pixels[static_cast<size_t>(height - 1 - y) * stride], stride);
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
        flipped.data(), width, height, 32, static_cast<int>(stride), SDL_PIXELFORMAT_ABGR8888);
    if (surface == nullptr) return false;
    SDL_Surface* rgb = SDL_ConvertSurfaceFormat(surface, SDL_PIXELFORMAT_RGB24, 0);
    SDL_FreeSurface(surface);
    if (rgb == nullptr) return false;
    const bool saved = SDL_SaveBMP(rgb, path.c_str()) == 0;
    SDL_FreeSurface(rgb);
    return saved;
}

// ---------------------------------------------------------------------------------------------
// 7. Widgets
// ---------------------------------------------------------------------------------------------

namespace {

bool ItemDisabled() {
    return (GImGui->CurrentItemFlags & ImGuiItemFlags_Disabled) != 0;
}

} // namespace

bool Button(const char* label, float width, float height) {
    const bool clicked = ImGui::Button(label, ImVec2(width, height));
    if (!ItemDisabled() && automation::detail::TakePress(label)) return true;
    return clicked;
}

bool InputLine(const char* label, std::string& text, size_t maxLength, bool takeFocus) {
    // A fixed buffer per call keeps drawing free of allocation; 1 KiB bounds any line.
    static char buffer[1024];
    maxLength = std::min(maxLength, sizeof(buffer) - 1);
    const size_t length = std::min(text.size(), maxLength);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    if (takeFocus) ImGui::SetKeyboardFocusHere();
    const bool entered =
        ImGui::InputText(label, buffer, maxLength + 1, ImGuiInputTextFlags_EnterReturnsTrue);
    if (text != buffer) text.assign(buffer);
    bool scriptedEnter = false;
    if (!ItemDisabled() && automation::detail::TakeType(label, text, scriptedEnter)) {
        if (text.size() > maxLength) text.resize(maxLength);
        // A field being edited owns its text and would write it back over the typed one next
        // frame: it lets go of its edit state.
        if (ImGui::IsItemActive()) ImGui::ClearActiveID();
        return scriptedEnter;
    }
    return entered;
}

bool ListBox(const char* label, const std::vector<std::string>& items, int& selected,
             int heightInItems) {
    const int before = selected;
    const float height = ImGui::GetTextLineHeightWithSpacing() * float(std::max(heightInItems, 1)) +
                         ImGui::GetStyle().FramePadding.y * 2.0f;
    if (ImGui::BeginListBox(label, ImVec2(-FLT_MIN, height))) {
        for (int i = 0; i < int(items.size()); ++i) {
            ImGui::PushID(i);
            if (ImGui::Selectable(items[size_t(i)].c_str(), i == selected)) selected = i;
            ImGui::PopID();
        }
        ImGui::EndListBox();
    }
    int entry = 0;
    if (!ItemDisabled() && automation::detail::TakeSelect(label, int(items.size()), entry))
        selected = entry;
    return selected != before;
}

bool Combo(const char* label, const std::vector<std::string>& items, int& selected) {
    const int before = selected;
    const char* preview =
        selected >= 0 && selected < int(items.size()) ? items[size_t(selected)].c_str() : "";
    if (ImGui::BeginCombo(label, preview)) {
        for (int i = 0; i < int(items.size()); ++i) {
            ImGui::PushID(i);
            if (ImGui::Selectable(items[size_t(i)].c_str(), i == selected)) selected = i;
            ImGui::PopID();
        }
        ImGui::EndCombo();
    }
    int entry = 0;
    if (!ItemDisabled() && automation::detail::TakeSelect(label, int(items.size()), entry))
        selected = entry;
    return selected != before;
}

bool CheckBox(const char* label, bool& value) {
    const bool before = value;
    ImGui::Checkbox(label, &value);
    bool on = false;
    if (!ItemDisabled() && automation::detail::TakeCheck(label, on)) value = on;
    return value != before;
}

bool Option(const char* label, int& value, int mine) {
    bool chosen = ImGui::RadioButton(label, value == mine);
    if (!ItemDisabled() && automation::detail::TakePress(label)) chosen = true;
    if (chosen) value = mine;
    return chosen;
}

bool LabelButton(const char* label, bool enabled) {
    // Pale yellow text that turns red under the mouse, on no frame of its own.
    const ImVec4 pale(1.0f, 1.0f, 0.5f, 1.0f), red(1.0f, 0.0f, 0.0f, 1.0f);
    ImGui::BeginDisabled(!enabled);
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0, 0, 0, 0));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0, 0, 0, 0));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(0, 0, 0, 0));
    const ImVec2 size = ImGui::CalcTextSize(label, nullptr, true);
    const ImVec2 at = ImGui::GetCursorScreenPos();
    const bool hovered =
        enabled && ImGui::IsMouseHoveringRect(
                       at, ImVec2(at.x + size.x + ImGui::GetStyle().FramePadding.x * 2,
                                  at.y + size.y + ImGui::GetStyle().FramePadding.y * 2));
    ImGui::PushStyleColor(ImGuiCol_Text, hovered ? red : pale);
    bool clicked = ImGui::Button(label);
    ImGui::PopStyleColor(4);
    if (enabled && !ItemDisabled() && automation::detail::TakePress(label)) clicked = true;
    ImGui::EndDisabled();
    return clicked && enabled;
}

} // namespace window
