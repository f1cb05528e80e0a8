// bots/route.cpp — following a path through the navigation graph, and another route when the
// body makes no progress.
#include "bots/nav.h"

#include <glm/geometric.hpp>
#include <glm/vec2.hpp>

#include <algorithm>
#include <cmath>

namespace bots {

namespace {

float Across(const glm::vec3& a, const glm::vec3& b) {
    return std::hypot(a.x - b.x, a.z - b.z);
}

// Heights lag behind on stairs and drops (a body falls one unit a frame): a waypoint is on the
// body's floor when it is within this of the body's height.
constexpr float kSameFloor = 2.0f;
// A body this near a waypoint across that has passed it along its edge has reached it.
constexpr float kPassed = 2.0f;

} // namespace

NavRoute::State NavRoute::Plan(const NavGraph& graph, const glm::vec3& from, const glm::vec3& to,
                               double now) {
    graph_ = &graph;
    goal_ = to;
    avoid_.clear();
    blocked_.clear();
    detours_ = 0;
    return Replan(from, now);
}

NavRoute::State NavRoute::Replan(const glm::vec3& from, double now) {
    next_ = 1;
    if (graph_ == nullptr || !graph_->FindPath(from, goal_, avoid_, path_)) {
        path_ = NavPath();
        return state_ = State::Lost;
    }
    best_ = path_.waypoints.size() > 1 ? glm::distance(from, path_.waypoints[1]) : 0.0f;
    progressAt_ = now;
    state_ = State::Walking;
    return Update(from, now);
}

bool NavRoute::Reached(const glm::vec3& at, size_t i) const {
    const glm::vec3 w = path_.waypoints[i], from = path_.waypoints[i - 1];
    if (std::fabs(at.y - w.y) > kSameFloor) return false;
    const glm::vec3 along(w.x - from.x, 0.0f, w.z - from.z);
    const bool passed = glm::dot(glm::vec3(at.x - w.x, 0.0f, at.z - w.z), along) > 0.0f;
    return Across(at, w) < NavGraph::kReach || (passed && Across(at, w) < kPassed);
}

NavRoute::State NavRoute::Update(const glm::vec3& at, double now) {
    if (state_ != State::Walking) return state_;
    bool moved = false;
    while (next_ < path_.waypoints.size() && Reached(at, next_)) {
        ++next_;
        moved = true;
    }
    if (next_ >= path_.waypoints.size()) return state_ = State::Arrived;
    const float distance = glm::distance(at, path_.waypoints[next_]);
    if (moved || distance < best_ - kProgress) {
        best_ = distance;
        progressAt_ = now;
        return state_;
    }
    if (now - progressAt_ < kStuckSeconds) return state_;
    // Stuck on this edge: give it up, and the edges through the spot ahead, and go another way
    // from here.
    if (++detours_ > kMaxDetours) return state_ = State::Lost;
    const glm::vec3 target = path_.waypoints[next_];
    const float across = Across(at, target);
    glm::vec3 spot = target;
    if (across > 1e-3f) {
        const glm::vec3 d(target.x - at.x, 0.0f, target.z - at.z);
        spot = at + d * (std::min(kBlockAhead, across) / across);
    }
    blocked_.push_back(spot);
    GiveUp(path_.edges[next_ - 1]);
    for (EdgeId e = 0; e < graph_->Edges().size(); ++e)
        if (Passes(graph_->Edges()[e], spot)) GiveUp(e);
    return Replan(at, now);
}

void NavRoute::GiveUp(EdgeId edge) {
    const auto at = std::lower_bound(avoid_.begin(), avoid_.end(), edge);
    if (at == avoid_.end() || *at != edge) avoid_.insert(at, edge);
}

bool NavRoute::Passes(const NavEdge& edge, const glm::vec3& spot) const {
    const glm::vec3 a = graph_->Nodes()[edge.from].position, b = graph_->Nodes()[edge.to].position;
    if (spot.y < std::min(a.y, b.y) - kSameFloor || spot.y > std::max(a.y, b.y) + kSameFloor)
        return false;
    const glm::vec2 p(spot.x - a.x, spot.z - a.z), ab(b.x - a.x, b.z - a.z);
    const float length2 = glm::dot(ab, ab);
    const float t = length2 > 0.0f ? std::clamp(glm::dot(p, ab) / length2, 0.0f, 1.0f) : 0.0f;
    return glm::length(p - ab * t) < kBlockRadius;
}

glm::vec3 NavRoute::Waypoint() const {
    if (path_.waypoints.empty()) return goal_;
    return path_.waypoints[std::min(next_, path_.waypoints.size() - 1)];
}

EdgeKind NavRoute::Kind() const {
    if (next_ == 0 || next_ > path_.edges.size() || graph_ == nullptr) return EdgeKind::Walk;
    return graph_->Edges()[path_.edges[next_ - 1]].kind;
}

} // namespace bots
