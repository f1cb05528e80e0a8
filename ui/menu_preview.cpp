// ui/menu_preview.cpp — the main menu's character preview: the team's model turning under the
// menu, drawn by its own renderer.
#include "ui/main_menu_local.h"

#include "platform/system/system.h"
#include "platform/window/window.h"
#include "ui/screen_local.h"

#include <algorithm>
#include <glm/gtc/constants.hpp>

namespace ui::menu_local {

namespace fs = std::filesystem;

using screen_util::Upper;

bool Preview::Build(const fs::path& modelsDir, int team, const fs::path& skinFile,
                    int objectQuality, int textureQuality) {
    Clear();
    if (window::IsHeadless() || window::NativeWindow() == nullptr) return false;
    if (!renderer_) {
        std::string error;
        renderer_ = render::Renderer::Create(&error);
        if (!renderer_) {
            sys::Log("menu preview: " + error);
            return false;
        }
    }
    renderer_->SetQuality(scene::RenderQuality(std::clamp(objectQuality, 0, 4)));
    renderer_->SetTextureFilter(scene::TextureFilter(std::clamp(textureQuality, 0, 5)));
    renderer_->SetBackground(glm::vec3(0.0f));

    root_ = scene::Frame::Create();
    pivot_ = scene::Frame::Create(root_);
    auto model = scene::Frame::Create(pivot_);
    scene::SearchPath path;
    path.AddFolder(modelsDir.parent_path().string());
    path.AddFolder(modelsDir.string());
    const std::string modelTexture = team == 0 ? "terror2_0.bmp" : "gign2_0.bmp";
    auto textures = [&](const std::string& name) -> std::shared_ptr<scene::Texture> {
        if (!skinFile.empty() && Upper(name) == Upper(modelTexture)) {
            if (auto skin = scene::LoadTexture(skinFile.string())) return skin;
        }
        return scene::LoadTexture(name, &path);
    };
    const scene::LoadStatus status =
        scene::LoadXAsFrames(*model, team == 0 ? "terror.x" : "gign.x", &path, textures);
    const scene::Box box = model->GetBox();
    if (!status || box.IsEmpty()) {
        sys::Log("menu preview: " + status.error);
        Clear();
        return false;
    }
    // The model turns about the vertical axis through its centre; the camera looks at it
    // from the front (-z), far enough back to see it whole in a tall, narrow picture.
    const glm::vec3 centre = (box.min + box.max) * 0.5f;
    const glm::vec3 extent = box.max - box.min;
    model->SetPosition(pivot_.get(), {-centre.x, -centre.y, -centre.z});
    camera_ = scene::Frame::Create(root_);
    const float across = std::max(extent.x, extent.z);
    const float distance = 0.65f * std::max(extent.y, 1.6f * across) / kField + 0.5f * across;
    camera_->SetPosition(nullptr, {0.0f, 0.0f, -distance});
    camera_->SetOrientation(nullptr, {0.0f, 0.0f, 1.0f}, {0.0f, 1.0f, 0.0f});
    root_->AddLight(scene::Light::Create(scene::LightType::Ambient, glm::vec3(0.45f)));
    camera_->AddLight(scene::Light::Create(scene::LightType::Directional, glm::vec3(0.8f)));
    back_ = std::max(10.0f, distance * 4.0f);
    return true;
}

void Preview::Turn() {
    if (pivot_)
        pivot_->AddRotation(scene::Combine::Before, {0.0f, 1.0f, 0.0f},
                            glm::radians(kPreviewStepDegrees));
}

void Preview::Draw(int x, int y, int width, int height) {
    if (!renderer_ || !root_ || width <= 0 || height <= 0) return;
    int surfaceWidth = 0;
    int surfaceHeight = 0;
    window::GetSize(surfaceWidth, surfaceHeight);
    renderer_->SetTargetSize(surfaceWidth, surfaceHeight);
    scene::ViewportParams view;
    view.camera = camera_;
    view.x = x;
    view.y = y;
    view.width = width;
    view.height = height;
    view.front = 1.0f;
    view.back = back_;
    view.field = kField;
    renderer_->Clear(view, render::kClearAll);
    renderer_->Render(view, *root_);
}

void Preview::Clear() {
    if (root_) root_->DeleteFrameTree();
    root_.reset();
    pivot_.reset();
    camera_.reset();
}

void Preview::Release() {
    Clear();
    renderer_.reset();
}

} // namespace ui::menu_local
