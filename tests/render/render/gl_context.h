// tests/render/render/gl_context.h — a hidden SDL window with an OpenGL 3.3 core context for
// the renderer's tests and benchmark (run under xvfb-run -a; Mesa llvmpipe gives real GL).
#pragma once

#include <SDL.h>
#include <epoxy/gl.h>

#include <string>

namespace rendertest {

// Owns one window and its context, current on the creating thread while it lives.
class GlContext {
public:
    GlContext() = default;
    GlContext(const GlContext&) = delete;
    GlContext& operator=(const GlContext&) = delete;
    ~GlContext() {
        if (context_) SDL_GL_DeleteContext(context_);
        if (window_) SDL_DestroyWindow(window_);
        if (started_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }

    // Opens a width x height window; false with the reason in `error`.
    bool Open(int width, int height, std::string& error) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            error = std::string("SDL video: ") + SDL_GetError();
            return false;
        }
        started_ = true;
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
        window_ = SDL_CreateWindow("render test", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                   width, height, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        if (!window_) {
            error = std::string("window: ") + SDL_GetError();
            return false;
        }
        context_ = SDL_GL_CreateContext(window_);
        if (!context_) {
            error = std::string("GL 3.3 core context: ") + SDL_GetError();
            return false;
        }
        SDL_GL_MakeCurrent(window_, context_);
        SDL_GL_SetSwapInterval(0);
        glViewport(0, 0, width, height);
        return true;
    }

    SDL_Window* Window() const { return window_; }

private:
    bool started_ = false;
    SDL_Window* window_ = nullptr;
    SDL_GLContext context_ = nullptr;
};

} // namespace rendertest
