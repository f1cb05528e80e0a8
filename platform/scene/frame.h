// platform/scene/frame.h — the scene tree: frames, their transforms, visuals and lights, and
// walks over the drawn visuals and enabled lights.
#pragma once

#include "platform/scene/visual.h"

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace scene {

// A node of the scene tree. Frames are shared; a frame keeps its children alive, a child points
// to its parent weakly. Traversal flags apply to the frame's whole subtree: a visual is drawn
// (picked) only when it and every frame from it up to the drawn (picked) frame have the flag.
class Frame : public std::enable_shared_from_this<Frame> {
public:
    // A new frame with identity transform, flags 3, attached as the last child of `parent`
    // (none: a root).
    static std::shared_ptr<Frame> Create(const std::shared_ptr<Frame>& parent = nullptr);
    ~Frame();
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    // --- hierarchy ---
    std::shared_ptr<Frame> GetParent() const { return parent_.lock(); }
    // The ancestor without a parent (this frame when it is a root).
    const Frame& GetRoot() const;
    // Moves `child` under this frame as the last child, keeping its local transform. Refuses
    // (false) a null child or one that is this frame or one of its ancestors.
    bool AddChild(const std::shared_ptr<Frame>& child);
    // Detaches `child` from this frame (it becomes a root). False when it is not a child.
    bool DeleteChild(const Frame& child);
    // Detaches every descendant from its parent; descendants held nowhere else are released.
    // Trees of any depth are released without recursion, here and in the destructor.
    void DeleteFrameTree();
    std::span<const std::shared_ptr<Frame>> Children() const { return children_; }
    size_t GetChildCount() const { return children_.size(); }
    // Copy of this frame and its subtree (transforms, names, values, flags, cloned visuals,
    // shared lights), as a new root.
    std::shared_ptr<Frame> Clone() const;
    // First frame in this subtree (depth first, this frame included) with the exact name.
    std::shared_ptr<Frame> FindByName(std::string_view name);

    // --- identity ---
    const std::string& GetName() const { return name_; }
    void SetName(std::string_view name) { name_ = name; }
    uint32_t GetAppData() const { return appData_; }
    void SetAppData(uint32_t value) { appData_ = value; }
    uint32_t GetTraversalOptions() const { return flags_; }
    void SetTraversalOptions(uint32_t flags) { flags_ = flags & kFlagRenderedAndPickable; }

    // --- transform ---
    const glm::mat4& GetLocalTransform() const { return transform_; }
    // Transform from this frame's coordinates into its root's (scene coordinates).
    glm::mat4 GetSceneTransform() const;
    // This frame's transform relative to `reference` (maps this frame's coordinates into the
    // reference's); null reference: the parent's (the local transform).
    glm::mat4 GetTransform(const Frame* reference) const;
    // Replaces the transform so that GetTransform(reference) == m.
    void SetTransform(const Frame* reference, const glm::mat4& m);

    void SetPosition(const Frame* reference, const glm::vec3& position);
    glm::vec3 GetPosition(const Frame* reference) const;
    // Rebuilds the rotation from `direction` (+z) and `up` (+y), both given in the reference's
    // coordinates; keeps the position, discards scale. A zero direction leaves the frame
    // unchanged; an up parallel to the direction picks another up.
    void SetOrientation(const Frame* reference, const glm::vec3& direction, const glm::vec3& up);
    // Unit direction (+z) and up (+y) axes in the reference's coordinates.
    void GetOrientation(const Frame* reference, glm::vec3& direction, glm::vec3& up) const;
    // Sets the rotation relative to `reference` to QuatToMatrix(q); keeps the position,
    // discards scale.
    void SetQuaternion(const Frame* reference, const glm::quat& q);
    // Turns +z to point at `target`'s origin, +y as close as possible to the reference's +y
    // (null reference: the parent's); keeps the position, discards scale. Nothing happens when
    // the target is at this frame's origin.
    void LookAt(const Frame& target, const Frame* reference);

    void AddTransform(Combine mode, const glm::mat4& m);
    void AddTranslation(Combine mode, float x, float y, float z);
    void AddScale(Combine mode, float sx, float sy, float sz);
    void AddRotation(Combine mode, const glm::vec3& axis, float radians);

    // Velocity: `v` in the reference's coordinates, stored in the parent's.
    void SetVelocity(const Frame* reference, const glm::vec3& v);
    glm::vec3 GetVelocity(const Frame* reference) const;
    // position += k * velocity (in the parent's coordinates). Only Move moves frames.
    void Move(float k);

    // Maps points of this frame's coordinates to scene coordinates (out[i] = T * in[i]).
    // `out` and `in` have the same size and may be the same span.
    void Transform(std::span<glm::vec3> out, std::span<const glm::vec3> in) const;
    // Maps scene coordinates to this frame's coordinates.
    void InverseTransform(std::span<glm::vec3> out, std::span<const glm::vec3> in) const;
    glm::vec3 TransformPoint(const glm::vec3& p) const;
    glm::vec3 InverseTransformPoint(const glm::vec3& p) const;
    // Maps points from `from`'s coordinates into `to`'s (null: scene coordinates of the frame
    // given), in one call.
    static void TransformBetween(const Frame* from, const Frame* to, std::span<glm::vec3> out,
                                 std::span<const glm::vec3> in);

    // --- visuals and lights ---
    // Appends a visual (a visual may hang under several frames). Null is ignored.
    void AddVisual(const std::shared_ptr<Visual>& visual);
    // Removes the first attachment of `visual`. False when absent.
    bool DeleteVisual(const Visual& visual);
    void DeleteAllVisuals() { visuals_.clear(); }
    std::span<const std::shared_ptr<Visual>> Visuals() const { return visuals_; }
    size_t GetVisualCount() const { return visuals_.size(); }
    void AddLight(const std::shared_ptr<Light>& light);
    bool DeleteLight(const Light& light);
    std::span<const std::shared_ptr<Light>> Lights() const { return lights_; }

    // Bounding box, in this frame's coordinates, of the geometry of every mesh builder and mesh
    // in the subtree (flags ignored; decals have no geometry). Empty when there is none.
    Box GetBox() const;

private:
    Frame() = default;
    void SetRotationInParent(const glm::vec3& dirParent, const glm::vec3& upParent);

    std::weak_ptr<Frame> parent_;
    std::vector<std::shared_ptr<Frame>> children_;
    std::vector<std::shared_ptr<Visual>> visuals_;
    std::vector<std::shared_ptr<Light>> lights_;
    glm::mat4 transform_{1.0f};
    glm::vec3 velocity_{0.0f}; // parent's coordinates
    std::string name_;
    uint32_t appData_ = 0;
    uint32_t flags_ = kFlagRenderedAndPickable;
};

// Visits every drawn visual under `top` (top's own flags included; frames and visuals without
// the render flag, and their subtrees, skipped) in depth-first child order, with the transform
// from the visual's frame to the scene coordinates of `top`'s root.
void ForEachRenderedVisual(
    const Frame& top,
    const std::function<void(const Frame&, const Visual&, const glm::mat4& toScene)>& visit);

// Visits every enabled light in the tree of `top`'s root with the transform from its frame to
// scene coordinates.
void ForEachLight(const Frame& top,
                  const std::function<void(const Frame&, const Light&, const glm::mat4&)>& visit);

} // namespace scene
