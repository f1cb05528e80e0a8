// model/smd_animation.cpp — SMD animation files into keyframe animation sets, and the two
// lookups of the player code (RenvAnimations, RenvAniMax).
#include "model/model_local.h"

#include <unordered_map>

namespace model {

namespace {

// Closed, linear positions, rotation keys, position keys.
constexpr uint32_t kBoneAnimationOptions = scene::kAnimClosed | scene::kAnimLinearPosition |
                                           scene::kAnimScaleAndRotation | scene::kAnimPosition;

} // namespace

void MDL::CreeAnim(std::string_view name) {
    LineReader in;
    const std::string path = JoinPath(ModelDir, std::string(name) + ".smd");
    if (!in.Open(path)) return; // a file that cannot be opened adds no set

    // 1. The set is counted from here on, whatever the file holds.
    ++NbAni;
    const std::shared_ptr<scene::AnimationSet> set = scene::AnimationSet::Create();
    AnimSets.push_back(set);

    int32_t lastTime = 0;
    try {
        // 2. Name: a blend set loses the character before "blend" and what follows.
        const size_t blendAt = name.find("blend");
        const bool blend = blendAt != std::string_view::npos;
        if (blend && blendAt == 0) in.Fail("\"blend\" cannot start an animation name");
        set->SetName(blend ? name.substr(0, blendAt - 1) : name);
        if (ReadAnimation(in, *set, blend, lastTime)) set->SetAppData(uint32_t(lastTime));
    } catch (const ModelError& e) {
        AnimErrorList.push_back(e.what());
    }
}

// Reads the nodes section and the time blocks; true when the whole file was read (the set then
// takes the last frame number), false never (errors throw ModelError).
bool MDL::ReadAnimation(LineReader& in, scene::AnimationSet& set, bool blend, int32_t& lastTime) {
    std::vector<std::shared_ptr<scene::Frame>> nodeMap;               // empty until a nodes section
    std::unordered_map<const scene::Frame*, size_t> animationOfFrame; // index in the set
    std::vector<std::string_view> f;
    const std::string_view sep = settings.decimalSeparator;

    std::string_view line;
    bool haveLine = in.Next(line);
    while (haveLine) {
        const std::string_view trimmed = TrimSpaces(line);
        if (trimmed == "nodes") {
            // 4. Node map: every node of a full-body file; for a blend file the first branch
            // below bone 1 (from the first node whose parent is 1 up to the second, excluded).
            nodeMap.assign(size_t(BoneCount) + 1, nullptr);
            int32_t childrenOfOne = 0;
            size_t k = 0;
            NodeLine node;
            while (ReadNodeLine(in, node)) {
                if (node.parent == 1) ++childrenOfOne;
                if (!blend || childrenOfOne == 1) {
                    if (k >= nodeMap.size()) {
                        in.Fail("node " + std::to_string(k) + " outside the node map of " +
                                std::to_string(nodeMap.size()) + " slots");
                    }
                    nodeMap[k] = ChercheFrames(NormaliseName(node.name));
                }
                ++k;
            }
            haveLine = in.Next(line);
        } else if (trimmed.find("time") != std::string_view::npos) {
            // 5. Time block: keys at frame t for every mapped node of the block.
            // The frame number follows the line's first space (its first tab when it has none).
            size_t blank = trimmed.find(' ');
            if (blank == std::string_view::npos) blank = trimmed.find('\t');
            if (blank == std::string_view::npos) in.Fail("a time line needs its frame number");
            const int32_t t = FieldInteger(in, TrimBlanks(trimmed.substr(blank + 1)), "the frame");
            lastTime = t;
            line = in.Require("a time block");
            while (line.find("time") == std::string_view::npos && line != "end") {
                RequireFields(in, line, 7, f);
                const int32_t node = FieldInteger(in, f[0], "the node index");
                const double x = FieldDouble(in, f[1], sep, "x");
                const double y = FieldDouble(in, f[2], sep, "y");
                const double z = FieldDouble(in, f[3], sep, "z");
                const float rx = FieldSingle(in, f[4], sep, "rx");
                const float ry = FieldSingle(in, f[5], sep, "ry");
                const float rz = FieldSingle(in, f[6], sep, "rz");
                if (node < 0 || size_t(node) >= nodeMap.size()) {
                    in.Fail("node index " + std::to_string(node) + " outside the node map of " +
                            std::to_string(nodeMap.size()) + " slots");
                }
                const std::shared_ptr<scene::Frame>& frame = nodeMap[size_t(node)];
                if (frame) {
                    // k: the index of the frame's animation in the set, or the set's size
                    // for a frame that has none yet.
                    const auto [known, isNew] =
                        animationOfFrame.try_emplace(frame.get(), set.Animations().size());
                    const size_t k = known->second;
                    std::shared_ptr<scene::Animation> animation;
                    if (!isNew) {
                        animation = set.Animations()[k];
                    } else {
                        animation = scene::Animation::Create();
                        set.AddAnimation(animation);
                        animation->SetFrame(frame);
                        animation->SetOptions(kBoneAnimationOptions);
                    }
                    const float time = float(t);
                    animation->AddPositionKey(time, k == 0
                                                        ? glm::vec3(0.0f, float(x), float(z))
                                                        : glm::vec3(float(y), float(x), float(z)));
                    animation->AddRotationKey(time, EulerToQuat(ry, rx, rz));
                }
                line = in.Require("a time block (no \"end\" line)");
            }
            haveLine = true; // the line that ended the block is examined again
        } else {
            haveLine = in.Next(line);
        }
    }
    return true;
}

int32_t MDL::RenvAnimations(std::string_view name) const {
    for (int32_t i = 0; i < NbAni && size_t(i) < AnimSets.size(); ++i) {
        if (name.find(AnimSets[size_t(i)]->GetName()) != std::string_view::npos) return i;
    }
    return 0;
}

int32_t MDL::RenvAniMax(int32_t index) const {
    if (index < 0 || size_t(index) >= AnimSets.size()) return 0;
    return int32_t(AnimSets[size_t(index)]->GetAppData());
}

} // namespace model
