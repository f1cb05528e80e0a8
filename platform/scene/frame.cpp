// platform/scene/frame.cpp — frames: hierarchy, relative transforms, velocity, visuals, boxes.
//
// Index: hierarchy · identity of spaces · position/orientation · combine modes · velocity ·
//        many-vector transforms · visuals and lights · bounding box · traversal helpers
#include "platform/scene/scene_local.h"

#include <glm/gtc/matrix_transform.hpp>

#include <algorithm>
#include <cassert>
#include <cmath>

namespace scene {

// ------------------------------------------------------------------ hierarchy

std::shared_ptr<Frame> Frame::Create(const std::shared_ptr<Frame>& parent) {
    std::shared_ptr<Frame> frame(new Frame());
    if (parent) parent->AddChild(frame);
    return frame;
}

// A tree is released without recursion, whatever its depth: a child whose last owner is this
// frame hands its own children over to the loop before it goes, so no destructor below this one
// has children left to release. Children that outlive their parent (held elsewhere) become roots.
Frame::~Frame() {
    std::vector<std::shared_ptr<Frame>> pending = std::move(children_);
    while (!pending.empty()) {
        std::shared_ptr<Frame> child = std::move(pending.back());
        pending.pop_back();
        child->parent_.reset();
        if (child.use_count() == 1) {
            for (std::shared_ptr<Frame>& grandchild : child->children_)
                pending.push_back(std::move(grandchild));
            child->children_.clear();
        }
    }
}

const Frame& Frame::GetRoot() const {
    const Frame* f = this;
    while (auto p = f->parent_.lock())
        f = p.get();
    return *f;
}

bool Frame::AddChild(const std::shared_ptr<Frame>& child) {
    if (!child) return false;
    if (child.get() == this) return false;
    // Only a child with children of its own can be an ancestor of this frame: a fresh frame
    // (every bone of a skeleton being read) is added without walking up the tree.
    if (!child->children_.empty()) {
        for (const Frame* f = this; f != nullptr;) {
            if (f == child.get()) return false; // would make a cycle
            auto p = f->parent_.lock();
            f = p.get();
        }
    }
    if (auto old = child->parent_.lock()) {
        if (old.get() == this) return true;
        old->DeleteChild(*child);
    }
    child->parent_ = weak_from_this();
    children_.push_back(child);
    return true;
}

bool Frame::DeleteChild(const Frame& child) {
    auto it = std::find_if(children_.begin(), children_.end(),
                           [&](const std::shared_ptr<Frame>& c) { return c.get() == &child; });
    if (it == children_.end()) return false;
    (*it)->parent_.reset();
    children_.erase(it);
    return true;
}

void Frame::DeleteFrameTree() {
    std::vector<std::shared_ptr<Frame>> pending;
    std::shared_ptr<Frame> holder; // keeps `frame` alive while its children are detached
    Frame* frame = this;
    for (;;) {
        for (std::shared_ptr<Frame>& child : frame->children_) {
            child->parent_.reset();
            pending.push_back(std::move(child));
        }
        frame->children_.clear();
        if (pending.empty()) break;
        holder = std::move(pending.back()); // the previous holder goes, childless by now
        pending.pop_back();
        frame = holder.get();
    }
}

std::shared_ptr<Frame> Frame::Clone() const {
    const auto copyOne = [](const Frame& f) {
        std::shared_ptr<Frame> copy(new Frame());
        copy->transform_ = f.transform_;
        copy->velocity_ = f.velocity_;
        copy->name_ = f.name_;
        copy->appData_ = f.appData_;
        copy->flags_ = f.flags_;
        copy->lights_ = f.lights_;
        for (const auto& v : f.visuals_)
            copy->visuals_.push_back(v->CloneVisual());
        return copy;
    };
    std::shared_ptr<Frame> top = copyOne(*this);
    std::vector<std::pair<const Frame*, Frame*>> pending{{this, top.get()}};
    while (!pending.empty()) {
        const auto [source, copy] = pending.back();
        pending.pop_back();
        for (const auto& c : source->children_) {
            std::shared_ptr<Frame> childCopy = copyOne(*c);
            childCopy->parent_ = copy->weak_from_this();
            copy->children_.push_back(childCopy);
            pending.emplace_back(c.get(), childCopy.get());
        }
    }
    return top;
}

std::shared_ptr<Frame> Frame::FindByName(std::string_view name) {
    std::vector<Frame*> pending{this};
    while (!pending.empty()) {
        Frame* f = pending.back();
        pending.pop_back();
        if (f->name_ == name) return f->shared_from_this();
        for (size_t i = f->children_.size(); i-- > 0;)
            pending.push_back(f->children_[i].get());
    }
    return nullptr;
}

// ------------------------------------------------------------------ spaces

// Scene coordinates are the root's own coordinates: the root's transform is not applied.
glm::mat4 Frame::GetSceneTransform() const {
    auto p = parent_.lock();
    if (!p) return glm::mat4(1.0f);
    glm::mat4 m = transform_;
    for (; p->parent_.lock(); p = p->parent_.lock())
        m = p->transform_ * m;
    return m;
}

namespace {

// Scene transform in double precision: relative transforms invert one chain and multiply by
// another, and single precision loses visible digits under small scales (0.08) and large
// offsets.
glm::dmat4 SceneTransformD(const Frame* f) {
    return f ? glm::dmat4(f->GetSceneTransform()) : glm::dmat4(1.0);
}

// Maps `reference`'s coordinates into the parent coordinates of `self`.
glm::dmat4 ReferenceToParent(const Frame& self, const Frame* reference) {
    const auto parent = self.GetParent();
    if (reference == parent.get()) return glm::dmat4(1.0);
    return glm::inverse(SceneTransformD(parent.get())) * SceneTransformD(reference);
}

} // namespace

glm::mat4 Frame::GetTransform(const Frame* reference) const {
    if (!reference || reference == GetParent().get()) return transform_;
    if (reference == this) return glm::mat4(1.0f);
    return glm::mat4(glm::inverse(SceneTransformD(reference)) * SceneTransformD(this));
}

void Frame::SetTransform(const Frame* reference, const glm::mat4& m) {
    if (!reference) {
        transform_ = m;
        return;
    }
    transform_ = glm::mat4(ReferenceToParent(*this, reference) * glm::dmat4(m));
}

// ------------------------------------------------------------------ position and orientation

void Frame::SetPosition(const Frame* reference, const glm::vec3& position) {
    glm::dvec4 p(glm::dvec3(position), 1.0);
    if (reference) p = ReferenceToParent(*this, reference) * p;
    transform_[3] = glm::vec4(glm::vec3(p), 1.0f);
}

glm::vec3 Frame::GetPosition(const Frame* reference) const {
    return glm::vec3(GetTransform(reference)[3]);
}

namespace {

// Orthonormal (x, y, z) from a direction and an up vector; false when direction is zero.
bool BuildAxes(glm::vec3 dir, glm::vec3 up, glm::mat3& axes) {
    const float dl = glm::length(dir);
    if (!(dl > 1e-20f) || !std::isfinite(dl)) return false;
    const glm::vec3 z = dir / dl;
    glm::vec3 x = glm::cross(up, z);
    if (!(glm::length(x) > 1e-6f * std::max(1.0f, glm::length(up)))) {
        // Up parallel to (or missing from) the direction: take the axis least aligned with z.
        const glm::vec3 a = std::abs(z.y) < 0.9f ? glm::vec3(0, 1, 0) : glm::vec3(0, 0, -1);
        x = glm::cross(a, z);
    }
    x = glm::normalize(x);
    axes = glm::mat3(x, glm::cross(z, x), z);
    return true;
}

} // namespace

void Frame::SetRotationInParent(const glm::vec3& dirParent, const glm::vec3& upParent) {
    glm::mat3 axes;
    if (!BuildAxes(dirParent, upParent, axes)) return;
    const glm::vec4 position = transform_[3];
    transform_ = glm::mat4(axes);
    transform_[3] = position;
}

void Frame::SetOrientation(const Frame* reference, const glm::vec3& direction,
                           const glm::vec3& up) {
    glm::vec3 d = direction, u = up;
    if (reference) {
        const glm::dmat3 toParent(ReferenceToParent(*this, reference));
        d = glm::vec3(toParent * glm::dvec3(d));
        u = glm::vec3(toParent * glm::dvec3(u));
    }
    SetRotationInParent(d, u);
}

void Frame::GetOrientation(const Frame* reference, glm::vec3& direction, glm::vec3& up) const {
    const glm::mat3 m(GetTransform(reference));
    const glm::vec3 z = m[2], y = m[1];
    direction = glm::length(z) > 0.0f ? glm::normalize(z) : glm::vec3(0, 0, 1);
    up = glm::length(y) > 0.0f ? glm::normalize(y) : glm::vec3(0, 1, 0);
}

void Frame::SetQuaternion(const Frame* reference, const glm::quat& q) {
    const glm::mat3 r(QuatToMatrix(q));
    SetOrientation(reference, r[2], r[1]);
}

void Frame::LookAt(const Frame& target, const Frame* reference) {
    const glm::dvec3 targetInParent =
        glm::dvec3(ReferenceToParent(*this, &target) * glm::dvec4(0, 0, 0, 1));
    const glm::vec3 dir = glm::vec3(targetInParent - glm::dvec3(transform_[3]));
    glm::vec3 up(0, 1, 0);
    if (reference) up = glm::vec3(glm::dmat3(ReferenceToParent(*this, reference)) * glm::dvec3(up));
    SetRotationInParent(dir, up);
}

// ------------------------------------------------------------------ combine modes

void Frame::AddTransform(Combine mode, const glm::mat4& m) {
    switch (mode) {
    case Combine::Replace:
        transform_ = m;
        break;
    case Combine::Before:
        transform_ = transform_ * m;
        break;
    case Combine::After:
        transform_ = m * transform_;
        break;
    }
}

void Frame::AddTranslation(Combine mode, float x, float y, float z) {
    AddTransform(mode, glm::translate(glm::mat4(1.0f), glm::vec3(x, y, z)));
}

void Frame::AddScale(Combine mode, float sx, float sy, float sz) {
    AddTransform(mode, glm::scale(glm::mat4(1.0f), glm::vec3(sx, sy, sz)));
}

void Frame::AddRotation(Combine mode, const glm::vec3& axis, float radians) {
    const float len = glm::length(axis);
    if (!(len > 0.0f)) {
        if (mode == Combine::Replace) transform_ = glm::mat4(1.0f);
        return;
    }
    AddTransform(mode, glm::rotate(glm::mat4(1.0f), radians, axis / len));
}

// ------------------------------------------------------------------ velocity

void Frame::SetVelocity(const Frame* reference, const glm::vec3& v) {
    velocity_ =
        reference ? glm::vec3(glm::dmat3(ReferenceToParent(*this, reference)) * glm::dvec3(v)) : v;
}

glm::vec3 Frame::GetVelocity(const Frame* reference) const {
    if (!reference) return velocity_;
    return glm::vec3(glm::dmat3(glm::inverse(ReferenceToParent(*this, reference))) *
                     glm::dvec3(velocity_));
}

void Frame::Move(float k) {
    transform_[3] += glm::vec4(k * velocity_, 0.0f);
}

// ------------------------------------------------------------------ many-vector transforms

namespace {

void ApplyPoints(const glm::mat4& m, std::span<glm::vec3> out, std::span<const glm::vec3> in) {
    assert(out.size() == in.size() && "Transform needs output and input of the same size");
    const size_t n = std::min(out.size(), in.size());
    for (size_t i = 0; i < n; ++i)
        out[i] = glm::vec3(m * glm::vec4(in[i], 1.0f));
}

} // namespace

void Frame::Transform(std::span<glm::vec3> out, std::span<const glm::vec3> in) const {
    ApplyPoints(GetSceneTransform(), out, in);
}

void Frame::InverseTransform(std::span<glm::vec3> out, std::span<const glm::vec3> in) const {
    ApplyPoints(glm::mat4(glm::inverse(SceneTransformD(this))), out, in);
}

glm::vec3 Frame::TransformPoint(const glm::vec3& p) const {
    return glm::vec3(GetSceneTransform() * glm::vec4(p, 1.0f));
}

glm::vec3 Frame::InverseTransformPoint(const glm::vec3& p) const {
    return glm::vec3(glm::inverse(SceneTransformD(this)) * glm::dvec4(glm::dvec3(p), 1.0));
}

void Frame::TransformBetween(const Frame* from, const Frame* to, std::span<glm::vec3> out,
                             std::span<const glm::vec3> in) {
    ApplyPoints(glm::mat4(glm::inverse(SceneTransformD(to)) * SceneTransformD(from)), out, in);
}

// ------------------------------------------------------------------ visuals and lights

void Frame::AddVisual(const std::shared_ptr<Visual>& visual) {
    if (visual) visuals_.push_back(visual);
}

bool Frame::DeleteVisual(const Visual& visual) {
    auto it = std::find_if(visuals_.begin(), visuals_.end(),
                           [&](const std::shared_ptr<Visual>& v) { return v.get() == &visual; });
    if (it == visuals_.end()) return false;
    visuals_.erase(it);
    return true;
}

void Frame::AddLight(const std::shared_ptr<Light>& light) {
    if (light) lights_.push_back(light);
}

bool Frame::DeleteLight(const Light& light) {
    auto it = std::find_if(lights_.begin(), lights_.end(),
                           [&](const std::shared_ptr<Light>& l) { return l.get() == &light; });
    if (it == lights_.end()) return false;
    lights_.erase(it);
    return true;
}

// ------------------------------------------------------------------ bounding box

namespace {

void ExtendTransformedBox(Box& box, const Box& local, const glm::mat4& m) {
    if (local.IsEmpty()) return;
    for (int i = 0; i < 8; ++i) {
        const glm::vec3 c((i & 1) ? local.max.x : local.min.x, (i & 2) ? local.max.y : local.min.y,
                          (i & 4) ? local.max.z : local.min.z);
        box.Extend(glm::vec3(m * glm::vec4(c, 1.0f)));
    }
}

} // namespace

Box Frame::GetBox() const {
    Box box;
    WalkFrames(*this, glm::mat4(1.0f), [&](const Frame& f, const glm::mat4& toTop) {
        for (const auto& v : f.visuals_) {
            if (v->Kind() == VisualKind::MeshBuilder) {
                // Corners of the builder's box are enough for rotations by quarter turns; for
                // any other transform the exact vertices give the tight box.
                const auto& mb = static_cast<const MeshBuilder&>(*v);
                for (const glm::vec3& p : mb.Positions())
                    box.Extend(glm::vec3(toTop * glm::vec4(p, 1.0f)));
            } else if (v->Kind() == VisualKind::Mesh) {
                ExtendTransformedBox(box, static_cast<const Mesh&>(*v).GetBox(), toTop);
            }
        }
        return true;
    });
    return box;
}

// ------------------------------------------------------------------ traversal helpers

void ForEachRenderedVisual(
    const Frame& top,
    const std::function<void(const Frame&, const Visual&, const glm::mat4& toScene)>& visit) {
    WalkFrames(top, top.GetSceneTransform(), [&](const Frame& f, const glm::mat4& toScene) {
        if (!(f.GetTraversalOptions() & kFlagRendered)) return false;
        for (const auto& v : f.Visuals())
            if (v->IsRendered()) visit(f, *v, toScene);
        return true;
    });
}

void ForEachLight(const Frame& top,
                  const std::function<void(const Frame&, const Light&, const glm::mat4&)>& visit) {
    WalkFrames(top.GetRoot(), glm::mat4(1.0f), [&](const Frame& f, const glm::mat4& toScene) {
        for (const auto& l : f.Lights())
            if (l->enabled) visit(f, *l, toScene);
        return true;
    });
}

} // namespace scene
